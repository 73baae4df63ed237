#include "util/CopyFailPolicy.h"

#include "util/BootReplace.h"
#include "util/FileUtil.h"
#include "util/StrFormat.h"

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

int CopyFileSafe(CKvLogSink* pLog, const std::string& source, const std::string& destination, CKvCopyPlan* plan)
{
    bool existed = false;
    if (plan && plan->destinationAttributes)
        existed = *plan->destinationAttributes != INVALID_FILE_ATTRIBUTES;
    else
        existed = FileExists(destination);

    // What a failed copy is undone from: the caller's complete copy of the
    // destination, or else a safety copy made here.
    std::string restore;
    std::string safety;
    if (existed && plan && !plan->restoreFrom.empty()) {
        restore = plan->restoreFrom;
    } else if (existed) {
        safety = JoinPath(GetFolderPart(destination), "$B$_" + GetFileNamePart(destination));
        // Only a complete safety copy may be put back: restoring a partial one
        // would replace the file with a truncated copy of itself.
        if (CopyFileKeepTime(destination, safety, pLog) == KVCOPY_OK)
            restore = safety;
    }

    CKvFingerprint* written = plan ? plan->written : nullptr;
    int r;
    if (plan && plan->source && plan->source->handle && plan->buffer) {
        r = CopyFileKeepTime(*plan->source, destination, plan->destinationAttributes, *plan->buffer, pLog, written);
        plan->source = nullptr;  // used up: a retry opens the source again
    } else if (plan && plan->source && !plan->source->handle) {
        // The caller has just tried to open it, as the copy would.
        LogLine(pLog, KvFormat("Open existed File Failed and create new File Failed,last error:[%lu]",
                               plan->source->openError));
        plan->source = nullptr;
        r = KVCOPY_SOURCE_OPEN_FAILED;
    } else {
        r = CopyFileKeepTime(source, destination, pLog, written);
    }

    if (r != KVCOPY_OK && !restore.empty()) {
        LogLine(pLog, "Rollback the file because the file copy fail.");
        CopyFileKeepTime(restore, destination, pLog);
    } else if (r != KVCOPY_OK && !existed && r != KVCOPY_SOURCE_OPEN_FAILED && r != KVCOPY_CREATE_FAILED) {
        // The copy made the file and could not finish it: the destination
        // did not exist before, and a failed copy must leave it so.
        DeleteEvenReadOnly(destination);
    }
    if (!safety.empty() && FileExists(safety))
        DeleteEvenReadOnly(safety);
    return r;
}

int CopyFileWithFailPolicy(CKvLogSink* pLog, const std::string& source, const std::string& destination,
                           bool removeReadOnly, bool reboot, bool* pRebootScheduled, CKvCopyPlan* plan)
{
    CKvLogSink* p = pLog;
    if (pRebootScheduled)
        *pRebootScheduled = false;
    int r = CopyFileSafe(p, source, destination, plan);
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
    // A retry opens the source again and asks for the destination's new
    // attributes; the caller's copy of the destination still undoes it.
    CKvCopyPlan retry;
    if (plan) {
        retry.restoreFrom = plan->restoreFrom;
        retry.written = plan->written;
    }
    if (removeReadOnly) {
        DWORD attrs = ::GetFileAttributesA(destination.c_str());
        if (p)
            p->LogText(KvFormat("[OnCopyFail] FileAttributes : %s(%lx) (%x)", destination.c_str(), attrs,
                   static_cast<unsigned>(FILE_ATTRIBUTE_READONLY)));
        if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY)) {
            DWORD cleared = attrs & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
            if (::SetFileAttributesA(destination.c_str(), cleared)) {
                clearedFrom = attrs;
                r = CopyFileSafe(p, source, destination, &retry);
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

    // What the copy failed with: the answer when the file cannot be put in
    // place at the next start either.
    const int copyFailure = r;
    std::string folder = GetFolderPart(destination);
    std::string staged;
    if (!MakeTempFileName(folder, "_KVHF_", staged) && p)
        p->LogText(KvFormat("[OnCopyFail] GetTempFileName fail in (%s) err:(%lu)", folder.c_str(), ::GetLastError()));
    CKvCopyPlan stage;
    if (plan)
        stage.written = plan->written;
    r = staged.empty() ? static_cast<int>(KVCOPY_CREATE_FAILED) : CopyFileSafe(p, source, staged, &stage);
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

    const bool scheduled = KvScheduleReplacement(p, "[OnCopyFail]", staged, destination);
    if (!scheduled) {
        // Neither now nor at the next start does the new file get in place:
        // that is the copy's failure, not a success, and the destination is
        // left as it was found.
        DeleteEvenReadOnly(staged);
        restoreAttributes();
        return copyFailure;
    }
    if (pRebootScheduled)
        *pRebootScheduled = true;
    if (plan)
        plan->staged = staged;
    return r;
}
