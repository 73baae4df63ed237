#pragma once
// The profile (INI) functions, behind a check of the file name: the platform
// puts the Windows or the current folder in front of a name that is not a
// full path and builds the result in a buffer of the path limit, so a long
// name, relative or not, is refused here first. A refused name reads as a
// missing file (the default text, an empty section) and fails a write; the
// last error is then ERROR_FILENAME_EXCED_RANGE (206).
#include <windows.h>
#include <string>

// Whether the name is a full path (a drive or a UNC path): any other name
// the profile functions look for in the Windows or the current folder.
bool ProfileNameIsFullPath(const std::string& file);
// Whether the profile functions can open that name within the path limit.
bool ProfileNameFits(const std::string& file);

DWORD KvGetProfileString(const char* section, const char* key, const char* defaultText, char* buffer, DWORD size,
                         const std::string& file);
DWORD KvGetProfileSection(const char* section, char* buffer, DWORD size, const std::string& file);
DWORD KvGetProfileSectionNames(char* buffer, DWORD size, const std::string& file);
BOOL KvWriteProfileString(const char* section, const char* key, const char* value, const std::string& file);
