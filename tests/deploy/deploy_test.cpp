// What a deployment system sees of a patch run by the real program: exit
// codes, the result document, the run's own log, the uninstall entry and its
// quiet command, and a removal that outlives the package folder.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <memory>
#include <regex>
#include <vector>

#include "../fileutil/lock_helpers.h"
#include "DeployFixture.h"
#include "util/FileUtil.h"

namespace kvdeploy {

namespace {

// Holds what makes a run end the way a case wants while it lives.
class CHold {
public:
    virtual ~CHold() {}
};

class CMutexHold : public CHold {
public:
    explicit CMutexHold(const char* name) : m_h(::CreateMutexA(nullptr, FALSE, name)) {}
    ~CMutexHold() override { ::CloseHandle(m_h); }

private:
    HANDLE m_h;
};

// The product file held open while others may read it, as a running product
// holds its own: the copy stages it for the next start.
class CBusyHold : public CHold {
public:
    explicit CBusyHold(const std::string& file) : m_file(file), m_lock(file, true) {}
    ~CBusyHold() override { kvtest::ForgetPendingRenamesIn(GetFolderPart(m_file)); }

private:
    std::string m_file;
    kvtest::CLocker m_lock;
};

std::string Quoted(const std::string& arg) { return "\"" + arg + "\""; }

// Runs a command in a window station of its own, which no user sees (as a
// service's is); its exit code, or STILL_ACTIVE when it did not end in time.
DWORD RunUnseen(const std::string& commandLine, const std::string& cwd)
{
    const std::wstring name = L"KvDeployUnseen-" + std::to_wstring(::GetCurrentProcessId());
    HWINSTA station = ::CreateWindowStationW(name.c_str(), 0, WINSTA_ALL_ACCESS, nullptr);
    if (!station)
        return ERROR_INVALID_HANDLE;
    HWINSTA own = ::GetProcessWindowStation();
    ::SetProcessWindowStation(station);
    HDESK desk = ::CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    ::SetProcessWindowStation(own);
    std::wstring desktop = name + L"\\Default";
    std::wstring cmd(commandLine.begin(), commandLine.end());
    std::wstring dir(cwd.begin(), cwd.end());
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.lpDesktop = &desktop[0];
    PROCESS_INFORMATION pi = {};
    DWORD code = ERROR_INVALID_FUNCTION;
    if (::CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &si, &pi)) {
        if (::WaitForSingleObject(pi.hProcess, 30000) != WAIT_OBJECT_0)
            ::TerminateProcess(pi.hProcess, 0xDEAD);
        ::GetExitCodeProcess(pi.hProcess, &code);
        ::CloseHandle(pi.hProcess);
        ::CloseHandle(pi.hThread);
    }
    if (desk)
        ::CloseDesktop(desk);
    ::CloseWindowStation(station);
    return code;
}

nlohmann::json ReadJson(const std::string& path)
{
    std::string text;
    if (!kvtest::ReadFileBytes(path, text))
        return nlohmann::json();
    return nlohmann::json::parse(text, nullptr, false);
}

std::string ProgramVersion()
{
    WORD v[4] = {0, 0, 0, 0};
    if (!GetFileVersionNumbers(kvtest::KorvexExe(), v))
        return "?";
    return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
}

std::string TodayYYYYMMDD()
{
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    char buf[16];
    snprintf(buf, sizeof buf, "%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    return buf;
}

std::string TempLog()
{
    char buf[MAX_PATH + 1] = {0};
    ::GetTempPathA(MAX_PATH, buf);
    return std::string(buf) + "Korvex.log";
}

}  // namespace

// 0, 3010, 1618 (either guard), 1602 and 1603 without /G; with /G the run's
// own code, whatever the conventional one would be.
TEST_F(DeployTest, ConventionalExitCodesWithoutGAndTheRunsOwnCodeWithIt)
{
    enum Hold { kNone, kBusy, kSessionGuard, kMachineGuard };
    struct Case {
        const char* name;
        bool failing;
        const char* failAction;
        Hold hold;
        int conventional;
        bool checkG;
        int own;
    } cases[] = {
        {"success", false, "", kNone, 0, false, 0},
        {"restart needed", false, "", kBusy, 3010, true, 0},
        {"another copy in the session", false, "", kSessionGuard, 1618, false, 0},
        {"another copy on the machine", false, "", kMachineGuard, 1618, true, -2006},
        {"break", true, "KVHF_USERBREAK", kNone, 1602, false, 0},
        {"failure", true, "", kNone, 1603, true, -2302},
    };
    for (const Case& c : cases) {
        for (bool withG : {false, true}) {
            if (withG && !c.checkG)
                continue;
            Reset();
            ScriptOptions o;
            o.failing = c.failing;
            o.failAction = c.failAction;
            Script(o);
            std::unique_ptr<CHold> hold;
            if (c.hold == kBusy)
                hold.reset(new CBusyHold(Product() + "\\" + kBusyFile));
            else if (c.hold == kSessionGuard)
                hold.reset(new CMutexHold("KorvexPreventSecondInstance"));
            else if (c.hold == kMachineGuard)
                hold.reset(new CMutexHold("Global\\KorvexPreventSecondInstance"));
            const std::string log = Logs() + "\\" + c.name + (withG ? " G" : "") + ".log";
            kvtest::ProcessResult r = Run(withG ? "/S /G " + Quoted("/L:" + log) : "/S " + Quoted("/L:" + log));
            EXPECT_EQ(kvtest::Signed(r.exitCode), withG ? c.own : c.conventional)
                << c.name << (withG ? " with /G" : "") << "\n" << kvtest::ReadFileOr(log);
            hold.reset();
        }
    }
}

// Nobody could answer its dialogs: it ends with a log line and a failure,
// and holds the guard against no later run.
TEST_F(DeployTest, ADialogRunWhereNobodySeesItEndsAtOnce)
{
    Script();
    const kvtest::SnapshotState before = ProductState();
    const std::string log = Logs() + "\\unseen.log";
    // One that waited would be ended after 30 seconds with another code.
    const DWORD code = RunUnseen("\"" + Pkg() + "\\Korvex.exe\" " + Quoted("/L:" + log), Pkg());
    EXPECT_EQ(code, 1603u);
    EXPECT_NE(kvtest::ReadFileOr(log).find("*** Runtime error: CKorvexApp::InitInstance(): no user can see this "
                                           "window station"),
              std::string::npos)
        << kvtest::ReadFileOr(log);
    EXPECT_EQ(kvtest::DiffSnapshots(before, ProductState()), "");
    EXPECT_EQ(kvtest::Signed(Run("/S").exitCode), 0);
}

TEST_F(DeployTest, ResultDocumentOfASuccessfulAndOfAFailedRun)
{
    const std::regex iso("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ");
    const std::string json = Logs() + "\\result.json";
    struct Case {
        bool failing;
        const char* args;
        int own;
        int conventional;
        int failedStep;  // 0: null
        const char* failedSection;
    } cases[] = {
        {false, "/S", 0, 0, 0, nullptr},
        // With /G the process ends inside the run: the document comes first.
        {true, "/S /G", -2302, 1603, 4, "ProductInstall.CopyFileGroupTo.Missing"},
    };
    for (const Case& c : cases) {
        Reset();
        ScriptOptions o;
        o.failing = c.failing;
        Script(o);
        const std::string log = Logs() + "\\run.log";
        kvtest::ProcessResult r = Run(std::string(c.args) + " " + Quoted("/L:" + log) + " " + Quoted("/J:" + json));
        EXPECT_EQ(kvtest::Signed(r.exitCode), c.failing ? c.own : c.conventional);

        nlohmann::json j = ReadJson(json);
        ASSERT_TRUE(j.is_object()) << kvtest::ReadFileOr(json, "(no document)") << kvtest::ReadFileOr(log);
        const std::vector<std::string> fields = {"patchId",       "action",        "exitCode",  "conventionalExitCode",
                                                 "success",       "rebootRequired", "failedStep", "failedSection",
                                                 "startTime",     "endTime",       "log",       "korvexVersion"};
        std::vector<std::string> keys;
        for (auto it = j.begin(); it != j.end(); ++it)
            keys.push_back(it.key());
        std::vector<std::string> sorted = fields;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(keys, sorted);  // exactly these, no more
        EXPECT_EQ(j["patchId"], PatchId());
        EXPECT_EQ(j["action"], "install");
        EXPECT_EQ(j["exitCode"], c.own);
        EXPECT_EQ(j["conventionalExitCode"], c.conventional);
        EXPECT_EQ(j["success"], !c.failing);
        EXPECT_EQ(j["rebootRequired"], false);
        if (c.failedStep)
            EXPECT_EQ(j["failedStep"], c.failedStep);
        else
            EXPECT_TRUE(j["failedStep"].is_null());
        if (c.failedSection)
            EXPECT_EQ(j["failedSection"], c.failedSection);
        else
            EXPECT_TRUE(j["failedSection"].is_null());
        const std::string start = j["startTime"], end = j["endTime"];
        EXPECT_TRUE(std::regex_match(start, iso)) << start;
        EXPECT_TRUE(std::regex_match(end, iso)) << end;
        EXPECT_LE(start, end);
        EXPECT_EQ(j["log"], log);
        EXPECT_EQ(j["korvexVersion"], ProgramVersion());
        // Written under another name and renamed: nothing else is left.
        std::vector<std::string> left;
        FindFiles(left, Logs(), "*", false);
        EXPECT_EQ(left.size(), 2u) << "the log and the document only";
        ::DeleteFileA(json.c_str());
    }
}

TEST_F(DeployTest, LogSwitchGivesTheRunItsOwnLogAndNothingToTheSharedOne)
{
    Script();
    struct Case {
        std::string arg;
        std::string expected;  // where the log lands
        bool fallback;
    } cases[] = {
        {Quoted("/L:" + Logs() + "\\deep er\\run.log"), Logs() + "\\deep er\\run.log", false},
        // Relative to the folder the run was started in.
        {"/L:logs\\rel.log", Pkg() + "\\logs\\rel.log", false},
        // A folder can't take log lines: the temporary folder's log does.
        {Quoted("/L:" + Pkg()), TempLog(), true},
    };
    for (const Case& c : cases) {
        Reset();
        ::DeleteFileA("C:\\Korvex.log");
        ::DeleteFileA(TempLog().c_str());
        kvtest::ProcessResult r = Run("/S " + c.arg);
        EXPECT_EQ(kvtest::Signed(r.exitCode), 0) << c.arg;
        const std::string log = kvtest::ReadFileOr(c.expected, "(missing)");
        EXPECT_NE(log.find(" Log Start "), std::string::npos) << c.arg << "\n" << log;
        EXPECT_NE(log.find("@@@ Session name ['ProductInstall.CopyFileGroupTo.Product'] return code = 0"),
                  std::string::npos)
            << log;
        EXPECT_EQ(log.find("can't be written") != std::string::npos, c.fallback) << log;
        EXPECT_FALSE(kvtest::Exists("C:\\Korvex.log")) << c.arg;
    }
}

TEST_F(DeployTest, UninstallEntryDescribesThePatchAndItsQuietCommandRemovesIt)
{
    Script();
    const kvtest::SnapshotState before = ProductState();
    ASSERT_EQ(kvtest::Signed(Run("/S").exitCode), 0);

    std::string v;
    const std::string command = "\"" + Home() + "\\Korvex.exe\" /U:\"" + Record() + "\"";
    const struct {
        const char* name;
        std::string value;
    } texts[] = {
        {"DisplayName", "Deploy test patch"}, {"DisplayVersion", "1.0.100"},  {"Publisher", "Halvern Test"},
        {"InstallDate", TodayYYYYMMDD()},      {"UninstallString", command}, {"QuietUninstallString", command + " /S"},
    };
    for (const auto& t : texts) {
        EXPECT_TRUE(EntryText(t.name, v)) << t.name;
        EXPECT_EQ(v, t.value) << t.name;
    }
    const struct {
        const char* name;
        DWORD value;
    } numbers[] = {
        {"EstimatedSize", static_cast<DWORD>((CopiedBytes() + 1023) / 1024)}, {"NoModify", 1}, {"NoRepair", 1}};
    for (const auto& n : numbers) {
        DWORD got = 0;
        EXPECT_TRUE(EntryNumber(n.name, got)) << n.name;
        EXPECT_EQ(got, n.value) << n.name;
    }

    // A run ended while it wrote the entry left only its first value: the
    // package pushed again (nothing else to do) makes it whole.
    kvtest::RegDeleteTree(HKEY_LOCAL_MACHINE, Key(), kvtest::kProgramView);
    ASSERT_TRUE(kvtest::RegWriteString(HKEY_LOCAL_MACHINE, Key(), "DisplayName", "Deploy test patch",
                                       kvtest::kProgramView));
    ASSERT_EQ(kvtest::Signed(Run("/S").exitCode), 0);
    EXPECT_TRUE(EntryText("UninstallString", v));
    EXPECT_EQ(v, command);

    // As it stands, the way a deployment system's removal runs it.
    ASSERT_TRUE(EntryText("QuietUninstallString", v));
    kvtest::ProcessResult r = RunCommand(v);
    EXPECT_EQ(kvtest::Signed(r.exitCode), 0) << r.output;
    EXPECT_FALSE(kvtest::RegKeyExists(HKEY_LOCAL_MACHINE, Key(), kvtest::kProgramView));
    EXPECT_FALSE(kvtest::Exists(Record()));
    EXPECT_EQ(kvtest::DiffSnapshots(before, ProductState()), "");
}

TEST_F(DeployTest, NoUninstallEntryWhereTheInstallerIsNotFound)
{
    // An entry left from an earlier install would be read as installed.
    ASSERT_TRUE(kvtest::RegWriteString(HKEY_LOCAL_MACHINE, Key(), "DisplayName", "stale", kvtest::kProgramView));
    ScriptOptions o;
    o.copyInstaller = false;
    Script(o);
    ASSERT_EQ(kvtest::Signed(Run("/S").exitCode), 0);
    EXPECT_TRUE(kvtest::Exists(Record()));
    EXPECT_FALSE(kvtest::RegKeyExists(HKEY_LOCAL_MACHINE, Key(), kvtest::kProgramView));
}

TEST_F(DeployTest, ARemovalOutlivesThePackageFolder)
{
    Script();
    const kvtest::SnapshotState before = ProductState();
    ASSERT_EQ(kvtest::Signed(Run("/S").exitCode), 0);
    // A deployment cache is purged once the patch is in.
    kvtest::RemoveTree(Pkg());
    ASSERT_FALSE(kvtest::Exists(Pkg()));

    std::string quiet;
    ASSERT_TRUE(EntryText("QuietUninstallString", quiet));
    const std::string json = Logs() + "\\remove.json";
    kvtest::ProcessResult r = RunCommand(quiet + " " + Quoted("/J:" + json));
    EXPECT_EQ(kvtest::Signed(r.exitCode), 0) << r.output;
    EXPECT_EQ(kvtest::DiffSnapshots(before, ProductState()), "");
    EXPECT_FALSE(kvtest::RegKeyExists(HKEY_LOCAL_MACHINE, Key(), kvtest::kProgramView));
    nlohmann::json j = ReadJson(json);
    ASSERT_TRUE(j.is_object()) << kvtest::ReadFileOr(json, "(no document)");
    EXPECT_EQ(j["action"], "remove");
    EXPECT_EQ(j["success"], true);
}

}  // namespace kvdeploy
