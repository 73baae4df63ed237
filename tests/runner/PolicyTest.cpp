// Korvex.exe on packages whose Run steps try to smuggle in a rejected
// command (each would create a registry key), and on one whose command never
// ends: refused or ended, the run fails, nothing of the command runs.
#include "RunnerFixture.h"
#include "interpreter/Interpreter.h"

using kvrun::RunnerTest;
using kvtest::Signed;

namespace {

const char kInjectedKey[] = "Software\\KvRunnerInjected";

bool Injected()
{
    return kvtest::RegKeyExists(HKEY_CURRENT_USER, kInjectedKey, KEY_WOW64_64KEY) ||
           kvtest::RegKeyExists(HKEY_CURRENT_USER, kInjectedKey, KEY_WOW64_32KEY);
}

kvtest::ProcessResult CheckPkg(const std::string& folder)
{
    return kvtest::RunProcess("\"" + kvtest::BinDir() + "\\checkpkg.exe\" \"" + folder + "\"");
}

std::string RunStep(const std::string& symbols, const std::string& items)
{
    return symbols + "[ProductInstall.Main]\r\nStepCount=1\r\nStep1.Section=ProductInstall.Run.R\r\n"
                     "[ProductInstall.Run.R]\r\nRunCount=1\r\n" + items;
}

}  // namespace

TEST_F(RunnerTest, CommandsThatSmuggleInARejectedCommandRunNothing)
{
    const std::string add = "reg add HKCU\\Software\\KvRunnerInjected /f";
    // From the package folder, enough ".." to reach the root of the drive.
    const std::string up = "..\\..\\..\\..\\..\\..\\..\\..\\..\\..\\";
    kvtest::WriteFileBytes(pkg / "data.ini", "[Main]\r\nValue=hi & " + add + "\r\n");
    struct {
        const char* name;
        std::string symbols;
        std::string command;
        const char* why;
    } cases[] = {
        {"a second command in the script's text", "", "echo hi & " + add, "'reg' is on the list of rejected commands"},
        {"a second command from an INI value",
         "[ProductInstall.Symbols]\r\nX=[INI:" + (pkg / "data.ini") + ",Main,Value]\r\n", "echo %X%",
         "added '&'"},
        {"a program outside the package", "", up + "windows\\system32\\reg.exe add HKCU\\Software\\KvRunnerInjected /f",
         "is on the list of rejected commands"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kvtest::RegDeleteTree(HKEY_CURRENT_USER, kInjectedKey, KEY_WOW64_64KEY);
        Script(PatchInfo() + RunStep(c.symbols, "Run1.Command=" + c.command + "\r\n"));
        kvtest::ProcessResult r = Run("/S /G");
        EXPECT_EQ(-2600, Signed(r.exitCode)) << LogText();
        EXPECT_TRUE(Logged("' refused: ")) << LogText();
        EXPECT_TRUE(Logged(c.why)) << LogText();
        EXPECT_FALSE(Injected());
        // The checker knows before the package ships.
        kvtest::ProcessResult checked = CheckPkg(pkg.Path());
        EXPECT_EQ(1u, checked.exitCode) << checked.output;
        EXPECT_NE(std::string::npos, checked.output.find("[ProductInstall.Run.R] Run1.Command: command-refused: "))
            << checked.output;
    }
    kvtest::RegDeleteTree(HKEY_CURRENT_USER, kInjectedKey, KEY_WOW64_64KEY);
}

TEST_F(RunnerTest, CommandThatNeverEndsIsEndedAtItsTimeout)
{
    ASSERT_TRUE(::CopyFileA((kvtest::FixtureDir() + "\\kvexit.exe").c_str(), (pkg / "kvexit.exe").c_str(), FALSE));
    Script(PatchInfo() + RunStep("", "Run1.Command=kvexit.exe 0 600000\r\nRun1.CommandType=KVHF_RunAtHideDialog\r\n"
                                     "Run1.Timeout=3\r\n"));
    const DWORD t0 = ::GetTickCount();
    kvtest::ProcessResult r = Run("/S /G");
    EXPECT_LT(::GetTickCount() - t0, 60000u);
    EXPECT_EQ(-2600, Signed(r.exitCode)) << LogText();
    EXPECT_TRUE(Logged("did not end within 3 second(s); it was ended")) << LogText();
    EXPECT_EQ(0u, kvtest::CountProcesses("kvexit.exe"));
    EXPECT_EQ("1", DB("ResultCode"));
    // With its limit the package is clean; without one the checker warns.
    EXPECT_EQ(0u, CheckPkg(pkg.Path()).exitCode);
    Script(PatchInfo() + RunStep("", "Run1.Command=kvexit.exe 0 600000\r\nRun1.CommandType=KVHF_RunAtHideDialog\r\n"));
    kvtest::ProcessResult checked = CheckPkg(pkg.Path());
    EXPECT_EQ(0u, checked.exitCode) << checked.output;
    EXPECT_NE(std::string::npos, checked.output.find("Run1.Command: no-timeout (warning): ")) << checked.output;
}
