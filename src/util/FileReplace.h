#pragma once
// A file that a reader may pick up at any moment is written under a
// temporary name beside it and renamed into place: the reader finds the old
// file or the new one, never a part of one.
#include <windows.h>
#include <string>

// Writes bytes to path that way, creating the folder when missing. 0, or the
// system error of the step that failed (the temporary file is removed then).
DWORD KvWriteFileByRename(const std::string& path, const std::string& bytes);
