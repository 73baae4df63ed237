#include "RunnerFixture.h"
#include "app/KorvexApp.h"
#include "interpreter/Interpreter.h"

using kvrun::RunnerTest;
using kvtest::Signed;

namespace {

// Working steps: UpdateSymbols sections. SetA/SetB change defined symbols and
// record one item each; Bad assigns an undefined name and fails with -300;
// Empty does nothing and succeeds.
const char kSections[] =
    "[ProductInstall.Symbols]\r\nA=a0\r\nB=b0\r\n"
    "[ProductInstall.UpdateSymbols.SetA]\r\nA=a1\r\n"
    "[ProductInstall.UpdateSymbols.SetB]\r\nB=b1\r\n"
    "[ProductInstall.UpdateSymbols.Bad]\r\nNOSUCH=1\r\n"
    "[ProductInstall.UpdateSymbols.Empty]\r\n"
    "[ProductRemove.UpdateSymbols.Empty]\r\n";

std::string Ran(const std::string& section)
{
    return "@@@ Session name ['" + section + "'] return code = ";
}

}  // namespace

TEST_F(RunnerTest, ScriptWithoutPatchInformationLeavesNoDatabase)
{
    Script(std::string(kSections) +
           "[ProductInstall.Main]\r\nStepCount=1\r\nStep1.Section=ProductInstall.UpdateSymbols.SetA\r\n");
    kvtest::ProcessResult r = Run("/S /G");
    EXPECT_EQ(Signed(r.exitCode), 0) << LogText();
    EXPECT_TRUE(Logged(Ran("ProductInstall.UpdateSymbols.SetA") + "0 "));
    EXPECT_TRUE(Logged("Return code in silent mode,installation success,code=0"));
    EXPECT_FALSE(Logged("Update Patch DB"));
    EXPECT_FALSE(DBExists());
}

TEST_F(RunnerTest, BadPatchInformationStopsBeforeAnyStep)
{
    const std::string main =
        std::string(kSections) +
        "[ProductInstall.Main]\r\nStepCount=1\r\nStep1.Section=ProductInstall.UpdateSymbols.SetA\r\n";
    Script(PatchInfo("2.1") + main);
    Run("/S /G");
    EXPECT_TRUE(Logged("KorvexVersion info error in PatchInformation section")) << LogText();
    EXPECT_FALSE(Logged("@@@ Session name"));
    EXPECT_FALSE(DBExists());

    Script(PatchInfo("2.0", "") + main);
    Run("/S /G");
    EXPECT_TRUE(Logged("PatchInformation section error")) << LogText();
    EXPECT_FALSE(Logged("@@@ Session name"));
    EXPECT_FALSE(DBExists());
}

TEST_F(RunnerTest, StepCountMissingOrZero)
{
    Script(PatchInfo() + kSections + "[ProductInstall.Main]\r\nStep1.Section=ProductInstall.UpdateSymbols.SetA\r\n");
    EXPECT_EQ(Signed(Run("/S /G").exitCode), -2001) << LogText();
    EXPECT_FALSE(Logged("@@@ Session name"));
    EXPECT_EQ(DB("ResultCode"), "1");

    Script(PatchInfo() + kSections +
           "[ProductInstall.Main]\r\nStepCount=0\r\nStep1.Section=ProductInstall.UpdateSymbols.SetA\r\n");
    EXPECT_EQ(Signed(Run("/S /G").exitCode), -2000) << LogText();
    EXPECT_FALSE(Logged("@@@ Session name"));
}

// A syntax error in step 2 must not let the run pass for a success.
TEST_F(RunnerTest, UnperformableStepAfterASuccessfulOneFailsAndRollsBack)
{
    const std::string head = PatchInfo() + kSections +
                             "[ProductInstall.Main]\r\nStepCount=3\r\n"
                             "Step1.Section=ProductInstall.UpdateSymbols.SetA\r\n"
                             "Step3.Section=ProductInstall.UpdateSymbols.SetB\r\n";
    Script(head + "Step2.Section=ProductRemove.UpdateSymbols.Empty\r\n");
    EXPECT_EQ(Signed(Run("/S /G").exitCode), -2004) << LogText();
    EXPECT_TRUE(Logged("*** Syntax error: Session name ['ProductRemove.UpdateSymbols.Empty'] not supported in this "
                       "function domain! "));
    EXPECT_TRUE(Logged("CHFS_UpdateSymbolsSection::Rollback(ProductInstall.UpdateSymbols.SetA)"));
    EXPECT_FALSE(Logged(Ran("ProductInstall.UpdateSymbols.SetB")));
    EXPECT_EQ(DB("ResultCode"), "1");
    EXPECT_FALSE(kvrun::RegKeyExists(kvrun::kUninstallRoot + patchId));

    Script(head + "Step2.Section=ProductInstall.NoSuchType.X\r\n");
    EXPECT_EQ(Signed(Run("/S /G").exitCode), -2004) << LogText();
    EXPECT_TRUE(Logged("*** Syntax error: Session name ['ProductInstall.NoSuchType.X'] not supported! "));
    EXPECT_TRUE(Logged("CHFS_UpdateSymbolsSection::Rollback(ProductInstall.UpdateSymbols.SetA)"));
}

TEST_F(RunnerTest, RetryActionInASilentRunEndsAtTheItemLimit)
{
    Script(std::string(kSections) +
           "[ProductInstall.Main]\r\nStepCount=1\r\nStep1.Section=ProductInstall.UpdateSymbols.Bad\r\n"
           "Step1.Error.Action=KVHF_RETRY\r\nStep1.Error.AskYesNo=Never asked\r\n");
    // Only endless retrying fills the item list; no log keeps the run short.
    EXPECT_EQ(Signed(Run("/S /G /M").exitCode), -2002);
}

TEST_F(RunnerTest, EndlessJumpEndsAtTheItemLimit)
{
    Script(std::string(kSections) +
           "[ProductInstall.Main]\r\nStepCount=2\r\nStep1.Section=ProductInstall.UpdateSymbols.SetA\r\n"
           "Step1.Success.Action=KVHF_GOTOSTEP(1)\r\nStep2.Section=ProductInstall.UpdateSymbols.SetB\r\n");
    EXPECT_EQ(Signed(Run("/S /G /M").exitCode), -2002);
}

TEST_F(RunnerTest, JumpsWithAndWithoutTheClosingParenthesis)
{
    Script(std::string(kSections) +
           "[ProductInstall.Main]\r\nStepCount=7\r\n"
           "Step1.Section=ProductInstall.UpdateSymbols.SetA\r\nStep1.Success.Action=KVHF_GOTOSTEP(5)\r\n"
           "Step2.Section=ProductInstall.UpdateSymbols.Bad\r\nStep3.Section=ProductInstall.UpdateSymbols.Bad\r\n"
           "Step4.Section=ProductInstall.UpdateSymbols.Bad\r\n"
           "Step5.Section=ProductInstall.UpdateSymbols.SetB\r\nStep5.Success.Action=KVHF_GOTOSTEP(7\r\n"
           "Step6.Section=ProductInstall.UpdateSymbols.Bad\r\n"
           "Step7.Section=ProductInstall.UpdateSymbols.Empty\r\n");
    EXPECT_EQ(Signed(Run("/S /G").exitCode), 0) << LogText();
    EXPECT_TRUE(Logged(Ran("ProductInstall.UpdateSymbols.SetB") + "0 "));
    EXPECT_TRUE(Logged(Ran("ProductInstall.UpdateSymbols.Empty") + "0 "));
    EXPECT_FALSE(Logged("ProductInstall.UpdateSymbols.Bad"));
}

TEST_F(RunnerTest, LowerCaseKeywordIsAFailure)
{
    Script(std::string(kSections) +
           "[ProductInstall.Main]\r\nStepCount=2\r\nStep1.Section=ProductInstall.UpdateSymbols.Bad\r\n"
           "Step1.Error.Action=kvhf_continue\r\nStep2.Section=ProductInstall.UpdateSymbols.SetA\r\n");
    EXPECT_EQ(Signed(Run("/S /G").exitCode), -2901) << LogText();
    EXPECT_TRUE(Logged("!Error! Action not found. 'kvhf_continue'"));
    EXPECT_FALSE(Logged(Ran("ProductInstall.UpdateSymbols.SetA")));
}

TEST_F(RunnerTest, QuestionWithoutDefaultInASilentRunKeepsTheFailure)
{
    Script(std::string(kSections) +
           "[ProductInstall.Main]\r\nStepCount=2\r\nStep1.Section=ProductInstall.UpdateSymbols.Bad\r\n"
           "Step1.Error.AskYesNo=Go on?\r\nStep1.Error.Yes=KVHF_CONTINUE\r\nStep1.Error.No=KVHF_CONTINUE\r\n"
           "Step2.Section=ProductInstall.UpdateSymbols.SetA\r\n");
    EXPECT_EQ(Signed(Run("/S /G").exitCode), -2901) << LogText();
    EXPECT_TRUE(Logged("In the silent mode, use Default action to continue installation.[Step1.Error.Default]"));
    EXPECT_FALSE(Logged("AskYesNo=Go on?"));
    EXPECT_FALSE(Logged(Ran("ProductInstall.UpdateSymbols.SetA")));
}

TEST_F(RunnerTest, DatabaseProgressPerStep)
{
    Script(PatchInfo() + kSections +
           "[ProductInstall.Main]\r\nStepCount=4\r\n"
           "Step1.Section=ProductInstall.UpdateSymbols.Empty\r\nStep2.Section=ProductInstall.UpdateSymbols.Empty\r\n"
           "Step3.Section=ProductInstall.UpdateSymbols.Empty\r\nStep4.Section=ProductInstall.UpdateSymbols.Empty\r\n");
    EXPECT_EQ(Signed(Run("/S /G").exitCode), 0) << LogText();
    std::string log = LogText();
    size_t at = 0;
    for (const char* p : {"0", "20", "40", "60", "80", "100"}) {
        size_t next = log.find(std::string("Update Patch DB: Write Progress='") + p + "'", at);
        ASSERT_NE(next, std::string::npos) << p;
        at = next + 1;
    }
    EXPECT_EQ(DB("Progress"), "100");
}

TEST_F(RunnerTest, RemoteProgressForASingleStep)
{
    kvrun::CRegValueGuard status(kvrun::kRemoteKey, "StatusMsg");
    Script(PatchInfo() + kSections +
           "[ProductInstall.Main]\r\nStepCount=1\r\nStep1.Section=ProductInstall.UpdateSymbols.Empty\r\n");
    EXPECT_EQ(Signed(Run("/S /G /R").exitCode), 0) << LogText();
    EXPECT_TRUE(Logged("Update Patch DB: Write Progress='50'"));
    EXPECT_TRUE(Logged("RegSetValueEx Successful for name='StatusMsg', value='50'"));
    std::string value;
    EXPECT_TRUE(kvrun::ReadRegString(kvrun::kRemoteKey, "StatusMsg", value));
    EXPECT_EQ(value, "100");
}

TEST_F(RunnerTest, InstallThenRemoveLeavesTheDatabaseAndUninstallEntry)
{
    const std::string record = pkg / "rec\\record.ini";
    ASSERT_TRUE(kvtest::WriteFileBytes(pkg / "files\\x.dat", "x"));
    Script(PatchInfo() + "[ProductInstall.Symbols]\r\nA=a0\r\nRecordFile=" + record + "\r\n" +
           "[ProductInstall.UpdateSymbols.SetA]\r\nA=a1\r\n[ProductRemove.UpdateSymbols.Empty]\r\n"
           "[ProductInstall.Main]\r\nInstallRecordFile=" + record +
           "\r\nStepCount=1\r\nStep1.Section=ProductInstall.UpdateSymbols.SetA\r\n"
           "[ProductRemove.Main]\r\nStepCount=1\r\nStep1.Section=ProductRemove.UpdateSymbols.Empty\r\n");
    EXPECT_EQ(Signed(Run("/S /G").exitCode), 0) << LogText();
    EXPECT_EQ(DB("ResultCode"), "0");
    EXPECT_EQ(DB("Progress"), "100");
    EXPECT_EQ(DB("ProductName"), "Prod");
    EXPECT_EQ(DB("Language"), "EN");
    EXPECT_EQ(DB("ProductVersion"), "1.0");
    EXPECT_EQ(DB("Platform"), "x86");
    EXPECT_EQ(DB("BuildNumber"), "100");
    EXPECT_EQ(DB("PatchDescription"), "Runner test patch");
    EXPECT_EQ(DB("UninstallString"), pkg / "files\\x.dat");
    EXPECT_EQ(DB("ErrorMSG"), "success");
    EXPECT_EQ(DB("TimeOutSecond"), "600");
    const std::string stamp = DB("TimeStamp");
    ASSERT_EQ(stamp.size(), 19u) << stamp;
    EXPECT_EQ(stamp[4], '-');
    EXPECT_EQ(stamp[10], ':');
    EXPECT_EQ(stamp[13], ':');
    ASSERT_TRUE(kvtest::Exists(record));
    char count[32] = {0};
    ::GetPrivateProfileStringA("REC_0", "TotalCount", "", count, sizeof count, record.c_str());
    EXPECT_STREQ(count, "1");
    ::GetPrivateProfileStringA("Symbols", "TotalCount", "", count, sizeof count, record.c_str());
    EXPECT_STRNE(count, "");
    EXPECT_NE(kvtest::ReadFileOr(record).find("[ProductRemove.Main]"), std::string::npos);

    const std::string key = kvrun::kUninstallRoot + patchId;
    std::string value;
    EXPECT_TRUE(kvrun::ReadRegString(key, "UninstallString", value));
    EXPECT_EQ(value, exe + " /U:\"" + record + "\"");
    EXPECT_TRUE(kvrun::ReadRegString(key, "DisplayName", value));
    EXPECT_EQ(value, "Runner test patch");

    EXPECT_EQ(Signed(Run("/S /G /U:" + record).exitCode), 0) << LogText();
    EXPECT_TRUE(Logged(Ran("ProductRemove.UpdateSymbols.Empty") + "0 "));
    EXPECT_TRUE(Logged("Delete Install record file!"));
    EXPECT_FALSE(kvtest::Exists(record));
    EXPECT_FALSE(kvrun::RegKeyExists(key));
    for (const char* gone : {"ProductName", "Language", "ProductVersion", "Platform", "BuildNumber",
                             "PatchDescription", "UninstallString"})
        EXPECT_EQ(DB(gone), "(none)") << gone;
    EXPECT_EQ(DB("ResultCode"), "0");
    EXPECT_EQ(DB("Progress"), "100");
    EXPECT_EQ(DB("ErrorMSG"), "success");
    EXPECT_EQ(DB("TimeOutSecond"), "600");
    EXPECT_EQ(DB("TimeStamp").size(), 19u);
}

TEST_F(RunnerTest, ZentaEventIsSetOrItsAbsenceStopsTheRun)
{
    Script(PatchInfo() + kSections +
           "[ProductInstall.Main]\r\nStepCount=1\r\nStep1.Section=ProductInstall.UpdateSymbols.Empty\r\n");
    HANDLE ev = ::CreateEventA(nullptr, TRUE, FALSE, patchId.c_str());
    ASSERT_NE(ev, nullptr);
    EXPECT_EQ(Signed(Run("/S /G /P").exitCode), 0) << LogText();
    EXPECT_EQ(::WaitForSingleObject(ev, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(Logged("Get Event successfully with PatchID=" + patchId));
    ::CloseHandle(ev);

    // Nothing ran: /G must not report that as a success.
    EXPECT_EQ(Signed(Run("/S /G /P").exitCode), KV_EXIT_NOT_STARTED);
    EXPECT_TRUE(Logged("Can not Get Event with PatchID=" + patchId)) << LogText();
    EXPECT_FALSE(Logged("@@@ Session name"));
}

TEST_F(RunnerTest, MissingRecordFileStopsTheRemoval)
{
    Script(std::string(kSections) +
           "[ProductRemove.Main]\r\nStepCount=1\r\nStep1.Section=ProductRemove.UpdateSymbols.Empty\r\n");
    const std::string missing = pkg / "nowhere\\record.ini";
    kvtest::ProcessResult r = Run("/S /G /U:" + missing);
    EXPECT_EQ(Signed(r.exitCode), KV_EXIT_NOT_STARTED);
    const std::string text = "***Error: Can't open Install record file ('" + missing + "')";
    EXPECT_NE(r.output.find(text), std::string::npos) << r.output;
    EXPECT_TRUE(Logged(text));
    EXPECT_FALSE(Logged("@@@ Session name"));
}

// /E prints a failed run's code on the console of the process that started
// the installer; with /E, /G no longer decides the exit code. The console of
// our own is read back from its screen buffer (Wine's console host needs the
// display the test script provides).
TEST_F(RunnerTest, PrintsTheFailureCodeOnTheParentsConsole)
{
    Script(std::string(kSections) + "[ProductInstall.Main]\r\nStep1.Section=ProductInstall.UpdateSymbols.SetA\r\n");
    ::FreeConsole();
    ASSERT_TRUE(::AllocConsole());
    HANDLE out = ::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);

    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::string cmd = "\"" + exe + "\" /S /E /G";
    ::DeleteFileA("C:\\Korvex.log");
    ASSERT_TRUE(::CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, pkg.Path().c_str(), &si, &pi));
    EXPECT_EQ(::WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
    DWORD code = 0;
    ::GetExitCodeProcess(pi.hProcess, &code);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);

    CONSOLE_SCREEN_BUFFER_INFO info = {};
    ASSERT_TRUE(::GetConsoleScreenBufferInfo(out, &info));
    std::string screen;
    for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
        std::string line(static_cast<size_t>(info.dwSize.X), ' ');
        DWORD got = 0;
        COORD at = {0, y};
        ::ReadConsoleOutputCharacterA(out, &line[0], info.dwSize.X, at, &got);
        screen += line.substr(0, got) + "\n";
    }
    ::CloseHandle(out);
    ::FreeConsole();

    EXPECT_NE(screen.find("-2001"), std::string::npos) << screen;
    EXPECT_NE(Signed(code), -2001);
    EXPECT_TRUE(Logged("Return error code in silent mode if the installation failed,code=-2001")) << LogText();
    EXPECT_FALSE(Logged("Return exit code of Korvex in silent mode"));
}

TEST_F(RunnerTest, RelativeRecordFileIsOneFullPathBesideThePackage)
{
    // Started from another folder, so that nothing lands in the current one.
    ASSERT_TRUE(kvtest::WriteFileBytes(pkg / "files\\x.dat", "x"));
    Script(PatchInfo() + "[ProductInstall.Symbols]\r\nA=a0\r\nRecordFile=rec\\r.ini\r\n" +
           "[ProductInstall.UpdateSymbols.SetA]\r\nA=a1\r\n[ProductRemove.UpdateSymbols.Empty]\r\n"
           "[ProductInstall.Main]\r\nInstallRecordFile=%RecordFile%"
           "\r\nStepCount=1\r\nStep1.Section=ProductInstall.UpdateSymbols.SetA\r\n"
           "[ProductRemove.Main]\r\nStepCount=1\r\nStep1.Section=ProductRemove.Rollback.All\r\n");
    kvtest::ProcessResult r = kvtest::RunProcess("\"" + exe + "\" /S /G", "C:\\");
    EXPECT_EQ(Signed(r.exitCode), 0) << LogText();
    const std::string record = pkg / "rec\\r.ini";
    const std::string text = kvtest::ReadFileOr(record);
    EXPECT_NE(text.find("[ProductInstall.Main]"), std::string::npos);
    EXPECT_NE(text.find("[Symbols]"), std::string::npos);
    EXPECT_NE(text.find("[REC_0]"), std::string::npos);
    std::string value;
    EXPECT_TRUE(kvrun::ReadRegString(kvrun::kUninstallRoot + patchId, "UninstallString", value));
    EXPECT_EQ(value, exe + " /U:\"" + record + "\"");
    EXPECT_EQ(Signed(Run("/S /G /U:" + record).exitCode), 0) << LogText();
    EXPECT_FALSE(kvtest::Exists(record));
}

TEST_F(RunnerTest, RemovalWhoseRestoreFailsIsAFailureAndKeepsTheRecord)
{
    const std::string record = pkg / "rec\\r.ini";
    const std::string saved = pkg / "saved";
    ASSERT_TRUE(kvtest::WriteFileBytes(pkg / "prod\\a.ini", "a"));
    ASSERT_TRUE(kvtest::WriteFileBytes(pkg / "a.tpl", "patched"));
    // The install saves the file, then changes it.
    Script(PatchInfo() + "[ProductInstall.BackupFiles.Save]\r\nFileCount=1\r\nBackup=" + saved +
           "\r\nFile1=" + (pkg / "prod\\a.ini") +
           "\r\n[ProductInstall.ReplaceSymbolsInFile.Write]\r\nFileCount=1\r\nFile1.Source=" + (pkg / "a.tpl") +
           "\r\nFile1.Output=" + (pkg / "prod\\a.ini") +
           "\r\n[ProductInstall.Main]\r\nInstallRecordFile=" + record +
           "\r\nStepCount=2\r\nStep1.Section=ProductInstall.BackupFiles.Save\r\n"
           "Step2.Section=ProductInstall.ReplaceSymbolsInFile.Write\r\n"
           "[ProductRemove.Main]\r\nStepCount=1\r\nStep1.Section=ProductRemove.Rollback.All\r\n");
    ASSERT_EQ(Signed(Run("/S /G").exitCode), 0) << LogText();
    ASSERT_EQ(kvtest::ReadFileOr(pkg / "prod\\a.ini"), "patched");
    // The saved copy goes missing before the removal: the file cannot be
    // put back, and that must not read as success.
    kvtest::RemoveTree(saved);
    EXPECT_NE(Signed(Run("/S /G /U:" + record).exitCode), 0) << LogText();
    EXPECT_TRUE(Logged("could not be rolled back, ret=-1"));
    EXPECT_EQ(kvtest::ReadFileOr(pkg / "prod\\a.ini"), "patched");
    EXPECT_FALSE(Logged("Delete Install record file!"));
    EXPECT_TRUE(kvtest::Exists(record));
    EXPECT_EQ(DB("ResultCode"), "1");
}

TEST_F(RunnerTest, StepCountBeyondTheBoundRunsNothing)
{
    Script(PatchInfo() + "[ProductInstall.Main]\r\nStepCount=2147483647\r\n"
                         "Step1.Section=ProductInstall.UpdateSymbols.X\r\nStep1.Error.Action=KVHF_GOTOSTEP(2147483647)\r\n"
                         "[ProductInstall.UpdateSymbols.X]\r\nNOSUCH=1\r\n");
    EXPECT_EQ(Signed(Run("/S /G").exitCode), -2001) << LogText();
    EXPECT_TRUE(Logged("*** Syntax error: StepCount='2147483647' in section ['ProductInstall.Main'] is more than 4096 steps! "));
    EXPECT_FALSE(Logged("Session name ['ProductInstall.UpdateSymbols.X'] return code"));
}

// Names the profile functions would overrun their buffer with: refused with
// error 206 and a log line, never a crash, never exit code 0 for a failure.
TEST_F(RunnerTest, OverlongIniFileNamesAreRefused)
{
    const std::string steps = "[ProductInstall.UpdateSymbols.None]\r\n[ProductInstall.Main]\r\nStepCount=1\r\n"
                              "Step1.Section=ProductInstall.UpdateSymbols.None\r\n";
    for (size_t n : {600u, 3000u}) {
        Script(PatchInfo() + "[ProductInstall.Symbols]\r\nX=[INI:" + std::string(n, 'K') + ",s,k]\r\n" + steps);
        EXPECT_EQ(Signed(Run("/S /G").exitCode), 0) << n;
        EXPECT_TRUE(Logged("lasterror=206")) << n;
        EXPECT_TRUE(Logged("@ Update Symbol table: 'X'=''")) << n;
    }
    kvtest::RegDeleteTree(HKEY_LOCAL_MACHINE, kvrun::kUninstallRoot + patchId, kvtest::kProgramView);
    Script(PatchInfo() + "[ProductInstall.Main]\r\nInstallRecordFile=" + std::string(700, 'R') +
           "\r\nStepCount=1\r\nStep1.Section=ProductInstall.UpdateSymbols.None\r\n"
           "[ProductInstall.UpdateSymbols.None]\r\n");
    EXPECT_EQ(Signed(Run("/S /G").exitCode), KV_EXIT_RECORD_NOT_WRITTEN) << LogText();
    EXPECT_FALSE(kvrun::RegKeyExists(kvrun::kUninstallRoot + patchId));
    EXPECT_EQ(DB("ResultCode"), "1");

    Script(PatchInfo() + steps);
    const std::string longDb = std::string(700, 'D') + "\\db.ini";
    kvrun::WriteRegString(kvrun::kKorvexKey, "KorvexDBPath", &longDb);
    EXPECT_EQ(Signed(Run("/S /G").exitCode), KV_EXIT_NOT_STARTED) << LogText();
    EXPECT_TRUE(Logged("Update Patch DB: Get DB file error")) << LogText();
}
