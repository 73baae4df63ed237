#include "app/StringTable.h"

#include "util/CodePageText.h"

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
    return KvNarrow(CP_ACP, LoadResStringW(id));
}
