#include "app/StringTable.h"

std::wstring LoadResStringW(UINT id)
{
    const wchar_t* p = nullptr;
    // With a zero buffer size LoadStringW hands out a read-only pointer into
    // the resource itself, so no length limit applies.
    int n = ::LoadStringW(::GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&p), 0);
    if (n <= 0 || !p)
        return std::wstring();
    return std::wstring(p, static_cast<size_t>(n));
}

std::string LoadResString(UINT id)
{
    std::wstring w = LoadResStringW(id);
    if (w.empty())
        return std::string();
    int n = ::WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return std::string();
    std::string s(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}
