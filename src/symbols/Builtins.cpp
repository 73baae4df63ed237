// The built-in variables and the system detection behind them.
#include "symbols/Builtins.h"
#include "interpreter/Interpreter.h"
#include "util/SystemLib.h"
#include "util/WinHandles.h"

#include <cstdio>
#include <vector>

namespace {

// Functions looked up by name: the detour through void(*)() is the one cast
// between function types the compiler accepts as deliberate.
template <typename F>
F ProcAs(FARPROC p)
{
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(p));
}

WORD NativeProcessorArchitecture()
{
    typedef void(WINAPI * PGetNativeSystemInfo)(LPSYSTEM_INFO);
    SYSTEM_INFO si;
    ZeroMemory(&si, sizeof si);
    PGetNativeSystemInfo pNative =
        ProcAs<PGetNativeSystemInfo>(GetSystemProcAddress("kernel32.dll", "GetNativeSystemInfo"));
    if (pNative)
        pNative(&si);
    else
        ::GetSystemInfo(&si);
    return si.wProcessorArchitecture;
}

std::string Pick(bool is64Bit, const char* name64, const char* name32)
{
    return is64Bit ? name64 : name32;
}

std::string TwoDigits(int v)
{
    char b[16];
    snprintf(b, sizeof b, "%02d", v);
    return b;
}

}  // namespace

std::string GetOSTypeFor(DWORD platformId, DWORD major, DWORD minor, BYTE productType,
                         WORD processorArchitecture, bool is64Bit)
{
    const bool workstation = productType == VER_NT_WORKSTATION;
    if (platformId == VER_PLATFORM_WIN32_WINDOWS) {
        switch (minor) {
        case 0: return "WIN95";
        case 10: return "WIN98";
        case 90: return "WINME";
        default: return "UNKNOWN";
        }
    }
    if (platformId != VER_PLATFORM_WIN32_NT)
        return "UNKNOWN";
    switch (major) {
    case 3: return "NT351";
    case 4: return "NT4";
    case 5:
        if (minor == 0)
            return "WIN2K";
        if (minor == 1)
            return "WINXP";
        if (minor == 2) {
            if (workstation && processorArchitecture == PROCESSOR_ARCHITECTURE_AMD64)
                return "WINXP64";
            if (processorArchitecture == PROCESSOR_ARCHITECTURE_IA64 ||
                processorArchitecture == PROCESSOR_ARCHITECTURE_AMD64)
                return "WIN.NET64";
            return "WIN.NET";
        }
        return "UNKNOWN";
    case 6:
        switch (minor) {
        case 0: return workstation ? Pick(is64Bit, "VISTA64", "VISTA32") : Pick(is64Bit, "WIN2008_64", "WIN2008_32");
        case 1:
            return workstation ? Pick(is64Bit, "WIN7_64", "WIN7_32") : Pick(is64Bit, "WIN2008_R2_64", "WIN2008_R2_32");
        case 2: return workstation ? Pick(is64Bit, "WIN8_0_64", "WIN8_0_32") : Pick(is64Bit, "WIN2012_64", "UNKNOWN");
        case 3:
            return workstation ? Pick(is64Bit, "WIN8_1_64", "WIN8_1_32") : Pick(is64Bit, "WIN2012_R2_64", "UNKNOWN");
        default: return "UNKNOWN";
        }
    case 10:
        if (minor == 0)
            return workstation ? Pick(is64Bit, "WIN10_0_64", "WIN10_0_32")
                               : Pick(is64Bit, "WINSERVER_TECHNICAL_64", "UNKNOWN");
        return "UNKNOWN";
    default: return "UNKNOWN";
    }
}

std::string GetOSType()
{
    OSVERSIONINFOEXA info;
    if (!QueryVersion(info))
        return "UNKNOWN";
    return GetOSTypeFor(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion, info.wProductType,
                        NativeProcessorArchitecture(), IsWow64());
}

bool IsWow64()
{
    typedef BOOL(WINAPI * PIsWow64Process)(HANDLE, PBOOL);
    PIsWow64Process pIsWow64 =
        ProcAs<PIsWow64Process>(GetSystemProcAddress("kernel32", "IsWow64Process"));
    if (!pIsWow64)
        return false;
    BOOL wow64 = FALSE;
    if (!pIsWow64(::GetCurrentProcess(), &wow64))
        return false;
    return wow64 != FALSE;
}

std::string GetLoginAccount()
{
    if (GetPlatformId() == VER_PLATFORM_WIN32_WINDOWS)
        return "WIN9X";
    CHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_READ, token.Put()))
        return "USER";
    DWORD size = 0;
    if (::GetTokenInformation(token.Get(), TokenGroups, nullptr, 0, &size) ||
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return "USER";
    // DWORD_PTR elements keep the group array aligned for its pointers.
    std::vector<DWORD_PTR> buf((size + sizeof(DWORD_PTR) - 1) / sizeof(DWORD_PTR));
    if (!::GetTokenInformation(token.Get(), TokenGroups, buf.data(), size, &size))
        return "USER";
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    if (!::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                    0, &admins))
        return "USER";
    // Attributes are deliberately not looked at: a deny-only or disabled
    // membership (a filtered token) still means an administrator's account.
    const TOKEN_GROUPS* groups = reinterpret_cast<const TOKEN_GROUPS*>(buf.data());
    bool found = false;
    for (DWORD i = 0; i < groups->GroupCount && !found; ++i)
        found = ::EqualSid(groups->Groups[i].Sid, admins) != FALSE;
    ::FreeSid(admins);
    return found ? "ADMIN" : "USER";
}

std::string GetTempDir()
{
    char buf[MAX_PATH] = {0};
    DWORD n = ::GetTempPathA(sizeof buf, buf);
    return (n == 0 || n >= sizeof buf) ? std::string() : std::string(buf, n);
}

std::string GetWindowsDir()
{
    char buf[MAX_PATH] = {0};
    UINT n = ::GetWindowsDirectoryA(buf, sizeof buf);
    return (n == 0 || n >= sizeof buf) ? std::string() : std::string(buf, n);
}

std::string GetSystemRoot()
{
    DWORD n = ::GetEnvironmentVariableA("SystemRoot", nullptr, 0);
    if (n == 0)
        return std::string();
    std::vector<char> buf(n + 1);
    DWORD got = ::GetEnvironmentVariableA("SystemRoot", buf.data(), static_cast<DWORD>(buf.size()));
    if (got == 0 || got >= buf.size())
        return std::string();
    std::string value(buf.data(), got);
    if (value.size() > MAX_PATH)
        value.resize(MAX_PATH);
    return value;
}

std::string GetDateString()
{
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    char b[32];
    snprintf(b, sizeof b, "%d-%02d-%02d", t.wYear, t.wMonth, t.wDay);
    return b;
}

std::string GetTimeString()
{
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    char b[32];
    snprintf(b, sizeof b, "%02d:%02d:%02d", t.wHour, t.wMinute, t.wSecond);
    return b;
}

int DisableWow64Redirection()
{
    // Only the loading of this library matters, so it is freed at once; like
    // every library loaded by name it comes from the system folder only.
    if (HMODULE mpr = LoadSystemLibrary("mprapi.dll"))
        ::FreeLibrary(mpr);
    return DisableFsRedirectionOnThisThread() ? 1 : 0;
}

int CHFS_Interpreter::InitBuiltinSymbols()
{
    SetGlobalSymbol("WINDIR", GetWindowsDir());
    SetGlobalSymbol("SYSWINDIR", GetSystemRoot());
    SetGlobalSymbol("COMPUTER", getComputerName());
    SetGlobalSymbol("OS_TYPE", GetOSType());
    SetGlobalSymbol("LOGIN_ACCOUNT", GetLoginAccount());
    SetGlobalSymbol("NEED_REBOOT", "FALSE");
    SetGlobalSymbol("TEMP", GetTempDir());
    SetGlobalSymbol("SOURCEDIR", m_strModuleDir);
    SetGlobalSymbol("RETCODE", "0");
    InitDateSymbols();
    InitTimeSymbols();
    // 255 entries would drown the log; they are the same on every run.
    for (int c = 1; c <= 255; ++c) {
        char name[8];
        snprintf(name, sizeof name, "x%02x", c);
        m_globalSymbols.Set(name, std::string(1, static_cast<char>(c)));
    }
    return 0;
}

int CHFS_Interpreter::InitDateSymbols()
{
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    char date[32];
    snprintf(date, sizeof date, "%d-%02d-%02d", t.wYear, t.wMonth, t.wDay);
    SetGlobalSymbol("DATE", date);
    SetGlobalSymbol("YEAR", std::to_string(t.wYear));
    SetGlobalSymbol("MONTH", TwoDigits(t.wMonth));
    SetGlobalSymbol("DAY", TwoDigits(t.wDay));
    return 0;
}

int CHFS_Interpreter::InitTimeSymbols()
{
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    char time[32];
    snprintf(time, sizeof time, "%02d:%02d:%02d", t.wHour, t.wMinute, t.wSecond);
    SetGlobalSymbol("TIME", time);
    SetGlobalSymbol("HOUR", TwoDigits(t.wHour));
    SetGlobalSymbol("MINUTE", TwoDigits(t.wMinute));
    SetGlobalSymbol("SECOND", TwoDigits(t.wSecond));
    return 0;
}

std::string CHFS_Interpreter::getComputerName()
{
    char name[100] = {0};
    DWORD size = sizeof name;
    if (::GetComputerNameA(name, &size))
        return std::string(name, size < sizeof name ? size : sizeof name - 1);

    const char* subkey = "System\\CurrentControlSet\\Control\\ComputerName\\ComputerName";
    CRegKey key;
    LONG ret = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ, key.Put());
    if (ret != ERROR_SUCCESS) {
        Log("CHFS_Interpreter::getComputerName(): RegOpenKeyEx:HKLM key='%s' Failed! ret=%d,lasterror=%d", subkey,
            static_cast<int>(ret), static_cast<int>(::GetLastError()));
        return std::string();
    }
    Log("CHFS_Interpreter::getComputerName(): RegOpenKeyEx:HKLM Successful for key='%s'.", subkey);
    char value[101] = {0};
    DWORD bytes = 100;
    DWORD type = 0;
    ret = ::RegQueryValueExA(key.Get(), "ComputerName", nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes);
    key.Close();
    if (ret != ERROR_SUCCESS) {
        Log("CHFS_Interpreter::getComputerName(): RegQueryValueEx Failed! name='ComputerName', "
            "ret=%d,lasterror=%d",
            static_cast<int>(ret), static_cast<int>(::GetLastError()));
        return std::string();
    }
    value[100] = '\0';
    Log("CHFS_Interpreter::getComputerName(): RegQueryValueEx Successful for name='ComputerName', value='%s'",
        value);
    return value;
}
