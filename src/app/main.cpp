// Program entry: start-up runs in the application object; the process ends
// when it returns (there is no message loop of its own).
#include <windows.h>
#include <cstdlib>
#include "app/KorvexApp.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    CKorvexApp* app = GetKorvexApp();
    app->ParseCommandLine(__argc, __argv);
    app->InitInstance();
    app->Cleanup();
    return 0;
}
