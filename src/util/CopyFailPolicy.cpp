#include "util/CopyFailPolicy.h"

#include "util/FileUtil.h"
#include "util/StrFormat.h"
#include "util/SystemLib.h"

namespace {

void LogLine(CKvLogSink* p, const std::string& text)
{
    if (p)
        p->LogText(text);
}

// A file that refuses deletion because it is read-only is ours to delete all
// the same (the safety copy inherits the attributes of the file it saves).
bool DeleteEvenReadOnly(const std::string& path)
{
    if (::DeleteFileA(path.c_str()))
        return true;
    DWORD attrs = ::GetFileAttributesA(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_READONLY))
        return false;
    ::SetFileAttributesA(path.c_str(), attrs & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    return ::DeleteFileA(path.c_str()) != FALSE;
}

}  // namespace

int CopyFileSafe(CKvLogSink* pLog, const std::string& source, const std::string& destination)
{
    std::string safety;
    bool saved = false;
    if (FileExists(destination)) {
        safety = JoinPath(GetFolderPart(destination), "$B$_" + GetFileNamePart(destination));
        // Only a complete safety copy may be put back: restoring a partial one
        // would replace the file with a truncated copy of itself.
        saved = CopyFileKeepTime(destination, safety, pLog) == KVCOPY_OK;
    }

    int r = CopyFileKeepTime(source, destination, pLog);

    if (saved && r != KVCOPY_OK) {
        LogLine(pLog, "Rollback the file because the file copy fail.");
        CopyFileKeepTime(safety, destination, pLog);
    }
    if (!safety.empty() && FileExists(safety))
        DeleteEvenReadOnly(safety);
    return r;
}

int CopyFileWithFailPolicy(CKvLogSink* pLog, const std::string& source, const std::string& destination,
                           bool removeReadOnly, bool reboot, bool* pRebootScheduled)
{
    CKvLogSink* p = pLog;
    if (pRebootScheduled)
        *pRebootScheduled = false;
    int r = CopyFileSafe(p, source, destination);
    if (r == KVCOPY_OK || (!removeReadOnly && !reboot))
        return r;

    if (!FileExists(source) || !FileExists(destination)) {
        LogLine(p, "[OnCopyError] Skip");
        return r;
    }
    if (p)
        p->LogText(KvFormat("[OnCopyFail: (bRemoveReadOnly:%d, bReboot:%d)]", removeReadOnly ? 1 : 0, reboot ? 1 : 0));

    // Attributes the read-only step took away; put back when the file could
    // not be replaced after all, so that a failed copy leaves it as it was.
    DWORD clearedFrom = INVALID_FILE_ATTRIBUTES;
    if (removeReadOnly) {
        DWORD attrs = ::GetFileAttributesA(destination.c_str());
        if (p)
            p->LogText(KvFormat("[OnCopyFail] FileAttributes : %s(%lx) (%x)", destination.c_str(), attrs,
                   static_cast<unsigned>(FILE_ATTRIBUTE_READONLY)));
        if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY)) {
            DWORD cleared = attrs & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
            if (::SetFileAttributesA(destination.c_str(), cleared)) {
                clearedFrom = attrs;
                r = CopyFileSafe(p, source, destination);
                if (p)
                    p->LogText(KvFormat("[OnCopyFail] RemoveReadOnly on File (%s) and retried Copy returns (%d)",
                           destination.c_str(), r));
            } else {
                DWORD err = ::GetLastError();
                if (p)
                    p->LogText(KvFormat("[OnCopyFail] SetFileAttributes fail att:(%lx) file:(%s) err:(%lu)", cleared,
                           destination.c_str(), err));
            }
        }
    }
    auto restoreAttributes = [&]() {
        if (clearedFrom != INVALID_FILE_ATTRIBUTES)
            ::SetFileAttributesA(destination.c_str(), clearedFrom);
    };
    if (r == KVCOPY_OK)
        return r;
    if (!reboot) {
        restoreAttributes();
        return r;
    }

    std::string folder = GetFolderPart(destination);
    char buffer[MAX_PATH] = {0};
    std::string staged;
    if (PathFitsLimit(folder) && ::GetTempFileNameA(folder.c_str(), "_KVHF_", 0, buffer))
        staged = buffer;
    else if (p)
        p->LogText(KvFormat("[OnCopyFail] GetTempFileName fail in (%s) err:(%lu)", folder.c_str(), ::GetLastError()));
    r = staged.empty() ? static_cast<int>(KVCOPY_CREATE_FAILED) : CopyFileSafe(p, source, staged);
    if (r != KVCOPY_OK) {
        if (p)
            p->LogText(KvFormat("[OnCopyFail] Copy File (%s) to temp file(%s) fail (%d)", source.c_str(), staged.c_str(), r));
        // A half-filled staged file is of no use to anybody; the destination
        // still holds the old file.
        if (!staged.empty())
            DeleteEvenReadOnly(staged);
        restoreAttributes();
        return r;
    }

    bool scheduled = false;
    if (GetPlatformId() == VER_PLATFORM_WIN32_WINDOWS) {
        char shortStaged[MAX_PATH] = {0};
        char shortDest[MAX_PATH] = {0};
        ::GetShortPathNameA(staged.c_str(), shortStaged, sizeof shortStaged);
        ::GetShortPathNameA(destination.c_str(), shortDest, sizeof shortDest);
        if (::WritePrivateProfileStringA("rename", shortDest, shortStaged, "wininit.ini")) {
            scheduled = true;
            if (p)
                p->LogText(KvFormat("[OnCopyFail] Copy (%s) to (%s) during next booting via wininit.ini", staged.c_str(),
                       destination.c_str()));
        } else if (p) {
            p->LogText(KvFormat("[OnCopyFail] WritePrivateProfileString fail when move (%s) to (%s), err(%lu)", staged.c_str(),
                   destination.c_str(), ::GetLastError()));
        }
    } else if (::MoveFileExA(staged.c_str(), destination.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT)) {
        scheduled = true;
        if (p)
            p->LogText(KvFormat("[OnCopyFail] Copy (%s) to (%s) during next booting via MoveFileEx", staged.c_str(),
                   destination.c_str()));
    } else {
        DWORD err = ::GetLastError();
        if (p)
            p->LogText(KvFormat("[OnCopyFail] MoveFileEx fail when move (%s) to (%s), err(%lu)", staged.c_str(),
                   destination.c_str(), err));
    }
    if (scheduled && pRebootScheduled)
        *pRebootScheduled = true;
    return r;
}
