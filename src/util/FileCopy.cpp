// The byte copies of the file utilities: a source opened once for everything
// a caller wants to know and for its copy, copies that carry the times and
// attributes over through the handle that wrote them, a copy into a file that
// is named once complete, and a rewrite through the handle that read the file.
#include "util/FileUtil.h"

#include "util/Sha256.h"
#include "util/StrFormat.h"
#include "util/SystemLib.h"

namespace {

// Times and attributes of an open file in one call, and the same set on a
// handle in one call, where the system has the calls (Vista and later);
// otherwise the classic pair of calls each.
struct CHandleInfoApi {
    typedef BOOL(WINAPI* GetFn)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
    typedef BOOL(WINAPI* SetFn)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
    GetFn pGet = nullptr;
    SetFn pSet = nullptr;
};

const CHandleInfoApi& HandleInfoApi()
{
    static const CHandleInfoApi api = [] {
        CHandleInfoApi a;
        a.pGet = reinterpret_cast<CHandleInfoApi::GetFn>(
            reinterpret_cast<void*>(GetSystemProcAddress("kernel32.dll", "GetFileInformationByHandleEx")));
        a.pSet = reinterpret_cast<CHandleInfoApi::SetFn>(
            reinterpret_cast<void*>(GetSystemProcAddress("kernel32.dll", "SetFileInformationByHandle")));
        return a;
    }();
    return api;
}

FILETIME ToFileTime(const LARGE_INTEGER& v)
{
    FILETIME ft;
    ft.dwLowDateTime = v.LowPart;
    ft.dwHighDateTime = static_cast<DWORD>(v.HighPart);
    return ft;
}

LARGE_INTEGER ToLarge(const FILETIME& ft)
{
    LARGE_INTEGER v;
    v.LowPart = ft.dwLowDateTime;
    v.HighPart = static_cast<LONG>(ft.dwHighDateTime);
    return v;
}

// The attributes a copy can carry over (what SetFileAttributes accepts).
const DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_TEMPORARY |
                                  FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Sets the times and attributes of a file open for writing through its
// handle; false when the system cannot, and the caller sets them the
// classic way.
bool SetTimesAndAttributes(HANDLE h, const CKvCopySource& source)
{
    const CHandleInfoApi& api = HandleInfoApi();
    DWORD attrs = source.attributes & kSettableAttributes;
    if (!api.pSet || source.attributes == INVALID_FILE_ATTRIBUTES || attrs == 0)
        return false;
    FILE_BASIC_INFO info = {};
    info.CreationTime = ToLarge(source.created);
    info.LastAccessTime = ToLarge(source.accessed);
    info.LastWriteTime = ToLarge(source.written);
    info.FileAttributes = attrs;  // ChangeTime 0: left to the system
    return api.pSet(h, FileBasicInfo, &info, sizeof info) != FALSE;
}

bool WriteAllBytes(HANDLE h, const BYTE* data, DWORD size, int& result)
{
    DWORD put = 0;
    if (!::WriteFile(h, data, size, &put, nullptr)) {
        result = KVCOPY_WRITE_FAILED;
        return false;
    }
    if (put < size) {
        result = KVCOPY_SHORT_WRITE;
        return false;
    }
    return true;
}

}  // namespace

bool OpenCopySource(const std::string& path, CKvCopySource& source, bool rewrite)
{
    source.path = path;
    source.handle.Close();
    source.timesKnown = false;
    source.attributes = INVALID_FILE_ATTRIBUTES;
    source.headRead = false;
    source.headSize = 0;
    source.headError = 0;
    source.openError = 0;
    source.sizeKnown = false;
    source.size = 0;
    source.nCopied = 0;
    source.bRewrite = false;
    if (rewrite && PathFitsLimit(path)) {
        source.handle.Reset(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        source.bRewrite = static_cast<bool>(source.handle);
    }
    if (!source.handle && PathFitsLimit(path))
        source.handle.Reset(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!source.handle) {
        source.openError = ::GetLastError();
        return false;
    }
    FILE_BASIC_INFO info = {};
    const CHandleInfoApi& api = HandleInfoApi();
    if (api.pGet && api.pGet(source.handle.Get(), FileBasicInfo, &info, sizeof info)) {
        source.created = ToFileTime(info.CreationTime);
        source.accessed = ToFileTime(info.LastAccessTime);
        source.written = ToFileTime(info.LastWriteTime);
        source.attributes = info.FileAttributes;
        source.timesKnown = true;
    } else {
        source.timesKnown =
            ::GetFileTime(source.handle.Get(), &source.created, &source.accessed, &source.written) != FALSE;
        source.attributes = ::GetFileAttributesA(path.c_str());
    }
    LARGE_INTEGER size;
    if (::GetFileSizeEx(source.handle.Get(), &size)) {
        source.sizeKnown = true;
        source.size = static_cast<uint64_t>(size.QuadPart);
    }
    return true;
}

bool ReadCopySourceHead(CKvCopySource& source, std::vector<BYTE>& buffer)
{
    if (source.headRead)
        return source.headError == 0;
    if (buffer.size() < KV_COPY_BLOCK)
        buffer.resize(KV_COPY_BLOCK);
    source.headRead = true;
    DWORD got = 0;
    if (!source.handle || !::ReadFile(source.handle.Get(), buffer.data(), KV_COPY_BLOCK, &got, nullptr)) {
        source.headError = source.handle ? ::GetLastError() : static_cast<DWORD>(ERROR_INVALID_HANDLE);
        if (source.headError == 0)
            source.headError = ERROR_READ_FAULT;
        source.headSize = 0;
        return false;
    }
    source.headSize = got;
    return true;
}

bool CopySourceMayHoldVersion(CKvCopySource& source)
{
    BYTE head[4] = {0};
    DWORD got = 0;
    if (!source.handle || source.headRead)
        return true;
    bool read = ::ReadFile(source.handle.Get(), head, sizeof head, &got, nullptr) != FALSE;
    LARGE_INTEGER start = {};
    if (!::SetFilePointerEx(source.handle.Get(), start, nullptr, FILE_BEGIN)) {
        // Not back at its start: the copy must not begin with what follows.
        source.handle.Close();
        source.openError = ::GetLastError();
        return true;
    }
    return !read || HeadMayHoldVersion(head, got);
}


namespace {

// The bytes of source into out (positioned at its start) and, when asked,
// their fingerprint; a copy code.
int CopyBytes(CKvCopySource& source, HANDLE out, std::vector<BYTE>& buffer, CKvLogSink* logSink,
              CKvFingerprint* written)
{
    int result = KVCOPY_OK;
    CKvSha256 sha;
    uint64_t total = 0;
    ReadCopySourceHead(source, buffer);
    DWORD got = source.headSize;
    DWORD readError = source.headError;
    for (;;) {
        if (readError != 0) {
            if (logSink)
                logSink->LogText(KvFormat("Read source File Failed,last error:[%lu]", readError));
            result = KVCOPY_READ_FAILED;
            break;
        }
        if (got == 0) {
            // Only a read that returns nothing is the end of the file; it
            // must come where the file's size says.
            if (source.sizeKnown && total != source.size) {
                if (logSink)
                    logSink->LogText(KvFormat("Read source File ended at %llu of %llu bytes",
                                              static_cast<unsigned long long>(total),
                                              static_cast<unsigned long long>(source.size)));
                result = KVCOPY_READ_FAILED;
            }
            break;
        }
        if (!WriteAllBytes(out, buffer.data(), got, result))
            break;
        if (written)
            sha.Update(buffer.data(), got);
        if (source.pHash)
            source.pHash->Update(buffer.data(), got);
        source.nCopied += got;
        total += got;
        // The whole file is there: no read is spent on learning so.
        if (source.sizeKnown && total >= source.size)
            break;
        if (!::ReadFile(source.handle.Get(), buffer.data(), KV_COPY_BLOCK, &got, nullptr)) {
            readError = ::GetLastError();
            if (readError == 0)
                readError = ERROR_READ_FAULT;
        }
    }
    if (written && result == KVCOPY_OK) {
        written->bPresent = true;
        written->nSize = total;
        written->strHash = sha.FinalHex();
    }
    return result;
}

// What is done to a complete copy through the handle that wrote it: the
// flush when asked, then the source's times and attributes. The times (and
// with them the attributes) go onto the writing handle: an explicitly set
// time is not overwritten when that handle closes, and opening the file a
// second time for it costs as much as the copy of a small file. timesSet
// and attrsSet say what the caller still has to do by name.
int FinishCopy(const CKvCopySource& source, HANDLE out, CKvLogSink* logSink, bool& timesSet, bool& attrsSet)
{
    timesSet = attrsSet = false;
    if (source.bFlush && !::FlushFileBuffers(out)) {
        if (logSink)
            logSink->LogText(KvFormat("Flush new File Failed,last error:[%lu]", ::GetLastError()));
        return KVCOPY_WRITE_FAILED;
    }
    if (source.timesKnown)
        attrsSet = SetTimesAndAttributes(out, source);
    timesSet = attrsSet || ::SetFileTime(out, &source.created, &source.accessed, &source.written);
    return KVCOPY_OK;
}

// The times and attributes FinishCopy could not set through the handle,
// set by name once it is closed.
int FinishByName(const CKvCopySource& source, const std::string& destination, CKvLogSink* logSink, bool timesSet,
                 bool attrsSet)
{
    if (!timesSet) {
        CHandle times(::CreateFileA(destination.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!times) {
            DWORD err = ::GetLastError();
            if (logSink)
                logSink->LogText(KvFormat("Open file for set date/time Failed,last error:[%lu]", err));
            return KVCOPY_SET_TIME_FAILED;
        }
        ::SetFileTime(times.Get(), &source.created, &source.accessed, &source.written);
    }
    if (!attrsSet && source.attributes != INVALID_FILE_ATTRIBUTES)
        ::SetFileAttributesA(destination.c_str(), source.attributes);
    return KVCOPY_OK;
}

// CopyBytes, and FinishCopy once the bytes are all there.
int CopyThrough(CKvCopySource& source, HANDLE out, std::vector<BYTE>& buffer, CKvLogSink* logSink,
                CKvFingerprint* written, bool& timesSet, bool& attrsSet)
{
    timesSet = attrsSet = false;
    int result = CopyBytes(source, out, buffer, logSink, written);
    return result == KVCOPY_OK ? FinishCopy(source, out, logSink, timesSet, attrsSet) : result;
}

// A destination that could not be created: logged (unless the caller
// expects the error), the source closed when given, the system error kept
// as the last error.
int CreateFailed(CKvLogSink* logSink, DWORD expected, CKvCopySource* close)
{
    const DWORD err = ::GetLastError();
    if (logSink && err != expected)
        logSink->LogText(KvFormat("Create new File Failed,last error:[%lu]", err));
    if (close)
        close->handle.Close();
    ::SetLastError(err);
    return KVCOPY_CREATE_FAILED;
}

}  // namespace

int CopyFileKeepTime(CKvCopySource& source, const std::string& destination, const DWORD* destinationAttributes,
                     std::vector<BYTE>& buffer, CKvLogSink* logSink, CKvFingerprint* written)
{
    DWORD destAttrs = INVALID_FILE_ATTRIBUTES;
    if (destinationAttributes)
        destAttrs = *destinationAttributes;
    else if (PathFitsLimit(destination))
        destAttrs = ::GetFileAttributesA(destination.c_str());
    if (destAttrs == INVALID_FILE_ATTRIBUTES)
        destAttrs = FILE_ATTRIBUTE_NORMAL;

    CHandle out;
    if (PathFitsLimit(destination))
        out.Reset(::CreateFileA(destination.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, destAttrs, nullptr));
    if (!out)
        return CreateFailed(logSink, ERROR_SUCCESS, &source);
    bool timesSet = false, attrsSet = false;
    int result = CopyThrough(source, out.Get(), buffer, logSink, written, timesSet, attrsSet);
    out.Close();
    source.handle.Close();
    if (result != KVCOPY_OK)
        return result;
    return FinishByName(source, destination, logSink, timesSet, attrsSet);
}

int CopyFileToNew(CKvCopySource& source, const std::string& destination, std::vector<BYTE>& buffer,
                  CKvLogSink* logSink, CKvFingerprint* written, CHandle& out)
{
    out.Close();
    if (PathFitsLimit(destination))
        out.Reset(::CreateFileA(destination.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out)
        return CreateFailed(logSink, ERROR_FILE_EXISTS, nullptr);
    bool timesSet = false, attrsSet = false;
    int result = CopyThrough(source, out.Get(), buffer, logSink, written, timesSet, attrsSet);
    if (!source.bRewrite)
        source.handle.Close();
    if (result != KVCOPY_OK) {
        out.Close();
        return result;
    }
    if (timesSet && attrsSet)
        return KVCOPY_OK;
    // A system that cannot set them through the handle: by name, and the
    // caller names the file by name too.
    out.Close();
    return FinishByName(source, destination, logSink, timesSet, attrsSet);
}

int CopyFileOver(CKvCopySource& source, CKvCopySource& destination, std::vector<BYTE>& buffer,
                 CKvLogSink* logSink, CKvFingerprint* written)
{
    LARGE_INTEGER start = {};
    if (!destination.handle || !destination.bRewrite) {
        destination.handle.Close();
        ::SetLastError(ERROR_INVALID_HANDLE);
        return CreateFailed(logSink, ERROR_SUCCESS, &source);
    }
    HANDLE out = destination.handle.Get();
    if (!::SetFilePointerEx(out, start, nullptr, FILE_BEGIN)) {
        int r = CreateFailed(logSink, ERROR_SUCCESS, &source);
        destination.handle.Close();
        return r;
    }
    bool timesSet = false, attrsSet = false;
    int result = CopyBytes(source, out, buffer, logSink, written);
    // What is left of a longer old content goes, before the times are set.
    if (result == KVCOPY_OK && !::SetEndOfFile(out))
        result = KVCOPY_WRITE_FAILED;
    if (result == KVCOPY_OK)
        result = FinishCopy(source, out, logSink, timesSet, attrsSet);
    destination.handle.Close();
    source.handle.Close();
    if (result != KVCOPY_OK)
        return result;
    return FinishByName(source, destination.path, logSink, timesSet, attrsSet);
}

bool RenameOpenFile(CHandle& file, const std::string& path, const std::string& newPath)
{
    if (!PathFitsLimit(newPath))
        return false;
    const CHandleInfoApi& api = HandleInfoApi();
    if (file && api.pSet) {
        const UINT cp = ::AreFileApisANSI() ? CP_ACP : CP_OEMCP;
        int n = ::MultiByteToWideChar(cp, 0, newPath.c_str(), -1, nullptr, 0);
        if (n > 0) {
            std::vector<BYTE> info(sizeof(FILE_RENAME_INFO) + static_cast<size_t>(n) * sizeof(WCHAR));
            FILE_RENAME_INFO* rename = reinterpret_cast<FILE_RENAME_INFO*>(info.data());
            rename->ReplaceIfExists = FALSE;
            rename->RootDirectory = nullptr;
            ::MultiByteToWideChar(cp, 0, newPath.c_str(), -1, rename->FileName, n);
            rename->FileNameLength = static_cast<DWORD>((n - 1) * sizeof(WCHAR));
            if (api.pSet(file.Get(), FileRenameInfo, rename, static_cast<DWORD>(info.size())))
                return true;
            const DWORD err = ::GetLastError();
            // A name that is taken stays taken whichever way it is asked for.
            if (err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS || err == ERROR_ACCESS_DENIED)
                return false;
        }
    }
    // A file system or system that renames only by name.
    file.Close();
    return ::MoveFileExA(path.c_str(), newPath.c_str(), 0) != FALSE;
}

int CopyFileKeepTime(const std::string& source, const std::string& destination, CKvLogSink* logSink,
                     CKvFingerprint* written)
{
    CKvCopySource in;
    if (!OpenCopySource(source, in)) {
        if (logSink)
            logSink->LogText(
                KvFormat("Open existed File Failed and create new File Failed,last error:[%lu]", in.openError));
        return KVCOPY_SOURCE_OPEN_FAILED;
    }
    std::vector<BYTE> buffer;
    return CopyFileKeepTime(in, destination, nullptr, buffer, logSink, written);
}

