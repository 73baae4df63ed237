#include <gtest/gtest.h>

#include <cstdio>

#include "TestSupport.h"
#include "interpreter/Interpreter.h"
#include "util/CopyFailPolicy.h"
#include "util/FileUtil.h"

#include "lock_helpers.h"

namespace {

using kvtest::CLocker;
using kvtest::PendingRenames;
using kvtest::ForgetPendingRenamesIn;

std::vector<std::string> FilesIn(const std::string& folder, const std::string& pattern)
{
    std::vector<std::string> list;
    FindFiles(list, folder, pattern, false);
    return list;
}

struct Fixture : ::testing::Test {
    kvtest::CRecordingCallback cb;
    CHFS_Interpreter interp{&cb, "setup.ini"};
    kvtest::TempDir dir{"policy"};
    CKvLogSink* log = interp.LogSink();
    void SetUp() override
    {
        ASSERT_TRUE(kvtest::WriteFileBytes(dir / "new.dll", "new bytes"));
        ASSERT_TRUE(kvtest::WriteFileBytes(dir / "dest\\x.dll", "old bytes"));
    }
    std::string Src() const { return dir / "new.dll"; }
    std::string Dst() const { return dir / "dest\\x.dll"; }
    bool NoSafetyCopyLeft() const { return FilesIn(dir / "dest", "$B$_*").empty(); }
};

}  // namespace

TEST_F(Fixture, SafeCopyReplacesAndLeavesNoSafetyCopy)
{
    EXPECT_EQ(CopyFileSafe(log, Src(), Dst()), KVCOPY_OK);
    EXPECT_EQ(kvtest::ReadFileOr(Dst()), "new bytes");
    EXPECT_TRUE(NoSafetyCopyLeft());
    // A destination that does not exist yet.
    EXPECT_EQ(CopyFileSafe(log, Src(), dir / "dest\\fresh.dll"), KVCOPY_OK);
    EXPECT_TRUE(NoSafetyCopyLeft());
}

TEST_F(Fixture, ReadOnlyTargetWithoutPolicyFailsOnce)
{
    ::SetFileAttributesA(Dst().c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(CopyFileWithFailPolicy(log, Src(), Dst(), false, false), KVCOPY_CREATE_FAILED);
    EXPECT_EQ(kvtest::ReadFileOr(Dst()), "old bytes");
    EXPECT_NE(::GetFileAttributesA(Dst().c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    // The read-only safety copy is removed all the same.
    EXPECT_TRUE(NoSafetyCopyLeft());
    EXPECT_FALSE(cb.LogContains("[OnCopyFail"));
    EXPECT_TRUE(cb.LogContains("Rollback the file because the file copy fail."));
}

TEST_F(Fixture, ReadOnlyTargetIsClearedAndRetried)
{
    ::SetFileAttributesA(Dst().c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(CopyFileWithFailPolicy(log, Src(), Dst(), true, false), KVCOPY_OK);
    EXPECT_EQ(kvtest::ReadFileOr(Dst()), "new bytes");
    EXPECT_TRUE(cb.LogContains("[OnCopyFail: (bRemoveReadOnly:1, bReboot:0)]")) << cb.LogText();
    char attrs[128];
    snprintf(attrs, sizeof attrs, "(%lx) (1)", ::GetFileAttributesA(Dst().c_str()) | FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(cb.LogContains("[OnCopyFail] FileAttributes : " + Dst() + attrs)) << cb.LogText();
    EXPECT_TRUE(cb.LogContains("[OnCopyFail] RemoveReadOnly on File (" + Dst() + ") and retried Copy returns (0)"));
    EXPECT_TRUE(NoSafetyCopyLeft());
}

TEST_F(Fixture, BackupOfAFileNotInstalledIsSkipped)
{
    EXPECT_EQ(CopyFileWithFailPolicy(log, dir / "dest\\absent.dll", dir / "bak\\absent.dll", true, false),
              KVCOPY_SOURCE_OPEN_FAILED);
    EXPECT_TRUE(cb.LogContains("[OnCopyError] Skip"));
    EXPECT_FALSE(cb.LogContains("[OnCopyFail:"));
}

TEST_F(Fixture, LockedTargetWithoutRebootStaysOld)
{
    CLocker lock(Dst());
    ASSERT_TRUE(lock.Locked());
    // Read-only as well: clearing the attribute does not help against the
    // lock, and the failed copy must leave the attribute as it found it.
    ::SetFileAttributesA(Dst().c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    bool scheduled = true;
    EXPECT_EQ(CopyFileWithFailPolicy(log, Src(), Dst(), true, false, &scheduled), KVCOPY_CREATE_FAILED);
    EXPECT_TRUE(cb.LogContains("retried Copy returns (-140)")) << cb.LogText();
    EXPECT_NE(::GetFileAttributesA(Dst().c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_TRUE(FilesIn(dir / "dest", "_KV*.tmp").empty());
    EXPECT_FALSE(scheduled);
    lock.Stop();
    EXPECT_EQ(kvtest::ReadFileOr(Dst()), "old bytes");
    EXPECT_TRUE(NoSafetyCopyLeft());
}

TEST_F(Fixture, LockedTargetIsReplacedAtTheNextStart)
{
    std::string folder = dir / "dest";
    CLocker lock(Dst());
    ASSERT_TRUE(lock.Locked());
    bool scheduled = false;
    EXPECT_EQ(CopyFileWithFailPolicy(log, Src(), Dst(), false, true, &scheduled), KVCOPY_OK);

    std::vector<std::string> staged = FilesIn(folder, "_KV*.tmp");
    ASSERT_EQ(staged.size(), 1u) << cb.LogText();
    EXPECT_EQ(kvtest::ReadFileOr(staged[0]), "new bytes");
    std::string pending = PendingRenames();
    CharUpperA(&pending[0]);
    std::string stagedUpper = staged[0], destUpper = Dst();
    CharUpperA(&stagedUpper[0]);
    CharUpperA(&destUpper[0]);
    EXPECT_NE(pending.find(stagedUpper), std::string::npos) << pending;
    EXPECT_NE(pending.find(destUpper), std::string::npos) << pending;
    // The caller raises NEED_REBOOT on this answer.
    EXPECT_TRUE(scheduled);
    EXPECT_TRUE(cb.LogContains("during next booting via MoveFileEx")) << cb.LogText();
    EXPECT_TRUE(NoSafetyCopyLeft());
    lock.Stop();
    // Until the restart the old file stays.
    EXPECT_EQ(kvtest::ReadFileOr(Dst()), "old bytes");

    kvtest::ProcessResult boot = kvtest::RunProcess("wineboot.exe -r", std::string(), 120000);
    ASSERT_TRUE(boot.started);
    EXPECT_EQ(kvtest::ReadFileOr(Dst()), "new bytes");
    EXPECT_FALSE(kvtest::Exists(staged[0]));
    ForgetPendingRenamesIn(folder);
}
