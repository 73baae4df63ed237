// The text type that carries program texts to the windows unchanged.
#include "interpreter/UICallback.h"

#include "util/CodePageText.h"

CHFS_UIText::CHFS_UIText(const std::string& scriptText)
    : m_strShown(KvWiden(CP_ACP, scriptText)), m_strLogged(scriptText)
{
}

CHFS_UIText CHFS_UIText::Program(const std::wstring& text)
{
    CHFS_UIText t;
    t.m_strShown = text;
    t.m_strLogged = KvNarrow(CP_ACP, text);
    return t;
}

CHFS_UIText& CHFS_UIText::operator+=(const CHFS_UIText& more)
{
    m_strShown += more.m_strShown;
    m_strLogged += more.m_strLogged;
    return *this;
}
