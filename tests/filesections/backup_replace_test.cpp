#include <gtest/gtest.h>

#include "../fileutil/lock_helpers.h"
#include "TestSupport.h"
#include "package.h"
#include "sections/BackupFileSection.h"
#include "sections/ReplaceTextSection.h"
#include "UndoCheck.h"
#include "util/FileUtil.h"
#include "util/Sha256.h"

using kvtest::Package;
using kvtest::StateOf;

namespace {

const char* const kBackupStep = "ProductInstall.BackupFiles";
const char* const kReplaceStep = "ProductInstall.ReplaceSymbolsInFile";

std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> list;
    FindFiles(list, folder, "*", false);
    return list;
}

// Two files saved by a BackupFiles step.
void SaveTwoFiles(Package& p, CHFS_BackupFileSection& s)
{
    p.Script("[ProductInstall.BackupFiles]\r\nFileCount=2\r\nBackup={BAK}\r\n"
             "File1={PROD}\\a.ini\r\nFile2={PROD}\\b.ini\r\n");
    ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("a.ini"), "saved a"));
    ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("b.ini"), "saved b"));
    ASSERT_EQ(s.Run(kBackupStep, p.list), 0);
}

}  // namespace

TEST(BackupFiles, RunThenRollbackPutsTheFilesBack)
{
    Package p;
    p.Script("[ProductInstall.BackupFiles]\r\nFileCount=3\r\nBackup={BAK}\r\n"
             "File1={PROD}\\a.ini\r\nFile2={PROD}\\sub\\b.ini\r\nFile3={PROD}\\c.ini\r\n");
    const char* const files[] = {"a.ini", "sub\\b.ini", "c.ini"};
    std::vector<kvtest::FileState> before;
    WORD year = 2001;
    for (const char* f : files) {
        ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod(f), std::string("saved ") + f));
        kvtest::SetWriteTime(p.Prod(f), year++);
    }
    // A read-only file must come back too, read-only.
    ::SetFileAttributesA(p.Prod("c.ini").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    for (const char* f : files)
        before.push_back(StateOf(p.Prod(f)));

    p.list.SetStep(2);
    CHFS_BackupFileSection s(&p.interp);
    EXPECT_EQ(s.Run(kBackupStep, p.list), 0);
    EXPECT_EQ(s.GetExitCode(), -2000);
    // The Backup folder it made comes first, then one item per file.
    ASSERT_EQ(p.list.Size(), 4u);
    EXPECT_EQ(p.list.Items()[0].nItemIndex, 0);
    EXPECT_EQ(p.list.Items()[0].strParam2, p.bak);
    for (size_t i = 0; i < 3; ++i) {
        const CHFS_RecordItem& it = p.list.Items()[i + 1];
        EXPECT_EQ(it.nItemIndex, static_cast<int>(i + 1));
        EXPECT_EQ(it.strParam1, p.Prod(files[i]));
        EXPECT_EQ(GetFolderPart(it.strParam2), p.bak + "\\");
        // The fingerprint of what was saved: its size and SHA-256.
        const std::string content = std::string("saved ") + files[i];
        EXPECT_EQ(it.strParam3, std::to_string(content.size()) + ":" + CKvSha256::HexOf(content.data(), content.size()));
        EXPECT_EQ(kvtest::ReadFileOr(it.strParam2), content);
    }
    EXPECT_EQ(FilesIn(p.bak).size(), 3u);
    EXPECT_TRUE(p.cb.LogContains("[CHFS_BackupFileSection::Run(ProductInstall.BackupFiles)=0]"));

    // Later steps change the files.
    for (const char* f : files) {
        ::SetFileAttributesA(p.Prod(f).c_str(), FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod(f), "changed"));
    }
    ::SetFileAttributesA(p.Prod("a.ini").c_str(), FILE_ATTRIBUTE_READONLY);

    // A fresh object, as in a removal run: everything comes from the items.
    CHFS_BackupFileSection r(&p.interp);
    int step = 0;
    p.list.GetLastStep(step);
    EXPECT_EQ(r.Rollback(kBackupStep, p.list), 0);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_TRUE(StateOf(p.Prod(files[i])) == before[i]) << files[i];
    // Nothing of its own stays: not the copies, not the folder it made.
    EXPECT_FALSE(kvtest::Exists(p.bak));
    EXPECT_EQ(p.list.Size(), 0u);
    // Newest first.
    std::string log = p.cb.LogText();
    EXPECT_LT(log.find("to '" + p.Prod("c.ini") + "'. result=0"), log.find("to '" + p.Prod("a.ini") + "'. result=0"));
}

TEST(BackupFiles, MissingKeysAndMissingFiles)
{
    {
        Package p;
        p.Script("[ProductInstall.BackupFiles]\r\nFileCount=1\r\nFile1={PROD}\\a.ini\r\n");
        CHFS_BackupFileSection s(&p.interp);
        EXPECT_EQ(s.Run(kBackupStep, p.list), -1);
        EXPECT_EQ(s.GetExitCode(), -2101);
        EXPECT_TRUE(p.cb.LogContains(
            "*** Syntax error: Backup='' can not be empty in section ['ProductInstall.BackupFiles']. "));
    }
    {
        Package p;
        p.Script("[ProductInstall.BackupFiles]\r\nX=1\r\n");
        CHFS_BackupFileSection s(&p.interp);
        EXPECT_EQ(s.Run(kBackupStep, p.list), -1);
        EXPECT_EQ(s.GetExitCode(), -2100);
        EXPECT_EQ(p.list.Size(), 0u);
    }
    {
        // The second of three keys missing: files 1 and 3 are saved.
        Package p;
        p.Script("[ProductInstall.BackupFiles]\r\nFileCount=3\r\nBackup={BAK}\r\n"
                 "File1={PROD}\\a.ini\r\nFile3={PROD}\\c.ini\r\n");
        ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("a.ini"), "a"));
        ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("c.ini"), "c"));
        CHFS_BackupFileSection s(&p.interp);
        EXPECT_EQ(s.Run(kBackupStep, p.list), 0);
        ASSERT_EQ(p.list.Size(), 3u);
        EXPECT_EQ(p.list.Items()[2].nItemIndex, 3);
        EXPECT_TRUE(p.cb.LogContains(
            "*** Syntax error: File2 can not be empty in section ['ProductInstall.BackupFiles']. "));
    }
    {
        // A file that does not exist has nothing to save: it is skipped with
        // a line, and the files after it are still saved (a later step would
        // change them with nothing to put back). No stray copy is left.
        Package p;
        p.Script("[ProductInstall.BackupFiles]\r\nFileCount=3\r\nBackup={BAK}\r\n"
                 "File1={PROD}\\a.ini\r\nFile2={PROD}\\none.ini\r\nFile3={PROD}\\c.ini\r\n");
        ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("a.ini"), "a"));
        ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("c.ini"), "c"));
        CHFS_BackupFileSection s(&p.interp);
        EXPECT_EQ(s.Run(kBackupStep, p.list), 0);
        EXPECT_EQ(s.GetExitCode(), -2000);
        ASSERT_EQ(p.list.Size(), 3u);
        EXPECT_EQ(p.list.Items()[2].nItemIndex, 3);
        EXPECT_EQ(FilesIn(p.bak).size(), 2u);
        EXPECT_TRUE(p.cb.LogContains("Backup file '" + p.Prod("none.ini") + "' does not exist: nothing to save"));
        ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("a.ini"), "changed"));
        ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("c.ini"), "changed"));
        EXPECT_EQ(s.Rollback(kBackupStep, p.list), 0);
        EXPECT_EQ(kvtest::ReadFileOr(p.Prod("a.ini")), "a");
        EXPECT_EQ(kvtest::ReadFileOr(p.Prod("c.ini")), "c");
        EXPECT_FALSE(kvtest::Exists(p.Prod("none.ini")));
    }
    {
        // One that is there but cannot be read stops the step as a failure:
        // its copy code -100 would read as KVHF_CONTINUE.
        Package p;
        p.Script("[ProductInstall.BackupFiles]\r\nFileCount=1\r\nBackup={BAK}\r\nFile1={PROD}\\held.ini\r\n");
        ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("held.ini"), "h"));
        kvtest::CLocker lock(p.Prod("held.ini"));
        ASSERT_TRUE(lock.Locked());
        CHFS_BackupFileSection s(&p.interp);
        EXPECT_EQ(s.Run(kBackupStep, p.list), -1);
        EXPECT_EQ(s.GetExitCode(), KV_EXIT_BACKUP_UNREADABLE);
        EXPECT_EQ(p.list.Size(), 0u);
    }
}

TEST(BackupFiles, ItemsKnowWhatThePatchLeftAndARetriedRemovalCompletes)
{
    const int L = CHFS_UndoTarget::AS_LEFT, R = CHFS_UndoTarget::RESTORED, C = CHFS_UndoTarget::CHANGED;
    Package p;
    CHFS_BackupFileSection s(&p.interp);
    ASSERT_NO_FATAL_FAILURE(SaveTwoFiles(p, s));
    const kvtest::FileState savedA = StateOf(p.Prod("a.ini")), savedB = StateOf(p.Prod("b.ini"));
    // Later steps change the files; the seal says what the install left.
    ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("a.ini"), "patched a"));
    ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("b.ini"), "patched b"));
    kvtest::SealAll(s, kBackupStep, p.list);
    EXPECT_EQ(p.list.Items()[1].strParam3,
              "7:" + CKvSha256::HexOf("saved a", 7) + " left:=9:" + CKvSha256::HexOf("patched a", 9));

    struct {
        const char* name;
        const char* a;  // null: deleted
        std::vector<int> states;
        const char* why;
    } const cases[] = {{"as left", "patched a", {L, L}, ""},
                       {"put back by an earlier removal", "saved a", {R, L}, ""},
                       {"changed since", "theirs", {C, L}, "content is '6:"},
                       {"deleted since", nullptr, {C, L}, "content is absent, the patch left '9:"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ::DeleteFileA(p.Prod("a.ini").c_str());
        if (c.a) {
            ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("a.ini"), c.a));
        }
        std::string why;
        EXPECT_EQ(c.states, kvtest::UndoStates(s, kBackupStep, p.list, &why));
        EXPECT_NE(std::string::npos, why.find(c.why)) << why;
    }
    ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("a.ini"), "patched a"));

    // A removal tried again replays every item, though the first attempt
    // restored them and deleted their copies: each file that holds what was
    // saved counts as restored.
    const std::vector<CHFS_RecordItem> items = p.list.Items();
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        if (round == 2)
            kvtest::Replay(p.list, items);
        EXPECT_EQ(s.Rollback(kBackupStep, p.list), 0) << p.cb.LogText();
        EXPECT_TRUE(StateOf(p.Prod("a.ini")) == savedA);
        EXPECT_TRUE(StateOf(p.Prod("b.ini")) == savedB);
        EXPECT_TRUE(FilesIn(p.bak).empty());
    }
    EXPECT_TRUE(p.cb.LogContains("Restore file '" + p.Prod("b.ini") + "': it holds the saved content already"));
}

TEST(BackupFiles, ACopyThatNoLongerHoldsWhatWasSavedIsNeverRestored)
{
    Package p;
    CHFS_BackupFileSection s(&p.interp);
    ASSERT_NO_FATAL_FAILURE(SaveTwoFiles(p, s));
    ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("b.ini"), "patched b"));
    // The newest copy cut short, as a copy of a killed run would be.
    ASSERT_TRUE(kvtest::WriteFileBytes(p.list.Items()[2].strParam2, "sav"));
    EXPECT_EQ(s.Rollback(kBackupStep, p.list), -1);
    EXPECT_EQ(kvtest::ReadFileOr(p.Prod("b.ini")), "patched b");
    EXPECT_TRUE(p.cb.LogContains("*** Runtime error: CHFS_BackupFileSection::Rollback(): the copy '"));
    // The failure ends the rollback at once: the older items are still there.
    EXPECT_EQ(p.list.Size(), 2u);
}

TEST(BackupFiles, EmptyOrTooLongBackupFolder)
{
    {
        // An empty folder would be the current folder.
        Package p;
        p.Script("[ProductInstall.BackupFiles]\r\nFileCount=1\r\nBackup=\r\nFile1={PROD}\\a.ini\r\n");
        ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("a.ini"), "a"));
        CHFS_BackupFileSection s(&p.interp);
        EXPECT_EQ(s.Run(kBackupStep, p.list), -1);
        EXPECT_EQ(s.GetExitCode(), -2101);
        EXPECT_TRUE(p.cb.LogContains(
            "*** Syntax error: Backup='' can not be empty in section ['ProductInstall.BackupFiles']. "));
        EXPECT_EQ(p.list.Size(), 0u);
    }
    // A folder that leaves no room for the copy's unique name (the system
    // takes at most MAX_PATH - 14 characters): the copy fails as one without
    // a destination, and no name runs past its buffer into the log.
    for (size_t length : {size_t(246), size_t(247), size_t(248)}) {
        SCOPED_TRACE(length);
        Package p;
        std::string folder = p.dir.Path() + "\\" + std::string(length - p.dir.Path().size() - 1, 'b');
        ASSERT_TRUE(kvtest::CreateTree(folder));
        p.Script("[ProductInstall.BackupFiles]\r\nFileCount=1\r\nBackup=" + folder +
                 "\r\nFile1={PROD}\\a.ini\r\n");
        ASSERT_TRUE(kvtest::WriteFileBytes(p.Prod("a.ini"), "a"));
        CHFS_BackupFileSection s(&p.interp);
        int r = s.Run(kBackupStep, p.list);
        std::string log = p.cb.LogText();
        if (length <= 246) {
            EXPECT_EQ(r, 0) << log;
            ASSERT_EQ(p.list.Size(), 1u);
            EXPECT_EQ(kvtest::ReadFileOr(p.list.Items()[0].strParam2), "a");
        } else {
            EXPECT_EQ(r, KVCOPY_CREATE_FAILED);
            EXPECT_EQ(s.GetExitCode(), -2104);
            EXPECT_NE(log.find("no free name for a copy in '" + folder + "'! lasterror=206"), std::string::npos) << log;
            EXPECT_NE(log.find("Backup file from '" + p.Prod("a.ini") + "' to ''. result=-140"), std::string::npos)
                << log;
            EXPECT_TRUE(FilesIn(folder).empty());
        }
    }
}

TEST(ReplaceSymbolsInFile, SourceEqualToOutputIsRewrittenInPlace)
{
    Package p;
    std::string tmpl = p.dir / "run.bat";
    std::string text = "@echo off\r\nset A=%KV_TEST_SYMBOL%\r\nbinary\x01\x7f\xfe tail\r\n";
    ASSERT_TRUE(kvtest::WriteFileBytes(tmpl, text));
    p.Script("[ProductInstall.ReplaceSymbolsInFile]\r\nFileCount=1\r\nFile1.Description=Writing\r\n"
             "File1.Source={DIR}\\run.bat\r\nFile1.Output={DIR}\\run.bat\r\n");
    p.interp.SetSymbol("KV_TEST_SYMBOL", "value");
    bool expands = p.interp.ExpandSymbols("%KV_TEST_SYMBOL%") == "value";
    CHFS_ReplaceTextSection s(&p.interp);
    EXPECT_EQ(s.Run(kReplaceStep, p.list), 0);
    EXPECT_EQ(s.GetExitCode(), -2000);
    std::string expected = text;
    if (expands)
        Package::Replace(expected, "%KV_TEST_SYMBOL%", "value");
    EXPECT_EQ(kvtest::ReadFileOr(tmpl), expected);
    EXPECT_EQ(p.interp.GetPatchInfo("UninstallString"), tmpl);
    EXPECT_TRUE(p.cb.LogContains("Replace symboles in TXT file Success! ret=0"));
}

TEST(ReplaceSymbolsInFile, EmptyMissingAndSkippedFiles)
{
    Package p;
    ASSERT_TRUE(kvtest::WriteFileBytes(p.dir / "empty.txt", ""));
    ASSERT_TRUE(kvtest::WriteFileBytes(p.dir / "out2.txt", "old contents"));
    ASSERT_TRUE(kvtest::WriteFileBytes(p.dir / "t4.txt", "four"));
    p.Script("[ProductInstall.ReplaceSymbolsInFile]\r\nFileCount=4\r\n"
             "File1.Source={DIR}\\empty.txt\r\nFile1.Output={DIR}\\out1.txt\r\n"
             "File2.Source={DIR}\\missing.txt\r\nFile2.Output={DIR}\\out2.txt\r\n"
             "File2.Error.Action=KVHF_CONTINUE\r\n"
             "File3.Source={DIR}\\t4.txt\r\n"
             "File4.Source={DIR}\\t4.txt\r\nFile4.Output={DIR}\\out4.txt\r\n");
    CHFS_ReplaceTextSection s(&p.interp);
    EXPECT_EQ(s.Run(kReplaceStep, p.list), 0);
    // An empty template: an empty output and a success, the code says so.
    EXPECT_TRUE(kvtest::Exists(p.dir / "out1.txt"));
    EXPECT_EQ(kvtest::ReadFileOr(p.dir / "out1.txt", "x"), "");
    // A missing source: the failure code, and the output is left alone.
    EXPECT_EQ(s.GetExitCode(), -2501);
    EXPECT_TRUE(p.cb.LogContains("Replace symboles in TXT file Failed! ret=2")) << p.cb.LogText();
    EXPECT_TRUE(p.cb.LogContains("EventHandler('File2.Error.',OldRet=-1)")) << p.cb.LogText();
    EXPECT_EQ(kvtest::ReadFileOr(p.dir / "out2.txt"), "old contents");
    EXPECT_EQ(kvtest::ReadFileOr(p.dir / "out4.txt"), "four");
    EXPECT_EQ(kvtest::CountOf(p.cb.LogText(), "Replace symboles in TXT file Success! ret=0"), 2u);
    // File3 has no output: skipped; the last processed file names the value.
    EXPECT_EQ(p.interp.GetPatchInfo("UninstallString"), p.dir / "out4.txt");
}

TEST(ReplaceSymbolsInFile, EmptySourceKeepsItsExitCode)
{
    Package p;
    ASSERT_TRUE(kvtest::WriteFileBytes(p.dir / "empty.txt", ""));
    p.Script("[ProductInstall.ReplaceSymbolsInFile]\r\nFileCount=1\r\n"
             "File1.Source={DIR}\\empty.txt\r\nFile1.Output={DIR}\\empty.txt\r\n");
    CHFS_ReplaceTextSection s(&p.interp);
    EXPECT_EQ(s.Run(kReplaceStep, p.list), 0);
    EXPECT_EQ(s.GetExitCode(), -2503);
    EXPECT_TRUE(p.cb.LogContains("Replace symboles in TXT file Success! ret=0"));
    EXPECT_TRUE(kvtest::Exists(p.dir / "empty.txt"));
}
