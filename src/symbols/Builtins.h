#pragma once
// System detection behind the built-in variables.
#include <windows.h>
#include <string>

#include "util/SystemLib.h"

// The OS_TYPE decision as a pure function of what the system reports.
std::string GetOSTypeFor(DWORD platformId, DWORD major, DWORD minor, BYTE productType,
                         WORD processorArchitecture, bool is64Bit);
std::string GetOSType();
bool IsWow64();
std::string GetLoginAccount();
std::string GetTempDir();
std::string GetWindowsDir();
std::string GetSystemRoot();
std::string GetDateString();   // "%d-%02d-%02d" from a fresh clock reading
std::string GetTimeString();   // "%02d:%02d:%02d"
// Turns off file-system redirection for the calling thread; 1 when done.
int DisableWow64Redirection();
