#include "util/FileRestore.h"

#include <windows.h>

#include "util/BootReplace.h"
#include "util/FileUtil.h"
#include "util/StrFormat.h"

namespace {

const char kTag[] = "[Rollback]";

void LogLine(CKvLogSink* log, const std::string& text)
{
    if (log)
        log->LogText(text);
}

// The read-only attribute stands in the way of a replacement that the file's
// own saved copy brings back anyway; put back when nothing was replaced.
class CWritable {
public:
    explicit CWritable(const std::string& path) : m_path(path)
    {
        m_attrs = ::GetFileAttributesA(path.c_str());
        if (m_attrs != INVALID_FILE_ATTRIBUTES && (m_attrs & FILE_ATTRIBUTE_READONLY))
            m_cleared = ::SetFileAttributesA(path.c_str(), m_attrs & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) != 0;
    }
    void Undo()
    {
        if (m_cleared)
            ::SetFileAttributesA(m_path.c_str(), m_attrs);
        m_cleared = false;
    }

private:
    std::string m_path;
    DWORD m_attrs = INVALID_FILE_ATTRIBUTES;
    bool m_cleared = false;
};

bool DeleteEvenReadOnly(const std::string& path)
{
    if (::DeleteFileA(path.c_str()))
        return true;
    DWORD attrs = ::GetFileAttributesA(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES)
        return false;
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (::DeleteFileA(path.c_str()))
        return true;
    DWORD err = ::GetLastError();
    ::SetFileAttributesA(path.c_str(), attrs);
    ::SetLastError(err);
    return false;
}

}  // namespace

int KvPutBack(CKvLogSink* log, const std::string& saved, const std::string& target)
{
    CWritable writable(target);
    if (PathFitsLimit(saved) && PathFitsLimit(target) &&
        ::MoveFileExA(saved.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
        return KVRESTORE_DONE;
    DWORD moveError = ::GetLastError();

    // Another volume, or a target that refuses the rename but takes a write.
    int r = CopyFileKeepTime(saved, target, log);
    if (r == KVCOPY_OK) {
        if (!DeleteEvenReadOnly(saved))
            LogLine(log, KvFormat("%s the saved file (%s) is put back but can't be deleted, err(%lu)", kTag,
                                  saved.c_str(), ::GetLastError()));
        return KVRESTORE_DONE;
    }
    if (r == KVCOPY_SOURCE_OPEN_FAILED) {
        writable.Undo();
        LogLine(log, KvFormat("%s the saved file (%s) can't be read, err(%lu)", kTag, saved.c_str(), moveError));
        return KVRESTORE_FAILED;
    }

    // In use: staged beside it and put in place at the next start; until
    // then the file keeps its attributes.
    writable.Undo();
    std::string staged;
    if (!MakeTempFileName(GetFolderPart(target), "_KVHF_", staged)) {
        writable.Undo();
        LogLine(log, KvFormat("%s GetTempFileName fail in (%s) err:(%lu)", kTag, GetFolderPart(target).c_str(),
                              ::GetLastError()));
        return KVRESTORE_FAILED;
    }
    r = CopyFileKeepTime(saved, staged, log);
    if (r != KVCOPY_OK || !KvScheduleReplacement(log, kTag, staged, target)) {
        DeleteEvenReadOnly(staged);
        writable.Undo();
        LogLine(log, KvFormat("%s (%s) can't be put back over (%s), now or at the next start, copy=%d err(%lu)",
                              kTag, saved.c_str(), target.c_str(), r, moveError));
        return KVRESTORE_FAILED;
    }
    // Kept for an attempt made again before the start; gone after it (a
    // read-only file would stay).
    ::SetFileAttributesA(saved.c_str(), FILE_ATTRIBUTE_NORMAL);
    KvScheduleDeletion(log, kTag, saved);
    return KVRESTORE_AT_NEXT_START;
}

int KvTakeAway(CKvLogSink* log, const std::string& path)
{
    if (!FileExists(path) || DeleteEvenReadOnly(path))
        return KVRESTORE_DONE;
    DWORD err = ::GetLastError();
    if (KvScheduleDeletion(log, kTag, path))
        return KVRESTORE_AT_NEXT_START;
    LogLine(log, KvFormat("%s (%s) can't be deleted, now or at the next start, err(%lu)", kTag, path.c_str(), err));
    return KVRESTORE_FAILED;
}
