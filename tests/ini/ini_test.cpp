#include "../symbols/Fixture.h"

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>

namespace {

std::string TempFolder()
{
    char buf[MAX_PATH + 1] = {0};
    ::GetTempPathA(MAX_PATH, buf);
    return buf;
}

std::set<std::string> TempCopies()
{
    std::set<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = ::FindFirstFileA((TempFolder() + "TMP*.tmp").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do
        names.insert(TempFolder() + fd.cFileName);
    while (::FindNextFileA(h, &fd));
    ::FindClose(h);
    return names;
}

// The copies that appeared since before; removed again so runs stay clean.
std::vector<std::string> NewCopies(const std::set<std::string>& before)
{
    std::vector<std::string> added;
    for (const std::string& n : TempCopies())
        if (!before.count(n))
            added.push_back(n);
    return added;
}

}  // namespace

class ReadItemTest : public InterpreterTest {
protected:
    void SetUp() override
    {
        interp->SetGlobalSymbol("WINDIR", "C:\\WINDOWS");
        interp->SetGlobalSymbol("TEMP", "C:\\TEMP\\");
    }
};

TEST_F(ReadItemTest, MissingKeyVersusEmptyValue)
{
    WriteScript("[Sec]\r\nEmpty=\r\nVal=abc\r\n");
    EXPECT_EQ(interp->ReadItem("Empty", "Sec", true), "");
    EXPECT_FALSE(cb.LogContains("Warning"));
    EXPECT_EQ(interp->ReadItem("Nope", "Sec", false), KORVEX_MISSING);
    EXPECT_FALSE(cb.LogContains("Warning"));
    EXPECT_EQ(interp->ReadItem("Nope", "Sec", true), KORVEX_MISSING);
    EXPECT_TRUE(cb.LogContains("*** Warning:  Item 'Nope' not found in Section 'Sec' !")) << cb.LogText();
    EXPECT_EQ(interp->ReadItem("Val", "NoSuchSection", true), KORVEX_MISSING);
    EXPECT_TRUE(cb.LogContains("Item 'Val' not found in Section 'NoSuchSection'"));
    // Section and key names match without regard to case.
    EXPECT_EQ(interp->ReadItem("VAL", "sec", true), "abc");
    // The script file is read silently; only another file is named in the log.
    EXPECT_FALSE(cb.LogContains("Read item from file"));
}

TEST_F(ReadItemTest, QuotesAndExpansion)
{
    WriteScript("[Sec]\r\n"
                "Dq=\"quoted value\"\r\n"
                "Two=\"\"\r\n"
                "Sq='single'\r\n"
                "Path=%WINDIR%\\system32\r\n"
                "QuotedRef=\"%TEMP%\"\r\n"
                "Inner=a\"b\"c\r\n");
    EXPECT_EQ(interp->ReadItem("Dq", "Sec", true), "quoted value");
    EXPECT_EQ(interp->ReadItem("Two", "Sec", true), "");
    EXPECT_EQ(interp->ReadItem("Sq", "Sec", true), "single");
    EXPECT_EQ(interp->ReadItem("Path", "Sec", true), "C:\\WINDOWS\\system32");
    // A key read loses its quotes in the reader, so the value is expanded;
    // the same text in a symbol section keeps them and stays as it is.
    EXPECT_EQ(interp->ReadItem("QuotedRef", "Sec", true), "C:\\TEMP\\");
    EXPECT_EQ(interp->ReadItem("Inner", "Sec", true), "a\"b\"c");
}

TEST_F(ReadItemTest, ValuesAreCutAt4095Characters)
{
    std::string longValue(5000, 'v');
    // The cut comes before expansion: the reference at the edge is broken.
    std::string edge = std::string(4090, 'a') + "%WINDIR%";
    WriteScript("[Sec]\r\nLong=" + longValue + "\r\nEdge=" + edge + "\r\nFits=" + std::string(4087, 'b') +
                "%WINDIR%\r\n");
    EXPECT_EQ(interp->ReadItem("Long", "Sec", true), std::string(4095, 'v'));
    EXPECT_EQ(interp->ReadItem("Edge", "Sec", true), edge.substr(0, 4095));
    EXPECT_EQ(interp->ReadItem("Fits", "Sec", true), std::string(4087, 'b') + "C:\\WINDOWS");
}

TEST_F(ReadItemTest, OtherFileIsNamedInTheLog)
{
    std::string other = dir / "other.ini";
    ASSERT_TRUE(kvtest::WriteFileBytes(other, "[S]\r\nK=%WINDIR%\r\n"));
    EXPECT_EQ(interp->ReadItem("K", "S", true, other), "C:\\WINDOWS");
    EXPECT_TRUE(cb.LogContains("Read item from file '" + other + "'!"));
}

class TraceWindow : public ReadItemTest {};

TEST_F(TraceWindow, NotShownWithoutMainWindow)
{
    WriteScript("[Sec]\r\nK=v\r\n");
    interp->Settings().m_bTrace = 1;
    cb.mainWindow = false;
    // A box here would block the test until it times out.
    EXPECT_EQ(interp->ReadItem("K", "Sec", true), "v");
    EXPECT_EQ(interp->Settings().m_bTrace, 1);
}

namespace {

BOOL CALLBACK CollectText(HWND child, LPARAM param)
{
    char buf[512] = {0};
    ::GetWindowTextA(child, buf, sizeof buf);
    reinterpret_cast<std::vector<std::string>*>(param)->push_back(buf);
    return TRUE;
}

}  // namespace

TEST_F(TraceWindow, CancelTurnsTraceOff)
{
    WriteScript("[Sec]\r\nK=%WINDIR%\r\nMissing2=\r\n");
    interp->Settings().m_bTrace = 1;
    cb.mainWindow = true;

    std::atomic<bool> found{false};
    std::vector<std::string> texts;
    std::thread answer([&] {
        for (int i = 0; i < 200 && !found; ++i) {
            HWND box = ::FindWindowA(nullptr, "Korvex Trace Window - [Sec]");
            if (box) {
                ::EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(&texts));
                found = true;
                ::PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
            } else {
                ::Sleep(50);
            }
        }
    });
    std::string value = interp->ReadItem("K", "Sec", true);
    answer.join();
    EXPECT_EQ(value, "C:\\WINDOWS");
    ASSERT_TRUE(found);
    bool textSeen = false;
    for (const std::string& t : texts)
        textSeen = textSeen || t == "[Sec]\t\t\t\t\t\r\nK=C:\\WINDOWS";
    EXPECT_TRUE(textSeen);
    EXPECT_EQ(interp->Settings().m_bTrace, 0);
    // Off for the rest of the run: the next read shows nothing.
    EXPECT_EQ(interp->ReadItem("K", "Sec", true), "C:\\WINDOWS");
}

class WriteIni : public InterpreterTest {};

TEST_F(WriteIni, WriteReplaceAndDelete)
{
    std::string f = dir / "app.ini";
    EXPECT_EQ(interp->SetINIVariable(f, "Main", "Path", "C:\\x"), 0);
    EXPECT_TRUE(cb.LogContains("Update INI: Write Path='C:\\x':len=4 in section [Main]!"));
    EXPECT_TRUE(cb.LogContains("Update INI: Write Success! "));
    char buf[64] = {0};
    ::GetPrivateProfileStringA("Main", "Path", "", buf, sizeof buf, f.c_str());
    EXPECT_STREQ(buf, "C:\\x");

    EXPECT_EQ(interp->SetINIVariable(f, "Main", "Path", ""), 0);
    EXPECT_TRUE(cb.LogContains("Update INI: Write Path='':len=0 in section [Main]!"));
    ::GetPrivateProfileStringA("Main", "Path", "gone", buf, sizeof buf, f.c_str());
    EXPECT_STREQ(buf, "gone");
}

TEST_F(WriteIni, FailedWriteIsReported)
{
    std::string f = dir / "ro.ini";
    ASSERT_TRUE(kvtest::WriteFileBytes(f, "[Main]\r\nA=1\r\n"));
    ASSERT_TRUE(::SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(interp->SetINIVariable(f, "Main", "A", "2"), -1);
    EXPECT_TRUE(cb.LogContains("Write INI '" + f + "', Value A=2 in section 'Main' Failed! lasterror="))
        << cb.LogText();
    EXPECT_EQ(kvtest::ReadFileOr(f), "[Main]\r\nA=1\r\n");
    ::SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(WriteIni, KeysBeforeTheFirstSection)
{
    std::string f = dir / "file.ini";
    const std::string tail = "[Sec]\r\nk=v\r\n; comment\r\n[Other]\r\nx=y\r\n";
    const std::string original = "a=1\r\nb=2\r\n" + tail;
    ASSERT_TRUE(kvtest::WriteFileBytes(f, original));
    std::set<std::string> before = TempCopies();

    EXPECT_EQ(interp->SetINIVariable(f, "", "b", "new"), 0);
    EXPECT_TRUE(cb.LogContains("Update INI: Write b='new':len=3 in section [Korvex_TempINI]!"));
    EXPECT_EQ(kvtest::ReadFileOr(f), "a=1\r\nb=new\r\n" + tail);
    EXPECT_EQ(kvtest::ReadFileOr(f + ".bak"), original);

    std::vector<std::string> copies = NewCopies(before);
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(kvtest::ReadFileOr(copies[0]), "[Korvex_TempINI]\r\na=1\r\nb=new\r\n" + tail);
    for (const std::string& c : copies)
        ::DeleteFileA(c.c_str());

    // A new key joins the first lines; the older backup is replaced, and so
    // is what a run ended in the middle of a write left beside the file.
    ASSERT_TRUE(kvtest::WriteFileBytes(f + ".new", "a=1\r\n"));
    before = TempCopies();
    EXPECT_EQ(interp->SetINIVariable(f, "", "c", "3"), 0);
    EXPECT_EQ(kvtest::ReadFileOr(f), "a=1\r\nb=new\r\nc=3\r\n" + tail);
    EXPECT_EQ(kvtest::ReadFileOr(f + ".bak"), "a=1\r\nb=new\r\n" + tail);
    EXPECT_FALSE(kvtest::Exists(f + ".new"));
    for (const std::string& c : NewCopies(before))
        ::DeleteFileA(c.c_str());
}

TEST_F(WriteIni, HeaderBytesLaterInTheFileAreKept)
{
    // Exactly at the second 4096-byte chunk of the copy the file holds the
    // copy's own header line: it belongs to the file and must stay.
    std::string f = dir / "edge.ini";
    std::string header = "[Korvex_TempINI]\r\n";
    std::string first = "a=1\r\n";
    std::string filler = "; " + std::string(4096 - header.size() - first.size() - 4, 'f') + "\r\n";
    std::string original = first + filler + header + "z=9\r\n";
    ASSERT_EQ(header.size() + first.size() + filler.size(), 4096u);
    ASSERT_TRUE(kvtest::WriteFileBytes(f, original));
    std::set<std::string> before = TempCopies();
    std::string tempPath;
    ASSERT_EQ(interp->CreateTempINI(f, tempPath), 0);
    EXPECT_EQ(interp->ApplyTempINI(tempPath, f), 0);
    EXPECT_EQ(kvtest::ReadFileOr(f), original);
    for (const std::string& c : NewCopies(before))
        ::DeleteFileA(c.c_str());
}

TEST_F(WriteIni, TemporaryFolderNearThePathLimitGivesNoCopy)
{
    // A temporary folder too long for a temporary name is refused before
    // the name is asked for, and nothing is read past its buffer.
    std::string f = dir / "short.ini";
    ASSERT_TRUE(kvtest::WriteFileBytes(f, "[S]\r\nk=1\r\n"));
    // As long as a folder may be: the name would need 14 more characters.
    const size_t longest = MAX_PATH - 12;
    std::string deep = dir.Path();
    while (deep.size() + 2 <= longest)
        deep += "\\" + std::string(std::min<size_t>(40, longest - deep.size() - 1), 'd');
    ASSERT_TRUE(kvtest::CreateTree(deep));
    char saved[1024] = {0};
    DWORD had = ::GetEnvironmentVariableA("TMP", saved, sizeof saved);
    ::SetEnvironmentVariableA("TMP", deep.c_str());
    std::string tempPath;
    int r = interp->CreateTempINI(f, tempPath);
    ::SetEnvironmentVariableA("TMP", had ? saved : nullptr);
    EXPECT_EQ(-2, r);
    EXPECT_TRUE(tempPath.empty());
}

TEST_F(WriteIni, NoCopyMeansNoWriteAnywhere)
{
    // The file does not exist, so no temporary copy can be made: nothing
    // is written, not to the script and not to a file of an empty name.
    WriteScript("[Korvex_TempINI]\r\nK=from-script\r\n");
    std::string script = kvtest::ReadFileOr(interp->m_strScriptFile);
    std::string missing = dir / "missing.ini";
    std::set<std::string> before = TempCopies();
    EXPECT_EQ(interp->SetINIVariable(missing, "", "K", "v"), -1);
    EXPECT_FALSE(kvtest::Exists(missing));
    EXPECT_FALSE(kvtest::Exists(missing + ".bak"));
    EXPECT_EQ(kvtest::ReadFileOr(interp->m_strScriptFile), script);
    EXPECT_TRUE(cb.LogContains("Write INI '" + missing + "', Value K=v in section 'Korvex_TempINI' Failed!"));

    EXPECT_EQ(interp->ReadINIValue(missing, "", "K"), KORVEX_MISSING);
    EXPECT_TRUE(NewCopies(before).empty());
}

TEST_F(WriteIni, CopyBackFailures)
{
    std::string f = dir / "t.ini";
    ASSERT_TRUE(kvtest::WriteFileBytes(f, "a=1\r\n"));
    EXPECT_EQ(interp->ApplyTempINI(dir / "no-such-copy.tmp", f), -1);
    EXPECT_EQ(kvtest::ReadFileOr(f), "a=1\r\n");
    EXPECT_FALSE(kvtest::Exists(f + ".bak"));

    // A target held open cannot be copied to its backup, so it is neither
    // written nor replaced: the old content stays where it was.
    std::string copy = dir / "copy.tmp";
    ASSERT_TRUE(kvtest::WriteFileBytes(copy, "[Korvex_TempINI]\r\na=2\r\n"));
    HANDLE h = ::CreateFileA(f.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    int r = interp->ApplyTempINI(copy, f);
    ::CloseHandle(h);
    EXPECT_EQ(r, -1);
    EXPECT_EQ(kvtest::ReadFileOr(f), "a=1\r\n");
    EXPECT_FALSE(kvtest::Exists(f + ".bak"));
}

TEST_F(WriteIni, BackupThatCannotBeReplacedMeansNoWrite)
{
    // The old backup cannot be removed, so the target cannot be copied to
    // it: the target must stay as it is, with no write and no stale backup
    // put in its place.
    std::string f = dir / "stale.ini";
    const std::string original = "a=1\r\n[S]\r\nk=v\r\n";
    for (int held = 0; held < 2; ++held) {
        SCOPED_TRACE(held ? "backup in use" : "backup is a folder");
        ASSERT_TRUE(kvtest::WriteFileBytes(f, original));
        HANDLE h = INVALID_HANDLE_VALUE;
        if (held) {
            ASSERT_TRUE(kvtest::WriteFileBytes(f + ".bak", "stale\r\n"));
            h = ::CreateFileA((f + ".bak").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(h, INVALID_HANDLE_VALUE);
        } else {
            ASSERT_TRUE(kvtest::CreateTree(f + ".bak"));
        }
        std::set<std::string> before = TempCopies();
        cb.logLines.clear();
        EXPECT_EQ(interp->SetINIVariable(f, "", "a", "2"), -2);
        if (h != INVALID_HANDLE_VALUE)
            ::CloseHandle(h);
        EXPECT_EQ(kvtest::ReadFileOr(f), original);
        EXPECT_TRUE(cb.LogContains("CHFS_Interpreter::ApplyTempINI(): CopyFile '" + f + "' to '" + f +
                                   ".bak' Failed!"))
            << cb.LogText();
        EXPECT_TRUE(cb.LogContains("iRet = -1"));
        if (held) {
            EXPECT_EQ(kvtest::ReadFileOr(f + ".bak"), "stale\r\n");
        }
        for (const std::string& c : NewCopies(before))
            ::DeleteFileA(c.c_str());
        kvtest::RemoveTree(f + ".bak");
    }
}

class ReadIni : public InterpreterTest {};

TEST_F(ReadIni, ReadsExpandedValues)
{
    interp->SetGlobalSymbol("WINDIR", "C:\\WINDOWS");
    std::string f = dir / "app.ini";
    ASSERT_TRUE(kvtest::WriteFileBytes(f, "top=%WINDIR%\\top\r\n[Main]\r\nPath=%WINDIR%\\x\r\nEmpty=\r\n"));
    std::set<std::string> before = TempCopies();

    EXPECT_EQ(interp->ReadINIValue(f, "Main", "Path"), "C:\\WINDOWS\\x");
    EXPECT_TRUE(cb.LogContains("Reading INI: Read Path='C:\\WINDOWS\\x':len=12 in section [Main]!"));
    EXPECT_TRUE(cb.LogContains("Read item from file '" + f + "'!"));
    EXPECT_EQ(interp->ReadINIValue(f, "Main", "Empty"), "");
    EXPECT_EQ(interp->ReadINIValue(f, "Main", "Nope"), KORVEX_MISSING);
    EXPECT_FALSE(cb.LogContains("Warning"));

    EXPECT_EQ(interp->ReadINIValue(f, "", "top"), "C:\\WINDOWS\\top");
    EXPECT_TRUE(cb.LogContains("Reading INI: Read top='C:\\WINDOWS\\top':len=14 in section [Korvex_TempINI]!"));
    // The copy made for the read is gone again; the file is untouched.
    EXPECT_TRUE(NewCopies(before).empty());
    EXPECT_FALSE(kvtest::Exists(f + ".bak"));
}
