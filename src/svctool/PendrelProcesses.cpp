#include "Pendrel.h"

#include <psapi.h>

#include <algorithm>
#include <cwchar>

namespace {

const DWORD kMaxProcessIds = 1024;
const DWORD kNameChars = 260;
// The longest path the system gives for an image.
const DWORD kImagePathChars = 32768;
const DWORD kQueryAccess = SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;

bool ModuleBaseName(HANDLE process, wchar_t (&name)[kNameChars])
{
    HMODULE first = nullptr;
    DWORD needed = 0;
    if (!::EnumProcessModules(process, &first, sizeof(first), &needed) || !first)
        return false;
    DWORD n = ::GetModuleBaseNameW(process, first, name, kNameChars);
    name[kNameChars - 1] = 0;
    return n != 0;
}

// The image name without the module list: a 32-bit process can't read the
// module list of a 64-bit one, but the system keeps the image path of every
// process whatever its bitness.
bool ImageBaseName(HANDLE process, wchar_t (&name)[kNameChars])
{
    std::vector<wchar_t> path(kImagePathChars, 0);
    DWORD size = kImagePathChars;
    if (!::QueryFullProcessImageNameW(process, 0, path.data(), &size) || size == 0 || size >= kImagePathChars)
        return false;
    path[size] = 0;
    const wchar_t* slash = std::wcsrchr(path.data(), L'\\');
    const wchar_t* base = slash ? slash + 1 : path.data();
    if (!*base)
        return false;
    wcsncpy(name, base, kNameChars - 1);
    name[kNameChars - 1] = 0;
    return true;
}

bool ProcessBaseName(HANDLE process, wchar_t (&name)[kNameChars])
{
    return ModuleBaseName(process, name) || ImageBaseName(process, name);
}

}  // namespace

int FindProcessesByName(const wchar_t* name, bool forKill, std::vector<HANDLE>& handles)
{
    handles.clear();
    DWORD ids[kMaxProcessIds] = {0};
    DWORD bytes = 0;
    if (!::EnumProcesses(ids, sizeof(ids), &bytes))
        return -1;
    const DWORD self = ::GetCurrentProcessId();
    const DWORD count = bytes / sizeof(DWORD);
    for (DWORD i = 0; i < count; ++i) {
        // Waiting for itself would only end with the time-out (or never), and
        // /kill would then end the tool before it finishes.
        if (ids[i] == self)
            continue;
        HANDLE process = ::OpenProcess(forKill ? PROCESS_ALL_ACCESS : kQueryAccess, FALSE, ids[i]);
        if (!process) {
            PendrelTrace(L"OpenProcess() failed, GetLastError()=%u", static_cast<unsigned>(::GetLastError()));
            continue;
        }
        wchar_t base[kNameChars] = {0};
        if (ProcessBaseName(process, base) && _wcsnicmp(name, base, kNameChars) == 0)
            handles.push_back(process);
        else
            ::CloseHandle(process);
    }
    return static_cast<int>(handles.size());
}

int WaitForProcesses(const wchar_t* name, DWORD ms, bool kill)
{
    std::vector<HANDLE> handles;
    int count = FindProcessesByName(name, kill, handles);
    if (count <= 0)
        return 0;

    // One wait takes at most MAXIMUM_WAIT_OBJECTS handles: larger sets are
    // waited for in groups that share the one deadline.
    const ULONGLONG deadline = ::GetTickCount64() + ms;
    bool timedOut = false;
    for (size_t first = 0; first < handles.size(); first += MAXIMUM_WAIT_OBJECTS) {
        DWORD group = static_cast<DWORD>(std::min<size_t>(MAXIMUM_WAIT_OBJECTS, handles.size() - first));
        DWORD timeout = INFINITE;
        if (ms != INFINITE) {
            ULONGLONG now = ::GetTickCount64();
            timeout = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        }
        if (::WaitForMultipleObjects(group, &handles[first], TRUE, timeout) == WAIT_TIMEOUT)
            timedOut = true;
    }

    if (timedOut && kill) {
        for (HANDLE process : handles) {
            DWORD code = 0;
            if (::GetExitCodeProcess(process, &code) && code == STILL_ACTIVE)
                ::TerminateProcess(process, 0);
        }
    }
    for (HANDLE process : handles)
        ::CloseHandle(process);
    return 0;
}
