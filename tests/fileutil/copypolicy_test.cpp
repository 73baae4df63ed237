#include <gtest/gtest.h>

#include <cstdio>

#include "TestSupport.h"
#include "app/KorvexApp.h"
#include "interpreter/Interpreter.h"
#include "util/CopyFailPolicy.h"
#include "util/FileUtil.h"

namespace {

// Holds a file open without sharing through the fixture program, the way a
// running product holds its files, until destroyed.
class CLocker {
public:
    explicit CLocker(const std::string& file)
    {
        char name[96];
        snprintf(name, sizeof name, "kvlock-%lu-%lu", ::GetCurrentProcessId(), ::GetTickCount());
        m_name = name;
        m_stop = ::CreateEventA(nullptr, TRUE, FALSE, (m_name + ".stop").c_str());
        m_ready = ::CreateEventA(nullptr, TRUE, FALSE, (m_name + ".ready").c_str());
        std::string cmd = "\"" + kvtest::FixtureDir() + "\\kvlock.exe\" \"" + file + "\" " + m_name + " 60";
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        std::vector<char> line(cmd.begin(), cmd.end());
        line.push_back('\0');
        if (::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &m_pi)) {
            HANDLE both[2] = {m_ready, m_pi.hProcess};
            m_locked = ::WaitForMultipleObjects(2, both, FALSE, 20000) == WAIT_OBJECT_0;
        }
    }
    ~CLocker() { Stop(); }
    bool Locked() const { return m_locked; }
    void Stop()
    {
        if (m_pi.hProcess) {
            ::SetEvent(m_stop);
            if (::WaitForSingleObject(m_pi.hProcess, 20000) != WAIT_OBJECT_0)
                ::TerminateProcess(m_pi.hProcess, 9);
            ::CloseHandle(m_pi.hProcess);
            ::CloseHandle(m_pi.hThread);
            m_pi = PROCESS_INFORMATION();
        }
        if (m_stop)
            ::CloseHandle(m_stop);
        if (m_ready)
            ::CloseHandle(m_ready);
        m_stop = m_ready = nullptr;
    }

private:
    std::string m_name;
    HANDLE m_stop = nullptr;
    HANDLE m_ready = nullptr;
    PROCESS_INFORMATION m_pi = {};
    bool m_locked = false;
};

const char* const kSessionManager = "System\\CurrentControlSet\\Control\\Session Manager";

std::string PendingRenames()
{
    HKEY key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return std::string();
    DWORD type = 0, size = 0;
    std::string data;
    if (::RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        size > 0) {
        data.resize(size);
        ::RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type,
                           reinterpret_cast<BYTE*>(&data[0]), &size);
        data.resize(size);
    }
    ::RegCloseKey(key);
    for (char& c : data)
        if (c == '\0')
            c = '\n';
    return data;
}

// Drops the pending renames that mention folder, so that a failed test
// leaves no request behind for the next start of the machine.
void ForgetPendingRenamesIn(const std::string& folder)
{
    HKEY key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS)
        return;
    std::string text = PendingRenames();
    std::vector<std::string> entries;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        entries.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    std::string kept;
    for (size_t i = 0; i + 1 < entries.size(); i += 2) {
        if (entries[i].empty())
            continue;
        if (entries[i].find(folder) != std::string::npos || entries[i + 1].find(folder) != std::string::npos)
            continue;
        kept += entries[i] + '\0' + entries[i + 1] + '\0';
    }
    if (kept.empty())
        ::RegDeleteValueA(key, "PendingFileRenameOperations");
    else {
        kept += '\0';
        ::RegSetValueExA(key, "PendingFileRenameOperations", 0, REG_MULTI_SZ,
                         reinterpret_cast<const BYTE*>(kept.data()), static_cast<DWORD>(kept.size()));
    }
    ::RegCloseKey(key);
}

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
    CHFS_Interpreter* saved = nullptr;
    void SetUp() override
    {
        saved = GetKorvexApp()->m_pInterpreter;
        GetKorvexApp()->m_pInterpreter = &interp;
        ASSERT_TRUE(kvtest::WriteFileBytes(dir / "new.dll", "new bytes"));
        ASSERT_TRUE(kvtest::WriteFileBytes(dir / "dest\\x.dll", "old bytes"));
    }
    void TearDown() override { GetKorvexApp()->m_pInterpreter = saved; }
    std::string Src() const { return dir / "new.dll"; }
    std::string Dst() const { return dir / "dest\\x.dll"; }
    bool NoSafetyCopyLeft() const { return FilesIn(dir / "dest", "$B$_*").empty(); }
};

}  // namespace

TEST_F(Fixture, SafeCopyReplacesAndLeavesNoSafetyCopy)
{
    EXPECT_EQ(CopyFileSafe(&interp, Src(), Dst()), KVCOPY_OK);
    EXPECT_EQ(kvtest::ReadFileOr(Dst()), "new bytes");
    EXPECT_TRUE(NoSafetyCopyLeft());
    // A destination that does not exist yet.
    EXPECT_EQ(CopyFileSafe(&interp, Src(), dir / "dest\\fresh.dll"), KVCOPY_OK);
    EXPECT_TRUE(NoSafetyCopyLeft());
}

TEST_F(Fixture, ReadOnlyTargetWithoutPolicyFailsOnce)
{
    ::SetFileAttributesA(Dst().c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(CopyFileWithFailPolicy(&interp, Src(), Dst(), false, false), KVCOPY_CREATE_FAILED);
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
    EXPECT_EQ(CopyFileWithFailPolicy(&interp, Src(), Dst(), true, false), KVCOPY_OK);
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
    EXPECT_EQ(CopyFileWithFailPolicy(&interp, dir / "dest\\absent.dll", dir / "bak\\absent.dll", true, false),
              KVCOPY_SOURCE_OPEN_FAILED);
    EXPECT_TRUE(cb.LogContains("[OnCopyError] Skip"));
    EXPECT_FALSE(cb.LogContains("[OnCopyFail:"));
}

TEST_F(Fixture, LockedTargetWithoutRebootStaysOld)
{
    CLocker lock(Dst());
    ASSERT_TRUE(lock.Locked());
    EXPECT_EQ(CopyFileWithFailPolicy(&interp, Src(), Dst(), true, false), KVCOPY_CREATE_FAILED);
    EXPECT_TRUE(FilesIn(dir / "dest", "_KV*.tmp").empty());
    EXPECT_TRUE(interp.GetSymbol("NEED_REBOOT").empty());
    lock.Stop();
    EXPECT_EQ(kvtest::ReadFileOr(Dst()), "old bytes");
    EXPECT_TRUE(NoSafetyCopyLeft());
}

TEST_F(Fixture, LockedTargetIsReplacedAtTheNextStart)
{
    std::string folder = dir / "dest";
    CLocker lock(Dst());
    ASSERT_TRUE(lock.Locked());
    EXPECT_EQ(CopyFileWithFailPolicy(&interp, Src(), Dst(), false, true), KVCOPY_OK);

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
    EXPECT_EQ(interp.GetSymbol("NEED_REBOOT"), "TRUE");
    EXPECT_TRUE(cb.LogContains("during next booting via MoveFileEx")) << cb.LogText();
    EXPECT_TRUE(cb.LogContains("Set Global Symbol 'NEED_REBOOT' = TRUE"));
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
