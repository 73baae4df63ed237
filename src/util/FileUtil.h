#pragma once
// File utilities shared by the file sections, the FileInfo reference, the
// start-up and the Run section. Stateless; nothing throws. Paths are ANSI
// code page strings of at most 259 characters; longer ones are refused.
#include <windows.h>
#include <string>
#include <vector>

#include "util/FileFingerprint.h"
#include "util/LogSink.h"
#include "util/PathText.h"
#include "util/WinHandles.h"
// The byte copies (util/FileCopy.cpp).
#include "util/FileCopy.h"

// The longest path the ANSI file functions take (MAX_PATH with its terminator).
enum { KV_MAX_PATH_CHARS = MAX_PATH - 1 };
// False, with ERROR_FILENAME_EXCED_RANGE as last error, for a path that
// does not fit the Win32 path limit.
bool PathFitsLimit(const std::string& path);

bool FileExists(const std::string& path);
bool CreateDirectoryTree(const std::string& path, bool isFilePath);
// path as a full path: a drive path or a UNC path as it is, a rooted one
// ("\x") on base's drive, any other joined to base; "." and ".." resolved.
// Empty stays empty.
std::string AbsolutePath(const std::string& base, const std::string& path);
// Whether the name reaches a device (CON, NUL, COM1, "\\.\x") rather than a file.
bool IsDevicePath(const std::string& path);
int FindFiles(std::vector<std::string>& list, const std::string& folder, const std::string& pattern,
              bool recurse);
// Whether a file that starts with these bytes can carry a version resource
// at all: only executables ("MZ", whatever follows) and files compressed by
// the system's expander ("SZDD") can; for any other file the version
// functions would search in vain.
bool HeadMayHoldVersion(const BYTE* head, size_t size);
// Whether the file at path can carry a version resource (HeadMayHoldVersion
// of its first bytes); true when it cannot be read here, so that the version
// functions decide.
bool FileMayHoldVersion(const std::string& path);
// GetTempFileNameA into a buffer that cannot be overrun: the folder must
// leave room for the unique name (the function takes at most MAX_PATH - 14
// characters), or no name is made and ERROR_FILENAME_EXCED_RANGE is set.
bool MakeTempFileName(const std::string& folder, const char* prefix, std::string& name);
// Whether path, as the system would resolve it, lies below base (not base
// itself): "." and ".." and the trailing dots and blanks the system drops
// are taken into account without touching the disk.
bool PathIsBelow(const std::string& base, const std::string& path);
// version[0..3] = major, minor, build, revision; untouched on failure.
bool GetFileVersionNumbers(const std::string& path, WORD version[4]);
bool GetFileVersionString(const std::string& path, std::string& buffer);
bool GetSpecialBuildString(const std::string& path, std::string& buffer);
bool GetFileSizeLow(const std::string& path, DWORD& size);
