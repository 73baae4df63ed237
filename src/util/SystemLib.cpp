#include "util/SystemLib.h"

std::string GetSystemFolderPath(const char* name)
{
    char dir[MAX_PATH + 1] = {0};
    UINT n = ::GetSystemDirectoryA(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return std::string();
    std::string path(dir, n);
    if (!path.empty() && path.back() != '\\')
        path += '\\';
    path += name;
    return path;
}

HMODULE LoadSystemLibrary(const char* name, DWORD flags)
{
    std::string path = GetSystemFolderPath(name);
    if (path.empty()) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    return ::LoadLibraryExA(path.c_str(), nullptr, flags);
}

FARPROC GetSystemProcAddress(const char* module, const char* function)
{
    HMODULE h = ::GetModuleHandleA(module);
    if (!h)
        h = LoadSystemLibrary(module);
    return h ? ::GetProcAddress(h, function) : nullptr;
}

bool QueryVersion(OSVERSIONINFOEXA& info)
{
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    if (::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info)))
        return true;
    // Systems that predate the extended structure only fill the plain one.
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    return ::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info)) != FALSE;
}

DWORD GetPlatformId()
{
    OSVERSIONINFOEXA info;
    return QueryVersion(info) ? info.dwPlatformId : VER_PLATFORM_WIN32_NT;
}

bool DisableFsRedirectionOnThisThread()
{
    typedef BOOL(WINAPI * PWow64Disable)(PVOID*);
    PWow64Disable pDisable = reinterpret_cast<PWow64Disable>(
        reinterpret_cast<void*>(GetSystemProcAddress("kernel32", "Wow64DisableWow64FsRedirection")));
    PVOID previous = nullptr;
    return pDisable && pDisable(&previous);
}
