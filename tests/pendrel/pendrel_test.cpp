// Pendrel as scripts start it: its command line, with real services,
// processes and files of the Wine machine.
#include <gtest/gtest.h>

#include <cstring>

#include "../services/TestServices.h"
#include "Snapshot.h"
#include "TestSupport.h"

namespace {

kvtest::ProcessResult Pendrel(const std::string& args, DWORD timeoutMs = 60000)
{
    return kvtest::RunProcess("\"" + kvtest::PendrelExe() + "\"" + (args.empty() ? "" : " " + args), "", timeoutMs);
}

int Code(const kvtest::ProcessResult& r) { return kvtest::Signed(r.exitCode); }

// Milliseconds a call took.
template <typename F>
DWORD Timed(F f)
{
    DWORD t0 = ::GetTickCount();
    f();
    return ::GetTickCount() - t0;
}

}  // namespace

TEST(PendrelCommandLine, MalformedLinesGiveMinusOneEverythingElseZero)
{
    struct Case {
        const char* args;
        int code;
    } cases[] = {
        {"", 0},
        {"/x", 0},
        {"hello world", 0},
        {"/s", -1},
        {"/s kvpd_none", -1},
        {"/s kvpd_none /restart", -1},
        {"/S kvpd_none /STOP", 0},
        {"/s kvpd_none /Disable extra args", 0},
        {"/wait", -1},
        {"/wait kvpd_none.exe", -1},
        {"/wait kvpd_none.exe 5000 /force", -1},
        {"/WAIT kvpd_none.exe 5000 /KILL", 0},
        {"/wait kvpd_none.exe 5000 x y", 0},
        {"/wait kvpd_none.exe notanumber", 0},
        {"/P anything", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        kvtest::ProcessResult r;
        // A name no process and no service has: nothing to wait for.
        DWORD took = Timed([&] { r = Pendrel(c.args); });
        ASSERT_TRUE(r.started);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(c.code, Code(r));
        EXPECT_EQ("", r.output);
        EXPECT_LT(took, 4000u);
    }
}

TEST(PendrelServices, StopWaitsForTheServiceToStop)
{
    kvsvc::CTestService svc("kvpd_slowstop", "stop=slow:2");
    ASSERT_TRUE(svc.Installed()) << svc.CreateError();
    ASSERT_TRUE(svc.Start());
    kvtest::ProcessResult r;
    DWORD took = Timed([&] { r = Pendrel("/s kvpd_slowstop /stop"); });
    EXPECT_EQ(0, Code(r));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), svc.State());
    EXPECT_GE(took, 1900u);

    // Already stopped: nothing to wait for.
    took = Timed([&] { r = Pendrel("/s kvpd_slowstop /stop"); });
    EXPECT_EQ(0, Code(r));
    EXPECT_LT(took, 1500u);

    // A service that refuses: the failure stays silent.
    kvsvc::CTestService refuse("kvpd_refuse", "stop=refuse");
    ASSERT_TRUE(refuse.Installed());
    ASSERT_TRUE(refuse.Start());
    EXPECT_EQ(0, Code(Pendrel("/s kvpd_refuse /stop")));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), refuse.State());
}

TEST(PendrelServices, AFastStopCostsLittleMoreThanNoStopAtAll)
{
    kvsvc::CTestService svc("kvpd_faststop", "");
    ASSERT_TRUE(svc.Installed()) << svc.CreateError();
    ASSERT_TRUE(svc.Start());
    kvtest::ProcessResult r;
    DWORD stopping = Timed([&] { r = Pendrel("/s kvpd_faststop /stop"); });
    EXPECT_EQ(0, Code(r));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), svc.State());
    // The same run on the stopped service waits for nothing: the difference
    // is the wait for the stop, which used to be a second at the least.
    DWORD nothing = Timed([&] { r = Pendrel("/s kvpd_faststop /stop"); });
    EXPECT_EQ(0, Code(r));
    EXPECT_LT(stopping, nothing + 500);
}

TEST(PendrelServices, EmptyServiceNameIsAPause)
{
    kvtest::ProcessResult r;
    DWORD took = Timed([&] { r = Pendrel("/s \"\" /stop"); });
    EXPECT_EQ(0, Code(r));
    EXPECT_GE(took, 4900u);
    EXPECT_LT(took, 9000u);
}

TEST(PendrelServices, DisableAndEnable)
{
    kvsvc::CTestService svc("kvpd_enable", "", SERVICE_DEMAND_START);
    ASSERT_TRUE(svc.Installed());
    // Enabling a demand-start service changes nothing.
    EXPECT_EQ(0, Code(Pendrel("/s kvpd_enable /enable")));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DEMAND_START), svc.StartType());

    EXPECT_EQ(0, Code(Pendrel("/s kvpd_enable /disable")));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DISABLED), svc.StartType());
    EXPECT_EQ(0, Code(Pendrel("/s kvpd_enable /disable")));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DISABLED), svc.StartType());

    // A disabled service comes back as automatic start.
    EXPECT_EQ(0, Code(Pendrel("/S kvpd_enable /ENABLE")));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), svc.StartType());

    EXPECT_EQ(0, Code(Pendrel("/s kvpd_no_such_service /disable")));
}

TEST(PendrelProcesses, WaitReturnsWhenTheProcessesEnd)
{
    kvtest::TempDir dir("pdwait");
    kvsvc::CWaiters w(dir, "kvpd_early.exe");
    ASSERT_TRUE(w.Start(800));
    ASSERT_TRUE(w.Start(1200));
    kvtest::ProcessResult r;
    DWORD took = Timed([&] { r = Pendrel("/wait kvpd_early.exe 30000"); });
    EXPECT_EQ(0, Code(r));
    EXPECT_LT(took, 15000u);
    EXPECT_TRUE(w.Ended(0));
    EXPECT_TRUE(w.Ended(1));
    EXPECT_EQ(7u, w.ExitCode(0));
}

TEST(PendrelProcesses, TimeOutWithoutKillLeavesThemRunning)
{
    kvtest::TempDir dir("pdnokill");
    kvsvc::CWaiters w(dir, "kvpd_nokill.exe");
    ASSERT_TRUE(w.Start(60000));
    kvtest::ProcessResult r;
    DWORD took = Timed([&] { r = Pendrel("/wait KVPD_NOKILL.EXE 1000"); });
    EXPECT_EQ(0, Code(r));
    EXPECT_GE(took, 900u);
    EXPECT_FALSE(w.Ended(0));
    // Five arguments: never terminates, even with /kill among them.
    EXPECT_EQ(0, Code(Pendrel("/wait kvpd_nokill.exe 500 /kill y")));
    EXPECT_FALSE(w.Ended(0));
}

TEST(PendrelProcesses, KillEndsTheOnesStillRunning)
{
    kvtest::TempDir dir("pdkill");
    kvsvc::CWaiters w(dir, "kvpd_kill3.exe");
    kvsvc::CWaiters other(dir, "kvpd_other.exe");
    ASSERT_TRUE(w.Start(300));
    ASSERT_TRUE(w.Start(60000));
    ASSERT_TRUE(w.Start(60000));
    ASSERT_TRUE(other.Start(60000));
    kvtest::ProcessResult r;
    DWORD took = Timed([&] { r = Pendrel("/wait kvpd_kill3.exe 2500 /kill"); });
    EXPECT_EQ(0, Code(r));
    EXPECT_GE(took, 2400u);
    ASSERT_TRUE(w.WaitEnded(1, 5000));
    ASSERT_TRUE(w.WaitEnded(2, 5000));
    // The one that ended in time ended by itself; the others were
    // terminated with exit code 0; a program of another name is left alone.
    EXPECT_EQ(7u, w.ExitCode(0));
    EXPECT_EQ(0u, w.ExitCode(1));
    EXPECT_EQ(0u, w.ExitCode(2));
    EXPECT_FALSE(other.Ended(0));
}

TEST(PendrelProcesses, TimeBeyondThirtyTwoBitsWaitsInsteadOfKillingAtOnce)
{
    // 4294967296 ms is 2^32: read modulo 2^32 it would be no wait at all.
    kvtest::TempDir dir("pdhuge");
    kvsvc::CWaiters w(dir, "kvpd_huge.exe");
    ASSERT_TRUE(w.Start(1500));
    EXPECT_EQ(0, Code(Pendrel("/wait kvpd_huge.exe 4294967296 /kill")));
    ASSERT_TRUE(w.WaitEnded(0, 5000));
    EXPECT_EQ(7u, w.ExitCode(0));
}

TEST(PendrelProcesses, MoreThanSixtyFourProcesses)
{
    // More handles than one wait takes: the tool waits in groups that share
    // one deadline and then terminates what still runs, in every group.
    kvtest::TempDir dir("pd70");
    kvsvc::CWaiters w(dir, "kvpd_seventy.exe");
    for (int i = 0; i < 70; ++i)
        ASSERT_TRUE(w.Start(i < 66 ? 120000 : 2500)) << i << " error " << w.LastStartError();
    kvtest::ProcessResult r;
    DWORD took = Timed([&] { r = Pendrel("/wait kvpd_seventy.exe 4000 /kill", 90000); });
    EXPECT_EQ(0, Code(r));
    EXPECT_GE(took, 3900u);
    EXPECT_LT(took, 15000u);
    for (size_t i = 0; i < w.Count(); ++i) {
        ASSERT_TRUE(w.WaitEnded(i, 10000)) << i;
        EXPECT_EQ(i < 66 ? 0u : 7u, w.ExitCode(i)) << i;
    }
}

// A waiter of either bitness: a 32-bit tool can't read a 64-bit process's
// module list, so the name has to be found another way there.
namespace {

#ifdef _WIN64
const int kOwnBits = 64;
#else
const int kOwnBits = 32;
#endif

struct BitnessCase {
    int bits;  // of the waiter
    bool kill;
};

void PrintTo(const BitnessCase& c, std::ostream* os) { *os << c.bits << "-bit waiter" << (c.kill ? ", /kill" : ""); }

// The machine a program file is built for; 0 when it is no PE image.
WORD PeMachine(const std::string& path)
{
    std::string bytes;
    DWORD pe = 0;
    if (!kvtest::ReadFileBytes(path, bytes) || bytes.size() < 0x40)
        return 0;
    memcpy(&pe, &bytes[0x3C], sizeof pe);
    WORD machine = 0;
    if (pe > bytes.size() - 6 || bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0)
        return 0;
    memcpy(&machine, &bytes[pe + 4], sizeof machine);
    return machine;
}

class PendrelAcrossBitness : public ::testing::TestWithParam<BitnessCase> {};

std::string BitnessCaseName(const ::testing::TestParamInfo<BitnessCase>& info)
{
    return "Waiter" + std::to_string(info.param.bits) + (info.param.kill ? "Kill" : "Wait");
}

}  // namespace

TEST_P(PendrelAcrossBitness, FindsWaitsForAndKills)
{
    const BitnessCase c = GetParam();
    const std::string bits = std::to_string(c.bits);
    const std::string program =
        c.bits == kOwnBits ? kvsvc::WaiterExe() : kvtest::FixtureDir() + "\\kvwaiter" + bits + ".exe";
    // A sound program of the right kind, so that a failed start below means
    // the machine, not the build.
    ASSERT_EQ(c.bits == 32 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64, PeMachine(program)) << program;
    kvtest::TempDir dir("pdbits");
    const std::string exe = "kvpd_b" + bits + (c.kill ? "_kill.exe" : "_wait.exe");
    kvsvc::CWaiters w(dir, exe, program);
    // Waited for, it ends by itself soon; to be killed, it would run on.
    if (!w.Start(c.kill ? 60000 : 3000)) {
        if (c.bits == 32 && kOwnBits == 64)
            GTEST_SKIP() << "this machine cannot run 32-bit Windows programs (the 32-bit waiter did not start, error "
                         << w.LastStartError() << "): nothing of 32 bits to wait for";
        FAIL() << "the " << bits << "-bit waiter did not start, error " << w.LastStartError();
    }
    BOOL wow64 = FALSE;
    ASSERT_TRUE(::IsWow64Process(w.Process(0), &wow64));
    ASSERT_EQ(c.bits == 32, wow64 != FALSE) << "the waiter is not a " << bits << "-bit process";

    kvtest::ProcessResult r;
    DWORD took = Timed([&] { r = Pendrel("/wait " + exe + (c.kill ? " 1500 /kill" : " 30000")); });
    EXPECT_EQ(0, Code(r));
    if (c.kill) {
        // Found and waited for until the time-out, then terminated.
        EXPECT_GE(took, 1400u);
        ASSERT_TRUE(w.WaitEnded(0, 5000));
        EXPECT_EQ(0u, w.ExitCode(0));
    } else {
        // The tool returned only once the waiter had ended by itself.
        EXPECT_LT(took, 20000u);
        ASSERT_TRUE(w.Ended(0));
        EXPECT_EQ(7u, w.ExitCode(0));
    }
}

INSTANTIATE_TEST_SUITE_P(Bitness, PendrelAcrossBitness,
                         ::testing::Values(BitnessCase{32, false}, BitnessCase{32, true}, BitnessCase{64, false},
                                           BitnessCase{64, true}),
                         BitnessCaseName);

// ------------------------------------------------------------------ /p

namespace {

const char kProductKey[] = "SOFTWARE\\Norlane\\Vellmark for Exchange\\CurrentVersion";

// Pendrel reads the product key without naming a view: the view of its own
// build. The key, and whichever of its parents the test made, go again.
class CProductKey {
public:
    CProductKey()
    {
        for (const char* k : {"SOFTWARE\\Norlane", "SOFTWARE\\Norlane\\Vellmark for Exchange", kProductKey})
            if (!kvtest::RegKeyExists(HKEY_LOCAL_MACHINE, k, kvtest::kProgramView)) {
                m_firstMissing = k;
                break;
            }
    }
    ~CProductKey()
    {
        if (!m_firstMissing.empty())
            kvtest::RegDeleteTree(HKEY_LOCAL_MACHINE, m_firstMissing, kvtest::kProgramView);
    }
    bool Set(const std::string& home)
    {
        return kvtest::RegWriteString(HKEY_LOCAL_MACHINE, kProductKey, "HomeDir", home, kvtest::kProgramView);
    }
    void Remove()
    {
        if (m_firstMissing.empty())
            kvtest::RegDeleteValueOf(HKEY_LOCAL_MACHINE, kProductKey, "HomeDir", kvtest::kProgramView);
        else
            kvtest::RegDeleteTree(HKEY_LOCAL_MACHINE, kProductKey, kvtest::kProgramView);
    }

private:
    kvtest::CRegValueGuard m_home{HKEY_LOCAL_MACHINE, kProductKey, "HomeDir", kvtest::kProgramView};
    std::string m_firstMissing;  // the outermost key the test creates
};

std::vector<std::string> SparesIn(const std::string& debugDir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = ::FindFirstFileA((debugDir + "\\perfQorvPerfMonMgr_*.dll").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do
            names.push_back(fd.cFileName);
        while (::FindNextFileA(h, &fd));
        ::FindClose(h);
    }
    return names;
}

// Identity of the file behind a name: a fresh copy has a new one.
unsigned long long FileId(const std::string& path)
{
    HANDLE h = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION info = {};
    ::GetFileInformationByHandle(h, &info);
    ::CloseHandle(h);
    return (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

class PendrelPerfDll : public ::testing::Test {
protected:
    void SetUp() override
    {
        home = dir / "Vellmark";
        dll = home + "\\perfQorvPerfMonMgr.dll";
        debug = home + "\\Debug";
        ASSERT_TRUE(kvtest::CreateTree(debug));
        ASSERT_TRUE(::CopyFileA((kvtest::FixtureDir() + "\\kvver.dll").c_str(), dll.c_str(), FALSE));
        ASSERT_TRUE(kvtest::ReadFileBytes(dll, original));
    }

    kvtest::TempDir dir{"pdperf"};
    CProductKey key;
    std::string home, dll, debug, original;
};

}  // namespace

TEST_F(PendrelPerfDll, MissingProductKeyTouchesNothing)
{
    key.Remove();
    unsigned long long id = FileId(dll);
    EXPECT_EQ(0, Code(Pendrel("/p")));
    EXPECT_EQ(id, FileId(dll));
    EXPECT_TRUE(SparesIn(debug).empty());
}

TEST_F(PendrelPerfDll, FreeDllIsReplacedByAFreshCopy)
{
    // One trailing backslash is dropped.
    ASSERT_TRUE(key.Set(home + "\\"));
    unsigned long long id = FileId(dll);
    EXPECT_EQ(0, Code(Pendrel("/p")));
    std::string now;
    ASSERT_TRUE(kvtest::ReadFileBytes(dll, now));
    EXPECT_EQ(original, now);
    EXPECT_NE(id, FileId(dll));
    EXPECT_TRUE(SparesIn(debug).empty());
}

TEST_F(PendrelPerfDll, LoadedDllIsRenamedIntoTheDebugFolder)
{
    ASSERT_TRUE(key.Set(home));
    HMODULE loaded = ::LoadLibraryA(dll.c_str());
    ASSERT_NE(nullptr, loaded);
    EXPECT_EQ(0, Code(Pendrel("/p")));
    // The name is free for the new file; the loaded file lives on.
    EXPECT_FALSE(kvtest::Exists(dll));
    std::vector<std::string> spares = SparesIn(debug);
    ASSERT_EQ(1u, spares.size());
    std::string moved;
    ASSERT_TRUE(kvtest::ReadFileBytes(debug + "\\" + spares[0], moved));
    EXPECT_EQ(original, moved);
    ::FreeLibrary(loaded);
}

TEST_F(PendrelPerfDll, DllHeldWithoutDeleteSharingStaysPut)
{
    ASSERT_TRUE(key.Set(home));
    HANDLE held = ::CreateFileA(dll.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(0, Code(Pendrel("/p")));
    ::CloseHandle(held);
    // Neither deleted nor renamed (the system refuses both while the handle
    // is open): the file is unchanged and no spare copy is left behind.
    std::string now;
    ASSERT_TRUE(kvtest::ReadFileBytes(dll, now));
    EXPECT_EQ(original, now);
    EXPECT_TRUE(SparesIn(debug).empty());
}

TEST_F(PendrelPerfDll, NoDebugFolderLosesNothing)
{
    ASSERT_TRUE(key.Set(home));
    kvtest::RemoveTree(debug);
    EXPECT_EQ(0, Code(Pendrel("/p")));
    std::string now;
    ASSERT_TRUE(kvtest::ReadFileBytes(dll, now)) << "the DLL was deleted without a copy to take its place";
    EXPECT_EQ(original, now);
}
