// Program entry: start-up runs in the application object and always reports
// failed initialisation, so the process ends when it returns (there is no
// message loop of its own).
#include <windows.h>

#include "app/KorvexApp.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    CKorvexApp* app = GetKorvexApp();
    app->InitInstance();
    app->Cleanup();
    return 0;
}
