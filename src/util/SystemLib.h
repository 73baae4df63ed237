#pragma once
// Libraries the installer loads by name come from the Windows system folder
// only: the default search order starts at the package folder, where a planted
// DLL of the same name would otherwise be loaded.
#include <windows.h>
#include <string>

// Full path of a file in the system folder ("C:\Windows\system32\name").
std::string GetSystemFolderPath(const char* name);
// LoadLibraryExA on the system folder's copy; flags as for LoadLibraryExA.
HMODULE LoadSystemLibrary(const char* name, DWORD flags = 0);
// Address of a function of an already loaded system module (kernel32,
// advapi32), loading it from the system folder when it is not loaded yet.
// The module stays loaded.
FARPROC GetSystemProcAddress(const char* module, const char* function);

// Turns 32-bit file-system redirection off for the calling thread (it is a
// setting of each thread); false where the system has none or refuses.
bool DisableFsRedirectionOnThisThread();

// GetVersionExA into the extended structure, or the plain one on systems that
// predate it; false when neither works.
bool QueryVersion(OSVERSIONINFOEXA& info);
// GetVersionExA platform id (1 = Windows 9x family).
DWORD GetPlatformId();
