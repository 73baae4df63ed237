#include <vector>

#include "InterpFixture.h"
#include "app/StringTable.h"

class ExecuteTest : public InterpTest {
protected:
    void SetUp() override
    {
        InterpTest::SetUp();
        interp->SetSymbol("A", "a0");
        interp->SetSymbol("R", "r0");
    }
    int Execute(const std::string& text)
    {
        WriteScript(text);
        return interp->Execute();
    }
    size_t MessagesWith(const std::string& text) const
    {
        size_t n = 0;
        for (const auto& m : cb.messages)
            n += m.first == text;
        return n;
    }
    std::string LastDetail() const { return cb.details.empty() ? std::string() : cb.details.back(); }
};

const char kSections[] =
    "[ProductInstall.UpdateSymbols.SetA]\r\nA=a1\r\n"
    "[ProductInstall.UpdateSymbols.Bad]\r\nNOSUCH=1\r\n"
    "[ProductRemove.Main]\r\nStepCount=1\r\nStep1.Section=ProductRemove.UpdateSymbols.SetR\r\n"
    "[ProductRemove.UpdateSymbols.SetR]\r\nR=removed\r\n"
    "[ProductRemove.UpdateSymbols.Bad]\r\nNOSUCH=1\r\n";

TEST_F(ExecuteTest, SuccessfulInstallWritesTheRecord)
{
    interp->m_strRecordFile = dir / "rec\\record.ini";
    EXPECT_EQ(Execute(std::string(kSections) +
                      "[ProductInstall.Main]\r\nStepCount=1\r\nStep1.Section=ProductInstall.UpdateSymbols.SetA\r\n"),
              0);
    EXPECT_EQ(interp->m_nExitCode, 0);
    EXPECT_EQ(interp->GetSymbol("A"), "a1");
    EXPECT_TRUE(cb.messages.empty());
    const std::string success = LoadResString(IDS_INSTALL_SUCCESS);
    ASSERT_FALSE(success.empty());
    EXPECT_EQ(cb.tasks.back(), std::make_pair(success, 0));
    EXPECT_EQ(LastDetail(), success);
    EXPECT_EQ(cb.progress.back(), std::make_pair(100, 100));
    EXPECT_TRUE(Logged("Return code in silent mode,installation success,code=0\n"));

    std::string record = kvtest::ReadFileOr(interp->m_strRecordFile);
    EXPECT_NE(record.find("[ProductInstall.Main]"), std::string::npos);
    EXPECT_NE(record.find("[Symbols]"), std::string::npos);
    EXPECT_NE(record.find("[REC_1]"), std::string::npos);
    // Nothing of the journal or of the record's making is left beside it.
    EXPECT_FALSE(kvtest::Exists(interp->m_strRecordFile + ".journal"));
    EXPECT_FALSE(kvtest::Exists(interp->m_strRecordFile + ".journal-script"));
    EXPECT_FALSE(kvtest::Exists(interp->m_strRecordFile + ".new"));
}

// What InstallRecordFile names decides before anything changes: a file that
// is not this patch's record is never overwritten, this patch's record means
// the patch is installed already.
TEST_F(ExecuteTest, TheRecordFileDecidesBeforeAnythingChanges)
{
    const std::string steps =
        std::string(kSections) + "[PatchInformation]\r\nPatchID=KB1\r\n" +
        "[ProductInstall.Main]\r\nStepCount=1\r\nStep1.Section=ProductInstall.UpdateSymbols.SetA\r\n";
    const struct {
        const char* name;
        const char* existing;  // what the record's path holds; null: a folder
        int result, exitCode;
    } cases[] = {
        {"another file", "[windows]\r\nload=\r\n", -1, KV_EXIT_RECORD_NOT_OURS},
        {"a folder", nullptr, -1, KV_EXIT_RECORD_NOT_OURS},
        {"a record of another patch",
         "[PatchInformation]\r\nPatchID=KB2\r\n[REC_0]\r\nTotalCount=0\r\n", -1, KV_EXIT_RECORD_NOT_OURS},
        {"this patch's record", "[PatchInformation]\r\nPatchID=KB1\r\n[REC_0]\r\nTotalCount=0\r\n", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kvtest::TempDir own("rec");
        interp->m_strRecordFile = own / "record.ini";
        if (c.existing)
            ASSERT_TRUE(kvtest::WriteFileBytes(interp->m_strRecordFile, c.existing));
        else
            ASSERT_TRUE(kvtest::CreateTree(interp->m_strRecordFile));
        const std::string before = kvtest::ReadFileOr(interp->m_strRecordFile);
        cb.logLines.clear();
        EXPECT_EQ(Execute(steps), c.result);
        EXPECT_EQ(interp->m_nExitCode, c.exitCode);
        EXPECT_EQ(interp->GetSymbol("A"), "a0");  // no step ran
        EXPECT_EQ(kvtest::ReadFileOr(interp->m_strRecordFile), before);
        EXPECT_FALSE(kvtest::Exists(interp->m_strRecordFile + ".journal"));
        EXPECT_TRUE(c.exitCode == 0 ? Logged("the patch is already installed") : Logged("*** Runtime error:"));
    }
}

TEST_F(ExecuteTest, UnwritableRecordFailsBeforeAnythingChanges)
{
    // A folder that cannot be made (a file stands in its way): neither the
    // journal nor the record can be written, so nothing is installed.
    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "blocker", "a file"));
    interp->m_strRecordFile = dir / "blocker\\record.ini";
    EXPECT_LT(Execute(std::string(kSections) +
                      "[ProductInstall.Main]\r\nStepCount=1\r\nStep1.Section=ProductInstall.UpdateSymbols.SetA\r\n"),
              0);
    EXPECT_EQ(interp->m_nExitCode, KV_EXIT_RECORD_NOT_WRITTEN);
    EXPECT_EQ(interp->GetSymbol("A"), "a0");
    EXPECT_TRUE(Logged("*** Runtime error: the journal"));
    EXPECT_FALSE(Logged("Return code in silent mode,installation success"));
}

TEST_F(ExecuteTest, FailureShowsTheBoxAndRollsBack)
{
    interp->m_strRecordFile = dir / "record.ini";
    EXPECT_EQ(Execute(std::string(kSections) +
                      "[ProductInstall.Main]\r\nStepCount=2\r\nStep1.Section=ProductInstall.UpdateSymbols.SetA\r\n"
                      "Step2.Section=ProductInstall.UpdateSymbols.Bad\r\nStep2.Error.Action=NoSuchAction\r\n"),
              -1);
    EXPECT_EQ(interp->m_nExitCode, -2901);
    EXPECT_EQ(interp->GetSymbol("A"), "a0");
    const std::string failed = LoadResString(IDS_INSTALL_FAILED);
    ASSERT_EQ(cb.messages.size(), 1u);
    EXPECT_EQ(cb.messages[0], std::make_pair(failed, static_cast<UINT>(16)));
    EXPECT_EQ(LastDetail(), failed);
    EXPECT_EQ(cb.progress.back(), std::make_pair(0, 0));
    EXPECT_FALSE(kvtest::Exists(interp->m_strRecordFile));
}

// A script whose second step can't be performed must not pass for a
// successful installation of its first step.
TEST_F(ExecuteTest, UnperformableStepFailsTheRun)
{
    EXPECT_EQ(Execute(std::string(kSections) +
                      "[ProductInstall.Main]\r\nStepCount=2\r\nStep1.Section=ProductInstall.UpdateSymbols.SetA\r\n"
                      "Step2.Section=ProductRemove.UpdateSymbols.SetR\r\n"),
              -1);
    EXPECT_EQ(interp->m_nExitCode, -2004);
    EXPECT_EQ(interp->GetSymbol("A"), "a0");
    EXPECT_EQ(interp->GetSymbol("R"), "r0");
    EXPECT_EQ(MessagesWith(LoadResString(IDS_INSTALL_FAILED)), 1u);
}

TEST_F(ExecuteTest, UserBreakOrAnEarlierBoxShowNoFailureBox)
{
    const std::string script = std::string(kSections) +
                               "[ProductInstall.Main]\r\nStepCount=1\r\nStep1.Section=ProductInstall.UpdateSymbols.Bad\r\n";
    EXPECT_EQ(Execute(script + "Step1.Error.Action=KVHF_USERBREAK\r\n"), -300);
    EXPECT_TRUE(cb.messages.empty());
    EXPECT_EQ(LastDetail(), LoadResString(IDS_USER_BREAK));

    interp->m_bErrorShown = 1;
    EXPECT_EQ(Execute(script), -300);
    EXPECT_TRUE(cb.messages.empty());
    EXPECT_EQ(LastDetail(), LoadResString(IDS_USER_BREAK));
}

TEST_F(ExecuteTest, UninstallAnswerWithoutRecordEndsAsFailure)
{
    EXPECT_EQ(Execute(std::string(kSections) +
                      "[ProductInstall.Main]\r\nStepCount=1\r\nStep1.Section=ProductInstall.UpdateSymbols.Bad\r\n"
                      "Step1.Error.Action=KVHF_UNINSTALL\r\n"),
              -400);
    EXPECT_TRUE(cb.messages.empty());
    EXPECT_EQ(interp->GetSymbol("R"), "r0");
    EXPECT_EQ(interp->m_strMainSection, "ProductRemove.Main");
    EXPECT_EQ(Settings().m_bUninstall, 1);
    EXPECT_EQ(interp->m_nExitCode, -2901);
}

TEST_F(ExecuteTest, UninstallAnswerWithRecordRunsTheRemoval)
{
    struct CRecordingEnd : CHFS_RunEndListener {
        void RunEnded(const CHFS_RunOutcome& outcome) override { told.push_back(outcome); }
        std::vector<CHFS_RunOutcome> told;
    } end;
    interp->SetRunEndListener(&end);
    interp->m_strRecordFile = dir / "record.ini";
    EXPECT_EQ(Execute(std::string(kSections) +
                      "[ProductInstall.Main]\r\nStepCount=2\r\nStep1.Section=ProductInstall.UpdateSymbols.SetA\r\n"
                      "Step2.Section=ProductInstall.UpdateSymbols.Bad\r\nStep2.Error.Action=KVHF_UNINSTALL\r\n"),
              0);
    EXPECT_EQ(interp->GetSymbol("A"), "a0");
    EXPECT_EQ(interp->GetSymbol("R"), "removed");
    EXPECT_EQ(interp->m_nExitCode, 0);
    const std::string removed = LoadResString(IDS_REMOVE_SUCCESS);
    EXPECT_EQ(cb.tasks.back(), std::make_pair(removed, 0));
    EXPECT_TRUE(Logged("Delete Install record file!"));
    EXPECT_FALSE(kvtest::Exists(interp->m_strRecordFile));

    // The removal went well, the install asked for did not happen.
    ASSERT_EQ(end.told.size(), 1u);
    EXPECT_EQ(end.told[0].m_nExitCode, 0);
    EXPECT_FALSE(end.told[0].m_bSuccess);
    EXPECT_FALSE(end.told[0].m_bRemoval);
    EXPECT_EQ(end.told[0].m_nConventionalCode, 1603);
    EXPECT_EQ(end.told[0].m_nFailedStep, 2);
    EXPECT_EQ(end.told[0].m_strFailedSection, "ProductInstall.UpdateSymbols.Bad");
}

TEST_F(ExecuteTest, RemovalKeepsTheRecordWithD)
{
    Settings().m_bUninstall = 1;
    Settings().m_bKeepRecord = 1;
    interp->m_strMainSection = "ProductRemove.Main";
    interp->m_strRecordFile = dir / "record.ini";
    ASSERT_TRUE(kvtest::WriteFileBytes(interp->m_strRecordFile, "[Symbols]\r\nTotalCount=0\r\n[REC_0]\r\nTotalCount=0\r\n"));
    EXPECT_EQ(Execute(kSections), 0);
    EXPECT_TRUE(kvtest::Exists(interp->m_strRecordFile));
    EXPECT_TRUE(Logged("Delete Install record file!"));
}

TEST_F(ExecuteTest, FailedRemovalShowsTheRemovalText)
{
    Settings().m_bUninstall = 1;
    interp->m_strMainSection = "ProductRemove.Main";
    EXPECT_EQ(Execute("[ProductRemove.Main]\r\nStepCount=1\r\nStep1.Section=ProductRemove.UpdateSymbols.Bad\r\n"
                      "Step1.Error.Action=KVHF_UNINSTALL\r\n"
                      "[ProductRemove.UpdateSymbols.Bad]\r\nNOSUCH=1\r\n"),
              -400);
    const std::string text = LoadResString(IDS_REMOVE_FAILED);
    ASSERT_FALSE(cb.tasks.empty());
    EXPECT_EQ(cb.tasks.back(), std::make_pair(text, 0));
    EXPECT_EQ(LastDetail(), text);
    EXPECT_EQ(interp->m_strMainSection, "ProductRemove.Main");
}

TEST_F(ExecuteTest, RecordOfAReadOnlyScriptStaysWritable)
{
    interp->m_strRecordFile = dir / "record.ini";
    WriteScript(std::string(kSections) +
                "[ProductInstall.Main]\r\nStepCount=1\r\nStep1.Section=ProductInstall.UpdateSymbols.SetA\r\n");
    ASSERT_TRUE(::SetFileAttributesA(script.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(interp->Execute(), 0);
    ::SetFileAttributesA(script.c_str(), FILE_ATTRIBUTE_NORMAL);

    const std::string& record = interp->m_strRecordFile;
    DWORD attributes = ::GetFileAttributesA(record.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(attributes & FILE_ATTRIBUTE_READONLY, 0u);
    char count[16] = {0};
    ::GetPrivateProfileStringA("REC_0", "TotalCount", "", count, sizeof count, record.c_str());
    EXPECT_STREQ(count, "1");

    // A removal deletes the record even when it is read-only.
    ASSERT_TRUE(::SetFileAttributesA(record.c_str(), FILE_ATTRIBUTE_READONLY));
    Settings().m_bUninstall = 1;
    interp->m_strMainSection = "ProductRemove.Main";
    EXPECT_EQ(interp->Execute(), 0);
    EXPECT_FALSE(kvtest::Exists(record));
}

// File-system redirection is a setting of the thread: a run on a worker
// thread (a dialog-driven run) must turn it off before it undoes an
// interrupted install, or files journaled under System32 would be looked for
// in SysWOW64. Meaningful in a 32-bit build on 64-bit Windows only.
TEST_F(ExecuteTest, InterruptedInstallIsUndoneWithoutRedirectionOnAnyThread)
{
    BOOL wow64 = FALSE;
    if (!::IsWow64Process(::GetCurrentProcess(), &wow64) || !wow64)
        GTEST_SKIP() << "no file-system redirection in this build";
    char system[MAX_PATH] = {0};
    ::GetSystemDirectoryA(system, sizeof system);
    const std::string name = "kvredir-" + std::to_string(::GetCurrentProcessId()) + ".txt";
    const std::string file = std::string(system) + "\\" + name;
    PVOID old = nullptr;
    ASSERT_TRUE(::Wow64DisableWow64FsRedirection(&old));
    ASSERT_TRUE(kvtest::WriteFileBytes(file, "made by the interrupted install"));
    ::Wow64RevertWow64FsRedirection(old);

    interp->m_strRecordFile = dir / "record.ini";
    WriteScript(std::string(kSections) +
                "[ProductInstall.Main]\r\nStepCount=1\r\nStep1.Section=ProductInstall.CopyFileGroupTo.Files\r\n"
                "[ProductInstall.CopyFileGroupTo.Files]\r\nFileGroupCount=0\r\n");
    ASSERT_TRUE(kvtest::WriteFileBytes(interp->m_strRecordFile + ".journal",
                                       "[REC_1]\r\nSectionIndex=1\r\nItemIndex=1\r\nParam1=@\r\n"
                                       "[REC_2]\r\nSectionIndex=1\r\nItemIndex=1\r\nParam1=@" + std::string(system) +
                                           "|" + dir.Path() + "\r\nParam2=|F" + name + ">>>>>>n|\r\n"));
    struct CRun {
        CHFS_Interpreter* interp;
        int result = -9;
        static DWORD WINAPI Go(LPVOID p)
        {
            CRun* run = static_cast<CRun*>(p);
            run->result = run->interp->Execute();
            return 0;
        }
    } run{interp.get()};
    HANDLE worker = ::CreateThread(nullptr, 0, &CRun::Go, &run, 0, nullptr);
    ASSERT_NE(worker, nullptr);
    ::WaitForSingleObject(worker, 60000);
    ::CloseHandle(worker);
    EXPECT_EQ(run.result, 0);

    ASSERT_TRUE(::Wow64DisableWow64FsRedirection(&old));
    const bool left = kvtest::Exists(file);
    ::DeleteFileA(file.c_str());
    ::Wow64RevertWow64FsRedirection(old);
    EXPECT_FALSE(left) << cb.LogText();
}

// An interrupted install is undone with the script its run had (kept beside
// the journal), not with a package released since whose steps differ.
TEST_F(ExecuteTest, InterruptedInstallIsUndoneWithTheScriptItRanWith)
{
    const std::string added = dir / "product\\added.txt";
    ASSERT_TRUE(kvtest::WriteFileBytes(added, "made by the interrupted install"));
    interp->m_strRecordFile = dir / "record.ini";
    const std::string journal = "[REC_1]\r\nSectionIndex=1\r\nItemIndex=1\r\nParam1=@\r\n"
                                "[REC_2]\r\nSectionIndex=1\r\nItemIndex=1\r\nParam1=@" + dir / "product" + "|" +
                                dir.Path() + "\r\nParam2=|Fadded.txt>>>>>>n|\r\n";
    // Step 1 of the package as it is now would read the items wrongly.
    WriteScript(std::string(kSections) +
                "[ProductInstall.Main]\r\nStepCount=1\r\nStep1.Section=ProductInstall.UpdateSymbols.SetA\r\n");
    for (bool withCopy : {false, true}) {
        SCOPED_TRACE(withCopy ? "the run's own script" : "only the package's script");
        ::DeleteFileA(interp->m_strRecordFile.c_str());
        ASSERT_TRUE(kvtest::WriteFileBytes(interp->m_strRecordFile + ".journal", journal));
        if (withCopy) {
            ASSERT_TRUE(kvtest::WriteFileBytes(interp->m_strRecordFile + ".journal-script",
                                               "[ProductInstall.Main]\r\nStepCount=1\r\n"
                                               "Step1.Section=ProductInstall.CopyFileGroupTo.Files\r\n"));
        }
        const int result = interp->Execute();
        if (withCopy) {
            EXPECT_EQ(result, 0);
            EXPECT_FALSE(kvtest::Exists(added));
            EXPECT_FALSE(kvtest::Exists(interp->m_strRecordFile + ".journal-script"));
        } else {
            // Read by the wrong handler, the items undo nothing of what was done.
            EXPECT_TRUE(kvtest::Exists(added));
        }
    }
}
