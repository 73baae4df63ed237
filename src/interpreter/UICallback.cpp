// The text type that carries program texts to the windows unchanged.
#include "interpreter/UICallback.h"

namespace {

std::wstring WidenAnsi(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    int n = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0)
        return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

std::string NarrowAnsi(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int n = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

}  // namespace

CHFS_UIText::CHFS_UIText(const std::string& scriptText) : m_strShown(WidenAnsi(scriptText)), m_strLogged(scriptText)
{
}

CHFS_UIText CHFS_UIText::Program(const std::wstring& text)
{
    CHFS_UIText t;
    t.m_strShown = text;
    t.m_strLogged = NarrowAnsi(text);
    return t;
}

CHFS_UIText& CHFS_UIText::operator+=(const CHFS_UIText& more)
{
    m_strShown += more.m_strShown;
    m_strLogged += more.m_strLogged;
    return *this;
}
