#include "Pendrel.h"

#include <string>

namespace {

const wchar_t kProductKey[] = L"SOFTWARE\\Norlane\\Vellmark for Exchange\\CurrentVersion";
const wchar_t kHomeDirValue[] = L"HomeDir";
const DWORD kHomeDirBytes = 1024;

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring ReadHomeDir(bool& found)
{
    found = false;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::wstring();
    found = true;
    wchar_t buffer[kHomeDirBytes / sizeof(wchar_t) + 1] = {0};
    DWORD size = kHomeDirBytes;
    DWORD type = 0;
    LONG ret = ::RegQueryValueExW(key, kHomeDirValue, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    ::RegCloseKey(key);
    if (ret != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::wstring();
    buffer[kHomeDirBytes / sizeof(wchar_t)] = 0;
    return buffer;
}

}  // namespace

int ReleasePerfDll()
{
    bool found = false;
    std::wstring home = ReadHomeDir(found);
    if (!found)
        return 0;
    if (!home.empty() && home.back() == L'\\')
        home.pop_back();

    const std::wstring dll = home + L"\\perfQorvPerfMonMgr.dll";
    const std::wstring spare = home + L"\\Debug\\perfQorvPerfMonMgr_" + std::to_wstring(::GetCurrentProcessId()) + L".dll";

    // Without the spare copy the delete below would leave no DLL at all.
    if (!::CopyFileW(dll.c_str(), spare.c_str(), FALSE))
        return 0;

    if (::DeleteFileW(dll.c_str()) || ::GetLastError() != ERROR_ACCESS_DENIED) {
        // The copy takes the DLL's place; it is dropped only while the DLL
        // itself is still there, so the product's file never gets lost.
        if (!::MoveFileW(spare.c_str(), dll.c_str()) && Exists(dll))
            ::DeleteFileW(spare.c_str());
        return 0;
    }

    // A loaded DLL can't be deleted but can be renamed: it lives on in the
    // Debug folder and its name is free for the new file.
    ::DeleteFileW(spare.c_str());
    ::MoveFileW(dll.c_str(), spare.c_str());
    return 0;
}
