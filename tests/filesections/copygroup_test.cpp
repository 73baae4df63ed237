#include <gtest/gtest.h>

#include <algorithm>

#include "../fileutil/lock_helpers.h"
#include "TestSupport.h"
#include "app/StringTable.h"
#include "package.h"
#include "sections/CopyFileGroupToSection.h"
#include "util/FileUtil.h"
#include "util/Sha256.h"

using kvtest::Package;
using kvtest::StateOf;

namespace {

const char* const kStep = "ProductInstall.CopyFileGroupTo";

// The sections of one group; extra lines are appended as given.
std::string Group(int n, const std::string& files, const std::string& extra = std::string())
{
    return "[FileGroup" + std::to_string(n) + "]\r\n" + files + "Description=Group " + std::to_string(n) +
           "\r\nTarget={PROD}\r\nBackup={BAK}\r\n" + extra;
}

int RunSection(Package& p, CHFS_CopyFileGroupToSection& s)
{
    p.list.SetStep(3);
    return s.Run(kStep, p.list);
}

int RollbackSection(Package& p, CHFS_CopyFileGroupToSection& s)
{
    int step = 0;
    if (p.list.GetLastStep(step) != 0)
        return 0;
    return s.Rollback(kStep, p.list);
}

// Every entry the list's batches carry, oldest first; fails the test on an
// item that is no batch or group start.
std::vector<CCopyUndoEntry> Entries(const CHFS_ItemList& list)
{
    std::vector<CCopyUndoEntry> all;
    for (const CHFS_RecordItem& it : list.Items()) {
        CCopyUndoBatch batch;
        EXPECT_TRUE(DecodeCopyUndoItem(it.strParam1, it.strParam2, batch)) << it.strParam1 << " " << it.strParam2;
        all.insert(all.end(), batch.entries.begin(), batch.entries.end());
    }
    return all;
}

const CCopyUndoEntry* EntryFor(const std::vector<CCopyUndoEntry>& all, const std::string& target)
{
    for (const CCopyUndoEntry& e : all)
        if (e.strTarget == target)
            return &e;
    return nullptr;
}

// The texts are compared as whole appended pieces: under a single-byte code
// page every Chinese text converts to question marks.
bool Appended(const kvtest::CRecordingCallback& cb, const std::string& text)
{
    return std::find(cb.details.begin(), cb.details.end(), text) != cb.details.end();
}

// The process's current folder set to folder while it lives.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::string& folder)
    {
        char old[MAX_PATH] = {0};
        ::GetCurrentDirectoryA(sizeof old, old);
        m_old = old;
        ::SetCurrentDirectoryA(folder.c_str());
    }
    ~CurrentFolder() { ::SetCurrentDirectoryA(m_old.c_str()); }

private:
    std::string m_old;
};

}  // namespace

TEST(CopyFileGroupTo, BacksUpCopiesAndRollsBackNewAndInstalledFiles)
{
    Package p;
    p.Script(std::string("[ProductInstall.CopyFileGroupTo]\r\nFileGroupCount=1\r\n") +
             Group(1, "FileCount=2\r\nFile1=app.dll\r\nFile2=bin\\*.dat\r\n",
                   "OnRollBackFile=KVHF_RollBackExtraAndExistenFile\r\n"));
    p.PackageFile("FileGroup1\\app.dll", "new app");
    p.PackageFile("FileGroup1\\bin\\one.dat", "new one");
    p.PackageFile("FileGroup1\\bin\\two.dat", "new two");
    ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("app.dll"), "old app"));
    kvtest::SetWriteTime(p.Prod("app.dll"), 2004);
    kvtest::FileState before = StateOf(p.Prod("app.dll"));

    CHFS_CopyFileGroupToSection s(&p.interp);
    EXPECT_EQ(RunSection(p, s), 0);
    EXPECT_EQ(s.GetExitCode(), -2000);
    EXPECT_EQ(kvtest::ReadFileOr(p.Prod("app.dll")), "new app");
    EXPECT_EQ(kvtest::ReadFileOr(p.Prod("bin\\one.dat")), "new one");
    EXPECT_EQ(kvtest::ReadFileOr(p.Bak("app.dll")), "old app");
    EXPECT_FALSE(kvtest::Exists(p.Bak("bin\\one.dat")));
    EXPECT_TRUE(p.cb.LogContains("skip extra files.")) << p.cb.LogText();
    EXPECT_TRUE(p.cb.LogContains("Patch [Group 1 : FileGroup1]"));
    EXPECT_TRUE(Appended(p.cb, "\r\n" + LoadResString(IDS_SUCCESS) + ".\r\n"));
    // The group's start and one batch that says what it changed, in order.
    ASSERT_EQ(p.list.Size(), 2u);
    EXPECT_TRUE(IsCopyGroupStart(p.list.Items()[0].strParam1));
    for (const CHFS_RecordItem& item : p.list.Items()) {
        EXPECT_EQ(item.nStep, 3);
        EXPECT_EQ(item.nItemIndex, 1);
    }
    std::vector<CCopyUndoEntry> all = Entries(p.list);
    const CCopyUndoEntry* app = EntryFor(all, p.Prod("app.dll"));
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(app->strBackup, p.Bak("app.dll"));
    EXPECT_EQ(app->before.nSize, 7u);
    EXPECT_EQ(app->after.nSize, 7u);
    EXPECT_NE(app->before, app->after);
    EXPECT_FALSE(app->bDeleteNew);
    const CCopyUndoEntry* one = EntryFor(all, p.Prod("bin\\one.dat"));
    ASSERT_NE(one, nullptr);
    EXPECT_TRUE(one->strBackup.empty());
    EXPECT_TRUE(one->bDeleteNew);
    const CCopyUndoEntry* bin = EntryFor(all, p.Prod("bin\\"));
    ASSERT_NE(bin, nullptr);
    EXPECT_EQ(bin->cKind, CCopyUndoEntry::TARGET_FOLDER);
    // The folder comes before the files in it, so that it goes after them.
    EXPECT_LT(bin, one);

    EXPECT_EQ(RollbackSection(p, s), 0);
    EXPECT_TRUE(StateOf(p.Prod("app.dll")) == before);
    EXPECT_FALSE(kvtest::Exists(p.Prod("bin\\one.dat")));
    EXPECT_FALSE(kvtest::Exists(p.Prod("bin")));
    EXPECT_FALSE(kvtest::Exists(p.Bak("app.dll")));
    EXPECT_TRUE(p.cb.LogContains("[Rollback,Target do not keep the new(or extra) file]: " + p.Prod("bin\\one.dat")));
    EXPECT_TRUE(p.cb.LogContains("[Remove " + p.Prod("bin\\") + "]"));
    EXPECT_TRUE(p.cb.LogContains("ROLLBACK [Group 1 : FileGroup1]"));
    EXPECT_EQ(p.list.Size(), 0u);
}

TEST(CopyFileGroupTo, RemovalRunDeletesOnlyWhatTheRecordSaysWasCreated)
{
    Package p;
    p.Script(std::string("[ProductInstall.CopyFileGroupTo]\r\nFileGroupCount=1\r\n") +
             Group(1, "FileCount=2\r\nFile1=*.dll\r\nFile2=sub\\deep\\*.dll\r\n",
                   "OnRollBackFile=KVHF_RollBackExtraAndExistenFile\r\n"));
    p.PackageFile("FileGroup1\\new.dll", "created");
    p.PackageFile("FileGroup1\\sub\\deep\\n2.dll", "created too");
    {
        CHFS_CopyFileGroupToSection install(&p.interp);
        ASSERT_EQ(RunSection(p, install), 0);
    }
    ASSERT_TRUE(kvtest::Exists(p.Prod("new.dll")));
    // A file of the product that the patch never touched and that has no backup.
    ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("other.dll"), "not ours"));

    // A later removal run: a fresh object, the items as the record keeps them.
    CHFS_ItemList stored = p.list;
    CHFS_CopyFileGroupToSection removal(&p.interp);
    EXPECT_EQ(RollbackSection(p, removal), 0);
    EXPECT_FALSE(kvtest::Exists(p.Prod("new.dll")));
    EXPECT_FALSE(kvtest::Exists(p.Prod("sub\\deep\\n2.dll")));
    EXPECT_FALSE(kvtest::Exists(p.Prod("sub\\deep")));
    EXPECT_FALSE(kvtest::Exists(p.Prod("sub")));
    EXPECT_EQ(kvtest::ReadFileOr(p.Prod("other.dll")), "not ours");

    // An item without the record of created files (an older record): the
    // rollback deletes nothing.
    ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("new.dll"), "installed since"));
    CHFS_ItemList legacy;
    legacy.SetStep(3);
    legacy.AddItem(1, "", "", "");
    CHFS_CopyFileGroupToSection old(&p.interp);
    EXPECT_EQ(old.Rollback(kStep, legacy), 0);
    EXPECT_EQ(kvtest::ReadFileOr(p.Prod("new.dll")), "installed since");
    EXPECT_EQ(kvtest::ReadFileOr(p.Prod("other.dll")), "not ours");
    EXPECT_EQ(legacy.Size(), 0u);
}

TEST(CopyFileGroupTo, CreatedTargetListsSurviveTheRecordLimits)
{
    // Far more created files than one record value can hold (4095 characters).
    Package p;
    std::string files = "FileCount=1\r\nFile1=*.dat\r\n";
    p.Script(std::string("[ProductInstall.CopyFileGroupTo]\r\nFileGroupCount=1\r\n") +
             Group(1, files, "OnRollBackFile=KVHF_RollBackExtraAndExistenFile\r\n"));
    const int kFiles = 90;
    for (int i = 0; i < kFiles; ++i)
        p.PackageFile("FileGroup1\\" + std::string(60, 'f') + std::to_string(i) + ".dat", "x");
    {
        CHFS_CopyFileGroupToSection install(&p.interp);
        ASSERT_EQ(RunSection(p, install), 0);
    }
    ASSERT_GE(p.list.Size(), 2u);
    for (const CHFS_RecordItem& it : p.list.Items()) {
        EXPECT_EQ(it.nItemIndex, 1);
        EXPECT_LT(it.strParam2.size(), 4095u);
    }

    // Through an INI file, as the install record stores and reads them.
    std::string ini = p.dir / "record.ini";
    for (size_t i = 0; i < p.list.Size(); ++i) {
        std::string sec = "REC_" + std::to_string(i + 1);
        const CHFS_RecordItem& it = p.list.Items()[i];
        ::WritePrivateProfileStringA(sec.c_str(), "Param1", it.strParam1.c_str(), ini.c_str());
        ::WritePrivateProfileStringA(sec.c_str(), "Param2", it.strParam2.c_str(), ini.c_str());
        ::WritePrivateProfileStringA(sec.c_str(), "Param3", it.strParam3.c_str(), ini.c_str());
    }
    CHFS_ItemList loaded;
    loaded.SetStep(3);
    for (size_t i = 0; i < p.list.Size(); ++i) {
        std::string sec = "REC_" + std::to_string(i + 1);
        char v[3][4096];
        const char* keys[3] = {"Param1", "Param2", "Param3"};
        for (int k = 0; k < 3; ++k)
            ::GetPrivateProfileStringA(sec.c_str(), keys[k], "", v[k], sizeof v[k], ini.c_str());
        loaded.AddItem(1, v[0], v[1], v[2]);
    }
    CHFS_CopyFileGroupToSection removal(&p.interp);
    EXPECT_EQ(removal.Rollback(kStep, loaded), 0);
    std::vector<std::string> left;
    FindFiles(left, p.prod, "*", false);
    EXPECT_TRUE(left.empty()) << left.size() << " files left";
    EXPECT_FALSE(kvtest::Exists(p.prod));
    EXPECT_EQ(loaded.Size(), 0u);
}

TEST(CopyFileGroupTo, RecordItemEncoding)
{
    CCopyUndoBatch batch;
    batch.strTarget = "C:\\prod";
    batch.strBackup = "C:\\bak\\";
    CCopyUndoEntry file;
    file.strTarget = "C:\\prod\\bin\\a.dll";
    file.strBackup = "C:\\bak\\bin\\a.dll.~2";
    ASSERT_TRUE(CKvFingerprint::Parse("3:ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
                                      file.before));
    file.after = file.before;
    file.after.nSize = 4;
    file.afterTime.dwHighDateTime = 0x01D0A0B0;
    file.afterTime.dwLowDateTime = 0x12345678;
    file.strStaged = "C:\\prod\\bin\\_KVHF_1.tmp";
    CCopyUndoEntry created;
    created.strTarget = "D:\\elsewhere\\n.dll";
    created.bDeleteNew = true;
    CCopyUndoEntry folder;
    folder.cKind = CCopyUndoEntry::TARGET_FOLDER;
    folder.strTarget = "C:\\prod";
    CCopyUndoEntry saved;
    saved.cKind = CCopyUndoEntry::BACKUP_FOLDER;
    saved.strTarget = "C:\\bak\\bin\\";
    CCopyUndoEntry naming = file;
    naming.after = CKvFingerprint();
    naming.afterTime = FILETIME();
    naming.strStaged.clear();
    naming.bNaming = true;
    naming.strTemp = "C:\\bak\\bin\\~kv1f_3.tmp";
    batch.entries = {folder, saved, file, created, naming};

    const std::string p1 = EncodeCopyUndoParam1(batch), p2 = EncodeCopyUndoEntries(batch);
    EXPECT_EQ(p1, "@C:\\prod|C:\\bak\\");
    EXPECT_EQ(p2.find("C:\\prod\\bin"), std::string::npos) << "paths below Target are relative: " << p2;
    CCopyUndoBatch back;
    ASSERT_TRUE(DecodeCopyUndoItem(p1, p2, back)) << p2;
    ASSERT_EQ(back.entries.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(back.entries[i].cKind, batch.entries[i].cKind);
        EXPECT_EQ(back.entries[i].strTarget, batch.entries[i].strTarget);
        EXPECT_EQ(back.entries[i].strBackup, batch.entries[i].strBackup);
        EXPECT_EQ(back.entries[i].before, batch.entries[i].before);
        EXPECT_EQ(back.entries[i].after, batch.entries[i].after);
        EXPECT_EQ(back.entries[i].strStaged, batch.entries[i].strStaged);
        EXPECT_EQ(back.entries[i].bDeleteNew, batch.entries[i].bDeleteNew);
        EXPECT_EQ(back.entries[i].bNaming, batch.entries[i].bNaming);
        EXPECT_EQ(back.entries[i].strTemp, batch.entries[i].strTemp);
        EXPECT_EQ(::CompareFileTime(&back.entries[i].afterTime, &batch.entries[i].afterTime), 0);
    }
    EXPECT_TRUE(DecodeCopyUndoItem(CopyGroupStartParam(), "", back));
    EXPECT_TRUE(back.entries.empty());
    // Damaged texts are refused, not read in part.
    // (A name being given needs both names.)
    for (const char* bad : {"|Fa.dll>x>>>>>|", "|Q|", "|Fa.dll>>>>>|", "Fa.dll>>>>>>", "|Fa.dll>>>3:zz>>>|",
                            "|Fa.dll>>>>>t.tmp>r|"})
        EXPECT_FALSE(DecodeCopyUndoItem(p1, bad, back)) << bad;
    EXPECT_FALSE(IsCopyUndoItem("C:\\prod"));
    EXPECT_FALSE(IsCopyUndoItem(""));

    // Items of records written before the batches still read as they did.
    CCopyCreatedTargets legacy;
    EXPECT_TRUE(DecodeCreatedTargets("C:\\prod", "|\\a.dll|\\bin\\b.dll|", "||\\bin\\|", legacy));
    EXPECT_EQ(legacy.files, (std::vector<std::string>{"C:\\prod\\a.dll", "C:\\prod\\bin\\b.dll"}));
    EXPECT_EQ(legacy.folders, (std::vector<std::string>{"C:\\prod", "C:\\prod\\bin\\"}));
    CCopyCreatedTargets none;
    EXPECT_FALSE(DecodeCreatedTargets("", "", "", none));
    EXPECT_FALSE(DecodeCreatedTargets("C:\\prod", "a.dll", "", none));
    EXPECT_TRUE(IsCreatedTargetsContinuation("*C:\\prod"));
    EXPECT_FALSE(IsCreatedTargetsContinuation("C:\\prod"));
}

TEST(CopyFileGroupTo, VersionCheckComparesMajorMinorAsADecimalNumber)
{
    Package p;
    const char* const names[] = {"a.dll", "b.dll", "c.dll", "d.dll", "e.dll"};
    const char* const installed[] = {"kvver_6_5_100_7.dll", "kvver_6_5_100_6.dll", "kvver_6_10_0_0.dll",
                                     "kvver_6_5_99_9.dll", "kvver_7_0_0_0.dll"};
    std::string files = "FileCount=5\r\n";
    for (int i = 0; i < 5; ++i) {
        files += "File" + std::to_string(i + 1) + "=" + names[i] + "\r\n";
        p.PackageFile(std::string("FileGroup1\\") + names[i], "hotfix");
        ASSERT_TRUE(kvtest::CopyFixture(installed[i], p.Prod(names[i])));
    }
    p.Script(std::string("[ProductInstall.CopyFileGroupTo]\r\nFileGroupCount=1\r\n") +
             Group(1, files, "FileVersion=6.5\r\nFileMaintenanceNumber=100\r\nFileBuildNumber=7\r\n"));
    CHFS_CopyFileGroupToSection s(&p.interp);
    EXPECT_EQ(RunSection(p, s), 0);
    EXPECT_NE(kvtest::ReadFileOr(p.Prod("a.dll")), "hotfix");  // 6.5.100.7: same version
    EXPECT_EQ(kvtest::ReadFileOr(p.Prod("b.dll")), "hotfix");  // 6.5.100.6: older revision
    EXPECT_EQ(kvtest::ReadFileOr(p.Prod("c.dll")), "hotfix");  // 6.10 reads as 6.1
    EXPECT_EQ(kvtest::ReadFileOr(p.Prod("d.dll")), "hotfix");  // 6.5.99.9: older build
    EXPECT_NE(kvtest::ReadFileOr(p.Prod("e.dll")), "hotfix");  // 7.0.0.0: newer
    EXPECT_TRUE(p.cb.LogContains("current file [" + p.Prod("a.dll") +
                                 "[6.5.100.7]] is not older than hotfix file version a.dll[6.5 7]"))
        << p.cb.LogText();
    EXPECT_TRUE(p.cb.LogContains("skip patch file a.dll"));
    EXPECT_TRUE(p.cb.LogContains("skip patch file e.dll"));
    EXPECT_FALSE(p.cb.LogContains("skip patch file b.dll"));
    // A skipped file is not backed up.
    EXPECT_FALSE(kvtest::Exists(p.Bak("a.dll")));
    EXPECT_TRUE(kvtest::Exists(p.Bak("b.dll")));
}

TEST(CopyFileGroupTo, FileVersionWithoutBuildNumberTurnsTheCheckOff)
{
    Package p;
    p.PackageFile("FileGroup1\\a.dll", "hotfix");
    ASSERT_TRUE(kvtest::CopyFixture("kvver_7_0_0_0.dll", p.Prod("a.dll")));
    p.Script(std::string("[ProductInstall.CopyFileGroupTo]\r\nFileGroupCount=1\r\n") +
             Group(1, "FileCount=1\r\nFile1=a.dll\r\n", "FileVersion=6.5\r\nFileMaintenanceNumber=100\r\n"));
    CHFS_CopyFileGroupToSection s(&p.interp);
    EXPECT_EQ(RunSection(p, s), 0);
    EXPECT_EQ(kvtest::ReadFileOr(p.Prod("a.dll")), "hotfix");
}

TEST(CopyFileGroupTo, OnlyNewerCopiesAndTheSkipSummary)
{
    const std::string script = std::string("[ProductInstall.CopyFileGroupTo]\r\nFileGroupCount=1\r\n") +
                               Group(1, "FileCount=2\r\nFile1=a.txt\r\nFile2=b.txt\r\n",
                                     "OnCopyNewFile=KVHF_OnlyCopyAfterLastModifiedDate\r\n");
    {
        // Every installed file is at least as new: nothing copied, string 17.
        Package p;
        p.Script(script);
        p.PackageFile("FileGroup1\\a.txt", "pkg a");
        p.PackageFile("FileGroup1\\b.txt", "pkg b");
        kvtest::SetWriteTime(p.pkg + "FileGroup1\\a.txt", 2010);
        kvtest::SetWriteTime(p.pkg + "FileGroup1\\b.txt", 2010);
        ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("a.txt"), "installed a"));
        ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("b.txt"), "installed b"));
        kvtest::SetWriteTime(p.Prod("a.txt"), 2010);  // the same time counts as not older
        kvtest::SetWriteTime(p.Prod("b.txt"), 2020);
        CHFS_CopyFileGroupToSection s(&p.interp);
        EXPECT_EQ(RunSection(p, s), 0);
        EXPECT_EQ(kvtest::ReadFileOr(p.Prod("a.txt")), "installed a");
        EXPECT_EQ(kvtest::ReadFileOr(p.Prod("b.txt")), "installed b");
        EXPECT_TRUE(Appended(p.cb, "\r\n\r\n" + LoadResString(IDS_FILES_UP_TO_DATE)));
        EXPECT_FALSE(Appended(p.cb, "\r\n\r\n" + LoadResString(IDS_SOME_NOT_COPIED) + " "));
    }
    {
        // One older installed file: it is copied, and the summary of 18 to 20.
        Package p;
        p.Script(script);
        p.PackageFile("FileGroup1\\a.txt", "pkg a");
        p.PackageFile("FileGroup1\\b.txt", "pkg b");
        kvtest::SetWriteTime(p.pkg + "FileGroup1\\a.txt", 2010);
        kvtest::SetWriteTime(p.pkg + "FileGroup1\\b.txt", 2010);
        ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("a.txt"), "installed a"));
        ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("b.txt"), "installed b"));
        kvtest::SetWriteTime(p.Prod("a.txt"), 2000);
        kvtest::SetWriteTime(p.Prod("b.txt"), 2020);
        CHFS_CopyFileGroupToSection s(&p.interp);
        EXPECT_EQ(RunSection(p, s), 0);
        EXPECT_EQ(kvtest::ReadFileOr(p.Prod("a.txt")), "pkg a");
        EXPECT_EQ(kvtest::ReadFileOr(p.Prod("b.txt")), "installed b");
        EXPECT_FALSE(Appended(p.cb, "\r\n\r\n" + LoadResString(IDS_FILES_UP_TO_DATE)));
        EXPECT_TRUE(Appended(p.cb, "\r\n\r\n" + LoadResString(IDS_SOME_NOT_COPIED) + " "));
        EXPECT_TRUE(Appended(p.cb, "\r\n " + LoadResString(IDS_NEWER_TIMESTAMP)));
        EXPECT_TRUE(Appended(p.cb, "\r\n " + LoadResString(IDS_HIGHER_BUILD)));
    }
}

TEST(CopyFileGroupTo, WildcardMatchingNothingStopsTheRun)
{
    Package p;
    p.Script(std::string("[ProductInstall.CopyFileGroupTo]\r\nFileGroupCount=2\r\n"
                         "CustomizedErrorMessage=The patch files are incomplete.\r\n") +
             Group(1, "FileCount=1\r\nFile1=bin\\*.nomatch\r\n") + Group(2, "FileCount=1\r\nFile1=a.dll\r\n"));
    p.PackageFile("FileGroup1\\bin\\x.dll", "x");
    p.PackageFile("FileGroup2\\a.dll", "a");
    CHFS_CopyFileGroupToSection s(&p.interp);
    EXPECT_EQ(RunSection(p, s), -1100);
    EXPECT_EQ(s.GetExitCode(), -2302);
    EXPECT_TRUE(p.cb.LogContains("[File not existed, patch stop: bin\\*.nomatch]")) << p.cb.LogText();
    EXPECT_FALSE(kvtest::Exists(p.Prod("a.dll")));  // later groups stay untouched
    ASSERT_EQ(p.cb.messages.size(), 1u);
    EXPECT_EQ(p.cb.messages[0].first, "The patch files are incomplete.");
    EXPECT_EQ(p.cb.messages[0].second, static_cast<UINT>(16));
    EXPECT_EQ(p.interp.m_bErrorShown, 1);
    EXPECT_TRUE(Appended(p.cb, "\r\n" + LoadResString(IDS_FAILURE) + ".\r\n"));
    EXPECT_TRUE(p.cb.LogContains("[CHFS_CopyFileGroupToSection::Run(ProductInstall.CopyFileGroupTo)=-1100]"));
}

TEST(CopyFileGroupTo, FailureInTheLastGroupRollsTheOthersBackExactly)
{
    Package p;
    p.Script(std::string("[ProductInstall.CopyFileGroupTo]\r\nFileGroupCount=3\r\n") +
             Group(1, "FileCount=2\r\nFile1=one.dll\r\nFile2=lib\\*.dll\r\n") +
             Group(2, "FileCount=1\r\nFile1=two.dll\r\n", "OnCopyFail=KVHF_CopyFailRemoveReadonly\r\n") +
             Group(3, "FileCount=1\r\nFile1=missing.dll\r\n"));
    p.PackageFile("FileGroup1\\one.dll", "new one");
    p.PackageFile("FileGroup1\\lib\\l1.dll", "new l1");
    p.PackageFile("FileGroup1\\lib\\l2.dll", "new l2");
    p.PackageFile("FileGroup2\\two.dll", "new two");
    const char* const installed[] = {"one.dll", "lib\\l1.dll", "lib\\l2.dll", "two.dll"};
    std::vector<kvtest::FileState> before;
    WORD year = 1999;
    for (const char* f : installed) {
        ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod(f), std::string("installed ") + f));
        kvtest::SetWriteTime(p.Prod(f), year++);
    }
    ::SetFileAttributesA(p.Prod("two.dll").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    for (const char* f : installed)
        before.push_back(StateOf(p.Prod(f)));

    CHFS_CopyFileGroupToSection s(&p.interp);
    EXPECT_EQ(RunSection(p, s), -1100);
    EXPECT_EQ(s.GetExitCode(), -2302);
    EXPECT_EQ(kvtest::ReadFileOr(p.Prod("two.dll")), "new two");
    EXPECT_EQ(kvtest::ReadFileOr(p.Prod("lib\\l2.dll")), "new l2");
    // Each group opened with its item, the third changed nothing.
    int starts = 0;
    for (const CHFS_RecordItem& it : p.list.Items())
        starts += IsCopyGroupStart(it.strParam1) ? 1 : 0;
    EXPECT_EQ(starts, 3);
    EXPECT_EQ(Entries(p.list).size(), 6u);  // four files, Backup and Backup\lib

    EXPECT_EQ(RollbackSection(p, s), 0);
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_TRUE(StateOf(p.Prod(installed[i])) == before[i]) << installed[i];
    std::string log = p.cb.LogText();
    size_t g3 = log.find("ROLLBACK [Group 3 : FileGroup3]");
    size_t g2 = log.find("ROLLBACK [Group 2 : FileGroup2]");
    size_t g1 = log.find("ROLLBACK [Group 1 : FileGroup1]");
    ASSERT_NE(g1, std::string::npos);
    EXPECT_LT(g3, g2);
    EXPECT_LT(g2, g1);
    EXPECT_FALSE(kvtest::Exists(p.Bak("two.dll")));
    // The backup folders the copy made go with it.
    EXPECT_FALSE(kvtest::Exists(p.bak));
    EXPECT_FALSE(kvtest::Exists(p.Bak("lib\\l1.dll")));
    EXPECT_EQ(p.list.Size(), 0u);
}

TEST(CopyFileGroupTo, StartCountPicksTheGroups)
{
    Package p;
    p.Script(std::string("[ProductInstall.CopyFileGroupTo]\r\nFileGroupCount=1\r\nFileGroupStartCount=2\r\n") +
             Group(1, "FileCount=1\r\nFile1=g1.txt\r\n") + Group(2, "FileCount=1\r\nFile1=g2.txt\r\n"));
    p.PackageFile("FileGroup1\\g1.txt", "1");
    p.PackageFile("FileGroup2\\g2.txt", "2");
    CHFS_CopyFileGroupToSection s(&p.interp);
    EXPECT_EQ(RunSection(p, s), 0);
    EXPECT_FALSE(kvtest::Exists(p.Prod("g1.txt")));
    EXPECT_TRUE(kvtest::Exists(p.Prod("g2.txt")));
    ASSERT_GE(p.list.Size(), 1u);
    for (const CHFS_RecordItem& it : p.list.Items())
        EXPECT_EQ(it.nItemIndex, 2);
}

TEST(CopyFileGroupTo, ReadOnlyTargetNeedsTheRemoveReadonlyPolicy)
{
    for (bool policy : {false, true}) {
        Package p;
        p.Script(std::string("[ProductInstall.CopyFileGroupTo]\r\nFileGroupCount=1\r\n") +
                 Group(1, "FileCount=1\r\nFile1=ro.dll\r\n",
                       policy ? "OnCopyFail=KVHF_CopyFailRemoveReadonly\r\n" : ""));
        p.PackageFile("FileGroup1\\ro.dll", "new");
        ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("ro.dll"), "old"));
        ::SetFileAttributesA(p.Prod("ro.dll").c_str(), FILE_ATTRIBUTE_READONLY);
        CHFS_CopyFileGroupToSection s(&p.interp);
        if (policy) {
            EXPECT_EQ(RunSection(p, s), 0);
            EXPECT_EQ(kvtest::ReadFileOr(p.Prod("ro.dll")), "new");
        } else {
            EXPECT_EQ(RunSection(p, s), -1100);
            EXPECT_EQ(s.GetExitCode(), -2300);
            EXPECT_EQ(kvtest::ReadFileOr(p.Prod("ro.dll")), "old");
            EXPECT_TRUE(p.cb.LogContains("[ro.dll : " + p.pkg + "FileGroup1\\ro.dll->" + p.Prod("ro.dll") + " fail]"))
                << p.cb.LogText();
        }
        std::vector<std::string> safety;
        FindFiles(safety, p.prod, "$B$_*", false);
        EXPECT_TRUE(safety.empty());
    }
}

// A target nobody may even read can't be backed up: replacing it at the next
// start would leave nothing to restore it from, so the group fails instead.
TEST(CopyFileGroupTo, TargetThatCannotBeBackedUpIsNotReplaced)
{
    Package p;
    p.Script(std::string("[ProductInstall.CopyFileGroupTo]\r\nFileGroupCount=1\r\n") +
             Group(1, "FileCount=1\r\nFile1=busy.dll\r\n", "OnCopyFail=KVHF_CopyFailReboot\r\n"));
    p.PackageFile("FileGroup1\\busy.dll", "new");
    ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("busy.dll"), "old"));
    {
        kvtest::CLocker lock(p.Prod("busy.dll"));
        ASSERT_TRUE(lock.Locked());
        CHFS_CopyFileGroupToSection s(&p.interp);
        EXPECT_EQ(RunSection(p, s), -1100);
        EXPECT_EQ(s.GetExitCode(), -2301);
    }
    EXPECT_TRUE(p.cb.LogContains(" fail.]")) << p.cb.LogText();
    EXPECT_FALSE(p.cb.LogContains("skip extra files."));
    EXPECT_EQ(p.interp.GetSymbol("NEED_REBOOT"), "FALSE");
    std::vector<std::string> staged;
    FindFiles(staged, p.prod, "_KV*.tmp", false);
    EXPECT_TRUE(staged.empty());
    EXPECT_EQ(kvtest::ReadFileOr(p.Prod("busy.dll")), "old");
}

TEST(CopyFileGroupTo, LockedTargetIsStagedForTheNextStart)
{
    Package p;
    p.Script(std::string("[ProductInstall.CopyFileGroupTo]\r\nFileGroupCount=1\r\n") +
             Group(1, "FileCount=1\r\nFile1=busy.dll\r\n", "OnCopyFail=KVHF_CopyFailReboot\r\n"));
    p.PackageFile("FileGroup1\\busy.dll", "new");
    ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("busy.dll"), "old"));
    {
        kvtest::CLocker lock(p.Prod("busy.dll"), true);
        ASSERT_TRUE(lock.Locked());
        CHFS_CopyFileGroupToSection s(&p.interp);
        EXPECT_EQ(RunSection(p, s), 0);
        EXPECT_EQ(s.GetExitCode(), -2000);
    }
    EXPECT_EQ(p.interp.GetSymbol("NEED_REBOOT"), "TRUE");
    EXPECT_TRUE(p.cb.LogContains("Set Global Symbol 'NEED_REBOOT' = TRUE"));
    std::vector<std::string> staged, safety;
    FindFiles(staged, p.prod, "_KV*.tmp", false);
    FindFiles(safety, p.prod, "$B$_*", false);
    EXPECT_EQ(staged.size(), 1u);
    EXPECT_TRUE(safety.empty());
    EXPECT_EQ(kvtest::ReadFileOr(p.Prod("busy.dll")), "old");
    kvtest::ForgetPendingRenamesIn(p.prod);
}

TEST(CopyFileGroupTo, GroupWithoutItsFoldersIsRefusedBeforeAnythingChanges)
{
    struct {
        const char* folders;  // the group's Target and Backup lines
        const char* key;
    } cases[] = {{"Backup={BAK}\r\n", "Target"},
                 {"Target=\r\nBackup={BAK}\r\n", "Target"},
                 {"Target={PROD}\r\n", "Backup"},
                 {"Target={PROD}\r\nBackup=\r\n", "Backup"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folders);
        Package p;
        p.Script(std::string("[ProductInstall.CopyFileGroupTo]\r\nFileGroupCount=2\r\n") +
                 Group(1, "FileCount=1\r\nFile1=one.dll\r\n") +
                 "[FileGroup2]\r\nDescription=Nowhere\r\nFileCount=1\r\nFile1=a.dll\r\n" + c.folders);
        p.PackageFile("FileGroup1\\one.dll", "new one");
        p.PackageFile("FileGroup2\\a.dll", "new a");
        ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("one.dll"), "old one"));
        // Run from inside the package: an empty folder would be this one.
        CurrentFolder cwd(p.pkg);
        CHFS_CopyFileGroupToSection s(&p.interp);
        EXPECT_EQ(RunSection(p, s), -1100);
        EXPECT_EQ(s.GetExitCode(), KV_EXIT_GROUP_FOLDER_MISSING);
        EXPECT_TRUE(p.cb.LogContains(std::string("*** Syntax error: ") + c.key +
                                     "='' can not be empty in section ['FileGroup2']. "))
            << p.cb.LogText();
        EXPECT_FALSE(kvtest::Exists(p.pkg + "a.dll"));
        EXPECT_FALSE(kvtest::Exists(p.pkg + "(empty)"));
        EXPECT_FALSE(kvtest::Exists(p.Prod("a.dll")));
        // The rollback restores the first group and has nothing to do for the second.
        EXPECT_EQ(RollbackSection(p, s), 0);
        EXPECT_EQ(kvtest::ReadFileOr(p.Prod("one.dll")), "old one");
        EXPECT_FALSE(kvtest::Exists(p.pkg + "(empty)"));
        EXPECT_EQ(p.list.Size(), 0u);
    }
}

TEST(CopyFileGroupTo, EntriesLeadingOutOfTheFoldersAreRefused)
{
    const char* const outside[] = {"..\\x.txt", "sub\\..\\..\\x.txt", "../x.txt", "..\\*.txt", "sub\\../..\\x.txt"};
    for (const char* entry : outside) {
        SCOPED_TRACE(entry);
        Package p;
        // Target and Backup side by side: "..\" of one is the parent of both.
        p.Script(std::string("[ProductInstall.CopyFileGroupTo]\r\nFileGroupCount=1\r\n") +
                 Group(1, std::string("FileCount=2\r\nFile1=a.dll\r\nFile2=") + entry + "\r\n",
                       "OnRollBackFile=KVHF_RollBackExtraAndExistenFile\r\n"));
        p.PackageFile("FileGroup1\\a.dll", "new a");
        p.PackageFile("x.txt", "the package's own file");
        p.PackageFile("FileGroup1\\sub\\keep.txt", "k");
        ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("a.dll"), "old a"));
        ASSERT_TRUE(kvtest::WriteFileBytes(p.dir / "x.txt", "not the patch's"));
        CHFS_CopyFileGroupToSection s(&p.interp);
        EXPECT_EQ(RunSection(p, s), -1100);
        EXPECT_EQ(s.GetExitCode(), KV_EXIT_GROUP_ENTRY_OUTSIDE);
        EXPECT_TRUE(p.cb.LogContains(std::string("*** Syntax error: File2='") + entry + "' leads out of '"))
            << p.cb.LogText();
        // Nothing changed, not even the entry before it.
        EXPECT_EQ(kvtest::ReadFileOr(p.Prod("a.dll")), "old a");
        EXPECT_FALSE(kvtest::Exists(p.Bak("a.dll")));
        EXPECT_EQ(kvtest::ReadFileOr(p.dir / "x.txt"), "not the patch's");

        // A rollback of the group (a later removal with a record that names
        // it) neither restores to nor deletes from outside the folders.
        ASSERT_TRUE(kvtest::WriteFileBytes(p.Bak("a.dll"), "saved a"));
        ASSERT_TRUE(kvtest::WriteFileBytes(p.dir / "sub\\x.txt", "outside too"));
        CHFS_ItemList record;
        record.SetStep(3);
        record.AddItem(1, p.prod, "|\\..\\x.txt|", "");
        CHFS_CopyFileGroupToSection removal(&p.interp);
        EXPECT_EQ(removal.Rollback(kStep, record), 0);
        EXPECT_EQ(kvtest::ReadFileOr(p.Prod("a.dll")), "saved a");
        EXPECT_EQ(kvtest::ReadFileOr(p.dir / "x.txt"), "not the patch's");
        EXPECT_EQ(kvtest::ReadFileOr(p.dir / "sub\\x.txt"), "outside too");
    }
}

TEST(CopyFileGroupTo, EntriesThatStayInsideMayUseDots)
{
    Package p;
    p.Script(std::string("[ProductInstall.CopyFileGroupTo]\r\nFileGroupCount=1\r\n") +
             Group(1, "FileCount=2\r\nFile1=bin\\..\\a.dll\r\nFile2=.\\bin\\.\\b.dll\r\n"));
    p.PackageFile("FileGroup1\\a.dll", "new a");
    p.PackageFile("FileGroup1\\bin\\b.dll", "new b");
    CHFS_CopyFileGroupToSection s(&p.interp);
    EXPECT_EQ(RunSection(p, s), 0) << p.cb.LogText();
    EXPECT_EQ(kvtest::ReadFileOr(p.Prod("a.dll")), "new a");
    EXPECT_EQ(kvtest::ReadFileOr(p.Prod("bin\\b.dll")), "new b");
}

// The copy knows what is in the folders it made; a file that two entries
// name is backed up the second time from what the first one installed.
TEST(CopyFileGroupTo, SecondEntryForTheSameFileInANewFolderSeesTheFirstCopy)
{
    Package p;
    p.Script(std::string("[ProductInstall.CopyFileGroupTo]\r\nFileGroupCount=1\r\n") +
             Group(1, "FileCount=2\r\nFile1=new\\*.dll\r\nFile2=new\\A.DLL\r\n"));
    p.PackageFile("FileGroup1\\new\\a.dll", "new a");
    CHFS_CopyFileGroupToSection s(&p.interp);
    EXPECT_EQ(RunSection(p, s), 0) << p.cb.LogText();
    EXPECT_EQ(kvtest::CountOf(p.cb.LogText(), "skip extra files."), 1u) << p.cb.LogText();
    EXPECT_EQ(kvtest::ReadFileOr(p.Bak("new\\a.dll")), "new a");
    EXPECT_EQ(kvtest::ReadFileOr(p.Prod("new\\a.dll")), "new a");
}

// Every copy into Target that fails leaves the installed file as it was,
// whichever file fails; the rollback then restores the others.
TEST(CopyFileGroupTo, FailedCopyAtEveryFileLeavesItsTargetAsItWas)
{
    const char* const files[] = {"a.dll", "bin\\b.dll", "bin\\c.cfg", "ro.txt"};
    // Installed files that may carry a version resource are opened to be
    // read; the others to be read and rewritten, where they allow it.
    for (const std::string old : {"MZ old ", "old "}) {
        for (size_t held = 0; held < 4; ++held) {
            SCOPED_TRACE(old + files[held]);
            Package p;
            p.Script(std::string("[ProductInstall.CopyFileGroupTo]\r\nFileGroupCount=1\r\n") +
                     Group(1, "FileCount=3\r\nFile1=a.dll\r\nFile2=bin\\*.*\r\nFile3=ro.txt\r\n",
                           "OnCopyFail=KVHF_CopyFailRemoveReadonly\r\n"));
            std::vector<kvtest::FileState> before;
            WORD year = 2001;
            for (const char* f : files) {
                p.PackageFile(std::string("FileGroup1\\") + f, std::string("new ") + f);
                ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod(f), old + f));
                kvtest::SetWriteTime(p.Prod(f), year++);
            }
            ::SetFileAttributesA(p.Prod("ro.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
            for (const char* f : files)
                before.push_back(StateOf(p.Prod(f)));
            CHFS_CopyFileGroupToSection s(&p.interp);
            {
                // Held like a running program holds its files: readable, so the
                // backup works, but not writable.
                kvtest::CLocker lock(p.Prod(files[held]), true);
                ASSERT_TRUE(lock.Locked());
                EXPECT_EQ(RunSection(p, s), -1100);
                EXPECT_EQ(s.GetExitCode(), -2300);
                EXPECT_TRUE(StateOf(p.Prod(files[held])) == before[held]);
            }
            EXPECT_EQ(kvtest::ReadFileOr(p.Bak(files[held])), old + files[held]);
            EXPECT_EQ(RollbackSection(p, s), 0);
            for (size_t i = 0; i < 4; ++i)
                EXPECT_TRUE(StateOf(p.Prod(files[i])) == before[i]) << files[i];
            std::vector<std::string> left;
            FindFiles(left, p.prod, "$B$_*", false);
            FindFiles(left, p.Prod("bin"), "$B$_*", false);
            EXPECT_TRUE(left.empty());
        }
    }
}

// An install ended while a saved original was being given its name: the
// journal's note names the copy's temporary name and the name it was to
// get, and the undo works out which of them is the run's own.
TEST(CopyFileGroupTo, BackupEndedWhileBeingNamedIsUndoneExactly)
{
    const std::string original = "original bytes", replaced = "new bytes", theirs = "their backup";
    struct Case {
        const char* name;
        bool tempThere;        // the copy still has its temporary name
        const char* named;     // what holds the name it was to get ("": nothing)
        bool targetReplaced;   // the copy over the installed file was made
        bool readOnlyCleared;  // ... or only its read-only attribute cleared for it
    } cases[] = {
        {"ended before the rename", true, "", false, false},
        {"ended after the rename", false, "ours", false, false},
        {"ended during the copy over the file", false, "ours", true, false},
        {"ended after the copy cleared the read-only attribute", false, "ours", false, true},
        {"the name was taken by another backup", true, "theirs", false, false},
        {"the rename went elsewhere, the name is another's", false, "theirs", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Package p;
        p.Script(std::string("[ProductInstall.CopyFileGroupTo]\r\nFileGroupCount=1\r\n") +
                 Group(1, "FileCount=1\r\nFile1=a.txt\r\n"));
        ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("a.txt"), original));
        kvtest::SetWriteTime(p.Prod("a.txt"), 2003);
        if (c.readOnlyCleared)
            ::SetFileAttributesA(p.Prod("a.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
        const kvtest::FileState installed = StateOf(p.Prod("a.txt"));
        kvtest::CreateTree(p.bak);
        const std::string temp = p.Bak("~kv5_1.tmp");
        const std::string named = c.named;
        if (c.tempThere) {
            ASSERT_EQ(CopyFileKeepTime(p.Prod("a.txt"), temp, nullptr), KVCOPY_OK);
        }
        if (!named.empty()) {
            ASSERT_TRUE(named == "theirs" ? kvtest::WriteFileBytes(p.Bak("a.txt"), theirs)
                                          : CopyFileKeepTime(p.Prod("a.txt"), p.Bak("a.txt"), nullptr) == KVCOPY_OK);
        }
        if (c.targetReplaced) {
            ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("a.txt"), replaced));
        }
        if (c.readOnlyCleared) {
            ASSERT_TRUE(::SetFileAttributesA(p.Prod("a.txt").c_str(), FILE_ATTRIBUTE_ARCHIVE));
        }

        CCopyUndoBatch batch;
        batch.strTarget = p.prod;
        batch.strBackup = p.bak;
        CCopyUndoEntry naming;
        naming.strTarget = p.Prod("a.txt");
        naming.strBackup = p.Bak("a.txt");
        naming.bNaming = true;
        naming.strTemp = temp;
        naming.before.bPresent = true;
        naming.before.nSize = original.size();
        naming.before.strHash = CKvSha256::HexOf(original.data(), original.size());
        p.list.SetStep(3);
        ASSERT_EQ(p.list.AddItem(1, CopyGroupStartParam(), "", ""), 0);
        ASSERT_EQ(p.list.AddItem(1, EncodeCopyUndoParam1(batch), "|" + EncodeCopyUndoEntry(batch, naming) + "|", ""),
                  0);

        CHFS_CopyFileGroupToSection s(&p.interp);
        EXPECT_EQ(RollbackSection(p, s), 0);
        EXPECT_EQ(kvtest::ReadFileOr(p.Prod("a.txt")), original);
        EXPECT_TRUE(c.targetReplaced || StateOf(p.Prod("a.txt")) == installed);
        EXPECT_FALSE(kvtest::Exists(temp));
        EXPECT_EQ(kvtest::ReadFileOr(p.Bak("a.txt"), "gone"), named == "theirs" ? theirs : "gone");
        ::SetFileAttributesA(p.Prod("a.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}
