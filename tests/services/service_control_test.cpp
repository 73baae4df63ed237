// The service-control library against real services of the Wine machine.
#include <gtest/gtest.h>

#include <cstring>

#include "TestServices.h"
#include "util/ServiceControl.h"

namespace {

std::string Text(const char* buf) { return std::string(buf); }

}  // namespace

TEST(ServiceControl, StartStopAndTheirIdempotentForms)
{
    kvsvc::CTestService svc("kvsc_basic", "");
    ASSERT_TRUE(svc.Installed()) << svc.CreateError();
    char buf[1024] = {0};

    EXPECT_EQ(SMQueryServiceStatus("kvsc_basic"), 2);
    EXPECT_EQ(SMStartService("", "kvsc_basic", buf, sizeof buf, 5), 0u);
    EXPECT_EQ(Text(buf), "");
    EXPECT_EQ(svc.State(), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(SMQueryServiceStatus("kvsc_basic"), 1);

    // Starting a running service is an error the callers forgive; the text
    // of the error still comes back.
    EXPECT_EQ(SMStartService(nullptr, "kvsc_basic", buf, sizeof buf, 5),
              static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
    EXPECT_NE(Text(buf), "");

    std::memset(buf, 0, sizeof buf);
    EXPECT_EQ(SMStopService("", "kvsc_basic", buf, sizeof buf, 5), 0u);
    EXPECT_EQ(svc.State(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(Text(buf), "");
    // Not running: the stop succeeds without touching the buffer.
    std::strcpy(buf, "untouched");
    EXPECT_EQ(SMStopService("", "kvsc_basic", buf, sizeof buf, 5), 0u);
    EXPECT_EQ(Text(buf), "untouched");
}

TEST(ServiceControl, MissingServiceGivesTheSystemsText)
{
    char buf[1024] = {0};
    EXPECT_EQ(SMStartService("", "kvsc_no_such_service", buf, sizeof buf, 1),
              static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    char expected[1024] = {0};
    ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     ERROR_SERVICE_DOES_NOT_EXIST, 0, expected, sizeof expected, nullptr);
    ASSERT_NE(Text(expected), "");
    EXPECT_EQ(Text(buf), Text(expected));

    std::memset(buf, 0, sizeof buf);
    EXPECT_EQ(SMStopService("", "kvsc_no_such_service", buf, sizeof buf, 1),
              static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(Text(buf), Text(expected));
    EXPECT_EQ(SMQueryServiceStatus("kvsc_no_such_service"), 0);
    EXPECT_EQ(SMQueryServiceStatus(""), 0);
}

TEST(ServiceControl, ErrorTextIsBoundedAndClearedWhenUnknown)
{
    char buf[16];
    std::memset(buf, 'X', sizeof buf);
    SMGetErrorText(ERROR_SERVICE_DOES_NOT_EXIST, buf, 6);
    EXPECT_EQ(std::strlen(buf), 5u);
    EXPECT_EQ(buf[6], 'X') << "wrote past the size given";

    std::memset(buf, 'X', sizeof buf);
    SMGetErrorText(ERROR_SERVICE_DOES_NOT_EXIST, buf, 1);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(buf[1], 'X');

    // Code 0, size 0 or less, no buffer: nothing happens.
    std::memset(buf, 'X', sizeof buf);
    SMGetErrorText(0, buf, sizeof buf);
    SMGetErrorText(ERROR_SERVICE_DOES_NOT_EXIST, buf, 0);
    SMGetErrorText(ERROR_SERVICE_DOES_NOT_EXIST, buf, -4);
    SMGetErrorText(ERROR_SERVICE_DOES_NOT_EXIST, nullptr, 16);
    EXPECT_EQ(buf[0], 'X');

    // A code without any text leaves the empty text, not old contents.
    std::memset(buf, 'X', sizeof buf);
    SMGetErrorText(0x2FFFFFFF, buf, sizeof buf);
    EXPECT_EQ(buf[0], 0);
}

TEST(ServiceControl, StartWaitsUpToTheLimit)
{
    kvsvc::CTestService svc("kvsc_slowstart", "start=3");
    ASSERT_TRUE(svc.Installed()) << svc.CreateError();
    char buf[1024] = {0};
    DWORD t0 = ::GetTickCount();
    // One query after the first second: still starting.
    EXPECT_EQ(SMStartService("", "kvsc_slowstart", buf, sizeof buf, 0),
              static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT));
    DWORD took = ::GetTickCount() - t0;
    EXPECT_GE(took, 900u);
    EXPECT_LT(took, 2900u);
    EXPECT_NE(Text(buf), "");
    // It comes up later all the same.
    EXPECT_TRUE(kvsvc::WaitForState("kvsc_slowstart", SERVICE_RUNNING, 10000));
    ASSERT_TRUE(svc.Stop());

    std::memset(buf, 0, sizeof buf);
    EXPECT_EQ(SMStartService("", "kvsc_slowstart", buf, sizeof buf, 6), 0u);
    EXPECT_EQ(svc.State(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST(ServiceControl, AFastServiceIsSeenAtOnce)
{
    // The waits used to look at the state one second after the request; a
    // service that gets there at once now costs a fraction of that.
    kvsvc::CTestService svc("kvsc_fast", "");
    ASSERT_TRUE(svc.Installed()) << svc.CreateError();
    char buf[1024] = {0};
    DWORD t0 = ::GetTickCount();
    EXPECT_EQ(0u, SMStartService("", "kvsc_fast", buf, sizeof buf, 150));
    DWORD starting = ::GetTickCount() - t0;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), svc.State());
    t0 = ::GetTickCount();
    EXPECT_EQ(0u, SMStopService("", "kvsc_fast", buf, sizeof buf, 150));
    DWORD stopping = ::GetTickCount() - t0;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), svc.State());
    EXPECT_LT(starting, 900u);
    EXPECT_LT(stopping, 600u);
}

TEST(ServiceControl, AStartThatNeverArrivesFailsAtItsLimit)
{
    kvsvc::CTestService svc("kvsc_never", "start=600");
    ASSERT_TRUE(svc.Installed()) << svc.CreateError();
    char buf[1024] = {0};
    DWORD t0 = ::GetTickCount();
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT), SMStartService("", "kvsc_never", buf, sizeof buf, 2));
    DWORD took = ::GetTickCount() - t0;
    // Two seconds of limit and the first second: not before, and not much after.
    EXPECT_GE(took, 3000u);
    EXPECT_LT(took, 6000u);
    EXPECT_NE(Text(buf), "");
}

TEST(ServiceControl, ServiceThatEndsDuringStartReportsItsOwnError)
{
    kvsvc::CTestService svc("kvsc_failstart", "start=1 exit=42");
    ASSERT_TRUE(svc.Installed()) << svc.CreateError();
    char buf[1024] = {0};
    DWORD t0 = ::GetTickCount();
    EXPECT_EQ(SMStartService("", "kvsc_failstart", buf, sizeof buf, 30),
              static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
    // Not the whole 30 seconds: the service had ended long before.
    EXPECT_LT(::GetTickCount() - t0, 10000u);
    EXPECT_NE(Text(buf), "");
}

TEST(ServiceControl, StopWaitsWhileStopPendingUpToTheLimit)
{
    kvsvc::CTestService slow("kvsc_slowstop", "stop=slow:2");
    ASSERT_TRUE(slow.Installed()) << slow.CreateError();
    ASSERT_TRUE(slow.Start());
    char buf[1024] = {0};
    EXPECT_EQ(SMStopService("", "kvsc_slowstop", buf, sizeof buf, 10), 0u);
    EXPECT_EQ(slow.State(), static_cast<DWORD>(SERVICE_STOPPED));

    kvsvc::CTestService hang("kvsc_hangstop", "stop=hang");
    ASSERT_TRUE(hang.Installed()) << hang.CreateError();
    ASSERT_TRUE(hang.Start());
    DWORD t0 = ::GetTickCount();
    EXPECT_EQ(SMStopService("", "kvsc_hangstop", buf, sizeof buf, 1),
              static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT));
    DWORD took = ::GetTickCount() - t0;
    EXPECT_GE(took, 1900u);
    EXPECT_LT(took, 4500u);
    EXPECT_NE(Text(buf), "");
}

TEST(ServiceControl, StopRefusedByTheService)
{
    kvsvc::CTestService svc("kvsc_refuse", "stop=refuse");
    ASSERT_TRUE(svc.Installed()) << svc.CreateError();
    ASSERT_TRUE(svc.Start());
    char buf[1024] = {0};
    DWORD ret = SMStopService("", "kvsc_refuse", buf, sizeof buf, 2);
    EXPECT_NE(ret, 0u);
    EXPECT_NE(Text(buf), "");
    EXPECT_EQ(SMQueryServiceStatus("kvsc_refuse"), 1);
}

// Network-management codes come from the system folder's message file only:
// a DLL of that name in the current folder must never be read.
TEST(ServiceControl, NetworkMessagesComeFromTheSystemFolderOnly)
{
    const std::string fixture = kvtest::FixtureDir() + "\\kvnetmsg.dll";
    ASSERT_TRUE(kvtest::Exists(fixture));
    const std::string fromFile = "Network message 2102 from the message file.\r\n";
    char sysdir[MAX_PATH] = {0};
    ::GetSystemDirectoryA(sysdir, MAX_PATH);
    const std::string systemCopy = std::string(sysdir) + "\\netmsg.dll";

    kvtest::TempDir dir("netmsg");
    ASSERT_TRUE(::CopyFileA(fixture.c_str(), (dir / "netmsg.dll").c_str(), FALSE));
    char old[MAX_PATH] = {0};
    ::GetCurrentDirectoryA(MAX_PATH, old);
    ASSERT_TRUE(::SetCurrentDirectoryA(dir.Path().c_str()));
    char buf[256];
    std::memset(buf, 'X', sizeof buf);
    SMGetErrorText(2102, buf, sizeof buf);
    ::SetCurrentDirectoryA(old);
    EXPECT_NE(Text(buf), fromFile);

    if (kvtest::Exists(systemCopy))
        GTEST_SKIP() << "the system folder has a message file of its own";
    ASSERT_TRUE(::CopyFileA(fixture.c_str(), systemCopy.c_str(), TRUE));
    std::memset(buf, 'X', sizeof buf);
    SMGetErrorText(2102, buf, sizeof buf);
    std::string fromSystem = Text(buf);
    // Bounded like every other text.
    char small[8];
    std::memset(small, 'X', sizeof small);
    SMGetErrorText(2102, small, 5);
    // Codes outside the range keep to the system's table.
    char other[1024] = {0};
    SMGetErrorText(ERROR_SERVICE_DOES_NOT_EXIST, other, sizeof other);
    ::DeleteFileA(systemCopy.c_str());
    EXPECT_EQ(fromFile, fromSystem);
    EXPECT_EQ("Netw", Text(small));
    EXPECT_EQ('X', small[5]);
    char expected[1024] = {0};
    ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     ERROR_SERVICE_DOES_NOT_EXIST, 0, expected, sizeof expected, nullptr);
    EXPECT_EQ(Text(expected), Text(other));
}
