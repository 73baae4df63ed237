// The Run section: the command policy, the ways a command is started, the
// item loop with its records, and the rollback commands.
#include <algorithm>

#include "CommandsFixture.h"
#include "sections/RunSection.h"

namespace {

const char kSec[] = "ProductInstall.Run.Cmds";
const char kBg[] = "KVHF_RunAtBackground";
const char kHide[] = "KVHF_RunAtHideDialog";

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    for (size_t p = 0; (p = text.find(from, p)) != std::string::npos; p += to.size())
        text.replace(p, from.size(), to);
    return text;
}

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
        const char* command;  // %W: the work folder
        int result;
        const char* retcode;  // RETCODE afterwards; "unset": not touched
        const char* logged;
    } cases[] = {
        // Allowed commands go to the command interpreter in the item's folder, in any case.
        {"", "dir /b > listing.txt", 0, "unset", "cmd.exe command 'DIR' is found, allow"},
        {"", "DiR /B > LISTING2.TXT", 0, "unset", "cmd.exe internal command success, return code = 0"},
        {"", "type nosuch.txt", -300, "unset", "cmd.exe internal command fail, return code = 1"},
        {kHide, "echo hidden> hidden.txt", -100, "0", "cmd.exe internal command(run hide) return code = -100"},
        {"", "net stop kvnone", -300, "unset", "cmd.exe command 'NET' is found, reject"},
        {"", "Reg add HKLM\\x", -300, "unset", "cmd.exe command 'REG' is found, reject"},
        // Everything else must be a program in the folder.
        {"", "COPY.EXE a b", -300, "unset", "external command '%W\\COPY.EXE' not found"},
        {"", "\"C:\\Program Files\\kvexit.exe\" 0", -300, "unset",
         "external command '%W\\\"C:\\PROGRAM' not found"},
        // A process of its own: every exit code but -500 is success.
        {kBg, "kvexit.exe 3", -100, "3", "Set Global Symbol 'RETCODE' = 3"},
        {"KVHF_RunAtBackgroundAndWaitForReturn", "kvexit.exe 0 bg", -100, "0", "Run 'kvexit.exe 0 bg' in folder '%W'"},
        {kBg, "kvexit.exe -500", -300, "-500", "Doing command '<CREATEBLOCKPROCESS>' exitCode=-500"},
        {kBg, "kvexit.exe 259 300", -100, "259", "Doing command '<CREATEBLOCKPROCESS>' exitCode=259"},
        {kHide, "kvexit.exe 4 0 hide", -100, "4", "external command return code = -100"},
        // Through system: any nonzero code fails, and RETCODE stays.
        {"", "kvexit.exe 3", -300, "unset", "external command return code = -300"},
        {"", "kvexit.exe 0", 0, "unset", "Call system() return code = 0"},
        {"Unknown_Type", "kvexit.exe 0", 0, "unset", "Call system() return code = 0"},
        // Batch files: only -500 fails; ".BAT" is no batch file.
        {"", "one.bat", -100, "unset", "Call system() return code = 1"},
        {"", "m500.bat", -300, "unset", "external command return code = -300"},
        {"", "UP.BAT", -300, "unset", "external command return code = -300"},
        // Internal commands.
        {"", "<SLEEP>", -100, "unset", "Run Korvex internal command <SLEEP>"},
        {"", "<SLEEP>x", -100, "unset", "Doing command '<SLEEP> 0' ..."},
        {"", "<SLEEP> -3", -100, "unset", "Found internal command <SLEEP> -3"},
        {"", "<NOTHING> 9", -100, "unset", "return code = -100"},
    };
    const std::string before = CurrentDir();
    for (const Case& c : cases) {
        std::string command = Replace(c.command, "%W", work);
        SCOPED_TRACE(command);
        interp->SetGlobalSymbol("RETCODE", "unset");
        cb.logLines.clear();
        cb.details.clear();
        DWORD t0 = ::GetTickCount();
        EXPECT_EQ(c.result, section->ExecuteCommand(c.type, work, command));
        EXPECT_LT(::GetTickCount() - t0, 20000u);
        EXPECT_EQ(c.retcode, interp->GetSymbol("RETCODE"));
        EXPECT_TRUE(Logged(Replace(c.logged, "%W", work))) << cb.LogText();
        ::SetCurrentDirectoryA(before.c_str());
    }

    // The commands ran in the work folder, on the desktop their type asks for.
    EXPECT_NE(std::string::npos, kvtest::ReadFileOr(work + "\\listing.txt").find("kvexit.exe"));
    EXPECT_TRUE(kvtest::Exists(work + "\\LISTING2.TXT"));
    EXPECT_TRUE(kvtest::Exists(work + "\\hidden.txt"));
    std::vector<std::string> ran = Ran();
    std::vector<std::string> expected = {"3 desk=Default",     "0 bg desk=Default", "-500 desk=Default",
                                         "259 300 desk=Default", "4 0 hide desk=MyDesk", "3 desk=Default",
                                         "0 desk=Default",      "0 desk=Default"};
    EXPECT_EQ(expected, ran);
    // Neither the rejected command nor the missing programs ran.
    EXPECT_FALSE(kvtest::Exists(work + "\\a"));
}

TEST_F(RunSectionTest, ExitCodeFailuresAreShownOthersOnlyLogged)
{
    EXPECT_EQ(-300, section->ExecuteCommand(kBg, work, "kvexit.exe -500"));
    EXPECT_EQ(-300, section->ExecuteCommand("", work, "kvexit.exe 3"));
    EXPECT_EQ(-300, section->ExecuteCommand("", work, "m500.bat"));
    EXPECT_EQ(-300, section->ExecuteCommand("", work, "net start"));
    EXPECT_EQ(-300, section->ExecuteCommand("", work, "nosuch.exe"));
    std::vector<std::string> expected = {"Error: -> Run command: kvexit.exe -500 (error code:-500 )!\r\n",
                                         "Error: -> Run command: kvexit.exe 3 (error code:3 )!\r\n",
                                         "Error: -> Run command: m500.bat (error code:-500 )!\r\n"};
    EXPECT_EQ(expected, cb.details);
}

TEST_F(RunSectionTest, SleepWaitsTheGivenSeconds)
{
    DWORD t0 = ::GetTickCount();
    EXPECT_EQ(-100, section->ExecuteCommand("", work, "<SLEEP> 1"));
    DWORD took = ::GetTickCount() - t0;
    EXPECT_GE(took, 950u);
    EXPECT_LT(took, 5000u);
    EXPECT_TRUE(Logged("Found internal command <SLEEP> 1"));
    EXPECT_TRUE(Logged("Doing command '<SLEEP> 1' ..."));
    EXPECT_TRUE(Logged("Done!! ret=Success"));

    // Alone, or with a letter after it: at once.
    cb.logLines.clear();
    t0 = ::GetTickCount();
    EXPECT_EQ(-100, section->RunSleepCommand("<SLEEP>"));
    EXPECT_EQ(-100, section->RunSleepCommand("<SLEEP>x"));
    EXPECT_EQ(-100, section->RunSleepCommand("<sleep> 5"));
    EXPECT_LT(::GetTickCount() - t0, 900u);
    EXPECT_EQ(1u, kvtest::CountOf(cb.LogText(), "Found internal command"));
}

TEST_F(RunSectionTest, CommandLineLongerThanTheBufferFailsCleanly)
{
    // The buffer holds 30000 bytes with the terminator.
    const std::string head = "kvexit.exe 0 ";
    std::string fits = head + std::string(29999 - head.size(), 'x');
    EXPECT_EQ(-100, section->ExecuteCommand(kBg, work, fits));
    std::string longer = fits + "y";
    EXPECT_EQ(-300, section->ExecuteCommand(kBg, work, longer));
    EXPECT_TRUE(Logged("CreateProcess Failed, command line of 30000 characters exceeds the limit of 29999"));
    // With "cmd.exe /C " in front an allowed command grows past the limit too.
    EXPECT_EQ(-300, section->ExecuteCommand(kHide, work, "echo " + std::string(29990, 'z')));
    ASSERT_EQ(1u, Ran().size());
    EXPECT_EQ(fits.substr(11) + " desk=Default", Ran()[0]);
}

TEST_F(RunSectionTest, MissingOrEmptyFolder)
{
    // Without Run%d.Path the installer's own folder is looked in.
    Script("[ProductInstall.Run.Cmds]\r\nRunCount=2\r\n"
           "Run1.Command=nosuch_tool.exe /x\r\n"
           "Run1.Error.Action=KVHF_CONTINUE\r\n"
           "Run2.Command=dir\r\nRun2.Path=\r\n"
           "Run2.Error.Action=KVHF_CONTINUE\r\n");
    EXPECT_EQ(0, section->Run(kSec, list));
    EXPECT_TRUE(Logged("external command '" + interp->GetModuleDir() + "NOSUCH_TOOL.EXE' not found"));
    EXPECT_TRUE(Logged("Failed to run 'nosuch_tool.exe /x' in folder '" + interp->GetModuleDir() + "'"));
    // An empty folder is no folder: the command does not run anywhere.
    EXPECT_TRUE(Logged("*** Runtime error: no working folder for 'dir'"));
    EXPECT_FALSE(Logged("cmd.exe command 'DIR' is found"));
    EXPECT_EQ(-2600, section->GetExitCode());
}

TEST_F(RunSectionTest, ItemsAreRecordedAndRolledBackNewestFirst)
{
    Script("[ProductInstall.Run.Cmds]\r\nRunCount=5\r\n"
           "Run1.Description=Only on rollback\r\n"
           "Run1.RollbackCommand=kvexit.exe 11\r\nRun1.RollbackCommandType=KVHF_RunAtBackground\r\n"
           "Run1.Path=" + work + "\r\n"
           "Run2.Description=Start the tool\r\n"
           "Run2.Command=kvexit.exe 21\r\nRun2.CommandType=KVHF_RunAtBackground\r\n"
           "Run2.RollbackCommand=kvexit.exe 22\r\nRun2.RollbackCommandType=KVHF_RunAtHideDialog\r\n"
           "Run2.Path=" + work + "\\\r\n"
           "Run3.Description=Forbidden\r\nRun3.Command=NET STOP kvx\r\nRun3.Path=" + work + "\r\n"
           "Run3.Error.Action=KVHF_CONTINUE\r\n"
           "Run4.Description=Nothing at all\r\n"
           "Run5.Description=Wait\r\nRun5.Command=<SLEEP>\r\n"
           "Run5.RollbackCommand=kvexit.exe 52\r\nRun5.RollbackCommandType=KVHF_RunAtBackground\r\n"
           "Run5.Path=" + work + "\r\n");
    const std::string before = CurrentDir();
    EXPECT_EQ(0, section->Run(kSec, list));
    EXPECT_EQ(before, CurrentDir());
    EXPECT_EQ(-2600, section->GetExitCode());
    // Every item with a command, failed or not, and the rollback-only one.
    EXPECT_EQ((std::vector<int>{1, 2, 3, 5}), Recorded());
    EXPECT_EQ(3, list.Items()[0].nStep);
    EXPECT_EQ(std::vector<std::string>{"21 desk=Default"}, Ran());
    EXPECT_TRUE(Logged("CHFS_RunSection::Run('ProductInstall.Run.Cmds') "));
    EXPECT_TRUE(Logged("strType(KVHF_RunAtBackground)"));
    EXPECT_TRUE(Logged("Success to run 'kvexit.exe 21' in folder '" + work + "\\'"));
    EXPECT_TRUE(Logged("Failed to run 'NET STOP kvx' in folder '" + work + "'"));
    EXPECT_TRUE(Logged("EventHandler('Run3.Error.',OldRet=-300)"));
    EXPECT_FALSE(Logged("EventHandler('Run1."));
    EXPECT_FALSE(Logged("EventHandler('Run4."));
    EXPECT_TRUE(Logged("CHFS_RunSection::Run('ProductInstall.Run.Cmds') Ret=0"));
    EXPECT_TRUE(Shown("Only on rollback\r\n"));
    EXPECT_TRUE(Shown("Nothing at all\r\n"));

    cb.logLines.clear();
    EXPECT_EQ(0, section->Rollback(kSec, list));
    EXPECT_EQ(before, CurrentDir());
    EXPECT_EQ(0u, list.Size());
    std::vector<std::string> expected = {"21 desk=Default", "52 desk=Default", "22 desk=MyDesk", "11 desk=Default"};
    EXPECT_EQ(expected, Ran());
    EXPECT_TRUE(Shown("Forbidden\r\n", 1));
    EXPECT_TRUE(Logged("CHFS_RunSection::Rollback('ProductInstall.Run.Cmds') Ret=0"));
    EXPECT_FALSE(Logged("EventHandler("));
}

TEST_F(RunSectionTest, FailedRollbackCommandStopsTheRollback)
{
    Script("[ProductInstall.Run.Cmds]\r\nRunCount=2\r\n"
           "Run1.RollbackCommand=kvexit.exe 1\r\nRun1.RollbackCommandType=KVHF_RunAtBackground\r\n"
           "Run1.Path=" + work + "\r\n"
           "Run2.RollbackCommand=kvexit.exe -500\r\nRun2.RollbackCommandType=KVHF_RunAtBackground\r\n"
           "Run2.Path=" + work + "\r\n");
    EXPECT_EQ(0, section->Run(kSec, list));
    EXPECT_EQ(-2000, section->GetExitCode());
    EXPECT_EQ(-300, section->Rollback(kSec, list));
    EXPECT_EQ(std::vector<std::string>{"-500 desk=Default"}, Ran());
    EXPECT_EQ(std::vector<int>{1}, Recorded());
    EXPECT_TRUE(Logged("Failed to run 'kvexit.exe -500' in folder '" + work + "'"));
    EXPECT_TRUE(Logged("CHFS_RunSection::Rollback('ProductInstall.Run.Cmds') Ret=-300"));
}

TEST_F(RunSectionTest, ErrorAnswersEndTheSection)
{
    struct Case {
        const char* errorKeys;
        int result;
    } cases[] = {
        // No keys: the failure itself (KVHF_USERBREAK).
        {"", -300},
        {"Run1.Error.Action=KVHF_UNINSTALL\r\n", -400},
        {"Run1.Error.Action=KVHF_GOTOSTEP(7)\r\n", 7},
        {"Run1.Error.Action=KVHF_CONTINUE\r\n", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.errorKeys);
        ::DeleteFileA((work + "\\kvexit.log").c_str());
        CHFS_ItemList items;
        items.SetStep(1);
        Script(std::string("[ProductInstall.Run.Cmds]\r\nRunCount=2\r\n"
                           "Run1.Command=kvexit.exe -500\r\nRun1.CommandType=KVHF_RunAtBackground\r\n"
                           "Run2.Command=kvexit.exe 2\r\nRun2.CommandType=KVHF_RunAtBackground\r\n"
                           "Run1.Path=") + work + "\r\nRun2.Path=" + work + "\r\n" + c.errorKeys);
        EXPECT_EQ(c.result, section->Run(kSec, items));
        EXPECT_EQ(-2600, section->GetExitCode());
        EXPECT_EQ(c.result == 0 ? 2u : 1u, Ran().size());
        EXPECT_EQ(c.result == 0 ? 2u : 1u, items.Size());
    }
}

TEST_F(RunSectionTest, FullRecordEndsTheSection)
{
    Script("[ProductInstall.Run.Cmds]\r\nRunCount=2\r\n"
           "Run1.Command=<SLEEP>\r\nRun2.Command=<SLEEP>\r\n");
    CHFS_ItemList items;
    items.SetStep(1);
    for (int i = 0; i < CHFS_ItemList::MAX_ITEMS - 1; ++i)
        items.AddItem(0, "", "", "");
    EXPECT_EQ(-300, section->Run(kSec, items));
    EXPECT_EQ(-2699, section->GetExitCode());
    EXPECT_EQ(static_cast<size_t>(CHFS_ItemList::MAX_ITEMS), items.Size());
}
