// Start-up of the real program: single-instance guard, log file choice,
// banner, Zenta handshake, record-file check.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "TestSupport.h"
#include "app/KorvexApp.h"
#include "app/UICallback.h"
#include "interpreter/Interpreter.h"

namespace {

const char kPrimaryLog[] = "C:\\Korvex.log";

std::string TempLogPath()
{
    char buf[MAX_PATH + 1] = {0};
    DWORD n = ::GetTempPathA(sizeof buf, buf);
    return std::string(buf, n) + "Korvex.log";
}

std::string Banner()
{
    // Written in text mode: each CR LF of the banner turns into CR CR LF, and
    // the line's own newline follows.
    const std::string at(37, '@');
    return "\r\r\n" + at + " Log Start " + at + "\r\r\n\r\n";
}

// A log file as it was before the test, put back afterwards.
class SavedFile {
public:
    explicit SavedFile(const std::string& path) : m_path(path)
    {
        m_existed = kvtest::ReadFileBytes(path, m_bytes);
        Remove();
    }
    ~SavedFile()
    {
        Remove();
        if (m_existed)
            kvtest::WriteFileBytes(m_path, m_bytes);
    }
    void Remove()
    {
        ::SetFileAttributesA(m_path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(m_path.c_str());
    }

private:
    std::string m_path;
    std::string m_bytes;
    bool m_existed = false;
};

// Korvex reads setup.ini beside itself: each test gets a package of its own.
class Startup : public ::testing::Test {
protected:
    Startup() : m_primary(kPrimaryLog), m_temp(TempLogPath()), m_pkg("shpkg") {}

    void SetUp() override
    {
        ASSERT_TRUE(::CopyFileA(kvtest::KorvexExe().c_str(), (m_pkg / "Korvex.exe").c_str(), FALSE));
        // Nothing to do: no patch information, no steps.
        ASSERT_TRUE(kvtest::WriteFileBytes(m_pkg / "setup.ini", "[ProductInstall.Main]\r\nStepCount=0\r\n"));
    }

    kvtest::ProcessResult Run(const std::string& args)
    {
        kvtest::ProcessResult r = kvtest::RunProcess("\"" + (m_pkg / "Korvex.exe") + "\" " + args, m_pkg.Path(), 60000);
        EXPECT_TRUE(r.started);
        EXPECT_FALSE(r.timedOut);
        return r;
    }

    static std::string Primary() { return kvtest::ReadFileOr(kPrimaryLog, "<missing>"); }
    static std::string Temp() { return kvtest::ReadFileOr(TempLogPath(), "<missing>"); }

    SavedFile m_primary;
    SavedFile m_temp;
    kvtest::TempDir m_pkg;
};

// The 21 characters before `at` are a stamp "[yyyy-mm-dd:hh:mm:ss]" that
// begins a line.
bool StampedAt(const std::string& log, size_t at)
{
    if (at == std::string::npos || at < 21)
        return false;
    const char* shape = "[dddd-dd-dd:dd:dd:dd]";
    for (size_t i = 0; i < 21; ++i) {
        char c = log[at - 21 + i];
        if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(c)) : c != shape[i])
            return false;
    }
    return at == 21 || log[at - 22] == '\n';
}

}  // namespace

TEST_F(Startup, BannerStartsTheLogByteForByte)
{
    Run("/S");
    std::string log = Primary();
    ASSERT_GE(log.size(), Banner().size()) << log;
    EXPECT_EQ(log.substr(0, Banner().size()), Banner());
    EXPECT_EQ(Temp(), "<missing>");

    // A second run appends its own banner after the first run's lines.
    Run("/S");
    EXPECT_EQ(kvtest::CountOf(Primary(), Banner()), 2u);
}

TEST_F(Startup, SecondCopyEndsQuietlyUnlessAllowed)
{
    HANDLE mutex = ::CreateMutexA(nullptr, FALSE, "KorvexPreventSecondInstance");
    ASSERT_NE(mutex, nullptr);
    kvtest::ProcessResult r = Run("/S");
    EXPECT_TRUE(r.output.empty()) << r.output;
    EXPECT_EQ(Primary(), "<missing>");
    EXPECT_EQ(Temp(), "<missing>");

    Run("/S /I");
    EXPECT_NE(Primary().find(Banner()), std::string::npos) << Primary();
    ::CloseHandle(mutex);
}

TEST_F(Startup, NoLogSwitchWritesNoFileAnywhere)
{
    // c:\Korvex.log could be written, but is not even probed.
    Run("/S /M");
    Run("/M /S /P");
    kvtest::ProcessResult r = Run("/S /M \"/U:C:\\kvtests\\no such record.ini\"");
    EXPECT_EQ(Primary(), "<missing>");
    EXPECT_EQ(Temp(), "<missing>");
    // Standard output is not the log: the record-file error still shows.
    EXPECT_NE(r.output.find("***Error: Can't open Install record file"), std::string::npos) << r.output;
}

TEST_F(Startup, FallsBackToTheTemporaryFolderWhenTheLogIsReadOnly)
{
    ASSERT_TRUE(kvtest::WriteFileBytes(kPrimaryLog, "read-only\r\n"));
    ASSERT_TRUE(::SetFileAttributesA(kPrimaryLog, FILE_ATTRIBUTE_READONLY));
    Run("/S");
    EXPECT_EQ(Primary(), "read-only\r\n");
    std::string temp = Temp();
    ASSERT_GE(temp.size(), Banner().size()) << temp;
    EXPECT_EQ(temp.substr(0, Banner().size()), Banner());
}

TEST_F(Startup, AppendsToALogHeldOpenForReadingAndWriting)
{
    ASSERT_TRUE(kvtest::WriteFileBytes(kPrimaryLog, "viewer\r\n"));
    HANDLE h = ::CreateFileA(kPrimaryLog, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    Run("/S");
    ::CloseHandle(h);
    EXPECT_EQ(Primary().substr(0, 8 + Banner().size()), "viewer\r\n" + Banner());
    EXPECT_EQ(Temp(), "<missing>");
}

TEST_F(Startup, MissingRecordFileIsReportedOnTheLogAndStandardOutput)
{
    // The quotes go with the argument splitting; a blank stays in the path.
    kvtest::ProcessResult r = Run("/S \"/U:C:\\kvtests\\no such\\rec.ini\"");
    const std::string text = "***Error: Can't open Install record file ('C:\\kvtests\\no such\\rec.ini')";
    EXPECT_EQ(r.output, text);
    // The interpreter is built (and logs) before the record file is checked;
    // the error is a raw line of its own after the banner.
    std::string log = Primary();
    EXPECT_EQ(log.substr(0, Banner().size()), Banner()) << log;
    EXPECT_NE(log.find("\n" + text + "\r\n", Banner().size() - 1), std::string::npos) << log;

    // A folder of that name is good enough to go on.
    std::string folder = m_pkg / "record";
    ASSERT_TRUE(kvtest::CreateTree(folder));
    kvtest::ProcessResult r2 = Run("/S \"/U:" + folder + "\"");
    EXPECT_EQ(r2.output.find("***Error"), std::string::npos) << r2.output;
}

TEST_F(Startup, ZentaRunStopsWhenTheEventIsMissing)
{
    Run("/S /P");
    std::string log = Primary();
    size_t run = log.find("***********Run Korvex from Zenta***********\r\n");
    EXPECT_TRUE(StampedAt(log, run)) << log;
    size_t fail = log.find("Can not Get Event with PatchID=");
    EXPECT_TRUE(StampedAt(log, fail)) << log;
    EXPECT_GT(fail, run);
}

// Without /S the run waits for the user on its first dialog; a record file
// that is missing stops it before any dialog.
TEST_F(Startup, DialogDrivenRunWaitsOnItsFirstDialog)
{
    kvtest::ProcessResult r = kvtest::RunProcess("\"" + (m_pkg / "Korvex.exe") + "\"", m_pkg.Path(), 1500);
    EXPECT_TRUE(r.started);
    EXPECT_TRUE(r.timedOut);
    std::string log = Primary();
    EXPECT_EQ(log.substr(0, Banner().size()), Banner());
    EXPECT_EQ(log.find("@@@ Session name"), std::string::npos) << log;

    const std::string missing = m_pkg / "nowhere.ini";
    r = Run("/U:" + missing);
    EXPECT_NE(Primary().find("***Error: Can't open Install record file ('" + missing + "')"), std::string::npos);
}

TEST_F(Startup, ErrorCodeReachesTheStandardOutputTheParentGaveUs)
{
    // A step that names no section fails the run.
    ASSERT_TRUE(kvtest::WriteFileBytes(m_pkg / "setup.ini", "[ProductInstall.Main]\r\nStepCount=1\r\n"));
    kvtest::ProcessResult r = Run("/S /E");
    std::string log = Primary();
    EXPECT_NE(log.find("GetProcAddress of 'AttachConsole' successful.\r\n"), std::string::npos) << log;
    EXPECT_TRUE(log.find("Got Console Attach successful.\r\n") != std::string::npos ||
                log.find("!Error!Got Console Attach failed.\r\n") != std::string::npos)
        << log;
    const std::string tag = "Return error code in silent mode if the installation failed,code=";
    size_t at = log.find(tag);
    ASSERT_NE(at, std::string::npos) << log;
    std::string code = log.substr(at + tag.size(), log.find('\r', at) - at - tag.size());
    ASSERT_NE(code, "0");
    // Printed in text mode to the pipe we read, not swapped for a console.
    EXPECT_EQ(r.output, code + "\r\n");
}

// The handshake itself, on an application object of the test's own.
TEST(Zenta, EventNamedByPatchIdIsSetAndKeptOpen)
{
    char name[64];
    snprintf(name, sizeof name, "KorvexShellTestEvent-%lu", ::GetCurrentProcessId());
    HANDLE ev = ::CreateEventA(nullptr, TRUE, FALSE, name);
    ASSERT_NE(ev, nullptr);

    CKorvexApp app;
    kvtest::CRecordingCallback* rec = new kvtest::CRecordingCallback;
    app.m_pCallback = rec;
    app.StartupLog("before %d", 1);
    app.m_pInterpreter = new CHFS_Interpreter(rec, "setup.ini");
    app.m_pInterpreter->SetPatchInfo("PatchID", name);
    rec->logLines.clear();

    EXPECT_EQ(app.AnswerZenta(), 0);
    EXPECT_EQ(::WaitForSingleObject(ev, 0), WAIT_OBJECT_0);
    EXPECT_NE(app.m_hZentaEvent, nullptr);
    ASSERT_EQ(rec->logLines.size(), 2u);
    EXPECT_EQ(rec->logLines[0].substr(21), "***********Run Korvex from Zenta***********");
    EXPECT_EQ(rec->logLines[1].substr(21), std::string("Get Event successfully with PatchID=") + name);

    app.m_pInterpreter->SetPatchInfo("PatchID", std::string(name) + "-missing");
    rec->logLines.clear();
    EXPECT_EQ(app.AnswerZenta(), -1);
    ASSERT_EQ(rec->logLines.size(), 2u);
    EXPECT_EQ(rec->logLines[1].substr(21), std::string("Can not Get Event with PatchID=") + name + "-missing");
    ::CloseHandle(ev);
}

TEST(Zenta, StartupLinesAreRawUntilTheInterpreterExists)
{
    CKorvexApp app;
    kvtest::CRecordingCallback* rec = new kvtest::CRecordingCallback;
    app.m_pCallback = rec;
    app.StartupLog("raw %s", "line");
    ASSERT_EQ(rec->logLines.size(), 1u);
    EXPECT_EQ(rec->logLines[0], "raw line");
    // Without an interpreter there is no patch information: no event name.
    EXPECT_EQ(app.AnswerZenta(), -1);
    EXPECT_EQ(rec->logLines.back(), "Can not Get Event with PatchID=");
}
