#include "util/FileUtil.h"
#include "util/Sha256.h"

#include <cstdio>
#include <cstring>

#include "util/Sha256.h"
#include "util/StrFormat.h"
#include "util/SystemLib.h"
#include "util/WinHandles.h"

using namespace kvpath;

namespace {

// version.dll is loaded from the system folder on first use: importing it
// would let a copy planted in the package folder be loaded instead.
struct CVersionApi {
    typedef DWORD(WINAPI* SizeFn)(LPCSTR, LPDWORD);
    typedef BOOL(WINAPI* InfoFn)(LPCSTR, DWORD, DWORD, LPVOID);
    typedef BOOL(WINAPI* QueryFn)(LPCVOID, LPCSTR, LPVOID*, PUINT);
    SizeFn pSize = nullptr;
    InfoFn pInfo = nullptr;
    QueryFn pQuery = nullptr;
    bool Ready() const { return pSize && pInfo && pQuery; }
};

const CVersionApi& VersionApi()
{
    static const CVersionApi api = [] {
        CVersionApi a;
        HMODULE h = LoadSystemLibrary("version.dll");
        if (h) {
            a.pSize = reinterpret_cast<CVersionApi::SizeFn>(
                reinterpret_cast<void*>(::GetProcAddress(h, "GetFileVersionInfoSizeA")));
            a.pInfo = reinterpret_cast<CVersionApi::InfoFn>(
                reinterpret_cast<void*>(::GetProcAddress(h, "GetFileVersionInfoA")));
            a.pQuery = reinterpret_cast<CVersionApi::QueryFn>(
                reinterpret_cast<void*>(::GetProcAddress(h, "VerQueryValueA")));
        }
        return a;
    }();
    return api;
}

// The whole version resource of a file; empty when it has none.
std::vector<BYTE> ReadVersionResource(const std::string& path)
{
    std::vector<BYTE> data;
    const CVersionApi& api = VersionApi();
    if (!api.Ready() || path.empty() || !PathFitsLimit(path))
        return data;
    DWORD handle = 0;
    DWORD size = api.pSize(path.c_str(), &handle);
    if (size == 0)
        return data;
    data.resize(size);
    if (!api.pInfo(path.c_str(), 0, size, data.data()))
        data.clear();
    return data;
}

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

bool QueryString(const std::vector<BYTE>& data, const char* subBlock, std::string& out)
{
    void* p = nullptr;
    UINT len = 0;
    if (!VersionApi().pQuery(data.data(), subBlock, &p, &len) || !p)
        return false;
    // The length counts characters including the terminator on some systems
    // and excluding it on others: stop at the first zero within it.
    const char* s = static_cast<const char*>(p);
    const BYTE* end = data.data() + data.size();
    size_t max = static_cast<size_t>(end - static_cast<const BYTE*>(p));
    if (len < max)
        max = len;
    out.assign(s, strnlen(s, max));
    return true;
}

// Shared half of the two string readers. found: the string was there.
// Returns false when the resource or its translation table is missing.
bool ReadVersionStringField(const std::string& path, const char* field, std::string& value, bool& found)
{
    found = false;
    std::vector<BYTE> data = ReadVersionResource(path);
    if (data.empty())
        return false;
    void* p = nullptr;
    UINT len = 0;
    if (!VersionApi().pQuery(data.data(), "\\VarFileInfo\\Translation", &p, &len) || !p || len < 4)
        return false;
    const WORD* pair = static_cast<const WORD*>(p);
    char block[128];
    snprintf(block, sizeof block, "\\StringFileInfo\\%04hX%04hX\\%s", pair[0], pair[1], field);
    found = QueryString(data, block, value);
    return true;
}

}  // namespace

bool PathFitsLimit(const std::string& path)
{
    if (path.size() <= static_cast<size_t>(KV_MAX_PATH_CHARS))
        return true;
    ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
}

bool FileExists(const std::string& path)
{
    if (path.empty() || !PathFitsLimit(path))
        return false;
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool CreateDirectoryTree(const std::string& path, bool isFilePath)
{
    std::string folder;
    if (isFilePath) {
        folder = GetFolderPart(path);
    } else {
        folder = path;
        if (!EndsWithBackslash(CP_ACP, folder))
            folder += '\\';
    }
    if (folder.empty() || !PathFitsLimit(folder))
        return false;
    if (FileExists(folder))
        return true;

    bool unc = IsUnc(folder);
    std::string tmpl = GetParentFolder(folder);
    if (unc)
        tmpl = WithUncPrefix(tmpl);
    if (::CreateDirectoryExA(tmpl.c_str(), folder.c_str(), nullptr))
        return true;

    CSplitPath sp = SplitPath(CP_ACP, folder);
    std::vector<std::string> parts = DirComponents(CP_ACP, sp.dir);
    std::string prefix = WalkRoot(sp);
    bool failed = false;
    for (size_t i = 0; i < parts.size() && !failed; ++i) {
        prefix = JoinPath(prefix, parts[i]) + "\\";
        if (unc) {
            prefix = WithUncPrefix(prefix);
            if (i == 0)
                continue;  // the server name is not a folder
        }
        if (FileExists(prefix))
            continue;
        std::string parent = GetParentFolder(prefix);
        if (unc)
            parent = WithUncPrefix(parent);
        if (!::CreateDirectoryExA(parent.c_str(), prefix.c_str(), nullptr))
            failed = true;
    }
    if (failed)
        return false;
    if (FileExists(folder))
        return true;
    return ::CreateDirectoryExA(tmpl.c_str(), folder.c_str(), nullptr) != FALSE;
}

int FindFiles(std::vector<std::string>& list, const std::string& folder, const std::string& pattern,
              bool recurse)
{
    int count = 0;
    WIN32_FIND_DATAA fd;
    if (recurse) {
        std::string all = JoinPath(folder, "*.*");
        if (PathFitsLimit(all)) {
            CFindHandle h(::FindFirstFileA(all.c_str(), &fd));
            if (h) {
                do {
                    if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && fd.cFileName[0] != '.')
                        count += FindFiles(list, JoinPath(folder, fd.cFileName), pattern, recurse);
                } while (::FindNextFileA(h.Get(), &fd));
            }
        }
    }
    std::string searchPath = JoinPath(folder, pattern);
    if (!PathFitsLimit(searchPath))
        return count;
    CFindHandle h(::FindFirstFileA(searchPath.c_str(), &fd));
    if (!h)
        return count;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            list.push_back(JoinPath(folder, fd.cFileName));
            ++count;
        }
    } while (::FindNextFileA(h.Get(), &fd));
    return count;
}

bool OpenCopySource(const std::string& path, CKvCopySource& source)
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
    if (PathFitsLimit(path))
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

bool HeadMayHoldVersion(const BYTE* head, size_t size)
{
    if (size >= 2 && head[0] == 'M' && head[1] == 'Z')
        return true;
    return size >= 4 && memcmp(head, "SZDD", 4) == 0;
}

bool FileMayHoldVersion(const std::string& path)
{
    if (!PathFitsLimit(path))
        return true;
    CHandle h(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    BYTE head[4] = {0};
    DWORD got = 0;
    if (!h || !::ReadFile(h.Get(), head, sizeof head, &got, nullptr))
        return true;
    return HeadMayHoldVersion(head, got);
}

int CopyFileKeepTime(CKvCopySource& source, const std::string& destination, const DWORD* destinationAttributes,
                     std::vector<BYTE>& buffer, CKvLogSink* logSink, CKvFingerprint* written, bool createNew)
{
    DWORD destAttrs = INVALID_FILE_ATTRIBUTES;
    if (destinationAttributes)
        destAttrs = *destinationAttributes;
    else if (!createNew && PathFitsLimit(destination))
        destAttrs = ::GetFileAttributesA(destination.c_str());
    if (destAttrs == INVALID_FILE_ATTRIBUTES)
        destAttrs = FILE_ATTRIBUTE_NORMAL;

    CHandle out;
    if (PathFitsLimit(destination))
        out.Reset(::CreateFileA(destination.c_str(), GENERIC_WRITE, 0, nullptr, createNew ? CREATE_NEW : CREATE_ALWAYS,
                                destAttrs, nullptr));
    if (!out) {
        DWORD err = ::GetLastError();
        if (logSink && !(createNew && err == ERROR_FILE_EXISTS))
            logSink->LogText(KvFormat("Create new File Failed,last error:[%lu]", err));
        source.handle.Close();
        ::SetLastError(err);
        return KVCOPY_CREATE_FAILED;
    }

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
        if (!WriteAllBytes(out.Get(), buffer.data(), got, result))
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
    // The times (and with them the attributes) go onto the handle that wrote
    // the bytes: an explicitly set time is not overwritten when that handle
    // closes, and opening the file a second time for it costs as much as the
    // copy of a small file. Only when that fails is the file reopened.
    bool attrsSet = false;
    bool timesSet = false;
    if (result == KVCOPY_OK && source.bFlush && !::FlushFileBuffers(out.Get())) {
        if (logSink)
            logSink->LogText(KvFormat("Flush new File Failed,last error:[%lu]", ::GetLastError()));
        result = KVCOPY_WRITE_FAILED;
    }
    if (result == KVCOPY_OK && source.timesKnown)
        attrsSet = SetTimesAndAttributes(out.Get(), source);
    if (result == KVCOPY_OK)
        timesSet = attrsSet || ::SetFileTime(out.Get(), &source.created, &source.accessed, &source.written);
    out.Close();
    source.handle.Close();
    if (result != KVCOPY_OK)
        return result;

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

bool MakeTempFileName(const std::string& folder, const char* prefix, std::string& name)
{
    name.clear();
    if (folder.size() > static_cast<size_t>(MAX_PATH - 14)) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    char buffer[MAX_PATH + 1] = {0};
    if (!::GetTempFileNameA(folder.c_str(), prefix, 0, buffer))
        return false;
    buffer[MAX_PATH] = '\0';
    name = buffer;
    return true;
}

bool GetFileVersionNumbers(const std::string& path, WORD version[4])
{
    std::vector<BYTE> data = ReadVersionResource(path);
    if (data.empty())
        return false;
    void* p = nullptr;
    UINT len = 0;
    if (!VersionApi().pQuery(data.data(), "\\", &p, &len) || !p || len < sizeof(VS_FIXEDFILEINFO))
        return false;
    const VS_FIXEDFILEINFO* info = static_cast<const VS_FIXEDFILEINFO*>(p);
    version[0] = HIWORD(info->dwFileVersionMS);
    version[1] = LOWORD(info->dwFileVersionMS);
    version[2] = HIWORD(info->dwFileVersionLS);
    version[3] = LOWORD(info->dwFileVersionLS);
    return true;
}

bool GetFileVersionString(const std::string& path, std::string& buffer)
{
    std::string value;
    bool found = false;
    if (!ReadVersionStringField(path, "FileVersion", value, found) || !found)
        return false;
    buffer = value;
    return true;
}

bool GetSpecialBuildString(const std::string& path, std::string& buffer)
{
    std::string value;
    bool found = false;
    if (!ReadVersionStringField(path, "SpecialBuild", value, found))
        return false;
    if (!found) {
        buffer.clear();
        return false;
    }
    buffer = value;
    return true;
}

bool GetFileSizeLow(const std::string& path, DWORD& size)
{
    if (path.empty() || !PathFitsLimit(path))
        return false;
    WIN32_FIND_DATAA fd;
    CFindHandle h(::FindFirstFileA(path.c_str(), &fd));
    if (!h)
        return false;
    size = fd.nFileSizeLow;
    return true;
}

std::string AbsolutePath(const std::string& base, const std::string& path)
{
    if (path.empty())
        return path;
    std::string full;
    const bool drive = path.size() >= 2 && path[1] == ':';
    const bool unc = path.compare(0, 2, "\\\\") == 0;
    if (drive || unc)
        full = path;
    else if (path[0] == '\\' || path[0] == '/')
        full = (base.size() >= 2 && base[1] == ':' ? base.substr(0, 2) : std::string()) + path;
    else
        full = JoinPath(base, path);
    // GetFullPathNameA only tidies the text here: the path is absolute already.
    char buffer[MAX_PATH];
    DWORD n = ::GetFullPathNameA(full.c_str(), sizeof buffer, buffer, nullptr);
    if (n > 0 && n < sizeof buffer)
        return std::string(buffer, n);
    return full;
}

namespace {

// The full path the system makes of path; empty when it cannot.
std::string FullPathOf(const std::string& path)
{
    if (path.empty())
        return std::string();
    std::vector<char> buffer(MAX_PATH);
    for (int round = 0; round < 2; ++round) {
        DWORD n = ::GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (n == 0)
            return std::string();
        if (n < buffer.size())
            return std::string(buffer.data(), n);
        buffer.resize(n + 1);
    }
    return std::string();
}

}  // namespace

bool PathIsBelow(const std::string& base, const std::string& path)
{
    std::string b = FullPathOf(base);
    std::string p = FullPathOf(path);
    if (b.empty() || p.empty())
        return false;
    if (!EndsWithBackslash(CP_ACP, b))
        b += '\\';
    // The full path of something below base starts with base's own full
    // path, byte for byte: the system changes nothing in the part they share.
    return p.size() > b.size() && p.compare(0, b.size(), b) == 0;
}

bool IsDevicePath(const std::string& path)
{
    if (path.compare(0, 4, "\\\\.\\") == 0 || path.compare(0, 4, "\\\\?\\") == 0)
        return true;
    char buffer[MAX_PATH];
    DWORD n = ::GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
    // The system turns a reserved name, wherever it stands, into "\\.\NAME".
    return n > 0 && n < sizeof buffer && std::strncmp(buffer, "\\\\.\\", 4) == 0;
}
