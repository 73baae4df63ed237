// The StartService and StopService sections in-process, against real
// services of the Wine machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "JournalWitness.h"
#include "TestServices.h"
#include "interpreter/Interpreter.h"
#include "interpreter/ItemList.h"
#include "sections/StartServiceSection.h"
#include "sections/StopServiceSection.h"

namespace {

const char kStartSec[] = "ProductInstall.StartService.Svc";
const char kStopSec[] = "ProductInstall.StopService.Svc";

std::string SystemText(DWORD code)
{
    char buf[1024] = {0};
    ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buf, sizeof buf,
                     nullptr);
    return buf;
}

class ServiceSectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CHFS_RunSettings silent;
        silent.m_bSilent = 1;
        interp.reset(new CHFS_Interpreter(&cb, "setup.ini", silent));
        interp->m_strScriptFile = dir / "setup.ini";
        list.SetStep(2);
    }
    void TearDown() override
    {
        interp.reset();
    }

    void Script(const std::string& text) { ASSERT_TRUE(kvtest::WriteFileBytes(dir / "setup.ini", text)); }
    bool Logged(const std::string& s) const { return cb.LogContains(s); }
    size_t LogCount(const std::string& s) const { return kvtest::CountOf(cb.LogText(), s); }
    bool Shown(const std::string& s) const
    {
        for (const std::string& d : cb.details)
            if (d == s)
                return true;
        return false;
    }
    std::vector<int> RecordedItems() const
    {
        std::vector<int> v;
        for (const CHFS_RecordItem& i : list.Items())
            v.push_back(i.nItemIndex);
        return v;
    }

    kvtest::TempDir dir{"svcsec"};
    kvtest::CRecordingCallback cb;
    std::unique_ptr<CHFS_Interpreter> interp;
    CHFS_ItemList list;
};

}  // namespace

TEST_F(ServiceSectionTest, StartOfARunningServiceIsRecordedAndRolledBack)
{
    kvsvc::CTestService svc("kvss_running", "");
    ASSERT_TRUE(svc.Installed()) << svc.CreateError();
    ASSERT_TRUE(svc.Start());
    Script("[ProductInstall.StartService.Svc]\r\n"
           "ServiceCount=1\r\n"
           "Service1.Description=Starting the mail filter\r\n"
           "Service1=kvss_running\r\n"
           "Service1.WaitSeconds=2\r\n");

    CHFS_StartServiceSection sec(interp.get());
    EXPECT_EQ(0, sec.Run(kStartSec, list));
    EXPECT_EQ(-2000, sec.GetExitCode());
    EXPECT_TRUE(Logged("SMStartService('kvss_running') ret=1056")) << cb.LogText();
    EXPECT_TRUE(Logged("Starting the mail filter\r\n"));
    EXPECT_TRUE(Shown("Starting the mail filter\r\n"));
    EXPECT_EQ(std::vector<int>{1}, RecordedItems());
    EXPECT_EQ(2, list.Items()[0].nStep);

    cb.details.clear();
    EXPECT_EQ(0, sec.Rollback(kStartSec, list));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), svc.State());
    EXPECT_TRUE(Logged("CHFS_StartServiceSection::Rollback('ProductInstall.StartService.Svc')"));
    EXPECT_TRUE(Logged("SMStopService('kvss_running') ret=0"));
    EXPECT_EQ(1u, LogCount("SMStopService('kvss_running')"));
    EXPECT_TRUE(Shown("Starting the mail filter\r\n"));
    EXPECT_EQ(0u, list.Size());
}

TEST_F(ServiceSectionTest, OriginalStatusSelectsTheDirection)
{
    kvsvc::CTestService a("kvss_orig_a", "");
    kvsvc::CTestService b("kvss_orig_b", "");
    ASSERT_TRUE(a.Installed() && b.Installed());
    // Item 1 says "2": neither started nor recorded. Item 2 says "1": started.
    // Item 3 has no service key at all: skipped without a trace.
    Script("[ProductInstall.StartService.Svc]\r\n"
           "ServiceCount=3\r\n"
           "Service1.Description=a\r\n"
           "Service1=kvss_orig_a\r\n"
           "Service1.OriginalStatus=2\r\n"
           "Service2.Description=b\r\n"
           "Service2=kvss_orig_b\r\n"
           "Service2.OriginalStatus=1\r\n"
           "Service3.Description=c\r\n"
           "Service3.Error.Action=KVHF_USERBREAK\r\n"
           "Service3.Success.Action=KVHF_USERBREAK\r\n");
    CHFS_StartServiceSection start(interp.get());
    EXPECT_EQ(0, start.Run(kStartSec, list));
    EXPECT_TRUE(Logged("CHFS_StartServiceSection::Run() original status='2'"));
    EXPECT_TRUE(Logged("CHFS_StartServiceSection::Run() original status='1'"));
    EXPECT_FALSE(Logged("SMStartService('kvss_orig_a')"));
    EXPECT_TRUE(Logged("SMStartService('kvss_orig_b') ret=0"));
    EXPECT_FALSE(Logged("EventHandler('Service3.")) << cb.LogText();
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), a.State());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), b.State());
    EXPECT_EQ(std::vector<int>{2}, RecordedItems());

    // Rollback acts on "0" only: item 2's "1" keeps the service running.
    EXPECT_EQ(0, start.Rollback(kStartSec, list));
    EXPECT_TRUE(Logged("CHFS_StartServiceSection::Rollback() original status='1'"));
    EXPECT_FALSE(Logged("SMStopService('kvss_orig_b')"));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), b.State());
    EXPECT_EQ(0u, list.Size());

    // StopService with "0": stopped and recorded, but its rollback wants "1",
    // so the service stays stopped.
    Script("[ProductInstall.StopService.Svc]\r\n"
           "ServiceCount=1\r\n"
           "Service1.Description=b stop\r\n"
           "Service1=kvss_orig_b\r\n"
           "Service1.OriginalStatus=0\r\n");
    CHFS_StopServiceSection stop(interp.get());
    EXPECT_EQ(0, stop.Run(kStopSec, list));
    EXPECT_TRUE(Logged("CHFS_StopServiceSection::Run('ProductInstall.StopService.Svc')"));
    EXPECT_TRUE(Logged("CHFS_StopServiceSection::Run() original status='0'"));
    EXPECT_TRUE(Logged("SMStopService('kvss_orig_b') ret=0"));
    EXPECT_TRUE(Logged("CHFS_StopServiceSection::Run('ProductInstall.StopService.Svc') iRet=0"));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), b.State());
    EXPECT_EQ(std::vector<int>{1}, RecordedItems());
    cb.logLines.clear();
    EXPECT_EQ(0, stop.Rollback(kStopSec, list));
    EXPECT_TRUE(Logged("CHFS_StopServiceSection::Rollback() original status='0'"));
    EXPECT_FALSE(Logged("SMStartService('kvss_orig_b')"));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), b.State());
    EXPECT_EQ(0u, list.Size());
}

TEST_F(ServiceSectionTest, StopRollbackStartsWhatRunStopped)
{
    kvsvc::CTestService svc("kvss_stoproll", "");
    ASSERT_TRUE(svc.Installed());
    ASSERT_TRUE(svc.Start());
    Script("[ProductInstall.StopService.Svc]\r\n"
           "ServiceCount=1\r\n"
           "Service1.Description=stop it\r\n"
           "Service1=kvss_stoproll\r\n"
           "Service1.WaitSeconds=3\r\n");
    CHFS_StopServiceSection stop(interp.get());
    EXPECT_EQ(0, stop.Run(kStopSec, list));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), svc.State());
    EXPECT_EQ(0, stop.Rollback(kStopSec, list));
    EXPECT_TRUE(Logged("CHFS_StopServiceSection::Rollback('ProductInstall.StopService.Svc')"));
    EXPECT_TRUE(Logged("SMStartService('kvss_stoproll') ret=0"));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), svc.State());

    // Already running when the rollback comes: 1056 is success, no second try.
    list.AddItem(1, "", "", "");
    EXPECT_EQ(0, stop.Rollback(kStopSec, list));
    EXPECT_EQ(1u, LogCount("SMStartService('kvss_stoproll') ret=1056"));
}

// A stop's undo is in the journal before the request: a run ended while it
// waits for the service still starts the service again.
TEST_F(ServiceSectionTest, AStopIsJournaledBeforeTheRequest)
{
    kvsvc::CTestService svc("kvss_stopnote", "");
    ASSERT_TRUE(svc.Installed());
    ASSERT_TRUE(svc.Start());
    Script("[ProductInstall.StopService.Svc]\r\nServiceCount=1\r\nService1=kvss_stopnote\r\n"
           "Service1.WaitSeconds=3\r\n");
    kvtest::CJournalWitness witness;
    witness.unchanged = [&]() { return svc.State() == SERVICE_RUNNING; };
    list.SetJournal(&witness);
    CHFS_StopServiceSection stop(interp.get());
    EXPECT_EQ(0, stop.Run(kStopSec, list));
    list.SetJournal(nullptr);
    EXPECT_FALSE(witness.unchanged());
    EXPECT_TRUE(witness.journaledBeforeChange);
}

TEST_F(ServiceSectionTest, ZeroWaitOnASlowStarterFailsWithTimeout)
{
    kvsvc::CTestService svc("kvss_slow", "start=3");
    ASSERT_TRUE(svc.Installed());
    Script("[ProductInstall.StartService.Svc]\r\n"
           "ServiceCount=1\r\n"
           "Service1.Description=slow one\r\n"
           "Service1=kvss_slow\r\n"
           "Service1.WaitSeconds=0\r\n");
    CHFS_StartServiceSection sec(interp.get());
    EXPECT_EQ(-1, sec.Run(kStartSec, list));
    EXPECT_EQ(-2702, sec.GetExitCode());
    EXPECT_TRUE(Logged("SMStartService('kvss_slow') ret=1053"));
    std::string text = " - " + SystemText(ERROR_SERVICE_REQUEST_TIMEOUT) + "\r\n";
    EXPECT_TRUE(Shown(text));
    // The start section logs the failure text as well.
    EXPECT_TRUE(Logged(text));
    EXPECT_TRUE(Logged("EventHandler('Service1.Error.',OldRet=-1)"));
    EXPECT_EQ(0u, list.Size());
}

TEST_F(ServiceSectionTest, ServiceSpecificErrorMapsToItsCode)
{
    kvsvc::CTestService svc("kvss_exit42", "exit=42");
    ASSERT_TRUE(svc.Installed());
    Script("[ProductInstall.StartService.Svc]\r\n"
           "ServiceCount=1\r\n"
           "Service1.Description=fails\r\n"
           "Service1=kvss_exit42\r\n"
           "Service1.WaitSeconds=20\r\n");
    CHFS_StartServiceSection sec(interp.get());
    DWORD t0 = ::GetTickCount();
    EXPECT_EQ(-1, sec.Run(kStartSec, list));
    EXPECT_LT(::GetTickCount() - t0, 10000u);
    EXPECT_EQ(-2710, sec.GetExitCode());
    EXPECT_TRUE(Logged("SMStartService('kvss_exit42') ret=1066"));
}

TEST_F(ServiceSectionTest, CrashWhileStartingIsAFailedStart)
{
    kvsvc::CTestService svc("kvss_crash", "win32exit=1067");
    ASSERT_TRUE(svc.Installed());
    Script("[ProductInstall.StartService.Svc]\r\n"
           "ServiceCount=1\r\n"
           "Service1.Description=crashes\r\n"
           "Service1=kvss_crash\r\n");
    CHFS_StartServiceSection sec(interp.get());
    EXPECT_EQ(-1, sec.Run(kStartSec, list));
    // Not in the table: the start did not reach RUNNING; the log keeps the
    // service's own code.
    EXPECT_EQ(-2702, sec.GetExitCode());
    EXPECT_TRUE(Logged("SMStartService('kvss_crash') ret=1067"));
    EXPECT_EQ(0u, list.Size());
}

TEST_F(ServiceSectionTest, MissingServiceOnStop)
{
    Script("[ProductInstall.StopService.Svc]\r\n"
           "ServiceCount=1\r\n"
           "Service1.Description=ghost\r\n"
           "Service1=kvss_no_such_service\r\n");
    CHFS_StopServiceSection sec(interp.get());
    EXPECT_EQ(-1, sec.Run(kStopSec, list));
    EXPECT_EQ(-2800, sec.GetExitCode());
    EXPECT_TRUE(Logged("SMStopService('kvss_no_such_service') ret=1060"));
    std::string text = " - " + SystemText(ERROR_SERVICE_DOES_NOT_EXIST) + "\r\n";
    ASSERT_NE(text, " - \r\n");
    EXPECT_TRUE(Shown(text));
    // The stop section shows the text but does not log it.
    EXPECT_FALSE(Logged(text));
    EXPECT_TRUE(Logged("CHFS_StopServiceSection::Run('ProductInstall.StopService.Svc') iRet=-1"));
    EXPECT_EQ(0u, list.Size());
}

TEST_F(ServiceSectionTest, UnmappedErrorKeepsTheEarlierExitCode)
{
    kvsvc::CTestService svc("kvss_refuse", "stop=refuse");
    ASSERT_TRUE(svc.Installed());
    ASSERT_TRUE(svc.Start());
    Script("[ProductInstall.StopService.Svc]\r\n"
           "ServiceCount=2\r\n"
           "Service1.Description=ghost\r\n"
           "Service1=kvss_no_such_service\r\n"
           "Service1.Error.Action=KVHF_CONTINUE\r\n"
           "Service2.Description=stubborn\r\n"
           "Service2=kvss_refuse\r\n"
           "Service2.WaitSeconds=1\r\n");
    CHFS_StopServiceSection sec(interp.get());
    EXPECT_EQ(-1, sec.Run(kStopSec, list));
    // The refusal is not in the stop table: the code of item 1 stays.
    EXPECT_EQ(-2800, sec.GetExitCode());
    EXPECT_FALSE(Logged("SMStopService('kvss_refuse') ret=0"));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), svc.State());
}

TEST_F(ServiceSectionTest, UnmappedErrorAloneIsAFailedStop)
{
    kvsvc::CTestService svc("kvss_refuse1", "stop=refuse");
    ASSERT_TRUE(svc.Installed());
    ASSERT_TRUE(svc.Start());
    Script("[ProductInstall.StopService.Svc]\r\n"
           "ServiceCount=1\r\n"
           "Service1.Description=stubborn\r\n"
           "Service1=kvss_refuse1\r\n"
           "Service1.WaitSeconds=1\r\n");
    CHFS_StopServiceSection sec(interp.get());
    EXPECT_EQ(-1, sec.Run(kStopSec, list));
    // Not -2000, the code that says nothing failed.
    EXPECT_EQ(-2802, sec.GetExitCode());
}

TEST_F(ServiceSectionTest, UninstallAnswerLetsLaterItemsRun)
{
    kvsvc::CTestService svc("kvss_later", "");
    ASSERT_TRUE(svc.Installed());
    const std::string head = "[ProductInstall.StopService.Svc]\r\n"
                             "ServiceCount=3\r\n"
                             "Service1.Description=ghost\r\n"
                             "Service1=kvss_no_such_service\r\n"
                             "Service1.Error.Action=KVHF_UNINSTALL\r\n"
                             "Service2.Description=two\r\n"
                             "Service3.Description=three\r\n";
    {
        // Items 2 and 3 are not acted on: the answer of item 1 stays.
        Script(head + "Service3=kvss_later\r\nService3.OriginalStatus=1\r\n");
        CHFS_StopServiceSection sec(interp.get());
        EXPECT_EQ(KVHF_UNINSTALL, sec.Run(kStopSec, list));
        EXPECT_EQ(-2800, sec.GetExitCode());
        EXPECT_TRUE(Logged("CHFS_StopServiceSection::Run() original status='1'"));
        EXPECT_EQ(0u, list.Size());
    }
    {
        // Item 3 is acted on and succeeds: its result replaces the answer.
        cb.logLines.clear();
        Script(head + "Service3=kvss_later\r\n");
        CHFS_StopServiceSection sec(interp.get());
        EXPECT_EQ(0, sec.Run(kStopSec, list));
        EXPECT_TRUE(Logged("SMStopService('kvss_later') ret=0"));
        EXPECT_TRUE(Logged("three\r\n"));
        EXPECT_EQ(std::vector<int>{3}, RecordedItems());
    }
}

TEST_F(ServiceSectionTest, RetryRepeatsTheItemAndJumpEndsTheSection)
{
    interp->Settings().m_bSilent = 0;
    cb.answers = {IDRETRY, IDCANCEL};
    Script("[ProductInstall.StopService.Svc]\r\n"
           "ServiceCount=3\r\n"
           "Service1.Description=ghost\r\n"
           "Service1=kvss_no_such_service\r\n"
           "Service1.Error.AskRetryCancel=Try again?\r\n"
           "Service1.Error.Retry=KVHF_RETRY\r\n"
           "Service1.Error.Cancel=KVHF_CONTINUE\r\n"
           "Service2.Description=ghost2\r\n"
           "Service2=kvss_no_such_service2\r\n"
           "Service2.Error.Action=KVHF_GOTOSTEP(7)\r\n"
           "Service3.Description=never\r\n"
           "Service3=kvss_no_such_service3\r\n");
    CHFS_StopServiceSection sec(interp.get());
    EXPECT_EQ(7, sec.Run(kStopSec, list));
    EXPECT_EQ(2u, LogCount("SMStopService('kvss_no_such_service') ret=1060"));
    EXPECT_EQ(2u, cb.messages.size());
    EXPECT_TRUE(Logged("SMStopService('kvss_no_such_service2') ret=1060"));
    EXPECT_FALSE(Logged("kvss_no_such_service3"));
    EXPECT_TRUE(Logged("CHFS_StopServiceSection::Run('ProductInstall.StopService.Svc') iRet=7"));
}

TEST_F(ServiceSectionTest, NoCountRunsNothingAndScriptTextIsNeverAFormat)
{
    Script("[ProductInstall.StartService.Svc]\r\n"
           "Service1.Description=never\r\n"
           "Service1=kvss_no_such_service\r\n");
    CHFS_StartServiceSection start(interp.get());
    EXPECT_EQ(0, start.Run(kStartSec, list));
    EXPECT_EQ(-2000, start.GetExitCode());
    EXPECT_FALSE(Logged("SMStartService("));

    Script("[ProductInstall.StartService.Svc]\r\n"
           "ServiceCount=1\r\n"
           "Service1.Description=100% %s%n%x done\r\n"
           "Service1=kvss_%s%n\r\n");
    EXPECT_EQ(-1, start.Run(kStartSec, list));
    EXPECT_TRUE(Logged("100% %s%n%x done\r\n")) << cb.LogText();
    EXPECT_TRUE(Logged("SMStartService('kvss_%s%n') ret=1060"));
    EXPECT_TRUE(Shown("100% %s%n%x done\r\n"));
}

TEST_F(ServiceSectionTest, FullRecordEndsRunWithUserBreak)
{
    kvsvc::CTestService svc("kvss_full", "");
    ASSERT_TRUE(svc.Installed());
    ASSERT_TRUE(svc.Start());
    for (int i = 0; i < CHFS_ItemList::MAX_ITEMS; ++i)
        ASSERT_EQ(0, list.AddItem(i, "", "", ""));
    Script("[ProductInstall.StartService.Svc]\r\n"
           "ServiceCount=2\r\n"
           "Service1=kvss_full\r\n"
           "Service1.Success.Action=KVHF_CONTINUE\r\n"
           "Service2=kvss_full\r\n"
           "[ProductInstall.StopService.Svc]\r\n"
           "ServiceCount=1\r\n"
           "Service1=kvss_no_longer\r\n");
    CHFS_StartServiceSection start(interp.get());
    EXPECT_EQ(KVHF_USERBREAK, start.Run(kStartSec, list));
    EXPECT_EQ(-2799, start.GetExitCode());
    EXPECT_EQ(1u, LogCount("SMStartService('kvss_full') ret=1056"));
    EXPECT_FALSE(Logged("EventHandler('Service1.Success."));

    // Stopping a service that is not running succeeds and so records too.
    ASSERT_TRUE(svc.Stop());
    Script("[ProductInstall.StopService.Svc]\r\n"
           "ServiceCount=1\r\n"
           "Service1=kvss_full\r\n");
    CHFS_StopServiceSection stop(interp.get());
    EXPECT_EQ(KVHF_USERBREAK, stop.Run(kStopSec, list));
    EXPECT_EQ(-2899, stop.GetExitCode());
}

TEST_F(ServiceSectionTest, StopRollbackForgivesTheMonitorOnly)
{
    // Neither service exists, so every start attempt fails at once.
    Script("[ProductInstall.StopService.Svc]\r\n"
           "ServiceCount=3\r\n"
           "Service1=Ombra_Monitor\r\n"
           "Service1.Description=monitor\r\n"
           "Service2=kvss_no_such_service\r\n"
           "Service2.Description=ghost\r\n"
           "Service3=ombra_monitor\r\n"
           "Service3.Description=monitor, other spelling\r\n");
    CHFS_StopServiceSection sec(interp.get());

    list.AddItem(1, "", "", "");
    EXPECT_EQ(0, sec.Rollback(kStopSec, list));
    EXPECT_EQ(2u, LogCount("SMStartService('Ombra_Monitor') ret=1060"));
    std::string text = " -> " + SystemText(ERROR_SERVICE_DOES_NOT_EXIST) + "\r\n";
    EXPECT_EQ(2u, static_cast<size_t>(std::count(cb.details.begin(), cb.details.end(), text)));

    // Newest first: the monitor after a failed service leaves the failure.
    list.AddItem(2, "", "", "");
    list.AddItem(1, "", "", "");
    EXPECT_EQ(-1, sec.Rollback(kStopSec, list));
    // The failed service handled last decides.
    list.AddItem(1, "", "", "");
    list.AddItem(2, "", "", "");
    EXPECT_EQ(-1, sec.Rollback(kStopSec, list));
    // The exception is for that exact name only.
    list.AddItem(3, "", "", "");
    EXPECT_EQ(-1, sec.Rollback(kStopSec, list));
    EXPECT_EQ(0u, list.Size());
}

TEST_F(ServiceSectionTest, RollbackTakesOnlyItemsOfTheCurrentStep)
{
    Script("[ProductInstall.StopService.Svc]\r\n"
           "ServiceCount=1\r\n"
           "Service1=Ombra_Monitor\r\n");
    list.SetStep(1);
    list.AddItem(1, "", "", "");
    list.SetStep(2);
    list.AddItem(1, "", "", "");
    CHFS_StopServiceSection sec(interp.get());
    EXPECT_EQ(0, sec.Rollback(kStopSec, list));
    ASSERT_EQ(1u, list.Size());
    EXPECT_EQ(1, list.Items()[0].nStep);
}
