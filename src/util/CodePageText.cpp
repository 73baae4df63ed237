#include "util/CodePageText.h"

#include <windows.h>

std::wstring KvWiden(unsigned codePage, const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int size = static_cast<int>(text.size());
    int n = ::MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    if (n <= 0)
        return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), size, &out[0], n);
    return out;
}

std::string KvNarrow(unsigned codePage, const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int size = static_cast<int>(text.size());
    int n = ::WideCharToMultiByte(codePage, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(codePage, 0, text.data(), size, &out[0], n, nullptr, nullptr);
    return out;
}

std::string KvAnsiToUtf8(const std::string& text)
{
    std::string out = KvNarrow(CP_UTF8, KvWiden(CP_ACP, text));
    return out.empty() ? text : out;
}
