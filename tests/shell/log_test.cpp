// The log-line writer and the interpreter's Log, ShowDetail and WriteLog.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "TestSupport.h"
#include "app/KorvexApp.h"
#include "app/UICallback.h"
#include "interpreter/Interpreter.h"

namespace {

std::string ReadAll(const std::string& path) { return kvtest::ReadFileOr(path, "<missing>"); }

// "[2024-03-07:09:05:03]": every field zero-padded, nothing else.
bool IsStamp(const std::string& s)
{
    const char* shape = "[dddd-dd-dd:dd:dd:dd]";
    if (s.size() != 21)
        return false;
    for (size_t i = 0; i < s.size(); ++i) {
        if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(s[i])) : s[i] != shape[i])
            return false;
    }
    return true;
}

std::string StampNow()
{
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    char b[64];
    snprintf(b, sizeof b, "[%d-%02d-%02d:%02d:%02d:%02d]", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
             t.wSecond);
    return b;
}

// Remembers the rollback flag too, which the shared recorder drops.
class CDetailRecorder : public kvtest::CRecordingCallback {
public:
    int AppendDetail(const std::string& text, int rollback) override
    {
        flags.push_back(rollback);
        return CRecordingCallback::AppendDetail(text, rollback);
    }
    std::vector<int> flags;
};

class NoLogSwitch {
public:
    NoLogSwitch() : m_old(GetKorvexApp()->m_bNoLog) { GetKorvexApp()->m_bNoLog = 1; }
    ~NoLogSwitch() { GetKorvexApp()->m_bNoLog = m_old; }

private:
    int m_old;
};

}  // namespace

TEST(LogLine, AppendsInTextModeAndKeepsWhatWasThere)
{
    kvtest::TempDir dir("shlog");
    std::string f = dir / "k.log";
    EXPECT_EQ(KorvexWriteLogLine(f, "first"), 0);
    EXPECT_EQ(ReadAll(f), "first\r\n");

    ASSERT_TRUE(kvtest::WriteFileBytes(f, "old bytes\r\n"));
    EXPECT_EQ(KorvexWriteLogLine(f, "a\nb"), 0);
    EXPECT_EQ(KorvexWriteLogLine(f, ""), 0);
    // A CR already in the text stays; the LF after it gains its own CR.
    EXPECT_EQ(KorvexWriteLogLine(f, "x\r\n"), 0);
    EXPECT_EQ(ReadAll(f), "old bytes\r\na\r\nb\r\n\r\nx\r\r\n\r\n");
}

TEST(LogLine, MinusOneWhenTheFileCannotBeOpened)
{
    kvtest::TempDir dir("shlog");
    EXPECT_EQ(KorvexWriteLogLine(dir / "no such folder\\k.log", "x"), -1);
    EXPECT_FALSE(kvtest::Exists(dir / "no such folder"));

    // Held by someone who shares reading only: the line is refused, the
    // content is left alone.
    std::string f = dir / "held.log";
    ASSERT_TRUE(kvtest::WriteFileBytes(f, "kept\r\n"));
    HANDLE h = ::CreateFileA(f.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(KorvexWriteLogLine(f, "lost"), -1);
    ::CloseHandle(h);
    EXPECT_EQ(ReadAll(f), "kept\r\n");
}

TEST(LogLine, HeldLogWritesEachLineAsItComesAndIsLetGoWhenReleased)
{
    kvtest::TempDir dir("shlog");
    std::string f = dir / "held.log";
    CSilentCallback cb(f);
    cb.HoldLog(true);
    cb.HoldLog(true);
    EXPECT_EQ(cb.WriteLog("a"), 0);
    EXPECT_EQ(ReadAll(f), "a\r\n");
    // Another writer's line lands where it is written, between ours.
    EXPECT_EQ(KorvexWriteLogLine(f, "other"), 0);
    EXPECT_EQ(cb.WriteLog("b\nc"), 0);
    EXPECT_EQ(ReadAll(f), "a\r\nother\r\nb\r\nc\r\n");
    // Held until the last hold ends; then it can be removed, and the next
    // line makes it anew.
    cb.HoldLog(false);
    EXPECT_FALSE(::DeleteFileA(f.c_str()));
    cb.HoldLog(false);
    EXPECT_TRUE(::DeleteFileA(f.c_str()));
    EXPECT_EQ(cb.WriteLog("d"), 0);
    EXPECT_EQ(ReadAll(f), "d\r\n");
    cb.HoldLog(false);  // one too many changes nothing
    {
        NoLogSwitch quiet;
        cb.HoldLog(true);
        EXPECT_EQ(cb.WriteLog("quiet"), 0);
        cb.HoldLog(false);
    }
    EXPECT_EQ(ReadAll(f), "d\r\n");
}

TEST(LogLine, NoLogSwitchWritesNothingAndSucceeds)
{
    kvtest::TempDir dir("shlog");
    std::string f = dir / "quiet.log";
    {
        NoLogSwitch quiet;
        EXPECT_EQ(KorvexWriteLogLine(f, "x"), 0);
        CSilentCallback silent(f);
        EXPECT_EQ(silent.WriteLog("y"), 0);
        // Even a path that could never be opened counts as written.
        EXPECT_EQ(KorvexWriteLogLine(dir / "missing\\q.log", "z"), 0);
    }
    EXPECT_FALSE(kvtest::Exists(f));
}

TEST(InterpreterLog, StampThenMessageWithoutBlank)
{
    kvtest::CRecordingCallback rec;
    CHFS_Interpreter interp(&rec, "setup.ini");
    rec.logLines.clear();

    std::string before = StampNow();
    interp.Log("value=%d name='%s'", 42, "x");
    std::string after = StampNow();
    ASSERT_EQ(rec.logLines.size(), 1u);
    const std::string& line = rec.logLines[0];
    ASSERT_GE(line.size(), 21u);
    std::string stamp = line.substr(0, 21);
    EXPECT_TRUE(IsStamp(stamp)) << line;
    // Fixed-width fields compare like the times they stand for.
    EXPECT_LE(before, stamp);
    EXPECT_GE(after, stamp);
    EXPECT_EQ(line.substr(21), "value=42 name='x'");

    // A message of its own ending in "\n" keeps it: the file shows an empty
    // line after it.
    interp.Log("Return code in silent mode,installation success,code=%d\n", 0);
    EXPECT_EQ(rec.logLines[1].substr(21), "Return code in silent mode,installation success,code=0\n");
}

TEST(InterpreterLog, MessagesLongerThanTheBufferArriveWhole)
{
    kvtest::CRecordingCallback rec;
    CHFS_Interpreter interp(&rec, "setup.ini");
    rec.logLines.clear();
    rec.details.clear();

    // Around the 2048 limit (stamp included) and far beyond it.
    for (size_t len : {2026u, 2027u, 2028u, 5000u, 70000u}) {
        std::string text(len, 'q');
        text.back() = 'E';
        interp.Log("%s", text.c_str());
        ASSERT_FALSE(rec.logLines.empty());
        EXPECT_EQ(rec.logLines.back().size(), 21 + len) << len;
        EXPECT_EQ(rec.logLines.back().back(), 'E') << len;

        interp.ShowDetail("[%s]", text.c_str());
        ASSERT_FALSE(rec.details.empty());
        EXPECT_EQ(rec.details.back(), "[" + text + "]\r\n") << len;
    }
}

TEST(InterpreterLog, ScriptTextWithPercentSignsIsCarriedAsIs)
{
    kvtest::CRecordingCallback rec;
    CHFS_Interpreter interp(&rec, "setup.ini");
    rec.logLines.clear();
    interp.Log("%s", "%s%n%d %%TEMP%%");
    ASSERT_EQ(rec.logLines.size(), 1u);
    EXPECT_EQ(rec.logLines[0].substr(21), "%s%n%d %%TEMP%%");
}

TEST(InterpreterLog, ShowDetailGoesToTheDetailPaneOnlyAndWriteLogIsRaw)
{
    CDetailRecorder rec;
    CHFS_Interpreter interp(&rec, "setup.ini");
    rec.logLines.clear();
    rec.details.clear();
    rec.flags.clear();

    interp.ShowDetail("Step %d of %d", 2, 5);
    ASSERT_EQ(rec.details.size(), 1u);
    EXPECT_EQ(rec.details[0], "Step 2 of 5\r\n");
    EXPECT_EQ(rec.flags[0], 0);
    EXPECT_TRUE(rec.logLines.empty());

    interp.WriteLog("Disable WOW64 Redirection!");
    ASSERT_EQ(rec.logLines.size(), 1u);
    EXPECT_EQ(rec.logLines[0], "Disable WOW64 Redirection!");
}

TEST(InterpreterLog, StampedLinesReachTheFileThroughTheSilentCallback)
{
    kvtest::TempDir dir("shlog");
    std::string f = dir / "k.log";
    CSilentCallback cb(f);
    CHFS_Interpreter interp(&cb, "setup.ini");
    kvtest::RemoveTree(f);
    interp.Log("line %s", "one");
    interp.ShowDetail("never in a silent run");
    std::string text = ReadAll(f);
    ASSERT_EQ(text.size(), 21u + 8u + 2u) << text;
    EXPECT_TRUE(IsStamp(text.substr(0, 21))) << text;
    EXPECT_EQ(text.substr(21), "line one\r\n");
}
