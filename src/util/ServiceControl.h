#pragma once
// The installer's own service-control library. machine: empty or null for
// the local machine. Results are Windows error codes (0 = success).
#include <windows.h>

DWORD SMStartService(const char* machine, const char* service, char* text, int textSize, int waitSeconds);
DWORD SMStopService(const char* machine, const char* service, char* text, int textSize, int waitSeconds);
// 1 running, 2 any other state, 0 when it can't be queried.
int SMQueryServiceStatus(const char* service);
void SMGetErrorText(DWORD code, char* buffer, int size);
