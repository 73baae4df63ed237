#pragma once
// Whole-string conversions between a code page's 8-bit text and UTF-16.
// Nothing is cut or overrun: the result is sized by a first call. A text the
// code page cannot convert gives an empty result.
#include <string>

std::wstring KvWiden(unsigned codePage, const std::string& text);
std::string KvNarrow(unsigned codePage, const std::wstring& text);
