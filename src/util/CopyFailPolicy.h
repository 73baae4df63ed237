#pragma once
// The copy the file sections use: a safety copy of the file being replaced,
// and the OnCopyFail policy (clear read-only, replace at the next boot).
#include <string>

class CHFS_Interpreter;

int CopyFileSafe(CHFS_Interpreter* pInterpreter, const std::string& source, const std::string& destination);
int CopyFileWithFailPolicy(CHFS_Interpreter* pInterpreter, const std::string& source,
                           const std::string& destination, bool removeReadOnly, bool reboot);
