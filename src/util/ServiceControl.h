#pragma once
// The installer's own service-control library. machine: empty or null for
// the local machine. Results are Windows error codes (0 = success).
#include <windows.h>

// 1056 (already running) comes back as an error: the callers decide.
DWORD SMStartService(const char* machine, const char* service, char* text, int textSize, int waitSeconds);
// A service that is not running counts as stopped (0).
DWORD SMStopService(const char* machine, const char* service, char* text, int textSize, int waitSeconds);
// 1 running, 2 any other state, 0 when it can't be queried.
int SMQueryServiceStatus(const char* service);
// Always leaves a NUL-terminated text (possibly empty) in a usable buffer.
void SMGetErrorText(DWORD code, char* buffer, int size);
