// The Run section: the command policy, the ways a command is started, the
// item loop with its records, and the rollback commands.
#include "CommandsFixture.h"
#include "JournalWitness.h"
#include "sections/RunSection.h"

namespace {

const char kSec[] = "ProductInstall.Run.Cmds";
const char kBg[] = "KVHF_RunAtBackground";
const char kHide[] = "KVHF_RunAtHideDialog";

std::string CurrentDir()
{
    char buf[MAX_PATH + 1] = {0};
    ::GetCurrentDirectoryA(MAX_PATH, buf);
    return buf;
}

class RunSectionTest : public CommandsTest {
protected:
    void SetUp() override
    {
        CommandsTest::SetUp();
        kvtest::WriteFileBytes(work + "\\one.bat", "@echo off\r\nexit /b 1\r\n");
        kvtest::WriteFileBytes(work + "\\m500.bat", "@echo off\r\nexit /b -500\r\n");
        kvtest::WriteFileBytes(work + "\\UP.BAT", "@echo off\r\nexit /b 1\r\n");
        section.reset(new CHFS_RunSection(interp.get()));
    }
    std::unique_ptr<CHFS_RunSection> section;
};

}  // namespace

TEST_F(RunSectionTest, CommandPolicyAndHowCommandsRun)
{
    struct Case {
        const char* type;
        const char* command;
        int result;
        const char* retcode;  // "-": not touched
        const char* logged;   // "@" stands for the work folder
    } cases[] = {
        {"", "dir /b > listing.txt", 0, "-", "cmd.exe command 'DIR' is found, allow"},
        {"", "DiR /B > LISTING2.TXT", 0, "-", "cmd.exe internal command success, return code = 0"},
        {"", "type nosuch.txt", -300, "-", "cmd.exe internal command fail, return code = 1"},
        {kHide, "echo hidden> hidden.txt", -100, "0", "cmd.exe internal command(run hide) return code = -100"},
        {"", "net stop kvnone", -300, "-", "cmd.exe command 'NET' is found, reject"},
        {"", "COPY.EXE a b", -300, "-", "external command '@\\COPY.EXE' not found"},
        {"", " kvexit.exe 0", -300, "-", "external command '@\\' not found"},
        {"", "\"C:\\Program Files\\kvexit.exe\" 0", -300, "-", "external command '@\\\"C:\\PROGRAM' not found"},
        {kBg, "kvexit.exe 3", -100, "3", "Set Global Symbol 'RETCODE' = 3"},
        {"KVHF_RunAtBackgroundAndWaitForReturn", "kvexit.exe 0 bg", -100, "0", "Run 'kvexit.exe 0 bg' in folder '@'"},
        {kBg, "kvexit.exe -500", -300, "-500", "Doing command '<CREATEBLOCKPROCESS>' exitCode=-500"},
        // STILL_ACTIVE as an exit code: the wait must still end.
        {kBg, "kvexit.exe 259 300", -100, "259", "Doing command '<CREATEBLOCKPROCESS>' exitCode=259"},
        {kHide, "kvexit.exe 4 0 hide", -100, "4", "external command return code = -100"},
        {"", "kvexit.exe 3", -300, "-", "external command return code = -300"},
        {"Other", "kvexit.exe 0", 0, "-", "Call system() return code = 0"},
        {"", "one.bat", -100, "-", "Call system() return code = 1"},
        {"", "m500.bat", -300, "-", "external command return code = -300"},
        {"", "UP.BAT", -300, "-", "external command return code = -300"},
        {"", "<SLEEP>", -100, "-", "Run Korvex internal command <SLEEP>"},
        {"", "<SLEEP>x", -100, "-", "Doing command '<SLEEP> 0' ..."},
        {"", "<NOTHING> 9", -100, "-", "return code = -100"},
    };
    const std::string before = CurrentDir();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        interp->SetGlobalSymbol("RETCODE", "-");
        cb.logLines.clear();
        EXPECT_EQ(c.result, section->ExecuteCommand(c.type, work, c.command));
        EXPECT_EQ(c.retcode, interp->GetSymbol("RETCODE"));
        std::string logged = c.logged;
        if (logged.find('@') != std::string::npos)
            logged.replace(logged.find('@'), 1, work);
        EXPECT_TRUE(Logged(logged)) << cb.LogText();
        ::SetCurrentDirectoryA(before.c_str());
    }
    // They ran in the work folder, on the desktop their type asks for.
    EXPECT_NE(std::string::npos, kvtest::ReadFileOr(work + "\\listing.txt").find("kvexit.exe"));
    EXPECT_TRUE(kvtest::Exists(work + "\\LISTING2.TXT") && kvtest::Exists(work + "\\hidden.txt"));
    std::vector<std::string> ran = {"3 desk=Default",      "0 bg desk=Default",    "-500 desk=Default",
                                    "259 300 desk=Default", "4 0 hide desk=MyDesk", "3 desk=Default",
                                    "0 desk=Default"};
    EXPECT_EQ(ran, Ran());
    // Exit-code failures are shown; rejections and missing programs only logged.
    std::vector<std::string> shown = {"Error: -> Run command: kvexit.exe -500 (error code:-500 )!\r\n",
                                      "Error: -> Run command: kvexit.exe 3 (error code:3 )!\r\n",
                                      "Error: -> Run command: m500.bat (error code:-500 )!\r\n",
                                      "Error: -> Run command: UP.BAT (error code:1 )!\r\n"};
    EXPECT_EQ(shown, cb.details);

    DWORD t0 = ::GetTickCount();
    EXPECT_EQ(-100, section->ExecuteCommand("", work, "<SLEEP> 1"));
    EXPECT_GE(::GetTickCount() - t0, 950u);
    EXPECT_TRUE(Logged("Found internal command <SLEEP> 1") && Logged("Done!! ret=Success"));
}

TEST_F(RunSectionTest, CommandLineLongerThanTheBufferFailsCleanly)
{
    // 30000 bytes with the terminator; "cmd.exe /C " counts for allowed commands.
    std::string fits = "kvexit.exe 0 " + std::string(29999 - 13, 'x');
    EXPECT_EQ(-100, section->ExecuteCommand(kBg, work, fits));
    EXPECT_EQ(-300, section->ExecuteCommand(kBg, work, fits + "y"));
    EXPECT_TRUE(Logged("CreateProcess Failed, command line of 30000 characters exceeds the limit of 29999"));
    EXPECT_EQ(-300, section->ExecuteCommand(kHide, work, "echo " + std::string(29990, 'z')));
    EXPECT_EQ(std::vector<std::string>{fits.substr(11) + " desk=Default"}, Ran());
}

TEST_F(RunSectionTest, ItemsAreRecordedAndRolledBackNewestFirst)
{
    Script("[ProductInstall.Run.Cmds]\r\nRunCount=7\r\n"
           "Run1.Description=Only on rollback\r\nRun1.RollbackCommand=kvexit.exe 11\r\n"
           "Run1.RollbackCommandType=KVHF_RunAtBackground\r\nRun1.Path=" + work + "\r\n"
           "Run2.Command=kvexit.exe 21\r\nRun2.CommandType=KVHF_RunAtBackground\r\n"
           "Run2.RollbackCommand=kvexit.exe 22\r\nRun2.RollbackCommandType=KVHF_RunAtHideDialog\r\n"
           "Run2.Path=" + work + "\\\r\n"
           // No Path: the installer's own folder. An empty one: no folder at all.
           "Run3.Command=nosuch_tool.exe /x\r\nRun3.Error.Action=KVHF_CONTINUE\r\n"
           "Run4.Command=dir\r\nRun4.Path=\r\nRun4.Error.Action=KVHF_CONTINUE\r\n"
           "Run5.Description=Nothing at all\r\n"
           "Run6.Command=<SLEEP>\r\nRun6.RollbackCommand=kvexit.exe 62\r\n"
           "Run6.RollbackCommandType=KVHF_RunAtBackground\r\nRun6.Path=" + work + "\r\n"
           // Relative: below the installer's folder, whatever folder is current.
           "Run7.Command=nosuch_tool.exe\r\nRun7.Path=.\r\nRun7.Error.Action=KVHF_CONTINUE\r\n");
    const std::string before = CurrentDir();
    EXPECT_EQ(0, section->Run(kSec, list));
    EXPECT_EQ(before, CurrentDir());
    EXPECT_EQ(-2600, section->GetExitCode());
    std::vector<int> recorded;
    for (const CHFS_RecordItem& i : list.Items())
        recorded.push_back(i.nItemIndex);
    EXPECT_EQ((std::vector<int>{1, 2, 3, 4, 6, 7}), recorded);
    EXPECT_EQ(std::vector<std::string>{"21 desk=Default"}, Ran());
    EXPECT_TRUE(Logged("strType(KVHF_RunAtBackground)"));
    EXPECT_TRUE(Logged("Success to run 'kvexit.exe 21' in folder '" + work + "\\'"));
    EXPECT_TRUE(Logged("external command '" + interp->GetModuleDir() + "NOSUCH_TOOL.EXE' not found"));
    EXPECT_TRUE(Logged("Failed to run 'nosuch_tool.exe /x' in folder '" + interp->GetModuleDir() + "'"));
    EXPECT_TRUE(Logged("*** Runtime error: no working folder for 'dir'"));
    const std::string moduleDir = interp->GetModuleDir();
    EXPECT_TRUE(Logged("Failed to run 'nosuch_tool.exe' in folder '" + moduleDir.substr(0, moduleDir.size() - 1) + "'"));
    EXPECT_FALSE(Logged("EventHandler('Run1.") || Logged("EventHandler('Run5."));
    EXPECT_TRUE(Logged("CHFS_RunSection::Run('ProductInstall.Run.Cmds') Ret=0"));
    EXPECT_EQ("Only on rollback\r\n", cb.details[0]);

    cb.logLines.clear();
    EXPECT_EQ(0, section->Rollback(kSec, list));
    EXPECT_EQ(before, CurrentDir());
    EXPECT_EQ(0u, list.Size());
    std::vector<std::string> ran = {"21 desk=Default", "62 desk=Default", "22 desk=MyDesk", "11 desk=Default"};
    EXPECT_EQ(ran, Ran());
    EXPECT_TRUE(Logged("CHFS_RunSection::Rollback('ProductInstall.Run.Cmds') Ret=0"));
    EXPECT_FALSE(Logged("EventHandler("));
}

TEST_F(RunSectionTest, FailureWithoutKeysOrAnsweredUninstallEndsTheSection)
{
    for (const char* keys : {"", "Run1.Error.Action=KVHF_UNINSTALL\r\n"}) {
        SCOPED_TRACE(keys);
        ::DeleteFileA((work + "\\kvexit.log").c_str());
        Script("[ProductInstall.Run.Cmds]\r\nRunCount=2\r\nRun1.Command=kvexit.exe -500\r\n"
               "Run2.Command=kvexit.exe 2\r\nRun1.CommandType=KVHF_RunAtBackground\r\n"
               "Run2.CommandType=KVHF_RunAtBackground\r\nRun1.Path=" + work + "\r\nRun2.Path=" + work + "\r\n" +
               keys);
        EXPECT_EQ(keys[0] ? -400 : -300, section->Run(kSec, list));
        EXPECT_EQ(-2600, section->GetExitCode());
        EXPECT_EQ(std::vector<std::string>{"-500 desk=Default"}, Ran());
    }
}

// A command's undo is in the journal before the command runs: a run ended
// while it is at work still runs its rollback command.
TEST_F(RunSectionTest, ACommandsUndoIsJournaledBeforeItRuns)
{
    Script("[ProductInstall.Run.Cmds]\r\nRunCount=1\r\n"
           "Run1.Command=echo made> made.txt\r\nRun1.RollbackCommand=del made.txt\r\nRun1.Path=" + work + "\r\n");
    kvtest::CJournalWitness witness;
    witness.unchanged = [&]() { return !kvtest::Exists(work + "\\made.txt"); };
    list.SetJournal(&witness);
    EXPECT_EQ(0, section->Run(kSec, list));
    list.SetJournal(nullptr);
    EXPECT_FALSE(witness.unchanged());
    EXPECT_TRUE(witness.journaledBeforeChange);
}
