#include "util/Profile.h"

#include <algorithm>
#include <cstring>

namespace {

size_t FolderLength(bool windowsFolder)
{
    char buf[MAX_PATH + 1] = {0};
    UINT n = windowsFolder ? ::GetWindowsDirectoryA(buf, sizeof buf) : ::GetCurrentDirectoryA(sizeof buf, buf);
    // A folder that does not even fit leaves no room for any name.
    return (n == 0 || n >= sizeof buf) ? MAX_PATH : n;
}

bool Refuse()
{
    ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
}

}  // namespace

bool ProfileNameIsFullPath(const std::string& file)
{
    return (file.size() >= 3 && file[1] == ':' && (file[2] == '\\' || file[2] == '/')) ||
           file.compare(0, 2, "\\\\") == 0;
}

bool ProfileNameFits(const std::string& file)
{
    if (file.size() >= MAX_PATH)
        return Refuse();
    if (ProfileNameIsFullPath(file))
        return true;
    // A bare name is looked for in the Windows folder, any other relative
    // name below the current one; take the longer of the two.
    size_t folder = std::max(FolderLength(true), FolderLength(false));
    return folder + 1 + file.size() < MAX_PATH ? true : Refuse();
}

DWORD KvGetProfileString(const char* section, const char* key, const char* defaultText, char* buffer, DWORD size,
                         const std::string& file)
{
    if (ProfileNameFits(file))
        return ::GetPrivateProfileStringA(section, key, defaultText, buffer, size, file.c_str());
    if (!buffer || size == 0)
        return 0;
    size_t n = defaultText ? std::min<size_t>(std::strlen(defaultText), size - 1) : 0;
    if (n)
        std::memcpy(buffer, defaultText, n);
    buffer[n] = '\0';
    ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return static_cast<DWORD>(n);
}

DWORD KvGetProfileSection(const char* section, char* buffer, DWORD size, const std::string& file)
{
    if (ProfileNameFits(file))
        return ::GetPrivateProfileSectionA(section, buffer, size, file.c_str());
    if (buffer && size >= 2)
        buffer[0] = buffer[1] = '\0';
    ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return 0;
}

DWORD KvGetProfileSectionNames(char* buffer, DWORD size, const std::string& file)
{
    if (ProfileNameFits(file))
        return ::GetPrivateProfileSectionNamesA(buffer, size, file.c_str());
    if (buffer && size >= 2)
        buffer[0] = buffer[1] = '\0';
    ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return 0;
}

BOOL KvWriteProfileString(const char* section, const char* key, const char* value, const std::string& file)
{
    if (!ProfileNameFits(file))
        return FALSE;
    return ::WritePrivateProfileStringA(section, key, value, file.c_str());
}
