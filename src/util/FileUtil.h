#pragma once
// File utilities shared by the file sections, the FileInfo reference, the
// start-up and the Run section. Stateless; nothing throws. Paths are ANSI
// code page strings of at most 259 characters; longer ones are refused.
#include <windows.h>
#include <string>
#include <vector>

#include "util/LogSink.h"
#include "util/PathText.h"

enum {
    KVCOPY_OK = 0,
    KVCOPY_SOURCE_OPEN_FAILED = -100,
    KVCOPY_WRITE_FAILED = -110,
    KVCOPY_SHORT_WRITE = -120,
    KVCOPY_SET_TIME_FAILED = -130,
    KVCOPY_CREATE_FAILED = -140,
    // A read of the source failed part-way: the copy is incomplete.
    KVCOPY_READ_FAILED = -150
};

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
// logSink receives the copy's failure lines; null writes none.
int CopyFileKeepTime(const std::string& source, const std::string& destination, CKvLogSink* logSink);
// version[0..3] = major, minor, build, revision; untouched on failure.
bool GetFileVersionNumbers(const std::string& path, WORD version[4]);
bool GetFileVersionString(const std::string& path, std::string& buffer);
bool GetSpecialBuildString(const std::string& path, std::string& buffer);
bool GetFileSizeLow(const std::string& path, DWORD& size);
