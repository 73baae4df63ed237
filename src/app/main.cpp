// Program entry: start-up runs in the application object and always reports
// failed initialisation, so the process ends when it returns (there is no
// message loop of its own).
#include <windows.h>

#include "app/KorvexApp.h"

namespace {

// A fault the program did not handle must never end it with exit code 0:
// with /G a deployment tool would take the run for a success.
LONG WINAPI EndOnFault(EXCEPTION_POINTERS* info)
{
    DWORD code = info && info->ExceptionRecord ? info->ExceptionRecord->ExceptionCode : 0;
    ::TerminateProcess(::GetCurrentProcess(), code ? code : static_cast<DWORD>(-1));
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    ::SetUnhandledExceptionFilter(EndOnFault);
    CKorvexApp* app = GetKorvexApp();
    app->InitInstance();
    const int code = app->FinishProcess();
    app->Cleanup();
    return code;
}
