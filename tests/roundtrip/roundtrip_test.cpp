// A patch installed from a package and removed again by the command of its
// uninstall entry leaves the machine as it was; a failed install leaves it as
// it was too.
#include <gtest/gtest.h>

#include <cstdio>

#include "../services/TestServices.h"
#include "Package.h"

namespace {

using rt::CWorld;
using rt::Options;

std::string Describe(const kvtest::ProcessResult& r)
{
    return "started=" + std::to_string(r.started) + " timedOut=" + std::to_string(r.timedOut) +
           " exit=" + std::to_string(kvtest::Signed(r.exitCode)) + " output=" + r.output;
}

// Opens a file without sharing, or shared for reading only, as a running
// program holding it would.
class CLocker {
public:
    explicit CLocker(const std::string& path, bool shareRead = false)
        : m_h(::CreateFileA(path.c_str(), GENERIC_READ, shareRead ? FILE_SHARE_READ : 0, nullptr, OPEN_EXISTING, 0,
                            nullptr)) {}
    ~CLocker()
    {
        if (m_h != INVALID_HANDLE_VALUE)
            ::CloseHandle(m_h);
    }
    bool Held() const { return m_h != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_h;
};

// Counts the points of a failure sweep whose rollback restored the
// snapshot, and prints the figure when the sweep ends.
class CSweepFigure {
public:
    explicit CSweepFigure(const char* name) : m_name(name) {}
    ~CSweepFigure() { std::printf("sweep: %s: %d of %d points restored\n", m_name, m_restored, m_points); }
    std::string Point(const std::string& diff)
    {
        ++m_points;
        m_restored += diff.empty() ? 1 : 0;
        return diff;
    }

private:
    const char* m_name;
    int m_points = 0;
    int m_restored = 0;
};

std::string Expected(const CWorld& w)
{
    // The entry's command: the program, a blank, /U: and the quoted record.
    return w.Pkg() + "\\Korvex.exe /U:\"" + w.RecordFile() + "\"";
}

// Every file but the service's program.
kvtest::SnapshotTolerance OtherFiles(const CWorld& w)
{
    std::string program = "file:" + w.ServiceProgram();
    return [program](const std::string& locator, const std::string*, const std::string*) {
        return locator.compare(0, 5, "file:") == 0 && locator != program;
    };
}

}  // namespace

TEST(RoundTrip, UninstallEntryRestoresTheMachine)
{
    Options opt;
    opt.withCommands = true;
    CWorld w("full", opt);
    kvtest::SnapshotState before = w.Capture();

    kvtest::ProcessResult inst = w.Install();
    ASSERT_TRUE(inst.started);
    ASSERT_EQ(0, kvtest::Signed(inst.exitCode)) << Describe(inst);

    // The install really changed what the snapshot watches.
    kvtest::SnapshotState installed = w.Capture();
    EXPECT_NE("", kvtest::DiffSnapshots(before, installed));
    EXPECT_EQ("patched a 2.0\r\n", kvtest::ReadFileOr(w.Product() + "\\a.txt"));
    EXPECT_EQ("stamp=after\r\n", kvtest::ReadFileOr(w.Product() + "\\conf\\app.cfg"));
    EXPECT_EQ("stamp=after\r\n", kvtest::ReadFileOr(w.Product() + "\\conf\\caf\xe9.cfg"));
    // The 8-bit name stands in the record as it is, readable.
    EXPECT_NE(std::string::npos, kvtest::ReadFileOr(w.RecordFile()).find("caf\xe9.cfg"));
    EXPECT_TRUE(kvtest::Exists(w.Product() + "\\tools\\deep\\t2.bin"));
    EXPECT_EQ("ran\r\n", kvtest::ReadFileOr(w.Product() + "\\ran.txt"));
    EXPECT_EQ("two\r\n", kvtest::ReadFileOr(w.Product() + "\\ran2.txt"));
    ASSERT_TRUE(kvtest::Exists(w.RecordFile()));
    // The settings changed in both registry views and in the INI file; the
    // record keeps the old texts as they were stored, %NAME% unexpanded.
    std::string v;
    EXPECT_TRUE(kvtest::RegReadString(HKEY_LOCAL_MACHINE, w.RegBase() + "\\Program", "Path", v, kvtest::kProgramView));
    EXPECT_EQ(w.Product() + "\\bin", v);
    EXPECT_FALSE(kvtest::RegKeyExists(HKEY_LOCAL_MACHINE, w.RegBase() + "\\Program\\Old", kvtest::kProgramView));
    DWORD type = 0;
    std::string data;
    EXPECT_TRUE(kvtest::RegReadValue(HKEY_LOCAL_MACHINE, w.RegBase() + "\\Native\\New", "Added", type, data,
                                     KEY_WOW64_64KEY));
    char port[32] = {0};
    ::GetPrivateProfileStringA("Main", "Port", "", port, sizeof port, w.SettingsIni().c_str());
    EXPECT_STREQ("8080", port);
    const std::string record = kvtest::ReadFileOr(w.RecordFile());
    EXPECT_NE(std::string::npos, record.find("Param1=%PRODUCT%\\old\r\n"));
    EXPECT_NE(std::string::npos, record.find("Param1=%PRODUCT%\\keep\r\n"));
    std::string command = w.UninstallString();
    ASSERT_EQ(Expected(w), command);

    rt::CLogTail log;
    kvtest::ProcessResult rem = w.RunCommand(command + " /S /G");
    ASSERT_TRUE(rem.started);
    EXPECT_EQ(0, kvtest::Signed(rem.exitCode)) << Describe(rem) << "\n" << log.Text();

    std::string diff = kvtest::DiffSnapshots(before, w.Capture(), w.Traces());
    EXPECT_EQ("", diff) << log.Text();
    EXPECT_FALSE(kvtest::Exists(w.RecordFile()));
    EXPECT_EQ("", w.UninstallString());
    // The removal ran with the symbols of the install, put back step by step
    // by the replayed symbol updates, plus its own.
    EXPECT_EQ("stamp=before by=removal\r\n", kvtest::ReadFileOr(w.Pkg() + "\\report.txt"));
    // A saved value that names a symbol comes back as saved, unexpanded.
    std::string text = log.Text();
    size_t undo = text.find("CHFS_UpdateSymbolsSection::Rollback(");
    ASSERT_NE(std::string::npos, undo) << text;
    EXPECT_NE(std::string::npos, text.find("'OLDV'='%PRODUCT%\\old'", undo)) << text.substr(undo, 2000);
    // A symbol kept literal during the install (quoted in its section) is
    // restored from the record as that same text, not expanded on the way.
    size_t replay = text.find("CHFS_RollbackSection::Run(");
    size_t last = text.rfind("'LITERAL'='", replay);
    ASSERT_NE(std::string::npos, last);
    const std::string literal = "'LITERAL'='%PRODUCT%\\lit'";
    EXPECT_EQ(0, text.compare(last, literal.size(), literal)) << text.substr(last, 200);
    EXPECT_NE(std::string::npos, text.find("KVHF_CMD_ROLLBACK_SUCCESS"));
    EXPECT_NE(std::string::npos, text.find("Delete Install record file!"));
}

TEST(RoundTrip, ReadOnlyScriptStillLeavesAUsableRecord)
{
    // The record starts as a copy of the script, attributes included; the
    // symbols and items must still get into it.
    Options opt;
    opt.readOnlyScript = true;
    CWorld w("rdonly", opt);
    kvtest::SnapshotState before = w.Capture();
    kvtest::ProcessResult inst = w.Install();
    ASSERT_EQ(0, kvtest::Signed(inst.exitCode)) << Describe(inst);
    char buf[64];
    ::GetPrivateProfileStringA("REC_0", "TotalCount", "", buf, sizeof buf, w.RecordFile().c_str());
    EXPECT_STRNE("", buf);
    rt::CLogTail log;
    kvtest::ProcessResult rem = w.RunCommand(w.UninstallString() + " /S /G");
    EXPECT_EQ(0, kvtest::Signed(rem.exitCode)) << Describe(rem);
    EXPECT_EQ("", kvtest::DiffSnapshots(before, w.Capture(), w.Traces())) << log.Text();
}

TEST(RoundTrip, KeptRecordReplaysTheSameItemsAgain)
{
    Options opt;
    opt.backupFiles = false;  // its copies are gone after the first replay
    CWorld w("keep", opt);
    kvtest::SnapshotState before = w.Capture();
    kvtest::ProcessResult inst = w.Install();
    ASSERT_EQ(0, kvtest::Signed(inst.exitCode)) << Describe(inst);
    std::string command = w.UninstallString();
    ASSERT_EQ(Expected(w), command);

    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE("removal " + std::to_string(round));
        rt::CLogTail log;
        kvtest::ProcessResult rem = w.RunCommand(command + " /S /G /D");
        EXPECT_EQ(0, kvtest::Signed(rem.exitCode)) << Describe(rem) << "\n" << log.Text();
        EXPECT_TRUE(kvtest::Exists(w.RecordFile()));
        std::string text = log.Text();
        for (const char* group : {"FileGroup1", "FileGroup2", "FileGroup3"})
            EXPECT_NE(std::string::npos, text.find(std::string(" : ") + group + "]")) << group;
        EXPECT_EQ(3u, kvtest::CountOf(text, "ROLLBACK ["));
        EXPECT_EQ("", kvtest::DiffSnapshots(before, w.Capture(), w.Traces())) << text;
    }
}

TEST(RoundTrip, FailureAtEveryFileRollsBackExactly)
{
    CSweepFigure figure("a held file at every file");
    Options opt;
    opt.withNewFiles = false;
    opt.withCommands = true;
    CWorld w("sweep", opt);
    const std::vector<std::string>& files = w.ReplacedFiles();
    for (size_t k = 0; k < files.size(); ++k) {
        SCOPED_TRACE("held file " + files[k]);
        w.ResetProduct();
        kvtest::SnapshotState before = w.Capture();
        rt::CLogTail log;
        kvtest::ProcessResult r;
        {
            CLocker lock(files[k]);
            ASSERT_TRUE(lock.Held());
            r = w.Install();
        }
        ASSERT_TRUE(r.started);
        // A held target fails its backup (-2301) or, where the backup takes
        // the unreadable file for a missing one, its copy (-2300).
        int code = kvtest::Signed(r.exitCode);
        EXPECT_TRUE(code == -2301 || code == -2300) << Describe(r) << "\n" << log.Text();
        EXPECT_EQ("", figure.Point(kvtest::DiffSnapshots(before, w.Capture(), w.Traces()))) << log.Text();
        EXPECT_FALSE(kvtest::Exists(w.RecordFile()));
        EXPECT_EQ("", w.UninstallString());
        char buf[256];
        ::GetPrivateProfileStringA(w.PatchID().c_str(), "ResultCode", "", buf, sizeof buf, w.DBFile().c_str());
        EXPECT_STREQ("1", buf);
        ::GetPrivateProfileStringA(w.PatchID().c_str(), "ErrorMSG", "", buf, sizeof buf, w.DBFile().c_str());
        EXPECT_STREQ("Copy files failed", buf);
    }
}

TEST(RoundTrip, FailedCopyIntoTheProductAtEveryFileRollsBackExactly)
{
    CSweepFigure figure("a failed copy at every file");
    // Held readable: each file is backed up, and its own copy is the one
    // that fails, after the files before it have been replaced.
    Options opt;
    opt.withNewFiles = false;
    CWorld w("sweep-copy", opt);
    const std::vector<std::string>& files = w.ReplacedFiles();
    for (size_t k = 0; k < files.size(); ++k) {
        SCOPED_TRACE("held file " + files[k]);
        w.ResetProduct();
        kvtest::SnapshotState before = w.Capture();
        rt::CLogTail log;
        kvtest::ProcessResult r;
        {
            CLocker lock(files[k], true);
            ASSERT_TRUE(lock.Held());
            r = w.Install();
        }
        ASSERT_TRUE(r.started);
        EXPECT_EQ(-2300, kvtest::Signed(r.exitCode)) << Describe(r) << "\n" << log.Text();
        // The held file could not be restored while held, so its (unneeded)
        // backup stays; everything else is as it was.
        const std::string bak = "file:" + w.Backup() + files[k].substr(w.Product().size());
        kvtest::SnapshotTolerance heldBackup = [bak](const std::string& locator, const std::string* before,
                                                     const std::string*) { return !before && locator == bak; };
        EXPECT_EQ("", figure.Point(kvtest::DiffSnapshots(before, w.Capture(), kvtest::AnyOf({w.Traces(), heldBackup}))))
            << log.Text();
        EXPECT_NE(std::string::npos, log.Text().find("Rollback the file because the file copy fail."));
        EXPECT_FALSE(kvtest::Exists(w.RecordFile()));
    }
}

// The same for the commands' failure points: a command that fails after the
// copy undoes the copy and runs the rollback commands; a failed check stops
// the run before anything changed.
TEST(RoundTrip, FailureOfACommandOrACheckRollsBackExactly)
{
    CSweepFigure figure("a failing command or check");
    Options opt;
    opt.withNewFiles = false;
    opt.withCommands = true;
    CWorld w("cmdsweep", opt);
    struct Point {
        const char* name;
        int code;
        const char* errorMsg;
    } points[] = {{"failing command", -2600, "Verify the product failed"},
                  {"running program", -2204, "Check the product failed"}};
    for (const Point& p : points) {
        SCOPED_TRACE(p.name);
        w.ResetProduct();
        kvtest::SnapshotState before = w.Capture();
        rt::CLogTail log;
        kvtest::ProcessResult r;
        if (p.code == -2600) {
            ASSERT_TRUE(kvtest::WriteFileBytes(w.FailFlag(), "fail"));
            r = w.Install();
            ::DeleteFileA(w.FailFlag().c_str());
        } else {
            kvtest::TempDir blockerDir("rt-block");
            kvsvc::CWaiters blocker(blockerDir, rt::kBlockerName);
            ASSERT_TRUE(blocker.Start(60000));
            r = w.Install();
        }
        ASSERT_TRUE(r.started);
        std::string text = log.Text();
        EXPECT_EQ(p.code, kvtest::Signed(r.exitCode)) << Describe(r) << "\n" << text;
        EXPECT_EQ("", figure.Point(kvtest::DiffSnapshots(before, w.Capture(), w.Traces()))) << text;
        EXPECT_FALSE(kvtest::Exists(w.RecordFile()));
        EXPECT_EQ("", w.UninstallString());
        char buf[256];
        ::GetPrivateProfileStringA(w.PatchID().c_str(), "ErrorMSG", "", buf, sizeof buf, w.DBFile().c_str());
        EXPECT_STREQ(p.errorMsg, buf);
        const bool ran = text.find("CHFS_RunSection::Run('ProductInstall.Run.Before')") != std::string::npos;
        EXPECT_EQ(p.code == -2600, ran) << text;
        if (ran) {
            EXPECT_NE(std::string::npos, text.find("CHFS_RunSection::Rollback('ProductInstall.Run.Before') Ret=0"));
        }
    }
}

// The settings steps' own failure points: a whole-key removal the platform
// refuses (the key has a subkey) and an INI file that cannot be written.
// What the steps before them changed, and what the refused removal had
// recorded, comes back exactly.
TEST(RoundTrip, FailureOfARegistryOrIniStepRollsBackExactly)
{
    CSweepFigure figure("a refused registry or INI change");
    Options opt;
    opt.withNewFiles = false;
    CWorld w("setsweep", opt);
    const std::string oldKey = w.RegBase() + "\\Program\\Old";
    struct Point {
        const char* name;
        int code;
        const char* errorMsg;
    } points[] = {{"key with a subkey", -2403, "Remove old settings failed"},
                  {"read-only INI file", -3001, "Update the INI file failed"}};
    for (const Point& p : points) {
        SCOPED_TRACE(p.name);
        w.ResetProduct();
        const bool refusedKey = p.code == -2403;
        if (refusedKey)
            ASSERT_TRUE(kvtest::RegWriteString(HKEY_LOCAL_MACHINE, oldKey + "\\Child", "Keep", "me",
                                               kvtest::kProgramView));
        else
            ASSERT_TRUE(::SetFileAttributesA(w.SettingsIni().c_str(), FILE_ATTRIBUTE_READONLY));
        kvtest::SnapshotState before = w.Capture();
        rt::CLogTail log;
        kvtest::ProcessResult r = w.Install();
        std::string text = log.Text();
        const std::string diff = kvtest::DiffSnapshots(before, w.Capture(), w.Traces());
        if (refusedKey)
            kvtest::RegDeleteTree(HKEY_LOCAL_MACHINE, oldKey + "\\Child", kvtest::kProgramView);
        else
            ::SetFileAttributesA(w.SettingsIni().c_str(), FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(r.started);
        EXPECT_EQ(p.code, kvtest::Signed(r.exitCode)) << Describe(r) << "\n" << text;
        EXPECT_EQ("", figure.Point(diff)) << text;
        EXPECT_FALSE(kvtest::Exists(w.RecordFile()));
        char buf[256];
        ::GetPrivateProfileStringA(w.PatchID().c_str(), "ErrorMSG", "", buf, sizeof buf, w.DBFile().c_str());
        EXPECT_STREQ(p.errorMsg, buf);
    }
}

TEST(RoundTrip, ServicePackageStopsReplacesStartsAndComesBack)
{
    Options opt;
    opt.withService = true;
    CWorld w("svcfull", opt);
    ASSERT_EQ(static_cast<DWORD>(SERVICE_RUNNING), kvsvc::QueryState(w.ServiceName()));
    kvtest::SnapshotState before = w.Capture();

    rt::CLogTail installLog;
    kvtest::ProcessResult inst = w.Install();
    ASSERT_EQ(0, kvtest::Signed(inst.exitCode)) << Describe(inst) << "\n" << installLog.Text();
    std::string text = installLog.Text();
    EXPECT_NE(std::string::npos, text.find("SMStopService('" + w.ServiceName() + "') ret=0")) << text;
    EXPECT_NE(std::string::npos, text.find("SMStartService('" + w.ServiceName() + "') ret=0")) << text;
    // The service runs its new program.
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), kvsvc::QueryState(w.ServiceName()));
    std::string program = kvtest::ReadFileOr(w.ServiceProgram());
    const std::string mark = "patched service 2.0";
    EXPECT_TRUE(program.size() > mark.size() && program.compare(program.size() - mark.size(), mark.size(), mark) == 0);

    std::string command = w.UninstallString();
    ASSERT_EQ(Expected(w), command);
    rt::CLogTail log;
    kvtest::ProcessResult rem = w.RunCommand(command + " /S /G");
    EXPECT_EQ(0, kvtest::Signed(rem.exitCode)) << Describe(rem) << "\n" << log.Text();
    // Undone newest first: stopped again, old program back, started again.
    EXPECT_EQ("", kvtest::DiffSnapshots(before, w.Capture(), w.Traces())) << log.Text();
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), kvsvc::QueryState(w.ServiceName()));
}

TEST(RoundTrip, ServicePackageFailureAtEveryFileRestartsTheService)
{
    CSweepFigure figure("a held file with a stopped service");
    Options opt;
    opt.withNewFiles = false;
    opt.withService = true;
    CWorld w("svcsweep", opt);
    kvtest::SnapshotState before = w.Capture();
    const std::vector<std::string>& files = w.ReplacedFiles();
    for (size_t k = 0; k < files.size(); ++k) {
        SCOPED_TRACE("held file " + files[k]);
        rt::CLogTail log;
        kvtest::ProcessResult r;
        {
            CLocker lock(files[k]);
            ASSERT_TRUE(lock.Held());
            r = w.Install();
        }
        ASSERT_TRUE(r.started);
        int code = kvtest::Signed(r.exitCode);
        EXPECT_TRUE(code == -2300 || code == -2301) << Describe(r) << "\n" << log.Text();
        EXPECT_NE(std::string::npos, log.Text().find("CHFS_StopServiceSection::Rollback('ProductInstall.StopService.Product')"))
            << log.Text();
        // The service and its program as they were; the other files are the
        // business of the plain sweep above.
        EXPECT_EQ("", figure.Point(kvtest::DiffSnapshots(before, w.Capture(), kvtest::AnyOf({w.Traces(), OtherFiles(w)}))))
            << log.Text();
        EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), kvsvc::QueryState(w.ServiceName()));
        EXPECT_FALSE(kvtest::Exists(w.RecordFile()));
    }
}

TEST(RemovalRoad, NoRecordPathFailsTheReplayStep)
{
    CWorld w("nopath");
    rt::CLogTail log;
    kvtest::ProcessResult r = w.Install("/S /G /U");
    ASSERT_TRUE(r.started);
    EXPECT_NE(0, kvtest::Signed(r.exitCode)) << Describe(r);
    std::string text = log.Text();
    EXPECT_NE(std::string::npos, text.find("@@@ Session name ['ProductRemove.Rollback'] return code = -1 ")) << text;
    EXPECT_EQ(std::string::npos, text.find("KVHF_CMD_ROLLBACK_SUCCESS"));
}

TEST(RemovalRoad, MissingRecordFileStopsAtStartUp)
{
    CWorld w("norec");
    rt::CLogTail log;
    kvtest::ProcessResult r = w.RunCommand(w.Pkg() + "\\Korvex.exe /U:\"" + w.RecordFile() + "\" /S /G");
    ASSERT_TRUE(r.started);
    EXPECT_NE(std::string::npos, log.Text().find("***Error: Can't open Install record file ('" + w.RecordFile() + "')"))
        << log.Text();
    EXPECT_FALSE(kvtest::Exists(w.Pkg() + "\\report.txt"));
}

TEST(RemovalRoad, UninstallAnswerWithoutRecordEndsAsFailure)
{
    Options opt;
    opt.withRecord = false;
    opt.failingStepAction = "KVHF_UNINSTALL";
    CWorld w("uninst-norec", opt);
    kvtest::SnapshotState before = w.Capture();
    rt::CLogTail log;
    kvtest::ProcessResult r = w.Install();
    EXPECT_EQ(-2302, kvtest::Signed(r.exitCode)) << Describe(r) << "\n" << log.Text();
    EXPECT_FALSE(kvtest::Exists(w.Pkg() + "\\report.txt"));
    EXPECT_EQ("", kvtest::DiffSnapshots(before, w.Capture(), w.Traces())) << log.Text();
}

TEST(RemovalRoad, UninstallAnswerWithRecordRunsTheRemoval)
{
    Options opt;
    opt.failingStepAction = "KVHF_UNINSTALL";
    CWorld w("uninst-rec", opt);
    kvtest::SnapshotState before = w.Capture();
    rt::CLogTail log;
    kvtest::ProcessResult r = w.Install();
    EXPECT_EQ(0, kvtest::Signed(r.exitCode)) << Describe(r) << "\n" << log.Text();
    // The removal procedure ran after the install's own rollback; the symbol
    // updates were undone by that rollback already.
    EXPECT_EQ("stamp=before by=removal\r\n", kvtest::ReadFileOr(w.Pkg() + "\\report.txt"));
    EXPECT_EQ("", kvtest::DiffSnapshots(before, w.Capture(), w.Traces())) << log.Text();
    EXPECT_FALSE(kvtest::Exists(w.RecordFile()));
    EXPECT_EQ("", w.UninstallString());
}

namespace {

// Starts commandLine in folder and ends it (TerminateProcess) after at ms
// unless it ended by itself (ended).
bool EndAfter(const std::string& commandLine, const std::string& folder, DWORD at, bool& ended)
{
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi))
        return false;
    ended = ::WaitForSingleObject(pi.hProcess, at) == WAIT_OBJECT_0;
    if (!ended)
        ::TerminateProcess(pi.hProcess, 99);
    ::WaitForSingleObject(pi.hProcess, 30000);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return true;
}

// The installer ended at points spread over a whole install (TerminateProcess,
// as a power cut or a deployment tool's time-out would): the same package run
// again must install (and a third run change nothing), and its removal must
// bring the machine back; no crash, no backup lost. The figures are printed
// for each point.
void EndAtEveryPoint(const std::string& tag, const Options& opt, int points)
{
    DWORD full = 0;
    {
        CWorld w(tag + "time", opt);
        DWORD t0 = ::GetTickCount();
        ASSERT_EQ(0, kvtest::Signed(w.Install().exitCode));
        full = ::GetTickCount() - t0;
    }
    int restored = 0;
    for (int k = 1; k <= points; ++k) {
        CWorld w(tag + std::to_string(k), opt);
        const kvtest::SnapshotState before = w.Capture();
        const DWORD at = full * static_cast<DWORD>(k) / (points + 1);
        bool ended = false;
        ASSERT_TRUE(EndAfter("\"" + w.Pkg() + "\\Korvex.exe\" /S /G", w.Pkg(), at, ended));
        SCOPED_TRACE("ended after " + std::to_string(at) + " ms of " + std::to_string(full));
        // An install that finished before the point is a complete one: running
        // it again is a reinstallation, not what this test is about. It may
        // have finished its work (record written, journal gone) and been
        // ended on its way out.
        const bool complete = kvtest::Exists(w.RecordFile()) && !kvtest::Exists(w.RecordFile() + ".journal");
        if (ended || complete) {
            std::printf("kill: %s ended at %5lu of %lu ms: the install had finished\n", tag.c_str(),
                        static_cast<unsigned long>(at), static_cast<unsigned long>(full));
            ++restored;
            continue;
        }

        rt::CLogTail log;
        kvtest::ProcessResult again = w.Install();
        EXPECT_EQ(0, kvtest::Signed(again.exitCode)) << Describe(again) << "\n" << log.Text();
        const kvtest::SnapshotState installed = w.Capture();
        kvtest::ProcessResult third = w.Install();
        EXPECT_EQ(0, kvtest::Signed(third.exitCode)) << Describe(third);
        EXPECT_EQ("", kvtest::DiffSnapshots(installed, w.Capture(), w.Traces()));
        const std::string command = w.UninstallString();
        ASSERT_FALSE(command.empty());
        kvtest::ProcessResult rem = w.RunCommand(command + " /S /G");
        EXPECT_EQ(0, kvtest::Signed(rem.exitCode)) << Describe(rem);
        // Not even a copy begun when the run was ended stays behind.
        const std::string diff = kvtest::DiffSnapshots(before, w.Capture(), w.Traces());
        EXPECT_EQ("", diff);
        restored += diff.empty() ? 1 : 0;
        std::printf("kill: %s ended at %5lu of %lu ms, run again and removed: %s\n", tag.c_str(),
                    static_cast<unsigned long>(at), static_cast<unsigned long>(full),
                    diff.empty() ? "machine as before" : "differences left");
    }
    std::printf("kill: %s: %d of %d points restored the machine\n", tag.c_str(), restored, points);
}

// The removal ended at points spread over it: run again, it finishes, and
// the machine is as it was before the install.
void EndRemovalAtEveryPoint(const std::string& tag, const Options& opt, int points)
{
    DWORD full = 0;
    {
        CWorld w(tag + "time", opt);
        ASSERT_EQ(0, kvtest::Signed(w.Install().exitCode));
        const DWORD t0 = ::GetTickCount();
        ASSERT_EQ(0, kvtest::Signed(w.RunCommand(w.UninstallString() + " /S /G").exitCode));
        full = ::GetTickCount() - t0;
    }
    for (int k = 1; k <= points; ++k) {
        CWorld w(tag + std::to_string(k), opt);
        const kvtest::SnapshotState before = w.Capture();
        ASSERT_EQ(0, kvtest::Signed(w.Install().exitCode));
        const std::string command = w.UninstallString() + " /S /G";
        const DWORD at = full * static_cast<DWORD>(k) / (points + 1);
        bool ended = false;
        ASSERT_TRUE(EndAfter(command, w.Pkg(), at, ended));
        SCOPED_TRACE("removal ended after " + std::to_string(at) + " ms of " + std::to_string(full));
        if (!ended && kvtest::Exists(w.RecordFile())) {
            rt::CLogTail log;
            kvtest::ProcessResult again = w.RunCommand(command);
            EXPECT_EQ(0, kvtest::Signed(again.exitCode)) << Describe(again) << "\n" << log.Text();
        }
        const std::string diff = kvtest::DiffSnapshots(before, w.Capture(), w.Traces());
        EXPECT_EQ("", diff);
        std::printf("kill: %s removal ended at %5lu of %lu ms%s: %s\n", tag.c_str(), static_cast<unsigned long>(at),
                    static_cast<unsigned long>(full), ended ? " (it had finished)" : "",
                    diff.empty() ? "machine as before" : "differences left");
    }
}

}  // namespace

TEST(RoundTrip, RemovalEndedAtAnyPointCanBeRunAgain)
{
    Options opt;
    opt.bigFilesMB = 12;
    EndRemovalAtEveryPoint("remkill", opt, 6);
}

TEST(RoundTrip, InstallEndedAtAnyPointCanBeRunAgainAndRemoved)
{
    EndAtEveryPoint("kill", Options(), 6);
}

// Ended while it copies large files: inside the backup of an original, or
// inside the copy over it. No product file may come back empty or torn.
TEST(RoundTrip, InstallEndedInsideLargeCopiesCanBeRunAgainAndRemoved)
{
    Options opt;
    opt.bigFilesMB = 12;
    EndAtEveryPoint("bigkill", opt, 8);
}
