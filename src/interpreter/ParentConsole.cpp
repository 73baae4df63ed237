// /E: the failure code on the console of the program that started Korvex.
#include "interpreter/Interpreter.h"

#include <cstdio>

#include <fcntl.h>
#include <io.h>

#include "util/SystemLib.h"

namespace {

// A standard output the parent already gave us (a pipe, a file) is where the
// caller reads our output from; it must not be swapped for the console.
bool StdoutIsRedirected()
{
    intptr_t h = _get_osfhandle(_fileno(stdout));
    if (h == -1 || h == -2 || h == 0)
        return false;
    DWORD type = ::GetFileType(reinterpret_cast<HANDLE>(h));
    return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE;
}

// Lets go of the console so that closing it does not take the installer
// down with it.
BOOL WINAPI KorvexConsoleCtrlHandler(DWORD ctrlType)
{
    switch (ctrlType) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        ::FreeConsole();
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

void CHFS_Interpreter::AttachParentConsole()
{
    typedef BOOL(WINAPI * AttachConsoleFn)(DWORD);
    AttachConsoleFn attach = reinterpret_cast<AttachConsoleFn>(
        reinterpret_cast<void (*)()>(GetSystemProcAddress("kernel32.dll", "AttachConsole")));
    if (!attach) {
        Log("GetProcAddress of 'AttachConsole' failed.Requirement platform:(1) Minimum supported "
            "client:Windows XP  (2)Minimum supported server: Windows Server 2003");
        return;
    }
    Log("GetProcAddress of 'AttachConsole' successful.");

    bool redirected = StdoutIsRedirected();
    bool ok = false;
    if (attach(ATTACH_PARENT_PROCESS)) {
        bool outOk = redirected || freopen("CONOUT$", "wt", stdout) != nullptr;
        if (outOk) {
            _setmode(_fileno(stdout), _O_TEXT);
            // Unbuffered: the process may end through exit() right after the
            // code is printed, or the console may go away under us.
            setvbuf(stdout, nullptr, _IONBF, 0);
            ok = ::SetConsoleCtrlHandler(KorvexConsoleCtrlHandler, TRUE) != FALSE;
        }
    }
    Log(ok ? "Got Console Attach successful." : "!Error!Got Console Attach failed.");
}
