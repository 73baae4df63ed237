#pragma once
// The program's texts (ids 1 to 20) from its string-table resource.
#include <windows.h>
#include <string>

#include "interpreter/ProgramTexts.h"

// Loads string id from the running program's resources (UTF-16) and converts
// it to the ANSI code page. Empty when the id is missing.
std::string LoadResString(UINT id);
// The same text as UTF-16, for display through the W functions.
std::wstring LoadResStringW(UINT id);

// The texts the interpreter asks for, from the same resources.
class CResourceTexts : public CHFS_ProgramTexts {
public:
    std::string Text(UINT id) const override { return LoadResString(id); }
    std::wstring TextW(UINT id) const override { return LoadResStringW(id); }
};
