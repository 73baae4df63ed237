// Variable references into the registry, INI files, version resources and
// service state.
#include <gtest/gtest.h>

#include <memory>

#include "../services/TestServices.h"
#include "Snapshot.h"
#include "TestSupport.h"
#include "interpreter/Interpreter.h"

namespace {

const char kKey[] = "SOFTWARE\\KorvexVarRefsTest";
const char kInitTag[] = "CHFS_Interpreter::InitVariables()";

bool SetValue(HKEY root, REGSAM view, const char* name, DWORD type, const void* data, DWORD size)
{
    return kvtest::RegWriteValue(root, kKey, name, type, data, size, view);
}

bool SetString(HKEY root, REGSAM view, const char* name, const std::string& text, DWORD type = REG_SZ)
{
    return SetValue(root, view, name, type, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

void DeleteTestKey(HKEY root, REGSAM view) { kvtest::RegDeleteTree(root, kKey, view); }

class VarRefTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        interp.reset(new CHFS_Interpreter(&cb, "setup.ini"));
        interp->m_strScriptFile = dir / "setup.ini";
        cb.logLines.clear();  // the interpreter's own start-up lines
    }
    void TearDown() override { interp.reset(); }
    bool Logged(const std::string& s) const { return cb.LogContains(s); }
    // Raw lines reach the callback as they are; Log lines carry a stamp in front.
    bool RawLine(const std::string& s) const
    {
        for (const std::string& l : cb.logLines)
            if (l == s)
                return true;
        return false;
    }
    bool StampedLine(const std::string& s) const
    {
        for (const std::string& l : cb.logLines)
            if (l.size() > s.size() && l.compare(l.size() - s.size(), s.size(), s) == 0 && l[0] == '[')
                return true;
        return false;
    }

    kvtest::TempDir dir{"varrefs"};
    kvtest::CRecordingCallback cb;
    std::unique_ptr<CHFS_Interpreter> interp;
};

class RegRefTest : public VarRefTest {
protected:
    void SetUp() override
    {
        VarRefTest::SetUp();
        DeleteTestKey(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY);
        DeleteTestKey(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY);
        DeleteTestKey(HKEY_CURRENT_USER, KEY_WOW64_64KEY);
        const REGSAM v64 = KEY_WOW64_64KEY, v32 = KEY_WOW64_32KEY;
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, v64, "", "the default"));
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, v64, "Name", "hello, world"));
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, v64, "View", "sixty-four"));
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, v32, "View", "thirty-two"));
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, v32, "", "default 32"));
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, v64, "Expand", "%SystemRoot%\\kv", REG_EXPAND_SZ));
        ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, v64, "Multi", REG_MULTI_SZ, "first\0second\0", 14));
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, v64, "Marker", "(empty)"));
        DWORD all = 0xFFFFFFFFu, half = 0x80000000u, small = 7;
        ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, v64, "All", REG_DWORD, &all, 4));
        ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, v64, "Half", REG_DWORD, &half, 4));
        ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, v64, "Small", REG_DWORD, &small, 4));
        unsigned long long q = 0x1122334455667788ull;
        ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, v64, "Quad", REG_QWORD, &q, 8));
        const unsigned char two[2] = {0x34, 0x12};
        ASSERT_TRUE(SetValue(HKEY_LOCAL_MACHINE, v64, "Two", REG_BINARY, two, 2));
        // HKCU\\Software is shared by both views.
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, KEY_WOW64_64KEY, "User", "mine"));
    }
    void TearDown() override
    {
        DeleteTestKey(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY);
        DeleteTestKey(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY);
        DeleteTestKey(HKEY_CURRENT_USER, KEY_WOW64_64KEY);
        VarRefTest::TearDown();
    }
    std::string Reg(const std::string& value) { return interp->GetRegVariable(value, kInitTag); }
    static bool Is64() { return sizeof(void*) == 8; }
};

}  // namespace

TEST_F(RegRefTest, ValuesAndTheDefaultValue)
{
    // Without the flag the program's own view is read: a 32-bit installer
    // on 64-bit Windows sees the 32-bit key.
    EXPECT_EQ(Is64() ? "the default" : "default 32", Reg("[Reg:REG_SZ,HKLM,SOFTWARE\\KorvexVarRefsTest]"));
    // Commas belong to the last field only through the flag; a value text
    // with commas comes back whole.
    EXPECT_EQ("hello, world", Reg("[Reg:REG_SZ,HKLM,SOFTWARE\\KorvexVarRefsTest,Name,x64]"));
    EXPECT_EQ("mine", Reg("[Reg:REG_SZ,HKCU,SOFTWARE\\KorvexVarRefsTest,User]"));
    // Text before the bracket: still found from the first "Reg:".
    EXPECT_EQ("mine", Reg("abc[Reg:REG_SZ,HKCU,SOFTWARE\\KorvexVarRefsTest,User]"));
    // Roots are matched without regard to case, types are not.
    EXPECT_EQ("mine", Reg("[Reg:REG_SZ,hkcu,SOFTWARE\\KorvexVarRefsTest,User]"));
    EXPECT_EQ("", Reg("[Reg:reg_sz,HKCU,SOFTWARE\\KorvexVarRefsTest,User]"));
    EXPECT_TRUE(RawLine("Syntax error , Incorrect registry description!"));
    EXPECT_TRUE(StampedLine("*** Syntax error: Incorrect registry data type 'Reg:reg_sz,HKCU,SOFTWARE\\KorvexVarRefsTest,User'!"));
}

TEST_F(RegRefTest, LogLinesNameTheWholeCallChain)
{
    EXPECT_EQ("mine", Reg("[Reg:REG_SZ,HKCU,SOFTWARE\\KorvexVarRefsTest,User]"));
    EXPECT_TRUE(RawLine("CHFS_Interpreter::InitVariables() => CHFS_Interpreter::GetRegVariable() => "
                        "CHFS_Interpreter::GetRegValue(): RegOpenKeyEx key='SOFTWARE\\KorvexVarRefsTest' Successful."))
        << cb.LogText();
    EXPECT_TRUE(RawLine("CHFS_Interpreter::InitVariables() => CHFS_Interpreter::GetRegVariable() => "
                        "CHFS_Interpreter::GetRegValue() => CHFS_Interpreter::GetRegValue(): RegQueryValueEx "
                        "Successful for name='User', type=1, value='mine'"))
        << cb.LogText();

    cb.logLines.clear();
    EXPECT_EQ("", Reg("[Reg:REG_SZ,HKCU,SOFTWARE\\KorvexNoSuchKey,User]"));
    EXPECT_TRUE(Logged("CHFS_Interpreter::InitVariables() => CHFS_Interpreter::GetRegVariable() => "
                       "CHFS_Interpreter::GetRegValue(): RegOpenKeyEx key='SOFTWARE\\KorvexNoSuchKey' Failed! "
                       "ret=2,lasterror="))
        << cb.LogText();

    cb.logLines.clear();
    EXPECT_EQ("", Reg("[Reg:REG_SZ,HKCU,SOFTWARE\\KorvexVarRefsTest,Nope]"));
    EXPECT_TRUE(Logged("CHFS_Interpreter::GetRegValue(): RegQueryValueEx Item ='Nope' Failed! ret=2,lasterror="))
        << cb.LogText();

    cb.logLines.clear();
    EXPECT_EQ("(empty)", interp->QueryRegValue(nullptr, REG_SZ, "User", "T"));
    EXPECT_TRUE(Logged("T => CHFS_Interpreter::GetRegValue(): invalid registry key argument, lasterror="));
}

TEST_F(RegRefTest, MalformedDescriptions)
{
    struct Case {
        const char* description;
        int result;
        const char* logged;
    } cases[] = {
        {"Reg:REG_SZ,HKLM,SOFTWARE\\KorvexVarRefsTest,", -1,
         "*** Syntax error: Incorrect registry description 'Reg:REG_SZ,HKLM,SOFTWARE\\KorvexVarRefsTest,'!"},
        {"Reg:REG_SZ,HKLM,SOFTWARE\\KorvexVarRefsTest,Name,", -1, "Incorrect registry description"},
        {"Reg:REG_SZ,HKLM", -1, "Incorrect registry description"},
        {"Reg:REG_SZ", -1, "Incorrect registry description"},
        {"REG_SZ,HKLM,SOFTWARE", -1, "Incorrect registry description"},
        {"Reg:REG_DWORDX,HKLM,SOFTWARE", -2, "Incorrect registry data type 'Reg:REG_DWORDX,HKLM,SOFTWARE'!"},
        {"Reg: REG_SZ,HKLM,SOFTWARE", -2, "Incorrect registry data type"},
        {"Reg:REG_SZ,HKCR,SOFTWARE", -3, "*** Syntax error: Incorrect registry root_type 'HKCR'!"},
        {"Reg:REG_SZ, HKLM,SOFTWARE", -3, "Incorrect registry root_type ' HKLM'!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        cb.logLines.clear();
        DWORD type = 0;
        HKEY root = nullptr;
        std::string key, name;
        int flag = 0;
        EXPECT_EQ(c.result, interp->SpliteRegParameter(c.description, type, root, key, name, flag));
        EXPECT_TRUE(Logged(c.logged)) << cb.LogText();
    }
}

TEST_F(RegRefTest, SplitFieldsAndTheViewFlag)
{
    DWORD type = 0;
    HKEY root = nullptr;
    std::string key = "x", name = "x";
    int flag = 0;
    ASSERT_EQ(0, interp->SpliteRegParameter("Reg:REG_DWORD,HKEY_USERS,", type, root, key, name, flag));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(HKEY_USERS, root);
    EXPECT_EQ("", key);
    EXPECT_EQ("", name);
    EXPECT_EQ(0, flag);

    ASSERT_EQ(0, interp->SpliteRegParameter("Reg:REG_SZ,hkey_current_config,A\\B,,x64", type, root, key, name, flag));
    EXPECT_EQ(HKEY_CURRENT_CONFIG, root);
    EXPECT_EQ("A\\B", key);
    EXPECT_EQ("", name);
    EXPECT_EQ(1, flag);

    // The flag is the rest, commas and all; only the exact "x64" sets it.
    flag = 0;
    ASSERT_EQ(0, interp->SpliteRegParameter("Reg:REG_SZ,HKLM,K,N,x64,more", type, root, key, name, flag));
    EXPECT_EQ("N", name);
    EXPECT_EQ(0, flag);
    ASSERT_EQ(0, interp->SpliteRegParameter("Reg:REG_SZ,HKLM,K,N,X64", type, root, key, name, flag));
    EXPECT_EQ(0, flag);
}

TEST_F(RegRefTest, SixtyFourBitViewFlag)
{
    EXPECT_EQ("sixty-four", Reg("[Reg:REG_SZ,HKLM,SOFTWARE\\KorvexVarRefsTest,View,x64]"));
    // Any other flag is accepted and reads the program's own view.
    EXPECT_EQ(Is64() ? "sixty-four" : "thirty-two", Reg("[Reg:REG_SZ,HKLM,SOFTWARE\\KorvexVarRefsTest,View,X64]"));
    EXPECT_EQ(Is64() ? "sixty-four" : "thirty-two", Reg("[Reg:REG_SZ,HKLM,SOFTWARE\\KorvexVarRefsTest,View]"));
    // The default value of the 64-bit view: an empty name before the flag.
    EXPECT_EQ("the default", Reg("[Reg:REG_SZ,HKLM,SOFTWARE\\KorvexVarRefsTest,,x64]"));
}

TEST_F(RegRefTest, NumbersAndRawText)
{
    EXPECT_EQ("-1", Reg("[Reg:REG_DWORD,HKLM,SOFTWARE\\KorvexVarRefsTest,All,x64]"));
    EXPECT_EQ("-2147483648", Reg("[Reg:REG_DWORD,HKLM,SOFTWARE\\KorvexVarRefsTest,Half,x64]"));
    EXPECT_EQ("7", Reg("[Reg:REG_DWORD,HKLM,SOFTWARE\\KorvexVarRefsTest,Small,x64]"));
    EXPECT_TRUE(Logged("RegQueryValueEx Successful for name='Small', type=4, value='7'"));
    // Shorter data fills the low bytes of the integer.
    EXPECT_EQ("4660", Reg("[Reg:REG_DWORD,HKLM,SOFTWARE\\KorvexVarRefsTest,Two,x64]"));
    // Eight bytes do not fit the integer: a failed read, not a cut number.
    cb.logLines.clear();
    EXPECT_EQ("", Reg("[Reg:REG_DWORD,HKLM,SOFTWARE\\KorvexVarRefsTest,Quad,x64]"));
    EXPECT_TRUE(Logged("RegQueryValueEx Item ='Quad' Failed! ret=234,lasterror=")) << cb.LogText();

    // Text types are read raw, unexpanded, up to the first NUL; a DWORD read
    // as text gives its bytes up to the first NUL too.
    EXPECT_EQ("%SystemRoot%\\kv", Reg("[Reg:REG_SZ,HKLM,SOFTWARE\\KorvexVarRefsTest,Expand,x64]"));
    EXPECT_TRUE(Logged("RegQueryValueEx Successful for name='Expand', type=2, value='%SystemRoot%\\kv'"));
    EXPECT_EQ("first", Reg("[Reg:REG_SZ,HKLM,SOFTWARE\\KorvexVarRefsTest,Multi,x64]"));
    EXPECT_EQ("\x07", Reg("[Reg:REG_SZ,HKLM,SOFTWARE\\KorvexVarRefsTest,Small,x64]"));
    // A stored "(empty)" is the missing-value marker and resolves to nothing.
    EXPECT_EQ("", Reg("[Reg:REG_SZ,HKLM,SOFTWARE\\KorvexVarRefsTest,Marker,x64]"));
    EXPECT_EQ("(empty)", interp->GetRegValue(REG_SZ, HKEY_LOCAL_MACHINE, kKey, "Marker", 1, "T"));
}

TEST_F(RegRefTest, LongTextIsCutAtTheBufferNotBeyond)
{
    std::string longText(5000, 'k');
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, KEY_WOW64_64KEY, "Long", longText));
    // Too long for the 4096-byte buffer: the read fails cleanly.
    EXPECT_EQ("", Reg("[Reg:REG_SZ,HKCU,SOFTWARE\\KorvexVarRefsTest,Long]"));
    std::string fits(4095, 'f');
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, KEY_WOW64_64KEY, "Fits", fits));
    EXPECT_EQ(fits, Reg("[Reg:REG_SZ,HKCU,SOFTWARE\\KorvexVarRefsTest,Fits]"));
}

TEST_F(RegRefTest, NotAReference)
{
    EXPECT_EQ("", Reg("plain text"));
    EXPECT_EQ("", Reg("[Reg:REG_SZ,HKCU,SOFTWARE\\KorvexVarRefsTest,User"));
    EXPECT_EQ("", Reg("]"));
    EXPECT_TRUE(cb.logLines.empty());
}

// ------------------------------------------------------------------ INI

class IniRefTest : public VarRefTest {
protected:
    void SetUp() override
    {
        VarRefTest::SetUp();
        ini = dir / "app.ini";
        ASSERT_TRUE(kvtest::WriteFileBytes(ini, "Top=above the sections\r\n"
                                                "[Main]\r\n"
                                                "Path=C:\\app\r\n"
                                                "Empty=\r\n"
                                                "a,b=comma key\r\n"
                                                "Pct=%WINDIR%\r\n"));
    }
    std::string Ini(const std::string& value) { return interp->GetINIVariable(value); }
    bool TempCopiesWork()
    {
        std::string copy;
        if (interp->CreateTempINI(ini, copy) != 0 || copy.empty())
            return false;
        ::DeleteFileA(copy.c_str());
        return true;
    }
    std::string ini;
};

TEST_F(IniRefTest, KeysOfASection)
{
    EXPECT_EQ("C:\\app", Ini("[INI:" + ini + ",Main,Path]"));
    EXPECT_EQ("comma key", Ini("[INI:" + ini + ",main,a,b]"));
    // The text read is not expanded again.
    EXPECT_EQ("%WINDIR%", Ini("[INI:" + ini + ",Main,Pct]"));
    EXPECT_TRUE(cb.logLines.empty()) << cb.LogText();
}

TEST_F(IniRefTest, MissingAndEmptyValues)
{
    EXPECT_EQ("", Ini("[INI:" + ini + ",Main,Empty]"));
    EXPECT_TRUE(Logged("INI Query Value 'INI:" + ini + ",Main,Empty' Failed! ret=0 , lasterror=")) << cb.LogText();
    EXPECT_FALSE(Logged("not found"));

    cb.logLines.clear();
    EXPECT_EQ("", Ini("[INI:" + ini + ",Main,Nope]"));
    EXPECT_TRUE(Logged("*** Warning:  Item 'Nope' not found in Section 'Main' ! (file:" + ini + ") lasterror="))
        << cb.LogText();
    EXPECT_TRUE(Logged("INI Query Value 'INI:" + ini + ",Main,Nope' Failed! ret=-1 , lasterror="));
}

TEST_F(IniRefTest, Malformed)
{
    const std::string bad[] = {"[INI:" + ini + ",Main,]", "[INI:" + ini + ",Main]", "[INI:" + ini + "]",
                               "[INI:,Main,Path]"};
    for (const std::string& v : bad) {
        SCOPED_TRACE(v);
        cb.logLines.clear();
        EXPECT_EQ("", Ini(v));
        EXPECT_TRUE(RawLine("Syntax error , Incorrect INI description!")) << cb.LogText();
        EXPECT_TRUE(StampedLine("*** Syntax error: Incorrect INI description '" + v.substr(1, v.size() - 2) + "'!"))
            << cb.LogText();
    }
    EXPECT_EQ("", Ini("no reference here"));
    EXPECT_EQ("", Ini("[INI:" + ini + ",Main,Path"));
}

TEST_F(IniRefTest, EmptySectionReadsAboveTheFirstHeader)
{
    if (!TempCopiesWork())
        GTEST_SKIP() << "the INI engine's temporary copy is not available in this build";
    char tempDir[MAX_PATH] = {0};
    ::GetTempPathA(MAX_PATH, tempDir);
    auto countCopies = [&]() {
        size_t n = 0;
        WIN32_FIND_DATAA fd;
        HANDLE h = ::FindFirstFileA((std::string(tempDir) + "TMP*.tmp").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do
                ++n;
            while (::FindNextFileA(h, &fd));
            ::FindClose(h);
        }
        return n;
    };
    size_t copies = countCopies();
    EXPECT_EQ("above the sections", Ini("[INI:" + ini + ",,Top]"));
    // The temporary copy is gone again.
    EXPECT_EQ(copies, countCopies());

    cb.logLines.clear();
    EXPECT_EQ("", Ini("[INI:" + ini + ",,Path]"));
    EXPECT_TRUE(Logged("*** Warning:  Item 'Path' not found in Section 'Korvex_TempINI' !")) << cb.LogText();
    EXPECT_EQ(copies, countCopies());
}

TEST_F(IniRefTest, EmptySectionOfAMissingFileReadsNothing)
{
    std::string missing = dir / "missing.ini";
    EXPECT_EQ("", Ini("[INI:" + missing + ",,Top]"));
    EXPECT_TRUE(Logged("*** Warning:  Item 'Top' not found in Section 'Korvex_TempINI' !")) << cb.LogText();
    EXPECT_TRUE(Logged("INI Query Value 'INI:" + missing + ",,Top' Failed! ret=-1 , lasterror="));
    EXPECT_FALSE(kvtest::Exists(missing));
}

// ------------------------------------------------------------ FileInfo

class FileInfoRefTest : public VarRefTest {
protected:
    std::string Info(const std::string& value) { return interp->GetFileInfoVariable(value); }
    std::string Fixture(const char* name) { return kvtest::FixtureDir() + "\\" + name; }
};

TEST_F(FileInfoRefTest, TheSixKinds)
{
    const std::string dll = Fixture("kvver.dll");
    ASSERT_TRUE(kvtest::Exists(dll));
    EXPECT_EQ("5.1", Info("[FileInfo:" + dll + ",FileVersion]"));
    EXPECT_EQ("2600", Info("[FileInfo:" + dll + ",MaintenanceVersion]"));
    EXPECT_EQ("1000", Info("[FileInfo:" + dll + ",BuildVersion]"));
    EXPECT_EQ("5.1.2600.1000 (kvfix.081208-0145)", Info("[FileInfo:" + dll + ",ProductVersion]"));
    // The last field is the rest of the description: commas and all.
    EXPECT_EQ("KV-hotfix Q123456, build 7", Info("[FileInfo:" + dll + ",SpecialBuild]"));

    std::string bytes;
    ASSERT_TRUE(kvtest::ReadFileBytes(dll, bytes));
    EXPECT_EQ(std::to_string(bytes.size()), Info("[FileInfo:" + dll + ",FileSize]"));
    EXPECT_TRUE(cb.logLines.empty()) << cb.LogText();
}

TEST_F(FileInfoRefTest, LargeVersionPartsAndWildcardSize)
{
    const std::string dll = Fixture("kvverplain.dll");
    EXPECT_EQ("65535.0", Info("[FileInfo:" + dll + ",FileVersion]"));
    EXPECT_EQ("7", Info("[FileInfo:" + dll + ",MaintenanceVersion]"));
    EXPECT_EQ("65535", Info("[FileInfo:" + dll + ",BuildVersion]"));
    EXPECT_EQ("65535.0.7.65535", Info("[FileInfo:" + dll + ",ProductVersion]"));

    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "sub\\blob.bin", std::string(12345, 'b')));
    EXPECT_EQ("12345", Info("[FileInfo:" + (dir / "sub\\bl*.bin") + ",FileSize]"));
}

TEST_F(FileInfoRefTest, Failures)
{
    const std::string plain = Fixture("kvverplain.dll");
    const std::string none = Fixture("kvnover.dll");
    const std::string values[] = {
        "[FileInfo:" + plain + ",SpecialBuild]",   // no such string
        "[FileInfo:" + none + ",FileVersion]",     // no version resource
        "[FileInfo:" + none + ",ProductVersion]",
        "[FileInfo:" + plain + ",Version]",        // not one of the six kinds
        "[FileInfo:" + plain + ",fileversion]",    // kinds are case-sensitive
        "[FileInfo:" + (dir / "missing.dll") + ",FileSize]",
    };
    for (const std::string& v : values) {
        SCOPED_TRACE(v);
        cb.logLines.clear();
        EXPECT_EQ("", Info(v));
        EXPECT_TRUE(Logged("Query file info '" + v.substr(1, v.size() - 2) + "' Failed! (lasterror=")) << cb.LogText();
    }

    cb.logLines.clear();
    EXPECT_EQ("", Info("[FileInfo:" + plain + "]"));
    EXPECT_TRUE(RawLine("Syntax error , Incorrect FileInfo description!"));
    EXPECT_TRUE(Logged("*** Syntax error: Incorrect FileInfo description 'FileInfo:" + plain + "'!"));
    cb.logLines.clear();
    EXPECT_EQ("", Info("[FileInfo:" + plain + ",]"));
    EXPECT_TRUE(RawLine("Syntax error , Incorrect FileInfo description!"));
    EXPECT_EQ("", Info("FileInfo:" + plain + ",FileSize"));
}

// ------------------------------------------------------- ServiceStatus

TEST_F(VarRefTest, ServiceStatusOfRunningStoppedAndMissing)
{
    kvsvc::CTestService svc("kvvr_status", "");
    ASSERT_TRUE(svc.Installed()) << svc.CreateError();
    EXPECT_EQ("2", interp->GetServiceStatusVariable("[ServiceStatus:kvvr_status]"));
    ASSERT_TRUE(svc.Start());
    EXPECT_EQ("1", interp->GetServiceStatusVariable("[ServiceStatus:kvvr_status]"));
    // Everything between the marker and the last bracket is the name.
    EXPECT_EQ("1", interp->GetServiceStatusVariable("x[ServiceStatus:kvvr_status]"));
    EXPECT_EQ("0", interp->GetServiceStatusVariable("[ServiceStatus:kvvr_status ]"));
    EXPECT_EQ("0", interp->GetServiceStatusVariable("[ServiceStatus:kvvr_no_such_service]"));
    EXPECT_EQ("0", interp->GetServiceStatusVariable("[ServiceStatus:]"));
    EXPECT_EQ("0", interp->GetServiceStatusVariable("[ServiceStatus:kvvr_status"));
    EXPECT_EQ("0", interp->GetServiceStatusVariable("]x[ServiceStatus:kvvr_status"));
    EXPECT_EQ("0", interp->GetServiceStatusVariable("kvvr_status"));
}

// ---------------------------------------------- through symbol sections

TEST_F(RegRefTest, SymbolSectionsResolveOneReferencePerValue)
{
    kvsvc::CTestService svc("kvvr_symsvc", "");
    ASSERT_TRUE(svc.Installed());
    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "setup.ini",
                                       "[ProductInstall.Symbols]\r\n"
                                       "KEY=SOFTWARE\\KorvexVarRefsTest\r\n"
                                       "USERV=[Reg:REG_SZ,HKCU,%KEY%,User]\r\n"
                                       "STATE=[ServiceStatus:kvvr_symsvc]\r\n"
                                       "GONE=[ServiceStatus:kvvr_symsvc_gone]\r\n"
                                       "BAD=[Reg:REG_SZ,HKCU]\r\n"));
    EXPECT_EQ(0, interp->InitVariables("ProductInstall.Symbols"));
    EXPECT_EQ("mine", interp->GetSymbol("USERV"));
    EXPECT_EQ("2", interp->GetSymbol("STATE"));
    EXPECT_EQ("0", interp->GetSymbol("GONE"));
    EXPECT_EQ("", interp->GetSymbol("BAD"));
    EXPECT_TRUE(Logged("CHFS_Interpreter::InitVariables() => CHFS_Interpreter::GetRegVariable() => "
                       "CHFS_Interpreter::GetRegValue(): RegOpenKeyEx key='SOFTWARE\\KorvexVarRefsTest' Successful."))
        << cb.LogText();
}
