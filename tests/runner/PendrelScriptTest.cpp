// Pendrel started from a real script's Run steps, the way patches stop the
// product before they replace its files; CheckRequirement steps read back
// what the Run steps left.
#include "../services/TestServices.h"
#include "RunnerFixture.h"

using kvrun::RunnerTest;
using kvtest::Signed;

namespace {

class PendrelScriptTest : public RunnerTest {
protected:
    void SetUp() override
    {
        RunnerTest::SetUp();
        // The Run steps name no folder: Pendrel is looked for beside Korvex.exe.
        ASSERT_TRUE(::CopyFileA(kvtest::PendrelExe().c_str(), (pkg / "Pendrel.exe").c_str(), FALSE));
    }

    // A procedure of one Run step (its items given) and one CheckRequirement step.
    void Package(const std::string& runItems, const std::string& checks)
    {
        Script(PatchInfo() +
               "[ProductInstall.Main]\r\nStepCount=2\r\n"
               "Step1.Section=ProductInstall.Run.Prepare\r\nStep1.Description=Stop the product\r\n"
               "Step2.Section=ProductInstall.CheckRequirement.Stopped\r\nStep2.Description=Product stopped\r\n"
               "[ProductInstall.Run.Prepare]\r\n" + runItems +
               "[ProductInstall.CheckRequirement.Stopped]\r\n" + checks);
    }
};

}  // namespace

TEST_F(PendrelScriptTest, StopsAServiceAndLeavesItsExitCodeInRetcode)
{
    kvsvc::CTestService svc("kvrs_stop", "stop=slow:2");
    ASSERT_TRUE(svc.Installed()) << svc.CreateError();
    ASSERT_TRUE(svc.Start());
    Package("RunCount=2\r\n"
            "Run1.Description=Stop the mail filter\r\n"
            "Run1.Command=Pendrel.exe /s kvrs_stop /stop\r\nRun1.CommandType=KVHF_RunAtBackground\r\n"
            "Run2.Description=A call Pendrel refuses\r\n"
            "Run2.Command=Pendrel.exe /s kvrs_stop /restart\r\nRun2.CommandType=KVHF_RunAtHideDialog\r\n",
            // Pendrel's -1 is no failure to the Run step, but the script sees it.
            "CheckCount=1\r\nCheck1.String=%RETCODE%\r\nCheck1.String.List=-1\r\n");
    kvtest::ProcessResult r = Run("/S /G");
    EXPECT_EQ(0, Signed(r.exitCode)) << LogText();
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), svc.State());
    std::string log = LogText();
    size_t first = log.find("Set Global Symbol 'RETCODE' = 0");
    size_t second = log.find("Set Global Symbol 'RETCODE' = -1");
    EXPECT_NE(std::string::npos, first) << log;
    EXPECT_NE(std::string::npos, second) << log;
    EXPECT_LT(first, second);
    EXPECT_TRUE(Logged("Run 'Pendrel.exe /s kvrs_stop /stop' in folder '" + pkg.Path() + "\\'"));
    EXPECT_FALSE(Logged("CheckString("));
    EXPECT_EQ("0", DB("ResultCode"));
}

TEST_F(PendrelScriptTest, WaitWithKillEndsTheProductsProcesses)
{
    kvsvc::CWaiters w(pkg, "kvrs_prod.exe");
    ASSERT_TRUE(w.Start(300));
    ASSERT_TRUE(w.Start(60000));
    ASSERT_TRUE(w.Start(60000));
    // The product's program of the other bitness, across the WOW64 boundary.
#ifdef _WIN64
    const char otherBits[] = "\\kvwaiter32.exe";
#else
    const char otherBits[] = "\\kvwaiter64.exe";
#endif
    kvtest::TempDir otherDir("rs-other");
    kvsvc::CWaiters other(otherDir, "kvrs_prod.exe", kvtest::FixtureDir() + otherBits);
    ASSERT_TRUE(other.Start(60000));
    Package("RunCount=1\r\nRun1.Description=Wait for the product\r\n"
            "Run1.Command=Pendrel.exe /wait kvrs_prod.exe 2000 /kill\r\nRun1.CommandType=KVHF_RunAtHideDialog\r\n",
            "CheckCount=1\r\nCheck1.ProcessStopped=kvrs_prod.exe\r\n");
    kvtest::ProcessResult r = Run("/S /G");
    EXPECT_EQ(0, Signed(r.exitCode)) << LogText();
    for (size_t i = 0; i < w.Count(); ++i)
        ASSERT_TRUE(w.WaitEnded(i, 5000)) << i;
    // The one that ended in time ended by itself; the others were terminated
    // with exit code 0.
    EXPECT_EQ(7u, w.ExitCode(0));
    EXPECT_EQ(0u, w.ExitCode(1));
    EXPECT_EQ(0u, w.ExitCode(2));
    ASSERT_TRUE(other.WaitEnded(0, 5000));
    EXPECT_EQ(0u, other.ExitCode(0));
    EXPECT_TRUE(Logged("Set Global Symbol 'RETCODE' = 0"));
    EXPECT_FALSE(Logged("not stopped"));
}
