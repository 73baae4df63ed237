// Whole runs of Korvex.exe with StopService and StartService steps against
// real services: the waits follow the services, the limits still hold, and a
// failed start rolls the stops back.
#include <gtest/gtest.h>

#include <memory>

#include "TestServices.h"

namespace {

DWORD ProcessOf(const std::string& service)
{
    DWORD pid = 0;
    SC_HANDLE scm = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE svc = scm ? ::OpenServiceA(scm, service.c_str(), SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS_PROCESS sp = {};
    DWORD needed = 0;
    if (svc && ::QueryServiceStatusEx(svc, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&sp), sizeof sp, &needed))
        pid = sp.dwProcessId;
    if (svc)
        ::CloseServiceHandle(svc);
    if (scm)
        ::CloseServiceHandle(scm);
    return pid;
}

// Three running services of the product and a package whose steps name them.
class ServicePackage : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"kvse_a", "kvse_b", "kvse_c"}) {
            m_services.emplace_back(new kvsvc::CTestService(name, ""));
            ASSERT_TRUE(m_services.back()->Installed()) << m_services.back()->CreateError();
            ASSERT_TRUE(m_services.back()->Start());
            m_pids.push_back(ProcessOf(name));
        }
        ASSERT_TRUE(::CopyFileA(kvtest::KorvexExe().c_str(), (m_dir / "Korvex.exe").c_str(), FALSE));
    }

    // A section of the given type over the services, each with its wait limit.
    static std::string Section(const std::string& type, const std::vector<std::string>& services, int waitSeconds)
    {
        std::string s = "[ProductInstall." + type + ".Svc]\r\nServiceCount=" + std::to_string(services.size()) + "\r\n";
        for (size_t i = 0; i < services.size(); ++i) {
            std::string n = "Service" + std::to_string(i + 1);
            s += n + ".Description=" + type + " " + services[i] + "\r\n" + n + "=" + services[i] + "\r\n" + n +
                 ".WaitSeconds=" + std::to_string(waitSeconds) + "\r\n";
        }
        return s + "\r\n";
    }

    // Runs the package (stop the services, then start what `started` names);
    // the milliseconds it took.
    DWORD Run(const std::vector<std::string>& started, int startWait)
    {
        std::string script = "[ProductInstall.Main]\r\nStepCount=2\r\n"
                             "Step1.Section=ProductInstall.StopService.Svc\r\nStep1.Description=Stopping\r\n"
                             "Step2.Section=ProductInstall.StartService.Svc\r\nStep2.Description=Starting\r\n\r\n";
        script += Section("StopService", {"kvse_a", "kvse_b", "kvse_c"}, 10);
        script += Section("StartService", started, startWait);
        EXPECT_TRUE(kvtest::WriteFileBytes(m_dir / "setup.ini", script));
        DWORD t0 = ::GetTickCount();
        m_result = kvtest::RunProcess("\"" + (m_dir / "Korvex.exe") + "\" /S /G", m_dir.Path());
        return ::GetTickCount() - t0;
    }

    // Every service runs again, in a process it did not have before the run.
    void ExpectRestarted()
    {
        for (size_t i = 0; i < m_services.size(); ++i) {
            SCOPED_TRACE(m_services[i]->Name());
            EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), m_services[i]->State());
            EXPECT_NE(m_pids[i], ProcessOf(m_services[i]->Name()));
        }
    }

    kvtest::TempDir m_dir{"svce2e"};
    kvtest::CLogTail m_log;
    std::vector<std::unique_ptr<kvsvc::CTestService>> m_services;
    std::vector<DWORD> m_pids;
    kvtest::ProcessResult m_result;
};

}  // namespace

TEST_F(ServicePackage, StopsAndStartsAsFastAsTheServices)
{
    // Six waits that took a second each took six seconds and more.
    DWORD took = Run({"kvse_a", "kvse_b", "kvse_c"}, 10);
    ASSERT_TRUE(m_result.started);
    EXPECT_EQ(0, kvtest::Signed(m_result.exitCode)) << m_log.Text();
    std::string log = m_log.Text();
    for (const char* name : {"kvse_a", "kvse_b", "kvse_c"}) {
        EXPECT_NE(std::string::npos, log.find(std::string("SMStopService('") + name + "') ret=0")) << log;
        EXPECT_NE(std::string::npos, log.find(std::string("SMStartService('") + name + "') ret=0")) << log;
    }
    ExpectRestarted();
    EXPECT_LT(took, 4000u);
}

TEST_F(ServicePackage, AStartThatNeverArrivesFailsAtItsLimitAndTheStopsAreUndone)
{
    kvsvc::CTestService never("kvse_never", "start=600");
    ASSERT_TRUE(never.Installed()) << never.CreateError();
    DWORD took = Run({"kvse_never"}, 1);
    ASSERT_TRUE(m_result.started);
    EXPECT_EQ(-2702, kvtest::Signed(m_result.exitCode));
    std::string log = m_log.Text();
    EXPECT_NE(std::string::npos, log.find("SMStartService('kvse_never') ret=1053")) << log;
    EXPECT_NE(std::string::npos, log.find("CHFS_StopServiceSection::Rollback('ProductInstall.StopService.Svc')"));
    for (const char* name : {"kvse_a", "kvse_b", "kvse_c"})
        EXPECT_EQ(1u, kvtest::CountOf(log, std::string("SMStartService('") + name + "') ret=0")) << name;
    ExpectRestarted();
    // The start had its whole limit, one second and one more; the three stops
    // and the three restarts of the rollback took little beside it (at a
    // second each they took six more).
    EXPECT_GE(took, 2000u);
    EXPECT_LT(took, 5500u);
}
