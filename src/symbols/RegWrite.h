#pragma once
// The registry writes of the installer's own traces (patch database path,
// uninstall entry, remote progress): HKLM keys opened for everything, values
// written whole with their terminating NUL.
#include <windows.h>
#include <string>

#include "util/WinHandles.h"

inline LONG KvCreateKey(HKEY root, const std::string& subkey, CRegKey& key)
{
    DWORD disposition = 0;
    return ::RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                             key.Put(), &disposition);
}

inline LONG KvSetString(HKEY key, const char* name, const std::string& value)
{
    return ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1));
}

inline LONG KvSetDword(HKEY key, const char* name, DWORD value)
{
    return ::RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}
