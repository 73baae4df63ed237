// The rollback of a copy group, what it checks before a removal, and the
// seal of its record items at the end of an install.
#include "sections/CopyFileGroupToSection.h"

#include <algorithm>
#include <set>

#include "interpreter/Interpreter.h"
#include "util/BootReplace.h"
#include "util/FileFingerprint.h"
#include "util/FileRestore.h"
#include "util/FileUtil.h"
#include "util/StrFormat.h"
#include "util/UndoId.h"

namespace {

const char* const kOptRollBackExtra = "KVHF_RollBackExtraAndExistenFile";

bool IsMissing(const std::string& v) { return v == KORVEX_MISSING; }

std::string GroupName(int n) { return KvFormat("FileGroup%d", n); }

std::string FileKey(int i) { return KvFormat("File%d", i); }

// Size and last-write time of a file without opening it.
bool QuickState(const std::string& path, uint64_t& size, FILETIME& written)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!PathFitsLimit(path) || !::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    written = data.ftLastWriteTime;
    return true;
}

}  // namespace

// ---------------------------------------------------------------- Rollback

void CHFS_CopyFileGroupToSection::BeginGroupRollback(int group)
{
    if (m_nRollbackGroup == group)
        return;
    m_nRollbackGroup = group;
    const std::string name = GroupName(group);
    SetSectionName(name);
    std::string description = ReadKey("Description", true);
    AppendDetail(m_pInterpreter->UIText(IDS_RESTORE_PREFIX) + " " + description + " : " + name + ".");
    m_pInterpreter->Log("ROLLBACK [%s : %s]", description.c_str(), name.c_str());
}

int CHFS_CopyFileGroupToSection::Rollback(const std::string& sectionName, CHFS_ItemList& list)
{
    CHFS_LogHold logHold(m_pInterpreter);
    SetSectionName(sectionName);
    ReadKey("FileGroupCount", true);
    int result = 0;
    std::vector<std::string> backups;
    CCopyCreatedTargets recorded;
    m_nRollbackGroup = 0;
    int index = 0;
    std::string p1, p2, p3;
    while (result == 0 && list.PopItem(index, p1, p2, p3) == 0) {
        if (IsCopyUndoItem(p1)) {
            CCopyUndoBatch batch;
            if (!DecodeCopyUndoItem(p1, p2, batch)) {
                m_pInterpreter->Log("*** Runtime error: the record item of '%s' is damaged, nothing of it is "
                                    "undone: %s",
                                    GroupName(index).c_str(), p2.substr(0, 200).c_str());
                m_nFailedGroup = index;
                result = -1170;
                break;
            }
            BeginGroupRollback(index);
            if (UndoBatch(batch) != 0) {
                m_nFailedGroup = index;
                result = -1170;
                break;
            }
            if (!batch.strBackup.empty() &&
                std::find(backups.begin(), backups.end(), batch.strBackup) == backups.end())
                backups.push_back(batch.strBackup);
            if (IsCopyGroupStart(p1)) {
                AppendDetail(" " + m_pInterpreter->UIText(IDS_SUCCESS) + ".\r\n");
                m_nRollbackGroup = 0;
            }
            continue;
        }
        // An item of a record written before the batches.
        if (IsCreatedTargetsContinuation(p1)) {
            DecodeCreatedTargets(p1, p2, p3, recorded);
            continue;
        }
        DecodeCreatedTargets(p1, p2, p3, recorded);
        std::string backup;
        int r = RollbackGroup(GroupName(index), backup, recorded);
        recorded = CCopyCreatedTargets();
        if (r != 0) {
            m_nFailedGroup = index;
            result = -1170;
            break;
        }
        if (!backup.empty())
            backups.push_back(backup);
    }
    if (result != 0)
        AppendDetail(" " + m_pInterpreter->UIText(IDS_FAILURE) + ".\r\n");
    for (const std::string& b : backups) {
        if (!FileExists(b)) {
            m_pInterpreter->Log("[Not exist %s]", b.c_str());
        } else if (::RemoveDirectoryA(b.c_str())) {
            m_pInterpreter->Log("[Remove %s]", b.c_str());
        } else {
            m_pInterpreter->Log("[Remove %s] return [%lu]", b.c_str(), ::GetLastError());
        }
    }
    return result;
}

int CHFS_CopyFileGroupToSection::UndoBatch(const CCopyUndoBatch& batch)
{
    for (size_t i = batch.entries.size(); i-- > 0;) {
        const CCopyUndoEntry& e = batch.entries[i];
        if (e.cKind == CCopyUndoEntry::FILE_ENTRY) {
            if (UndoFile(e) != 0)
                return -1;
        } else {
            RemoveFolderIfEmpty(e.strTarget);
        }
    }
    return 0;
}

void CHFS_CopyFileGroupToSection::RemoveFolderIfEmpty(const std::string& folder)
{
    if (!FileExists(folder))
        return;
    // A folder that holds something else now is not ours to take.
    if (::RemoveDirectoryA(folder.c_str()))
        m_pInterpreter->Log("[Remove %s]", folder.c_str());
    else
        m_pInterpreter->Log("[Remove %s] return [%lu]", folder.c_str(), ::GetLastError());
}

int CHFS_CopyFileGroupToSection::UndoFile(const CCopyUndoEntry& e)
{
    CKvLogSink* log = m_pInterpreter->LogSink();
    const std::string& target = e.strTarget;

    // A backup complete under its temporary name and being given its name
    // when its run was ended. While the temporary name is there, the file
    // was not touched yet and the copy goes. Once it is gone, the named copy
    // is this run's only if it holds what was saved (the name may have been
    // taken first by someone else's file, which stays); then it is undone
    // as any entry.
    if (e.bNaming) {
        if (FileExists(e.strTemp)) {
            ::SetFileAttributesA(e.strTemp.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileA(e.strTemp.c_str());
            return 0;
        }
        CKvFingerprint saved;
        if (!FileExists(e.strBackup) || !KvFingerprintFile(e.strBackup, saved) || saved != e.before)
            return 0;
        m_madeBackups.insert(e.strBackup);
    }

    // A backup that was being written when its run was ended: the file it
    // was to save was not touched yet, and the unfinished copy goes.
    if (e.bPending) {
        if (!e.strBackup.empty() && FileExists(e.strBackup)) {
            ::SetFileAttributesA(e.strBackup.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileA(e.strBackup.c_str());
        }
        return 0;
    }

    // A new file staged for the next start has not reached the target yet:
    // taking back the request is the whole undo.
    if (!e.strStaged.empty()) {
        int taken = KvTakeBackReplacement(log, e.strStaged);
        if (taken < 0) {
            m_pInterpreter->Log("*** Runtime error: [Rollback failed : %s] the replacement staged for the next "
                                "start can't be taken back",
                                target.c_str());
            return -1;
        }
        if (taken > 0) {
            // The copy cleared a read-only attribute for the replacement; the
            // original keeps the attributes it was saved with.
            DWORD saved = e.strBackup.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesA(e.strBackup.c_str());
            if (saved != INVALID_FILE_ATTRIBUTES)
                ::SetFileAttributesA(target.c_str(), saved);
            if (!e.strBackup.empty() && FileExists(e.strBackup) && !::DeleteFileA(e.strBackup.c_str())) {
                ::SetFileAttributesA(e.strBackup.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileA(e.strBackup.c_str());
            }
            return 0;
        }
        // Not pending any more: a restart has put the new file in place.
    }

    if (e.strBackup.empty()) {
        if (!e.bDeleteNew || !FileExists(target))
            return 0;
        m_pInterpreter->Log("[Rollback,Target do not keep the new(or extra) file]: %s]", target.c_str());
        int r = KvTakeAway(log, target);
        if (r == KVRESTORE_FAILED) {
            m_pInterpreter->Log("*** Runtime error: [Rollback failed : %s] the file the patch created can't be "
                                "deleted",
                                target.c_str());
            return -1;
        }
        if (r == KVRESTORE_AT_NEXT_START) {
            m_pInterpreter->SetGlobalSymbol("NEED_REBOOT", "TRUE");
            m_pInterpreter->Log("Set Global Symbol '%s' = TRUE", "NEED_REBOOT");
        }
        return 0;
    }

    // A file that holds its original already (the copy over it failed, an
    // earlier attempt put it back) is left alone: touching it again would
    // only stand in the way of whoever holds it now.
    uint64_t size = 0;
    FILETIME written;
    // (The copy's own file, bytes equal to the original's, still gets the
    // original's times back.)
    const bool copiedOver = e.after.bPresent && e.after == e.before;
    if (QuickState(target, size, written) && e.before.bPresent && size == e.before.nSize &&
        !(copiedOver && ::CompareFileTime(&written, &e.afterTime) == 0)) {
        CKvFingerprint now;
        if (KvFingerprintFile(target, now) && now == e.before) {
            m_pInterpreter->Log("[%s : already as it was]", target.c_str());
            // Its content, that is: a copy that cleared its read-only
            // attribute may have been ended before it wrote anything, and
            // the saved copy keeps the attributes it had.
            const DWORD saved = ::GetFileAttributesA(e.strBackup.c_str());
            const DWORD now = ::GetFileAttributesA(target.c_str());
            const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
            if (saved != INVALID_FILE_ATTRIBUTES && now != INVALID_FILE_ATTRIBUTES && (saved & kept) != (now & kept))
                ::SetFileAttributesA(target.c_str(), (now & ~kept) | (saved & kept));
            if (FileExists(e.strBackup) && !::DeleteFileA(e.strBackup.c_str())) {
                ::SetFileAttributesA(e.strBackup.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileA(e.strBackup.c_str());
            }
            m_madeBackups.erase(e.strBackup);
            return 0;
        }
    }
    const bool trusted = m_madeBackups.count(e.strBackup) != 0;
    if (!FileExists(e.strBackup)) {
        m_pInterpreter->Log("*** Runtime error: [Rollback failed : %s] its saved original '%s' is gone",
                            target.c_str(), e.strBackup.c_str());
        return -1;
    }
    if (!trusted) {
        // A copy that is not what was saved (cut short by a power cut,
        // changed since) must never replace the file.
        CKvFingerprint saved;
        if (!KvFingerprintFile(e.strBackup, saved) || saved != e.before) {
            m_pInterpreter->Log("*** Runtime error: [Rollback failed : %s] its saved original '%s' is not what was "
                                "saved (%s, saved %s)",
                                target.c_str(), e.strBackup.c_str(), saved.Text().c_str(), e.before.Text().c_str());
            return -1;
        }
    }
    m_pInterpreter->Log("[%s : %s%s->%s%s]", GetFileNamePart(target).c_str(), e.strBackup.c_str(),
                        VersionText(e.strBackup).c_str(), target.c_str(), VersionText(target).c_str());
    int r = KvPutBack(log, e.strBackup, target);
    if (r == KVRESTORE_FAILED) {
        m_pInterpreter->Log("*** Runtime error: [Rollback failed : %s->%s]", e.strBackup.c_str(), target.c_str());
        return -1;
    }
    m_madeBackups.erase(e.strBackup);
    if (r == KVRESTORE_AT_NEXT_START) {
        m_pInterpreter->SetGlobalSymbol("NEED_REBOOT", "TRUE");
        m_pInterpreter->Log("Set Global Symbol '%s' = TRUE", "NEED_REBOOT");
    }
    return 0;
}

// ---------------------------------------------------------------- removal check and seal

void CHFS_CopyFileGroupToSection::CheckUndo(const std::string&, const CHFS_RecordItem& item,
                                            std::vector<CHFS_UndoTarget>& targets)
{
    CCopyUndoBatch batch;
    if (!DecodeCopyUndoItem(item.strParam1, item.strParam2, batch))
        return;
    for (size_t i = batch.entries.size(); i-- > 0;) {
        const CCopyUndoEntry& e = batch.entries[i];
        if (e.cKind != CCopyUndoEntry::FILE_ENTRY || e.bPending || (e.strBackup.empty() && !e.bDeleteNew))
            continue;
        CHFS_UndoTarget t;
        t.strId = KvUndoFileId(e.strTarget);
        t.strShown = e.strTarget;
        if (!e.strStaged.empty() && KvReplacementPending(e.strStaged)) {
            targets.push_back(t);  // the change waits for the next start
            continue;
        }
        const CKvFingerprint before = e.strBackup.empty() ? CKvFingerprint() : e.before;
        CKvFingerprint now;
        uint64_t size = 0;
        FILETIME written;
        const bool present = QuickState(e.strTarget, size, written);
        DWORD error = 0;
        if (!present) {
            now = CKvFingerprint();
        } else if ((e.after.bPresent && size == e.after.nSize) || (before.bPresent && size == before.nSize)) {
            if (!KvFingerprintFile(e.strTarget, now, &error)) {
                t.nState = CHFS_UndoTarget::CHANGED;
                t.strWhy = KvFormat("it can't be read, error %lu", error);
                targets.push_back(t);
                continue;
            }
        } else {
            now.bPresent = true;
            now.nSize = size;
        }
        if (e.after.bPresent && now == e.after) {
            t.nState = CHFS_UndoTarget::AS_LEFT;
        } else if (now == before) {
            t.nState = CHFS_UndoTarget::RESTORED;
        } else {
            t.nState = CHFS_UndoTarget::CHANGED;
            t.strWhy = now.bPresent ? KvFormat("it holds %llu bytes of other content than the patch left",
                                               static_cast<unsigned long long>(now.nSize))
                                    : std::string("it is gone");
        }
        targets.push_back(t);
    }
}

void CHFS_CopyFileGroupToSection::SealItem(const std::string&, CHFS_RecordItem& item)
{
    CCopyUndoBatch batch;
    if (!DecodeCopyUndoItem(item.strParam1, item.strParam2, batch) || batch.entries.empty())
        return;
    bool changed = false;
    for (CCopyUndoEntry& e : batch.entries) {
        if (e.cKind != CCopyUndoEntry::FILE_ENTRY || !e.strStaged.empty() || !e.after.bPresent)
            continue;
        // A later step of the same install may have changed the file again:
        // what the record keeps is what the install as a whole left. Size
        // and time tell without reading the file.
        uint64_t size = 0;
        FILETIME written;
        if (QuickState(e.strTarget, size, written) && size == e.after.nSize &&
            ::CompareFileTime(&written, &e.afterTime) == 0)
            continue;
        CKvFingerprint now;
        if (!KvFingerprintFile(e.strTarget, now))
            continue;
        e.after = now;
        if (QuickState(e.strTarget, size, written))
            e.afterTime = written;
        changed = true;
    }
    if (changed)
        item.strParam2 = EncodeCopyUndoEntries(batch);
}

// ---------------------------------------------------------------- records written before the batches

int CHFS_CopyFileGroupToSection::RollbackGroup(const std::string& group, std::string& backup,
                                               const CCopyCreatedTargets& recorded)
{
    int result = 0;
    SetSectionName(group);
    int fileCount = ReadCount("FileCount", true);
    std::string description = ReadKey("Description", true);
    std::string target = ReadKey("Target", true);
    backup = ReadKey("Backup", true);
    bool rollBackExtra = ReadKey("OnRollBackFile", true) == kOptRollBackExtra;

    AppendDetail(m_pInterpreter->UIText(IDS_RESTORE_PREFIX) + " " + description + " : " + group + ".");
    m_pInterpreter->Log("ROLLBACK [%s : %s]", description.c_str(), group.c_str());
    // A group without both folders copied nothing, and its names would point
    // into the current folder.
    if (!GroupFoldersGiven(target, backup)) {
        backup.clear();
        fileCount = 0;
    }
    const std::string groupFolder = JoinPath(m_pInterpreter->GetModuleDir(), group);
    std::set<std::string> created;
    created.insert(recorded.files.begin(), recorded.files.end());
    created.insert(recorded.folders.begin(), recorded.folders.end());

    for (int i = fileCount; i >= 1 && result == 0; --i) {
        std::string entry = ReadKey(FileKey(i), true);
        // An entry that leads out of the folders was refused by the copy:
        // nothing of it is restored or deleted.
        if (!IsMissing(entry) && !EntryStaysInside(FileKey(i), entry, groupFolder, target, backup))
            continue;
        std::vector<std::string> found;
        FindFiles(found, JoinPath(backup, GetFolderPart(entry)), GetFileNamePart(entry), false);
        if (!found.empty()) {
            for (size_t k = 0; k < found.size() && result == 0; ++k) {
                const std::string& b = found[k];
                std::string rel = GetFolderPart(GetRelativePath(b, backup));
                std::string targetFolder = JoinPath(target, rel);
                std::string backupFolder = JoinPath(backup, rel);
                result = PrepareFolder(targetFolder, -1130);
                result = PrepareFolder(backupFolder, -1130);
                if (result != 0)
                    break;
                std::string name = GetFileNamePart(b);
                std::string q = JoinPath(backupFolder, name);
                std::string t = JoinPath(targetFolder, name);
                if (!FileExists(q))
                    continue;
                m_pInterpreter->Log("[%s : %s%s->%s%s]", b.c_str(), q.c_str(), VersionText(q).c_str(), t.c_str(),
                                    VersionText(t).c_str());
                int r = KvPutBack(m_pInterpreter->LogSink(), q, t);
                if (r == KVRESTORE_FAILED) {
                    // A restore that cannot be made is the rollback's failure:
                    // the record is kept for another attempt.
                    m_pInterpreter->Log("*** Runtime error: [Rollback failed : %s->%s]", q.c_str(), t.c_str());
                    result = -1;
                } else if (r == KVRESTORE_AT_NEXT_START) {
                    m_pInterpreter->SetGlobalSymbol("NEED_REBOOT", "TRUE");
                    m_pInterpreter->Log("Set Global Symbol '%s' = TRUE", "NEED_REBOOT");
                }
            }
        } else if (rollBackExtra) {
            // Only files and folders this patch is known to have created go:
            // without such a record nothing is deleted, since a file without
            // a backup may as well be one the patch never touched.
            std::string folder = JoinPath(target, GetFolderPart(entry));
            std::vector<std::string> targets;
            FindFiles(targets, folder, GetFileNamePart(entry), false);
            for (const std::string& t : targets) {
                if (created.count(t) && FileExists(t)) {
                    ::SetFileAttributesA(t.c_str(), FILE_ATTRIBUTE_NORMAL);
                    m_pInterpreter->Log("[Rollback,Target do not keep the new(or extra) file]: %s]", t.c_str());
                    ::DeleteFileA(t.c_str());
                }
            }
            std::vector<std::string> chain = CopyFolderChain(target, GetFolderPart(entry));
            if (created.count(folder) && FileExists(folder)) {
                RemoveFolderIfEmpty(folder);
                // Folders above it that the copy made go too once they are
                // empty; one still holding files of other entries stays.
                for (size_t c = 1; c < chain.size(); ++c) {
                    if (!created.count(chain[c]) || !FileExists(chain[c]) || !::RemoveDirectoryA(chain[c].c_str()))
                        break;
                    m_pInterpreter->Log("[Remove %s]", chain[c].c_str());
                }
            }
        } else {
            m_pInterpreter->Log("[File not existed, skip it: %s]", entry.c_str());
        }
    }
    AppendDetail(" " + m_pInterpreter->UIText(result != 0 ? IDS_FAILURE : IDS_SUCCESS) + ".\r\n");
    return result;
}
