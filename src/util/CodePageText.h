#pragma once
// Whole-string conversions between a code page's 8-bit text and UTF-16.
// Nothing is cut or overrun: the result is sized by a first call. A text the
// code page cannot convert gives an empty result.
#include <string>

std::wstring KvWiden(unsigned codePage, const std::string& text);
std::string KvNarrow(unsigned codePage, const std::wstring& text);
// An 8-bit text of the system's ANSI code page as UTF-8; a text that does
// not convert is kept as it is.
std::string KvAnsiToUtf8(const std::string& text);
