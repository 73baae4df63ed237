#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "Snapshot.h"
#include "TestSupport.h"
#include "interpreter/Interpreter.h"

namespace {

using kvtest::kKorvexKey;
using kvtest::kProgramView;
const char kUninstallRoot[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// The installer reads and writes its own keys in the program's view.
bool ReadString(HKEY root, const std::string& key, const char* name, std::string& value)
{
    return kvtest::RegReadString(root, key, name, value, kProgramView);
}

bool KeyExists(const std::string& key, REGSAM view = kProgramView)
{
    return kvtest::RegKeyExists(HKEY_LOCAL_MACHINE, key, view);
}

void SetString(const std::string& key, const char* name, const std::string* value, REGSAM view = kProgramView)
{
    if (value)
        ASSERT_TRUE(kvtest::RegWriteString(HKEY_LOCAL_MACHINE, key, name, *value, view));
    else
        kvtest::RegDeleteValueOf(HKEY_LOCAL_MACHINE, key, name, view);
}

// Puts a registry value back as the test found it.
class CValueGuard : public kvtest::CRegValueGuard {
public:
    CValueGuard(const std::string& key, const char* name) : CRegValueGuard(HKEY_LOCAL_MACHINE, key, name, kProgramView)
    {
    }
};

}  // namespace

class PatchDBTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        interp.reset(new CHFS_Interpreter(&cb, "setup.ini"));
        db = dir / "db\\nested\\KorvexDB.ini";
        SetString(kKorvexKey, "KorvexDBPath", &db);
        patchId = "KvTestPatch-" + std::to_string(::GetCurrentProcessId());
        interp->SetPatchInfo("PatchID", patchId);
    }
    void TearDown() override
    {
        kvtest::RegDeleteTree(HKEY_LOCAL_MACHINE, kUninstallRoot + patchId, kProgramView);
        interp.reset();
    }
    std::string DB(const std::string& key)
    {
        char buf[512] = {0};
        ::GetPrivateProfileStringA(patchId.c_str(), key.c_str(), "(none)", buf, sizeof buf, db.c_str());
        return buf;
    }

    CValueGuard dbPath{kKorvexKey, "KorvexDBPath"};
    kvtest::TempDir dir{"patchdb"};
    kvtest::CRecordingCallback cb;
    std::unique_ptr<CHFS_Interpreter> interp;
    std::string db;
    std::string patchId;
};

TEST_F(PatchDBTest, WritesCreateTheFolderAndEmptyValuesDelete)
{
    EXPECT_EQ(interp->UpdatePatchDB(patchId, "Progress", "40"), 0);
    EXPECT_EQ(DB("Progress"), "40");
    EXPECT_TRUE(cb.LogContains("[Create dir : " + dir.Path() + "\\db\\nested]"));
    EXPECT_TRUE(cb.LogContains("Update Patch DB: Write Progress='40':len=2 in section [" + patchId + "]!"));
    EXPECT_TRUE(cb.LogContains("Update Patch DB: Write Success! "));
    EXPECT_TRUE(cb.LogContains("RegQueryValueEx name='KorvexDBPath' Successful. value='" + db + "'"));

    // The registry is read again for every write.
    std::string other = dir / "other\\db.ini";
    SetString(kKorvexKey, "KorvexDBPath", &other);
    EXPECT_EQ(interp->UpdatePatchDB(patchId, "ResultCode", "1"), 0);
    EXPECT_TRUE(kvtest::Exists(other));
    EXPECT_EQ(DB("ResultCode"), "(none)");

    SetString(kKorvexKey, "KorvexDBPath", &db);
    EXPECT_EQ(interp->UpdatePatchDB(patchId, "Progress", ""), 0);
    EXPECT_EQ(DB("Progress"), "(none)");
}

TEST_F(PatchDBTest, UnusableFolderFailsTheWrite)
{
    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "blocker", "file, not a folder"));
    std::string bad = dir / "blocker\\sub\\db.ini";
    SetString(kKorvexKey, "KorvexDBPath", &bad);
    EXPECT_EQ(interp->UpdatePatchDB(patchId, "Progress", "1"), -1);
    EXPECT_TRUE(cb.LogContains("[Create dir fail: " + dir.Path() + "\\blocker\\sub]"));
    EXPECT_TRUE(cb.LogContains("Update Patch DB: Get DB file error"));
}

TEST_F(PatchDBTest, MissingPathValueGetsTheDefault)
{
    SetString(kKorvexKey, "KorvexDBPath", nullptr);
    const std::string defaultFolder = "C:\\Program Files\\Norlane\\Korvex";
    const bool hadFolder = kvtest::Exists(defaultFolder);
    std::string path;
    EXPECT_EQ(interp->GetPatchDBFileName(path), 0);
    EXPECT_EQ(path, defaultFolder + "\\KorvexDB.ini");
    std::string stored;
    EXPECT_TRUE(ReadString(HKEY_LOCAL_MACHINE, kKorvexKey, "KorvexDBPath", stored));
    EXPECT_EQ(stored, path);
    EXPECT_TRUE(kvtest::Exists(defaultFolder));
    EXPECT_TRUE(cb.LogContains("RegQueryValueEx name='KorvexDBPath' Failed or the value is empty!"));
    EXPECT_TRUE(cb.LogContains("RegSetValueEx name='KorvexDBPath' Successful. value='" + path + "'"));
    if (!hadFolder)
        ::RemoveDirectoryA(defaultFolder.c_str());

    std::string empty;
    SetString(kKorvexKey, "KorvexDBPath", &empty);
    EXPECT_EQ(interp->GetPatchDBFileName(path), 0);
    EXPECT_EQ(path, defaultFolder + "\\KorvexDB.ini");
    if (!hadFolder)
        ::RemoveDirectoryA(defaultFolder.c_str());
}

TEST_F(PatchDBTest, UninstallEntryFindsTheInstallerBesideOrAbove)
{
    const std::string key = kUninstallRoot + patchId;
    interp->SetPatchInfo("PatchDescription", "Test patch");
    interp->SetPatchInfo("UninstallString", dir / "files\\x.dat");
    interp->SetSymbol("RecordFile", "C:\\rec\\r.ini");

    // Neither folder holds the installer: no key, not even one left from
    // before (an empty key reads as installed).
    std::string value = "stale";
    SetString(key, "DisplayName", &value);
    EXPECT_EQ(interp->UpdateUninstallReg(0), 0);
    EXPECT_FALSE(KeyExists(key));

    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "Korvex.exe", "MZ"));
    EXPECT_EQ(interp->UpdateUninstallReg(0), 0);
    EXPECT_TRUE(ReadString(HKEY_LOCAL_MACHINE, key, "UninstallString", value));
    EXPECT_EQ(value, dir / "Korvex.exe" + " /U:\"C:\\rec\\r.ini\"");
    EXPECT_TRUE(ReadString(HKEY_LOCAL_MACHINE, key, "DisplayName", value));
    EXPECT_EQ(value, "Test patch");

    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "files\\Korvex.exe", "MZ"));
    EXPECT_EQ(interp->UpdateUninstallReg(0), 0);
    EXPECT_TRUE(ReadString(HKEY_LOCAL_MACHINE, key, "UninstallString", value));
    EXPECT_EQ(value.find(dir / "files\\Korvex.exe /U:"), 0u) << value;
    EXPECT_TRUE(cb.LogContains("CHFS_Interpreter::UpdateUninstallReg(): RegSetValueEx Successful for "
                               "name='UninstallString', value='" + value + "'."));

    EXPECT_EQ(interp->UpdateUninstallReg(1), 0);
    EXPECT_FALSE(KeyExists(key));
    EXPECT_TRUE(cb.LogContains("CHFS_Interpreter::UpdateUninstallReg(): RegDeleteKey Successful."));
}

TEST_F(PatchDBTest, UninstallEntryQuotesTheInstallerAndSumsWhatWasWritten)
{
    const std::string key = kUninstallRoot + patchId;
    const std::string folder = dir / "patch home";
    ASSERT_TRUE(kvtest::WriteFileBytes(folder + "\\Korvex.exe", "MZ"));
    interp->SetPatchInfo("UninstallString", folder + "\\remove.cmd");
    interp->m_strRecordFile = folder + "\\r.rec";
    std::string value;
    const struct {
        unsigned long long bytes;  // written in all so far
        DWORD kb;
    } sizes[] = {{0, 0}, {1, 1}, {1023, 1}, {1024, 1}, {1025, 2}, {5ull << 40, 0xFFFFFFFFu}};
    unsigned long long total = 0;
    for (const auto& s : sizes) {
        interp->NoteBytesWritten(s.bytes - total);
        total = s.bytes;
        // Publisher only while the patch names one: a reinstall without it
        // leaves none of the earlier install's.
        interp->SetPatchInfo("Publisher", s.bytes % 2 ? "Halvern" : "");
        EXPECT_EQ(interp->UpdateUninstallReg(0), 0);
        DWORD type = 0;
        std::string data;
        ASSERT_TRUE(kvtest::RegReadValue(HKEY_LOCAL_MACHINE, key, "EstimatedSize", type, data, kProgramView));
        ASSERT_EQ(data.size(), sizeof(DWORD));
        EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(*reinterpret_cast<const DWORD*>(data.data()), s.kb) << s.bytes;
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, key, "Publisher", value), s.bytes % 2 == 1) << s.bytes;
    }
    EXPECT_TRUE(ReadString(HKEY_LOCAL_MACHINE, key, "UninstallString", value));
    EXPECT_EQ(value, "\"" + folder + "\\Korvex.exe\" /U:\"" + folder + "\\r.rec\"");
    std::string quiet;
    EXPECT_TRUE(ReadString(HKEY_LOCAL_MACHINE, key, "QuietUninstallString", quiet));
    EXPECT_EQ(quiet, value + " /S");
}

TEST_F(PatchDBTest, NoPatchIdNoUninstallEntry)
{
    interp->SetPatchInfo("PatchID", "");
    EXPECT_EQ(interp->UpdateUninstallReg(0), 0);
    EXPECT_FALSE(cb.LogContains("UpdateUninstallReg"));
}

TEST_F(PatchDBTest, RemoteProgressValue)
{
    CValueGuard status("SOFTWARE\\Norlane\\RemoteInstall", "StatusMsg");
    EXPECT_EQ(interp->UpdateProgressForRemote("60"), 0);
    std::string value;
    EXPECT_TRUE(ReadString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Norlane\\RemoteInstall", "StatusMsg", value));
    EXPECT_EQ(value, "60");
    EXPECT_TRUE(cb.LogContains(
        "CHFS_Interpreter::UpdateProgressForRemote(): RegSetValueEx Successful for name='StatusMsg', value='60'"));
}

TEST_F(PatchDBTest, DeleteRegKeyRefusesKeysWithSubkeys)
{
    // The view that the registry sections give for "x64", in both builds.
    const std::string parent = "SOFTWARE\\KvTestDelete-" + std::to_string(::GetCurrentProcessId());
    const std::string v = "x";
    SetString(parent + "\\child", "v", &v, KEY_WOW64_64KEY);
    REGSAM view = KEY_ALL_ACCESS | KEY_WOW64_64KEY;
    EXPECT_NE(interp->DeleteRegKey(HKEY_LOCAL_MACHINE, parent, view, "Tag"), ERROR_SUCCESS);
    EXPECT_TRUE(KeyExists(parent, KEY_WOW64_64KEY));
    EXPECT_TRUE(cb.LogContains("Tag => CHFS_Interpreter::DeleteRegKey(): RegDeleteKeyExA Failed! ret="));
    EXPECT_EQ(interp->DeleteRegKey(HKEY_LOCAL_MACHINE, parent + "\\child", view, "Tag"), ERROR_SUCCESS);
    EXPECT_EQ(interp->DeleteRegKey(HKEY_LOCAL_MACHINE, parent, view, "Tag"), ERROR_SUCCESS);
    EXPECT_FALSE(KeyExists(parent, KEY_WOW64_64KEY));
    EXPECT_TRUE(cb.LogContains("Tag => CHFS_Interpreter::DeleteRegKey(): GetProcAddress Successful for "
                               "name='RegDeleteKeyExA'"));
    EXPECT_TRUE(cb.LogContains("Tag => CHFS_Interpreter::DeleteRegKey(): RegDeleteKeyExA Successful."));
}
