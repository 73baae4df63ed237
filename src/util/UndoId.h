#pragma once
// Identities of the things a recorded change can touch: one text per thing,
// however the script spelled its path (case, "." and "..", a trailing
// backslash), so that changes recorded by different sections (or twice by
// one) are known to touch the same thing.
#include <windows.h>

#include <string>

std::string KvUndoFileId(const std::string& path);
// view64: the description's "x64" flag. isKey: the key itself (value is
// then ignored); otherwise a value, empty for the default value.
std::string KvUndoRegId(HKEY root, const std::string& keyPath, int view64, const std::string& value, bool isKey);
std::string KvUndoIniId(const std::string& file, const std::string& section, const std::string& key);
