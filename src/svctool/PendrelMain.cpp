#include "Pendrel.h"

#include <cstdarg>
#include <cwchar>

void PendrelTrace(const wchar_t* format, ...)
{
    wchar_t buf[1024];
    va_list ap;
    va_start(ap, format);
    int n = _vsnwprintf(buf, sizeof(buf) / sizeof(buf[0]) - 1, format, ap);
    va_end(ap);
    if (n < 0)
        n = sizeof(buf) / sizeof(buf[0]) - 1;
    buf[n] = 0;
    ::OutputDebugStringW(buf);
}

void PendrelPause(DWORD ms)
{
    CPendrelHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (event)
        ::WaitForSingleObject(event.Get(), ms);
    else
        ::Sleep(ms);
}

namespace {

bool Is(const wchar_t* arg, const wchar_t* word) { return _wcsicmp(arg, word) == 0; }

// Leading decimal digits; none give 0. 4294967295 is INFINITE, and so is
// anything larger: read modulo 2^32, a very long wait could become none and
// /kill would end the programs at once.
DWORD ParseMilliseconds(const wchar_t* text)
{
    unsigned long long v = 0;
    for (const wchar_t* p = text; *p >= L'0' && *p <= L'9'; ++p) {
        v = v * 10 + static_cast<unsigned>(*p - L'0');
        if (v >= INFINITE)
            return INFINITE;
    }
    return static_cast<DWORD>(v);
}

}  // namespace

int PendrelMain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 0;
    const int args = argc - 1;
    const wchar_t* command = argv[1];
    if (Is(command, L"/s")) {
        if (args < 3)
            return -1;
        const wchar_t* action = argv[3];
        if (Is(action, L"/stop"))
            StopServiceAndWait(argv[2]);
        else if (Is(action, L"/disable"))
            SetServiceEnabled(argv[2], true);
        else if (Is(action, L"/enable"))
            SetServiceEnabled(argv[2], false);
        else
            return -1;
        return 0;
    }
    if (Is(command, L"/wait")) {
        if (args < 3)
            return -1;
        bool kill = false;
        if (args == 4) {
            if (!Is(argv[4], L"/kill"))
                return -1;
            kill = true;
        }
        WaitForProcesses(argv[2], ParseMilliseconds(argv[3]), kill);
        return 0;
    }
    if (Is(command, L"/p")) {
        ReleasePerfDll();
        return 0;
    }
    return 0;
}

int wmain(int argc, wchar_t** argv) { return PendrelMain(argc, argv); }
