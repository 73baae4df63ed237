#include <gtest/gtest.h>

#include <cstdio>

#include "TestSupport.h"
#include "interpreter/Interpreter.h"
#include "util/CopyFailPolicy.h"
#include "util/FileUtil.h"

#include "../filesections/package.h"
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

TEST_F(Fixture, FailedCopyIsUndoneFromTheCallersCopyOfTheDestination)
{
    // The backup of the destination, made as the copy section makes it.
    std::string backup = dir / "bak\\x.dll";
    ASSERT_TRUE(kvtest::CreateTree(dir / "bak"));
    ::SetFileAttributesA(Dst().c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
    ASSERT_EQ(CopyFileKeepTime(Dst(), backup, log), KVCOPY_OK);
    kvtest::FileState before = kvtest::StateOf(Dst());
    // A folder in the way of the safety copy: only the caller's copy can
    // put the destination back.
    ASSERT_TRUE(kvtest::CreateTree(dir / "dest\\$B$_x.dll"));

    // A source whose reads fail once the destination has been emptied.
    CKvCopySource src;
    src.path = Src();
    src.handle.Reset(::CreateFileA(Src().c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                   nullptr));
    ASSERT_TRUE(src.handle);
    std::vector<BYTE> buffer;
    CKvCopyPlan plan;
    plan.source = &src;
    plan.buffer = &buffer;
    plan.restoreFrom = backup;
    EXPECT_EQ(CopyFileSafe(log, Src(), Dst(), &plan), KVCOPY_READ_FAILED);
    EXPECT_TRUE(cb.LogContains("Rollback the file because the file copy fail.")) << cb.LogText();
    EXPECT_TRUE(kvtest::StateOf(Dst()) == before);
    EXPECT_EQ(kvtest::ReadFileOr(backup), "old bytes");

    // The same failure onto a file that was not there leaves nothing behind.
    CKvCopySource again;
    again.path = Src();
    again.handle.Reset(::CreateFileA(Src().c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                     nullptr));
    CKvCopyPlan fresh;
    fresh.source = &again;
    fresh.buffer = &buffer;
    EXPECT_EQ(CopyFileSafe(log, Src(), dir / "dest\\new.dll", &fresh), KVCOPY_READ_FAILED);
    EXPECT_FALSE(kvtest::Exists(dir / "dest\\new.dll"));
}

namespace {

// Makes the system refuse every replacement at the next start while it
// lives: the pending-rename value in a type the system cannot extend.
class CRefusedRenames {
public:
    CRefusedRenames()
    {
        m_ok = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kvtest::kSessionManager, 0,
                               KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, &m_key) == ERROR_SUCCESS;
        if (!m_ok)
            return;
        DWORD size = 0;
        if (::RegQueryValueExA(m_key, kValue, nullptr, &m_type, nullptr, &size) == ERROR_SUCCESS) {
            m_saved.resize(size);
            ::RegQueryValueExA(m_key, kValue, nullptr, &m_type, m_saved.data(), &size);
            m_had = true;
        }
        DWORD junk = 1;
        m_ok = ::RegSetValueExA(m_key, kValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&junk), sizeof junk) ==
               ERROR_SUCCESS;
    }
    ~CRefusedRenames()
    {
        if (!m_key)
            return;
        if (m_had)
            ::RegSetValueExA(m_key, kValue, 0, m_type, m_saved.data(), static_cast<DWORD>(m_saved.size()));
        else
            ::RegDeleteValueA(m_key, kValue);
        ::RegCloseKey(m_key);
    }
    bool Ok() const { return m_ok; }

private:
    static constexpr const char* kValue = "PendingFileRenameOperations";
    HKEY m_key = nullptr;
    bool m_ok = false;
    bool m_had = false;
    DWORD m_type = 0;
    std::vector<BYTE> m_saved;
};

}  // namespace

TEST_F(Fixture, ReplacementTheSystemRefusesFailsAndPutsTheAttributeBack)
{
    CLocker lock(Dst());
    ASSERT_TRUE(lock.Locked());
    ::SetFileAttributesA(Dst().c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    bool scheduled = true;
    {
        CRefusedRenames refused;
        ASSERT_TRUE(refused.Ok());
        EXPECT_EQ(CopyFileWithFailPolicy(log, Src(), Dst(), true, true, &scheduled), KVCOPY_CREATE_FAILED);
    }
    EXPECT_TRUE(cb.LogContains("[OnCopyFail] MoveFileEx fail when move (")) << cb.LogText();
    EXPECT_FALSE(scheduled);
    EXPECT_NE(::GetFileAttributesA(Dst().c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_TRUE(FilesIn(dir / "dest", "_KV*.tmp").empty());
    EXPECT_EQ(PendingRenames().find(Dst()), std::string::npos);
    lock.Stop();
    EXPECT_EQ(kvtest::ReadFileOr(Dst()), "old bytes");
    EXPECT_TRUE(NoSafetyCopyLeft());
}

TEST(CopyFailPolicy, NoStagedFileInAFolderTooLongForItsName)
{
    // The folder leaves no room for a unique name: the read-only step is
    // undone and the copy's failure returned, nothing is staged.
    kvtest::CRecordingCallback cb;
    CHFS_Interpreter interp{&cb, "setup.ini"};
    kvtest::TempDir dir("policy");
    std::string folder = dir.Path() + "\\" + std::string(247 - dir.Path().size() - 1, 'd');
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
    std::string dst = folder + "\\x";
    ASSERT_TRUE(kvtest::WriteFileBytes(dst, "old"));
    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "new", "new"));
    CLocker lock(dst);
    ASSERT_TRUE(lock.Locked());
    ::SetFileAttributesA(dst.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(CopyFileWithFailPolicy(interp.LogSink(), dir / "new", dst, true, true), KVCOPY_CREATE_FAILED);
    EXPECT_TRUE(cb.LogContains("[OnCopyFail] GetTempFileName fail in (" + folder + "\\) err:(206)")) << cb.LogText();
    EXPECT_NE(::GetFileAttributesA(dst.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_TRUE(FilesIn(folder, "*.tmp").empty());
}
