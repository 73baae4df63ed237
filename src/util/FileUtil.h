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

class CKvSha256;

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
// logSink receives the copy's failure lines; null writes none. written
// (when given) receives the fingerprint of the bytes the copy wrote, taken
// while they pass through its buffer.
int CopyFileKeepTime(const std::string& source, const std::string& destination, CKvLogSink* logSink,
                     CKvFingerprint* written = nullptr);

// Byte copies move data in blocks of this size: a typical product file goes
// in one read and one write, and every call saved is a round trip to the
// system saved (under Wine, to its server).
enum { KV_COPY_BLOCK = 256 * 1024 };

// The source of a copy, opened once for everything a caller wants to know
// before copying it (its times, its attributes, its first bytes) and then
// for the copy itself, so that a file is opened and read only once.
struct CKvCopySource {
    std::string path;
    CHandle handle;
    DWORD openError = 0;  // system error of a failed open
    FILETIME created = {}, accessed = {}, written = {};
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    bool timesKnown = false;
    // The size when it was opened: the copy reads until it has that many
    // bytes (a read may return fewer than asked, on a network share say, and
    // still not be at the end).
    bool sizeKnown = false;
    uint64_t size = 0;
    // The first block, once read: headSize bytes at the start of the
    // caller's buffer (which must stay untouched until the copy).
    bool headRead = false;
    DWORD headSize = 0;
    DWORD headError = 0;  // system error of a failed first read
    // Set by a caller that wants the fingerprint of what it copies: every
    // byte the copy moves is fed to it while it is in the buffer, so the
    // fingerprint costs no second read. nCopied counts those bytes.
    CKvSha256* pHash = nullptr;
    unsigned long long nCopied = 0;
    // Set by a caller whose copy must be on the disk, not only in the
    // system's cache, before it counts as made (a backup that a record or
    // journal will name): the copy is flushed through its writing handle.
    bool bFlush = false;
};
// Opens path for reading, shared for reading, as a copy does; false with the
// system error in openError (ERROR_FILENAME_EXCED_RANGE for a path that does
// not fit the limit).
bool OpenCopySource(const std::string& path, CKvCopySource& source);
// Reads the first block into buffer (made KV_COPY_BLOCK bytes long) unless
// it was read before; false when the read failed.
bool ReadCopySourceHead(CKvCopySource& source, std::vector<BYTE>& buffer);
// Whether a file that starts with these bytes can carry a version resource
// at all: only executables ("MZ", whatever follows) and files compressed by
// the system's expander ("SZDD") can; for any other file the version
// functions would search in vain.
bool HeadMayHoldVersion(const BYTE* head, size_t size);
// Whether the file at path can carry a version resource (HeadMayHoldVersion
// of its first bytes); true when it cannot be read here, so that the version
// functions decide.
bool FileMayHoldVersion(const std::string& path);
// The copy of an opened source (see CopyFileKeepTime for what it does and
// returns; the source is closed at the end). destinationAttributes: the
// destination's attributes when the caller knows them, INVALID_FILE_ATTRIBUTES
// when it knows the destination does not exist; null to have them read.
// written: as above. createNew: the destination must not exist yet (a name
// another file holds gives KVCOPY_CREATE_FAILED with ERROR_FILE_EXISTS as
// last error, and that file is left alone).
int CopyFileKeepTime(CKvCopySource& source, const std::string& destination, const DWORD* destinationAttributes,
                     std::vector<BYTE>& buffer, CKvLogSink* logSink, CKvFingerprint* written = nullptr,
                     bool createNew = false);
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
