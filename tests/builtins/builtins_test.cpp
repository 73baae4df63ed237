#include <gtest/gtest.h>
#include "TestSupport.h"
#include "interpreter/Interpreter.h"
#include "symbols/Builtins.h"

#include <cctype>
#include <tuple>

namespace {

struct OsCase {
    DWORD platform, major, minor;
    BYTE product;
    WORD arch;
    bool is64;
    const char* expected;
};

const BYTE WS = VER_NT_WORKSTATION;
const BYTE DC = VER_NT_DOMAIN_CONTROLLER;
const BYTE SRV = VER_NT_SERVER;
const WORD X86 = PROCESSOR_ARCHITECTURE_INTEL;
const WORD AMD64 = PROCESSOR_ARCHITECTURE_AMD64;
const WORD IA64 = PROCESSOR_ARCHITECTURE_IA64;

bool AllDigits(const std::string& s)
{
    if (s.empty())
        return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

}  // namespace

TEST(OsType, WholeTable)
{
    const OsCase cases[] = {
        {1, 4, 0, 0, X86, false, "WIN95"},
        {1, 7, 0, 0, X86, false, "WIN95"},
        {1, 4, 10, 0, X86, false, "WIN98"},
        {1, 4, 90, 0, X86, false, "WINME"},
        {1, 4, 3, 0, X86, false, "UNKNOWN"},
        {2, 3, 51, WS, X86, false, "NT351"},
        {2, 3, 0, SRV, X86, false, "NT351"},
        {2, 4, 0, WS, X86, false, "NT4"},
        {2, 4, 7, SRV, X86, true, "NT4"},
        {2, 5, 0, WS, X86, false, "WIN2K"},
        {2, 5, 1, WS, X86, true, "WINXP"},
        {2, 5, 2, WS, AMD64, false, "WINXP64"},
        {2, 5, 2, WS, IA64, false, "WIN.NET64"},
        {2, 5, 2, SRV, AMD64, true, "WIN.NET64"},
        {2, 5, 2, DC, IA64, false, "WIN.NET64"},
        {2, 5, 2, SRV, X86, false, "WIN.NET"},
        // The 5.2 decision is the processor's, not the 64-bit flag's.
        {2, 5, 2, WS, X86, true, "WIN.NET"},
        {2, 5, 3, WS, AMD64, true, "UNKNOWN"},
        {2, 6, 0, WS, AMD64, true, "VISTA64"},
        {2, 6, 0, WS, X86, false, "VISTA32"},
        {2, 6, 0, SRV, AMD64, true, "WIN2008_64"},
        {2, 6, 0, DC, X86, false, "WIN2008_32"},
        {2, 6, 1, WS, AMD64, true, "WIN7_64"},
        {2, 6, 1, WS, X86, false, "WIN7_32"},
        {2, 6, 1, SRV, AMD64, true, "WIN2008_R2_64"},
        {2, 6, 1, SRV, X86, false, "WIN2008_R2_32"},
        {2, 6, 2, WS, AMD64, true, "WIN8_0_64"},
        {2, 6, 2, WS, X86, false, "WIN8_0_32"},
        {2, 6, 2, SRV, AMD64, true, "WIN2012_64"},
        {2, 6, 2, SRV, X86, false, "UNKNOWN"},
        {2, 6, 3, WS, AMD64, true, "WIN8_1_64"},
        {2, 6, 3, WS, X86, false, "WIN8_1_32"},
        {2, 6, 3, SRV, AMD64, true, "WIN2012_R2_64"},
        {2, 6, 3, SRV, X86, false, "UNKNOWN"},
        {2, 6, 4, WS, AMD64, true, "UNKNOWN"},
        {2, 10, 0, WS, AMD64, true, "WIN10_0_64"},
        {2, 10, 0, WS, X86, false, "WIN10_0_32"},
        {2, 10, 0, SRV, AMD64, true, "WINSERVER_TECHNICAL_64"},
        {2, 10, 0, DC, X86, false, "UNKNOWN"},
        {2, 10, 1, WS, AMD64, true, "UNKNOWN"},
        {2, 7, 0, WS, X86, false, "UNKNOWN"},
        {2, 8, 0, WS, X86, false, "UNKNOWN"},
        {2, 9, 0, WS, X86, false, "UNKNOWN"},
        {2, 11, 0, WS, AMD64, true, "UNKNOWN"},
        {2, 2, 0, WS, X86, false, "UNKNOWN"},
        {0, 3, 10, 0, X86, false, "UNKNOWN"},
        {3, 5, 0, WS, X86, false, "UNKNOWN"},
    };
    for (const OsCase& c : cases)
        EXPECT_EQ(GetOSTypeFor(c.platform, c.major, c.minor, c.product, c.arch, c.is64), c.expected)
            << c.platform << " " << c.major << "." << c.minor << " product " << int(c.product) << " arch "
            << c.arch << " 64-bit " << c.is64;
}

TEST(SystemDetection, ThisProcess)
{
    // The 64-bit build is never a WOW64 process.
    if (sizeof(void*) == 8) {
        EXPECT_FALSE(IsWow64());
    } else if (IsWow64()) {
        EXPECT_EQ(DisableWow64Redirection(), 1);
    }
    EXPECT_EQ(GetPlatformId(), static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    EXPECT_FALSE(GetOSType().empty());

    // An enabled Administrators membership is certainly one present in the token.
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    ASSERT_TRUE(::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                                           0, 0, 0, &admins));
    BOOL member = FALSE;
    ::CheckTokenMembership(nullptr, admins, &member);
    ::FreeSid(admins);
    std::string account = GetLoginAccount();
    if (member) {
        EXPECT_EQ(account, "ADMIN");
    } else {
        EXPECT_TRUE(account == "ADMIN" || account == "USER") << account;
    }
}

TEST(SystemDetection, FoldersAndClock)
{
    char win[MAX_PATH + 1] = {0};
    ::GetWindowsDirectoryA(win, MAX_PATH);
    EXPECT_EQ(GetWindowsDir(), win);
    std::string temp = GetTempDir();
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(temp.back(), '\\');

    std::string date = GetDateString();
    ASSERT_EQ(date.size(), 10u) << date;
    EXPECT_TRUE(AllDigits(date.substr(0, 4)) && date[4] == '-' && AllDigits(date.substr(5, 2)) && date[7] == '-' &&
                AllDigits(date.substr(8, 2)))
        << date;
    std::string time = GetTimeString();
    ASSERT_EQ(time.size(), 8u) << time;
    EXPECT_TRUE(AllDigits(time.substr(0, 2)) && time[2] == ':' && AllDigits(time.substr(3, 2)) && time[5] == ':' &&
                AllDigits(time.substr(6, 2)))
        << time;
}

class BuiltinSymbols : public ::testing::Test {
protected:
    BuiltinSymbols() : interp(&cb, "setup.ini") { cb.logLines.clear(); }
    kvtest::CRecordingCallback cb;
    CHFS_Interpreter interp;
};

TEST_F(BuiltinSymbols, OrderValuesAndLogLines)
{
    EXPECT_EQ(interp.InitBuiltinSymbols(), 0);
    const char* order[] = {"WINDIR", "SYSWINDIR", "COMPUTER", "OS_TYPE", "LOGIN_ACCOUNT", "NEED_REBOOT",
                           "TEMP",   "SOURCEDIR", "RETCODE",  "DATE",    "YEAR",          "MONTH",
                           "DAY",    "TIME",      "HOUR",     "MINUTE",  "SECOND"};
    std::string log = cb.LogText();
    size_t last = 0;
    for (const char* name : order) {
        std::string line = std::string("@ Update Global Symbol table: '") + name + "'='" + interp.GetSymbol(name) + "'";
        size_t at = log.find(line);
        ASSERT_NE(at, std::string::npos) << line;
        EXPECT_GE(at, last) << name << " out of order";
        last = at;
    }
    // The character symbols are stored silently.
    EXPECT_EQ(kvtest::CountOf(log, "@ Update Global Symbol table:"), 17u);
    EXPECT_EQ(interp.m_globalSymbols.Size(), 17u + 255u);

    char win[MAX_PATH + 1] = {0};
    ::GetWindowsDirectoryA(win, MAX_PATH);
    EXPECT_EQ(interp.GetSymbol("WINDIR"), win);
    EXPECT_EQ(interp.GetSymbol("SOURCEDIR"), interp.GetModuleDir());
    EXPECT_EQ(interp.GetSymbol("NEED_REBOOT"), "FALSE");
    EXPECT_EQ(interp.GetSymbol("RETCODE"), "0");
    EXPECT_EQ(interp.GetSymbol("TEMP"), GetTempDir());
    char computer[MAX_COMPUTERNAME_LENGTH + 1] = {0};
    DWORD size = sizeof computer;
    ::GetComputerNameA(computer, &size);
    EXPECT_EQ(interp.GetSymbol("COMPUTER"), computer);
    EXPECT_EQ(interp.getComputerName(), computer);

    // Date and time each from one reading of the clock.
    std::string year = interp.GetSymbol("YEAR");
    EXPECT_TRUE(AllDigits(year) && year[0] != '0') << year;
    EXPECT_EQ(interp.GetSymbol("MONTH").size(), 2u);
    EXPECT_EQ(interp.GetSymbol("DATE"), year + "-" + interp.GetSymbol("MONTH") + "-" + interp.GetSymbol("DAY"));
    EXPECT_EQ(interp.GetSymbol("TIME"),
              interp.GetSymbol("HOUR") + ":" + interp.GetSymbol("MINUTE") + ":" + interp.GetSymbol("SECOND"));
    int hour = std::atoi(interp.GetSymbol("HOUR").c_str());
    EXPECT_TRUE(hour >= 0 && hour <= 23);
}

TEST_F(BuiltinSymbols, CharacterSymbols)
{
    interp.InitBuiltinSymbols();
    for (int c = 1; c <= 255; ++c) {
        char name[8];
        snprintf(name, sizeof name, "x%02x", c);
        const std::string* v = interp.m_globalSymbols.Find(name);
        ASSERT_NE(v, nullptr) << name;
        EXPECT_EQ(*v, std::string(1, static_cast<char>(c))) << name;
    }
    EXPECT_FALSE(interp.m_globalSymbols.Contains("x00"));
    EXPECT_FALSE(interp.m_globalSymbols.Contains("x0A"));
    EXPECT_EQ(interp.ExpandSymbols("%x25%"), "%");
}

TEST_F(BuiltinSymbols, SystemRootMissingFromEnvironment)
{
    char saved[MAX_PATH + 1] = {0};
    DWORD had = ::GetEnvironmentVariableA("SystemRoot", saved, sizeof saved);
    ::SetEnvironmentVariableA("SystemRoot", nullptr);
    interp.InitBuiltinSymbols();
    if (had)
        ::SetEnvironmentVariableA("SystemRoot", saved);
    EXPECT_EQ(interp.GetSymbol("SYSWINDIR"), "");
    EXPECT_TRUE(interp.m_globalSymbols.Contains("SYSWINDIR"));
    EXPECT_FALSE(interp.GetSymbol("WINDIR").empty());
}

// A library of a system name planted in the package folder must never be
// loaded: the start-up loads its libraries from the system folder only.
TEST(PlantedLibrary, StaysUnloaded)
{
    kvtest::TempDir pkg("planted");
    std::string src = kvtest::FixtureDir() + "\\planted_mprapi\\";
    ASSERT_TRUE(::CopyFileA((src + "mprapi.dll").c_str(), (pkg / "mprapi.dll").c_str(), FALSE));
    ASSERT_TRUE(::CopyFileA((src + "builtins_probe.exe").c_str(), (pkg / "builtins_probe.exe").c_str(), FALSE));
    std::string marker = pkg / "planted-mprapi-loaded.txt";
    std::string probe = "\"" + (pkg / "builtins_probe.exe") + "\"";

    // The rig works: loading by bare name from that folder takes the planted copy.
    kvtest::ProcessResult naive = kvtest::RunProcess(probe + " naive", pkg.Path(), 60000);
    ASSERT_TRUE(naive.started);
    ASSERT_TRUE(kvtest::Exists(marker)) << "the planted library was not picked up by a plain load";
    ASSERT_TRUE(::DeleteFileA(marker.c_str()));

    kvtest::ProcessResult r = kvtest::RunProcess(probe, pkg.Path(), 60000);
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_NE(r.output.find("OS_TYPE="), std::string::npos) << r.output;
    EXPECT_FALSE(kvtest::Exists(marker)) << "the planted library was loaded";
}
