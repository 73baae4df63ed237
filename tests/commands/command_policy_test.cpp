// The command policy through the Run section, in-process: command lines
// that smuggle in a rejected command (each would create a registry key if
// it ran), lines whose every command may run (each leaves its traces), and
// commands that do not end within their time limit.
#include "CommandsFixture.h"
#include "Snapshot.h"
#include "sections/RunSection.h"
#include "util/CommandPolicy.h"

namespace {

const char kBg[] = "KVHF_RunAtBackground";
const char kHide[] = "KVHF_RunAtHideDialog";
const char kInjectedKey[] = "Software\\KvPolicyInjected";
const char kAdd[] = "reg add HKCU\\Software\\KvPolicyInjected /f";

bool Injected()
{
    return kvtest::RegKeyExists(HKEY_CURRENT_USER, kInjectedKey, KEY_WOW64_64KEY) ||
           kvtest::RegKeyExists(HKEY_CURRENT_USER, kInjectedKey, KEY_WOW64_32KEY);
}

std::string SystemFolder()
{
    char buffer[MAX_PATH] = {0};
    ::GetSystemDirectoryA(buffer, MAX_PATH);
    return buffer;
}

// From a folder below C:\, enough ".." to reach the root whatever the depth.
const std::string kUp = "..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\";

class CommandPolicyTest : public CommandsTest {
protected:
    void SetUp() override
    {
        CommandsTest::SetUp();
        kvtest::RegDeleteTree(HKEY_CURRENT_USER, kInjectedKey, KEY_WOW64_64KEY);
        ::SetEnvironmentVariableA("KVPOLICY_INJECT", (std::string("x & ") + kAdd).c_str());
        ::SetEnvironmentVariableA("KVPOLICY_PLAIN", "C:\\Program Files (x86)\\Plain");
        section.reset(new CHFS_RunSection(interp.get()));
    }
    void TearDown() override
    {
        ::SetEnvironmentVariableA("KVPOLICY_INJECT", nullptr);
        ::SetEnvironmentVariableA("KVPOLICY_PLAIN", nullptr);
        kvtest::RegDeleteTree(HKEY_CURRENT_USER, kInjectedKey, KEY_WOW64_64KEY);
    }
    std::unique_ptr<CHFS_RunSection> section;
};

}  // namespace

TEST_F(CommandPolicyTest, EveryCommandOfALinePassesOrNothingRuns)
{
    const std::string add = kAdd;
    struct Case {
        const char* type;
        std::string folder;  // empty: the work folder
        std::string script;  // the line as the script wrote it; empty: the line itself
        std::string line;
        const char* refusal;  // a part of the logged reason; null: the line runs
    } cases[] = {
        // The issue's injections and their variants.
        {"", "", "", "echo hi & " + add, "'reg' is on the list of rejected commands"},
        {"", "", "echo %X%", "echo hi & " + add, "added '&'"},
        {"", "", "echo %X%", "echo hi\r\n" + add, "added a line break"},
        {"", "", "", "start /wait " + add, "'reg' is on the list"},
        {"", "", "", "start \"\" /b " + add, "'reg' is on the list"},
        {"", "", "", "if 1==1 " + add, "'reg' is on the list"},
        {"", "", "", "if exist kvexit.exe (echo a) else (" + add + ")", "'reg' is on the list"},
        {"", SystemFolder(), "", "reg.exe add HKCU\\Software\\KvPolicyInjected /f", "'reg.exe' is on the list"},
        {"", SystemFolder(), "", "cmd.exe /c " + add, "'cmd.exe' is on the list"},
        {"", "", "", kUp + "windows\\system32\\reg.exe add HKCU\\Software\\KvPolicyInjected /f", "is on the list"},
        {kBg, "", "", kUp + "windows\\system32\\reg.exe add HKCU\\Software\\KvPolicyInjected /f", "is on the list"},
        {"", "", "", kUp + "windows\\system32\\xcopy.exe /?", "lies outside the working folder"},
        {"", "", "", "echo hi && " + add, "'reg' is on the list"},
        {"", "", "", "echo hi | " + add, "'reg' is on the list"},
        {"", "", "", "echo hi & (echo ho) & (" + add + ")", "'reg' is on the list"},
        {"", "", "", "echo hi & r^eg add HKCU\\Software\\KvPolicyInjected /f", "'reg' is on the list"},
        {"", "", "", "echo hi &@" + add, "'reg' is on the list"},
        {"", "", "", "echo hi & >nul " + add, "'reg' is on the list"},
        {"", "", "", "echo %KVPOLICY_INJECT%", "environment variable KVPOLICY_INJECT"},
        {"", "", "", "echo ^& " + add + " | find \"x\"", "escape character in a line with a pipe"},
        {"", "", "", "echo hi & start", "START without a program"},
        {"", "", "", "echo hi & nosuch.exe", "is not in the working folder"},
        {kHide, "", "", "echo hi & " + add, "'reg' is on the list"},
        {kBg, "", "", "kvexit.exe 0 & " + add, nullptr},  // one program, the rest are its arguments
        // Lines whose every command may run.
        {"", "", "", "echo one> a.txt & echo two> b.txt", nullptr},
        {"", "", "", "if exist a.txt (echo yes> c.txt) else (echo no> c.txt)", nullptr},
        {"", "", "", "echo (%KVPOLICY_PLAIN%)> d.txt", nullptr},
        {"", "", "", "kvexit.exe 0 & start /wait kvexit.exe 0 started", nullptr},
        {"", "", "", "type a.txt 2>&1 >> e.txt", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        cb.logLines.clear();
        const std::string folder = c.folder.empty() ? work : c.folder;
        const std::string* script = c.script.empty() ? nullptr : &c.script;
        const int r = section->ExecuteCommand(c.type, folder, c.line, script);
        if (c.refusal) {
            EXPECT_EQ(-300, r);
            EXPECT_TRUE(Logged("*** Runtime error: command '" + c.line + "' refused: ")) << cb.LogText();
            EXPECT_TRUE(Logged(c.refusal)) << cb.LogText();
        } else {
            EXPECT_NE(-300, r) << cb.LogText();
        }
        EXPECT_FALSE(Injected());
        kvtest::RegDeleteTree(HKEY_CURRENT_USER, kInjectedKey, KEY_WOW64_64KEY);
    }
    EXPECT_EQ("one \r\n", kvtest::ReadFileOr(work + "\\a.txt"));
    EXPECT_EQ("two\r\n", kvtest::ReadFileOr(work + "\\b.txt"));
    EXPECT_EQ("yes\r\n", kvtest::ReadFileOr(work + "\\c.txt"));
    EXPECT_EQ("(C:\\Program Files (x86)\\Plain)\r\n", kvtest::ReadFileOr(work + "\\d.txt"));
    EXPECT_EQ("one \r\n", kvtest::ReadFileOr(work + "\\e.txt"));
    const std::vector<std::string> ran = {"0 & " + add + " desk=Default", "0 desk=Default",
                                          "0 started desk=Default"};
    EXPECT_EQ(ran, Ran());
}

TEST_F(CommandPolicyTest, CommandThatDoesNotEndIsEndedAtItsTimeLimit)
{
    struct Case {
        const char* type;
        const char* line;
        int result;
    } cases[] = {
        {kBg, "kvexit.exe 0 60000", -300},
        {kHide, "kvexit.exe 0 60000", -300},
        {"", "kvexit.exe 0 60000", -300},                   // through the interpreter: its child ends too
        {"", "echo waiting & kvexit.exe 0 60000", -300},
        {kBg, "kvexit.exe 3 100", -100},                    // ends in time: as without a limit
        {"", "kvexit.exe 0 100", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.line);
        cb.logLines.clear();
        const DWORD t0 = ::GetTickCount();
        EXPECT_EQ(c.result, section->ExecuteCommand(c.type, work, c.line, nullptr, 2));
        const DWORD took = ::GetTickCount() - t0;
        EXPECT_LT(took, 20000u);
        if (c.result == -300) {
            EXPECT_GE(took, 1900u);
            EXPECT_TRUE(Logged("did not end within 2 second(s); it was ended")) << cb.LogText();
        }
        EXPECT_EQ(0u, kvtest::CountProcesses("kvexit.exe"));
    }
    EXPECT_EQ("3", interp->GetSymbol("RETCODE"));
}

TEST_F(CommandPolicyTest, TimeoutKeyIsReadStrictlyAndAppliesToRollbackCommands)
{
    Script("[ProductInstall.Run.T]\r\nRunCount=3\r\n"
           "Run1.Command=kvexit.exe 1 60000\r\nRun1.CommandType=KVHF_RunAtBackground\r\nRun1.Timeout= 1 \r\n"
           "Run1.Path=" + work + "\r\nRun1.Error.Action=KVHF_CONTINUE\r\n"
           "Run2.Command=kvexit.exe 2\r\nRun2.Timeout=1e3\r\nRun2.Path=" + work + "\r\n"
           "Run2.Error.Action=KVHF_CONTINUE\r\n"
           "Run3.Command=kvexit.exe 3\r\nRun3.CommandType=KVHF_RunAtBackground\r\nRun3.Timeout=0\r\n"
           "Run3.Path=" + work + "\r\nRun3.RollbackCommand=kvexit.exe 4 60000\r\n"
           "Run3.RollbackCommandType=KVHF_RunAtBackground\r\nRun3.Error.Action=KVHF_CONTINUE\r\n");
    EXPECT_EQ(0, section->Run("ProductInstall.Run.T", list));
    EXPECT_EQ(-2600, section->GetExitCode());
    EXPECT_TRUE(Logged("*** Syntax error: Run2.Timeout='1e3' in section ['ProductInstall.Run.T'] is no number"));
    EXPECT_TRUE(Logged("*** Syntax error: Run3.Timeout='0'"));
    EXPECT_TRUE(Logged("did not end within 1 second(s); it was ended"));
    // Only the first ran. The rollback reads the same limit: item 3's is no
    // number of seconds, so its rollback command does not run either.
    EXPECT_EQ(std::vector<std::string>{"1 60000 desk=Default"}, Ran());
    cb.logLines.clear();
    EXPECT_EQ(-300, section->Rollback("ProductInstall.Run.T", list));
    EXPECT_EQ(std::vector<std::string>{"1 60000 desk=Default"}, Ran());
    EXPECT_EQ(0u, kvtest::CountProcesses("kvexit.exe"));
}

TEST(CommandPolicyPaths, NamesAreResolvedAsTheSystemResolvesThem)
{
    struct {
        const char* name;
        const char* full;  // null: no path the policy can judge
        bool inside;
    } cases[] = {
        {"tool.exe", "C:\\pkg\\tool.exe", true},
        {"sub\\..\\tool.exe", "C:\\pkg\\tool.exe", true},
        {"sub/./tool.exe. .", "C:\\pkg\\sub\\tool.exe", true},
        {"..\\..\\..\\windows\\reg.exe", "C:\\windows\\reg.exe", false},
        {"C:\\PKG\\x.exe", "C:\\PKG\\x.exe", true},
        {"C:\\pkgx\\x.exe", "C:\\pkgx\\x.exe", false},
        {"\\windows\\x.exe", "C:\\windows\\x.exe", false},
        {"\\\\server\\share\\..\\..\\x.exe", "\\\\server\\share\\x.exe", false},
        {"\\\\x\\..\\pkg\\tool.exe", nullptr, false},  // a share named by dots
        {"\\\\?\\C:\\pkg\\tool.exe", nullptr, false},
        {"C:tool.exe", nullptr, false},
        {"sub\\...\\tool.exe", nullptr, false},
        {"", nullptr, false},
    };
    for (const auto& c : cases) {
        std::string full;
        EXPECT_EQ(c.full != nullptr, KvFullPathIn("C:\\pkg\\", c.name, full)) << c.name;
        if (c.full) {
            EXPECT_EQ(c.full, full) << c.name;
            EXPECT_EQ(c.inside, KvPathInside("C:\\pkg", full)) << c.name;
        }
    }
}
