// STUB(issue 3): replaced by the built-in variables and system detection.
#include "interpreter/Interpreter.h"
#include "symbols/Builtins.h"
#include <cstdio>

std::string GetOSTypeFor(DWORD, DWORD, DWORD, BYTE, WORD, bool) { return "UNKNOWN"; }
std::string GetOSType() { return "UNKNOWN"; }
bool IsWow64() { return false; }
std::string GetLoginAccount() { return "USER"; }
std::string GetTempDir() { char b[MAX_PATH + 1] = {0}; ::GetTempPathA(MAX_PATH, b); return b; }
std::string GetWindowsDir() { char b[MAX_PATH + 1] = {0}; ::GetWindowsDirectoryA(b, MAX_PATH); return b; }
std::string GetSystemRoot() { return std::string(); }
std::string GetDateString() { SYSTEMTIME t; ::GetLocalTime(&t); char b[32]; snprintf(b, sizeof b, "%d-%02d-%02d", t.wYear, t.wMonth, t.wDay); return b; }
std::string GetTimeString() { SYSTEMTIME t; ::GetLocalTime(&t); char b[32]; snprintf(b, sizeof b, "%02d:%02d:%02d", t.wHour, t.wMinute, t.wSecond); return b; }
int DisableWow64Redirection() { return 0; }
DWORD GetPlatformId() { return VER_PLATFORM_WIN32_NT; }
int CHFS_Interpreter::InitBuiltinSymbols() { return 0; }
int CHFS_Interpreter::InitDateSymbols() { return 0; }
int CHFS_Interpreter::InitTimeSymbols() { return 0; }
std::string CHFS_Interpreter::getComputerName() { return std::string(); }
