#pragma once
// The byte copies of the file utilities (util/FileCopy.cpp); FileUtil.h
// brings them along with the rest.
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

#include "util/FileFingerprint.h"
#include "util/LogSink.h"
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
    // Opened for writing too (OpenCopySource with rewrite): a copy from it
    // leaves it open, and its new content can go in through it
    // (CopyFileOver) instead of through a second open of the file.
    bool bRewrite = false;
};
// Opens path for reading, shared for reading, as a copy does; false with the
// system error in openError (ERROR_FILENAME_EXCED_RANGE for a path that does
// not fit the limit). With rewrite, for writing as well where the file
// allows it (not read-only, not held by another program); otherwise for
// reading only, as without.
bool OpenCopySource(const std::string& path, CKvCopySource& source, bool rewrite = false);
// Whether the opened source can carry a version resource (HeadMayHoldVersion
// of its first bytes; true when they cannot be read). The source stays
// unread.
bool CopySourceMayHoldVersion(CKvCopySource& source);
// Reads the first block into buffer (made KV_COPY_BLOCK bytes long) unless
// it was read before; false when the read failed.
bool ReadCopySourceHead(CKvCopySource& source, std::vector<BYTE>& buffer);
// The copy of an opened source (see CopyFileKeepTime for what it does and
// returns; the source is closed at the end). destinationAttributes: the
// destination's attributes when the caller knows them, INVALID_FILE_ATTRIBUTES
// when it knows the destination does not exist; null to have them read.
// written: as above.
int CopyFileKeepTime(CKvCopySource& source, const std::string& destination, const DWORD* destinationAttributes,
                     std::vector<BYTE>& buffer, CKvLogSink* logSink, CKvFingerprint* written = nullptr);
// The same copy into a file that must not exist yet (a name another file
// holds gives KVCOPY_CREATE_FAILED with ERROR_FILE_EXISTS as last error, and
// that file is left alone), which the caller names once it is complete: on
// success out is left open for RenameOpenFile (closed where the system sets
// times only by name); on failure it is closed and the partial copy is the
// caller's to delete.
int CopyFileToNew(CKvCopySource& source, const std::string& destination, std::vector<BYTE>& buffer,
                  CKvLogSink* logSink, CKvFingerprint* written, CHandle& out);
// Gives the file at path the name newPath unless a file of that name exists
// (false with ERROR_ALREADY_EXISTS, ERROR_FILE_EXISTS or ERROR_ACCESS_DENIED
// then; the handle stays open for another try). Through file when it is open
// (from CopyFileToNew): a rename by name would open the file once more.
bool RenameOpenFile(CHandle& file, const std::string& path, const std::string& newPath);
// The copy of an opened source over destination, a file opened with
// rewrite (bRewrite set) and not yet written: its content is replaced
// through that handle, with the source's times and attributes, and both are
// closed. The codes of CopyFileKeepTime; after a failure the destination
// holds what was written so far.
int CopyFileOver(CKvCopySource& source, CKvCopySource& destination, std::vector<BYTE>& buffer,
                 CKvLogSink* logSink, CKvFingerprint* written = nullptr);
