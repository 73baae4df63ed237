#include "sections/CopyFileGroupToSection.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "interpreter/Interpreter.h"
#include "util/CopyFailPolicy.h"
#include "util/FileUtil.h"
#include "util/StrFormat.h"
#include "util/WinHandles.h"

namespace {

// A record value is kept below the reader's 4095 characters.
const size_t kMaxBatchChars = 3900;

// Group results of a group refused before anything is copied.
const int kGroupFolderMissing = -1180;
const int kGroupEntryOutside = -1181;

const char* const kOptOnlyNewer = "KVHF_OnlyCopyAfterLastModifiedDate";
const char* const kOptRollBackExtra = "KVHF_RollBackExtraAndExistenFile";
const char* const kOptRemoveReadOnly = "KVHF_CopyFailRemoveReadonly";
const char* const kOptReboot = "KVHF_CopyFailReboot";
const char* const kOptRemoveReadOnlyAndReboot = "KVHF_CopyFailRemoveReadonlyAndReboot";

bool IsMissing(const std::string& v) { return v == KORVEX_MISSING; }

std::string GroupName(int n) { return KvFormat("FileGroup%d", n); }

std::string FileKey(int i) { return KvFormat("File%d", i); }

std::string VersionTextOf(bool has, const WORD v[4])
{
    if (!has)
        return std::string();
    return KvFormat("[%d.%d.%d.%d]", v[0], v[1], v[2], v[3]);
}

// The folder base joined with rel, then each folder above it up to base
// itself, deepest first, in the form both the copy and its rollback build them.
std::vector<std::string> FolderChain(const std::string& base, const std::string& rel)
{
    std::vector<std::string> chain;
    std::string cur = rel;
    for (;;) {
        chain.push_back(JoinPath(base, cur));
        if (cur.empty())
            break;
        // rel comes from a folder part, so its last byte is a real separator.
        cur = GetFolderPart(cur.substr(0, cur.size() - 1));
    }
    return chain;
}

// File names compare without regard to case, as the file system does.
std::string NameKey(const std::string& name)
{
    std::string key = name;
    if (!key.empty())
        ::CharUpperBuffA(&key[0], static_cast<DWORD>(key.size()));
    return key;
}

// The longest text one entry can take beside its paths.
const size_t kEntryOverhead = 2 * (20 + 1 + 64) + 16 + 20 + 16;

}  // namespace

// ---------------------------------------------------------------- helpers

void CHFS_CopyFileGroupToSection::AppendDetail(const CHFS_UIText& text)
{
    m_pInterpreter->AppendDetail(text);
}

std::string CHFS_CopyFileGroupToSection::VersionText(const std::string& path)
{
    WORD v[4] = {0, 0, 0, 0};
    bool has = FileMayHoldVersion(path) && GetFileVersionNumbers(path, v);
    return VersionTextOf(has, v);
}

int CHFS_CopyFileGroupToSection::PrepareFolder(CHFS_Interpreter* p, const std::string& folder, int failResult)
{
    if (FileExists(folder))
        return 0;
    CHFS_UIText createDir = p->UIText(IDS_CREATE_DIR);
    p->AppendDetail("[" + createDir + " : " + folder + "]\r\n");
    p->Log("[Create dir : %s]", folder.c_str());
    if (!CreateDirectoryTree(folder, false)) {
        p->AppendDetail(createDir + " " + p->UIText(IDS_FAILURE));
        p->Log("[Create dir fail: %s]", folder.c_str());
        return failResult;
    }
    return 0;
}

bool CHFS_CopyFileGroupToSection::MakeRoomFor(const CCopyUndoEntry& entry)
{
    if (m_bListFull)
        return false;
    const size_t size = entry.strTarget.size() + entry.strBackup.size() + entry.strStaged.size() + kEntryOverhead;
    if (!m_batch.entries.empty() && m_nBatchChars + size > kMaxBatchChars && !FlushBatch())
        return false;
    // The batch's own item must find room in the list when it is full.
    if (m_batch.entries.empty() && m_pRunList && m_pRunList->Size() >= CHFS_ItemList::MAX_ITEMS) {
        m_bListFull = true;
        return false;
    }
    return true;
}

void CHFS_CopyFileGroupToSection::AddEntry(const CCopyUndoEntry& entry)
{
    m_batch.entries.push_back(entry);
    std::string text = EncodeCopyUndoEntry(m_batch, entry);
    // Its fingerprint and time are filled in once the copy is done.
    m_nBatchChars += text.size() + 1 + (20 + 1 + 64) + 16;
    // In the journal at once: an install ended from outside before the batch
    // becomes an item is undone with this entry all the same.
    if (m_pRunList)
        m_pRunList->NoteInJournal(m_nRunGroup, EncodeCopyUndoParam1(m_batch), "|" + text + "|", std::string());
}

bool CHFS_CopyFileGroupToSection::FlushBatch()
{
    if (m_batch.entries.empty() || !m_pRunList)
        return true;
    if (m_pRunList->AddItem(m_nRunGroup, EncodeCopyUndoParam1(m_batch), EncodeCopyUndoEntries(m_batch),
                            std::string()) != 0) {
        // Every entry of the batch is still in the journal; this run's
        // rollback finds them in the batch, which stays.
        m_bListFull = true;
        return false;
    }
    m_batch.entries.clear();
    m_nBatchChars = 0;
    return true;
}

// ---------------------------------------------------------------- Run

int CHFS_CopyFileGroupToSection::Run(const std::string& sectionName, CHFS_ItemList& list)
{
    m_nExitCode = -2000;
    SetSectionName(sectionName);
    std::string countText = ReadKey("FileGroupCount", true);
    m_strCustomError = ReadKey("CustomizedErrorMessage", true);
    std::string startText = ReadKey("FileGroupStartCount", true);
    m_pInterpreter->m_bErrorShown = 0;

    m_nGroupCount = BoundedCount("FileGroupCount", countText);
    m_nGroupsProcessed = 0;
    m_nSkippedByTime = 0;
    m_nEntriesProcessed = 0;
    m_knownFolders.clear();
    m_madeFolders.clear();
    // Both bounded, so start + count cannot overflow.
    int start = IsMissing(startText) ? 1 : BoundedCount("FileGroupStartCount", startText);

    int result = 0;
    for (int n = start; n < start + m_nGroupCount; ++n) {
        if (list.AddItem(n, CopyGroupStartParam(), "", "") != 0) {
            m_nExitCode = -2399;
            result = KVHF_USERBREAK;
            break;
        }
        m_batch = CCopyUndoBatch();
        m_nBatchChars = 0;
        m_bListFull = false;
        m_pRunList = &list;
        m_nRunGroup = n;
        int r = CopyGroup(GroupName(n));
        if (!FlushBatch() && r == 0)
            r = -1199;
        m_pRunList = nullptr;
        if (r != 0) {
            if (r == -1190)
                m_nExitCode = -2302;
            else if (r == -1150)
                m_nExitCode = -2301;
            else if (r == -1140)
                m_nExitCode = -2300;
            else if (r == kGroupFolderMissing)
                m_nExitCode = KV_EXIT_GROUP_FOLDER_MISSING;
            else if (r == kGroupEntryOutside)
                m_nExitCode = KV_EXIT_GROUP_ENTRY_OUTSIDE;
            else if (r == -1199)
                m_nExitCode = -2399;
            m_nFailedGroup = n;
            result = r == -1199 ? KVHF_USERBREAK : -1100;
            break;
        }
    }
    m_pInterpreter->Log("[CHFS_CopyFileGroupToSection::Run(%s)=%d]", sectionName.c_str(), result);
    return result;
}

bool CHFS_CopyFileGroupToSection::GroupFoldersGiven(const std::string& target, const std::string& backup)
{
    // An empty folder is the current folder, which is wherever the program
    // happens to run: neither can receive a product's files or its backups.
    const char* const keys[2] = {"Target", "Backup"};
    const std::string* values[2] = {&target, &backup};
    for (int i = 0; i < 2; ++i) {
        if (IsMissing(*values[i]) || values[i]->empty()) {
            m_pInterpreter->Log("*** Syntax error: %s='' can not be empty in section ['%s']. ", keys[i],
                                m_strSectionName.c_str());
            return false;
        }
    }
    return true;
}

bool CHFS_CopyFileGroupToSection::EntryStaysInside(const std::string& key, const std::string& entry,
                                                   const std::string& groupFolder, const std::string& target,
                                                   const std::string& backup)
{
    // Each folder the entry's files are taken from, copied to or saved in,
    // the way the copy and the rollback build it.
    const std::string folder = GetFolderPart(entry);
    const std::string name = GetFileNamePart(entry);
    const std::string bases[4] = {groupFolder, target, backup, backup};
    const std::string paths[4] = {JoinPath(groupFolder, entry), JoinPath(target, entry), JoinPath(backup, entry),
                                  JoinPath(JoinPath(backup, RemoveServerPart(folder)), name)};
    for (int i = 0; i < 4; ++i) {
        if (!PathIsBelow(bases[i], paths[i])) {
            m_pInterpreter->Log("*** Syntax error: %s='%s' leads out of '%s' in section ['%s']. ", key.c_str(),
                                entry.c_str(), bases[i].c_str(), m_strSectionName.c_str());
            return false;
        }
    }
    return true;
}

void CHFS_CopyFileGroupToSection::EnsureFolder(const std::string& folder, const std::string& base, char kind)
{
    if (m_knownFolders.count(folder))
        return;
    bool existed = FileExists(folder);
    // The levels this call will make, shallowest first, so that a rollback
    // (which goes newest first) removes the deepest first.
    std::vector<std::string> made;
    if (!existed) {
        std::string rel = folder.size() > base.size() ? folder.substr(base.size()) : std::string();
        while (!rel.empty() && rel[0] == '\\')
            rel.erase(0, 1);
        if (!rel.empty() && rel.back() != '\\')
            rel += '\\';
        for (const std::string& level : FolderChain(base, rel)) {
            if (FileExists(level))
                break;
            made.insert(made.begin(), level);
        }
    }
    if (PrepareFolder(folder, -1130) != 0)
        return;
    m_knownFolders.insert(folder);
    if (existed)
        return;
    m_madeFolders[folder];
    if (kind == 0)
        return;
    for (const std::string& level : made) {
        CCopyUndoEntry e;
        e.cKind = kind;
        e.strTarget = level;
        if (MakeRoomFor(e))
            AddEntry(e);
    }
}

bool CHFS_CopyFileGroupToSection::KnownAbsent(const std::string& folder, const std::string& name) const
{
    auto it = m_madeFolders.find(folder);
    return it != m_madeFolders.end() && !it->second.count(NameKey(name));
}

void CHFS_CopyFileGroupToSection::NoteCopied(const std::string& folder, const std::string& name, bool plain)
{
    auto it = m_madeFolders.find(folder);
    if (it == m_madeFolders.end())
        return;
    // Anything but a plain copy may have left other files there (a file
    // staged for the next start): the folder is asked again from then on.
    if (plain)
        it->second.insert(NameKey(name));
    else
        m_madeFolders.erase(it);
}

int CHFS_CopyFileGroupToSection::SaveOriginal(CKvCopySource& installed, const std::string& backupFolder,
                                              const std::string& name, CCopyUndoEntry& entry)
{
    CKvLogSink* log = m_pInterpreter->LogSink();
    // Written under a name of its own first and given its name only when it
    // is complete: a run ended half-way through never leaves a torn copy
    // under a product file's name.
    std::string temp;
    const DWORD absent = INVALID_FILE_ATTRIBUTES;
    int r = KVCOPY_CREATE_FAILED;
    static unsigned s_nTemp = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = JoinPath(backupFolder, KvFormat("~kv%lx_%x.tmp", ::GetCurrentProcessId(), ++s_nTemp));
        // The journal knows of the copy before it is begun: a run ended in
        // the middle of it leaves nothing that the next run does not remove.
        if (m_pRunList) {
            CCopyUndoEntry pending = entry;
            pending.strBackup = temp;
            pending.bPending = true;
            m_pRunList->NoteInJournal(m_nRunGroup, EncodeCopyUndoParam1(m_batch),
                                      "|" + EncodeCopyUndoEntry(m_batch, pending) + "|", std::string());
        }
        r = CopyFileKeepTime(installed, temp, &absent, m_buffer, log, &entry.before, true);
        if (r != KVCOPY_CREATE_FAILED || ::GetLastError() != ERROR_FILE_EXISTS)
            break;
        // The name was taken: the source is still open and unread.
        if (!OpenCopySource(installed.path, installed))
            return KVCOPY_SOURCE_OPEN_FAILED;
    }
    if (r != KVCOPY_OK) {
        if (r != KVCOPY_CREATE_FAILED)
            ::DeleteFileA(temp.c_str());
        return r;
    }
    // The name the layout gives it, unless an earlier run or another patch
    // keeps a backup of its own there: that one is theirs and stays.
    const std::string preferred = JoinPath(backupFolder, name);
    std::string final = preferred;
    for (int n = 2; n < 1000; ++n) {
        if (PathFitsLimit(final) && ::MoveFileExA(temp.c_str(), final.c_str(), 0)) {
            entry.strBackup = final;
            m_madeBackups.insert(final);
            return KVCOPY_OK;
        }
        DWORD err = ::GetLastError();
        if (err != ERROR_ALREADY_EXISTS && err != ERROR_FILE_EXISTS && err != ERROR_ACCESS_DENIED)
            break;
        final = preferred + KvFormat(".~%d", n);
    }
    m_pInterpreter->Log("CHFS_CopyFileGroupToSection: no name for the backup '%s' in '%s', lasterror=%lu",
                        temp.c_str(), backupFolder.c_str(), ::GetLastError());
    ::SetFileAttributesA(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(temp.c_str());
    return KVCOPY_CREATE_FAILED;
}

int CHFS_CopyFileGroupToSection::CopyGroup(const std::string& group)
{
    int result = 0;
    SetSectionName(group);
    ++m_nGroupsProcessed;
    int fileCount = ReadCount("FileCount", true);
    std::string description = ReadKey("Description", true);
    std::string target = ReadKey("Target", true);
    std::string backup = ReadKey("Backup", true);
    std::string fileVersion = ReadKey("FileVersion", true);
    std::string buildNumber = ReadKey("FileBuildNumber", true);
    std::string maintenance = ReadKey("FileMaintenanceNumber", true);
    bool onlyNewer = ReadKey("OnCopyNewFile", true) == kOptOnlyNewer;
    bool rollBackExtra = ReadKey("OnRollBackFile", true) == kOptRollBackExtra;
    std::string onCopyFail = ReadKey("OnCopyFail", true);
    bool removeReadOnly = onCopyFail == kOptRemoveReadOnly || onCopyFail == kOptRemoveReadOnlyAndReboot;
    bool reboot = onCopyFail == kOptReboot || onCopyFail == kOptRemoveReadOnlyAndReboot;
    bool versionCheck = !IsMissing(fileVersion) && !IsMissing(buildNumber);
    double hotfixVersion = atof(fileVersion.c_str());
    int hotfixBuild = KvParseInt(buildNumber);
    int hotfixMaintenance = KvParseInt(maintenance);

    AppendDetail(m_pInterpreter->UIText(IDS_PATCH) + " " + description + " : " + group + ".");
    m_pInterpreter->Log("Patch [%s : %s]", description.c_str(), group.c_str());

    const std::string package = m_pInterpreter->GetModuleDir();
    const std::string groupFolder = JoinPath(package, group);

    // Every entry is checked before the first file is touched. The entries
    // are taken up to the first missing one, which ends the copy below.
    std::vector<std::string> entries;
    if (!GroupFoldersGiven(target, backup)) {
        result = kGroupFolderMissing;
    } else {
        m_batch.strTarget = target;
        m_batch.strBackup = backup;
        for (int i = 1; i <= fileCount; ++i) {
            std::string entry = ReadKey(FileKey(i), true);
            entries.push_back(entry);
            if (IsMissing(entry))
                break;
            if (!EntryStaysInside(FileKey(i), entry, groupFolder, target, backup)) {
                result = kGroupEntryOutside;
                break;
            }
        }
    }

    CKvLogSink* log = m_pInterpreter->LogSink();
    for (size_t e = 0; e < entries.size() && result == 0; ++e) {
        ++m_nEntriesProcessed;
        const std::string& entry = entries[e];
        std::vector<std::string> found;
        FindFiles(found, JoinPath3(package, group, GetFolderPart(entry)), GetFileNamePart(entry), false);
        if (found.empty()) {
            m_pInterpreter->Log("[File not existed, patch stop: %s]", entry.c_str());
            result = -1190;
            break;
        }
        for (size_t k = 0; k < found.size() && result == 0; ++k) {
            const std::string& file = found[k];
            std::string name = GetFileNamePart(file);
            std::string rel = GetRelativePath(GetFolderPart(file), groupFolder);
            std::string targetFolder = JoinPath(target, rel);
            std::string backupFolder = JoinPath(backup, RemoveServerPart(rel));
            std::string sourceFile = JoinPath(JoinPath3(package, group, rel), name);
            std::string targetFile = JoinPath(targetFolder, name);
            std::string backupFile = JoinPath(backupFolder, name);

            // The folders between Target and the file's folder are made along
            // with it; with the option they go again on rollback.
            EnsureFolder(targetFolder, target, rollBackExtra ? CCopyUndoEntry::TARGET_FOLDER : 0);
            EnsureFolder(backupFolder, backup, CCopyUndoEntry::BACKUP_FOLDER);
            if (m_bListFull) {
                result = -1199;
                break;
            }

            // The installed file is opened once, for its version, its time
            // and its backup. Only an open that fails because the file is
            // not there says that it is not there.
            CKvCopySource installed;
            // In a folder this run made, only what the run put there exists.
            bool targetOpen = false;
            if (KnownAbsent(targetFolder, name))
                installed.openError = ERROR_FILE_NOT_FOUND;
            else
                targetOpen = OpenCopySource(targetFile, installed);
            const bool targetExists = targetOpen || (installed.openError != ERROR_FILE_NOT_FOUND &&
                                                     installed.openError != ERROR_PATH_NOT_FOUND &&
                                                     FileExists(targetFile));
            WORD backupV[4] = {0, 0, 0, 0}, targetV[4] = {0, 0, 0, 0}, v[4] = {0, 0, 0, 0};
            bool hasTargetV = false;
            if (!targetOpen || !ReadCopySourceHead(installed, m_buffer) ||
                HeadMayHoldVersion(m_buffer.data(), installed.headSize))
                hasTargetV = targetExists && GetFileVersionNumbers(targetFile, targetV);
            DWORD backupAttrs = INVALID_FILE_ATTRIBUTES;
            if (!KnownAbsent(backupFolder, name) && PathFitsLimit(backupFile))
                backupAttrs = ::GetFileAttributesA(backupFile.c_str());
            bool hasBackupV = backupAttrs != INVALID_FILE_ATTRIBUTES && FileMayHoldVersion(backupFile) &&
                              GetFileVersionNumbers(backupFile, backupV);
            if (hasBackupV)
                std::copy(backupV, backupV + 4, v);
            if (hasTargetV)
                std::copy(targetV, targetV + 4, v);
            std::string targetVT = VersionTextOf(hasTargetV, targetV);
            std::string backupVT = VersionTextOf(hasBackupV, backupV);
            m_pInterpreter->Log("[%s : %s%s->%s%s]", name.c_str(), targetFile.c_str(), targetVT.c_str(),
                                backupFile.c_str(), backupVT.c_str());

            if (versionCheck) {
                char t[32];
                snprintf(t, sizeof t, "%d.%d", v[0], v[1]);
                double installedVersion = atof(t);
                bool newer = hotfixVersion > installedVersion ||
                             (hotfixVersion == installedVersion &&
                              (hotfixMaintenance > v[2] || (hotfixMaintenance == v[2] && hotfixBuild > v[3])));
                if (!newer) {
                    m_pInterpreter->Log("current file [%s%s] is not older than hotfix file version %s[%s %s]",
                                        targetFile.c_str(), targetVT.c_str(), name.c_str(), fileVersion.c_str(),
                                        buildNumber.c_str());
                    m_pInterpreter->Log("skip patch file %s", name.c_str());
                    continue;
                }
            }

            // The package's file, likewise opened once for its time, its
            // version and the copy.
            CKvCopySource shipped;
            bool sourceTried = false;
            if (onlyNewer) {
                sourceTried = true;
                bool sourceOpen = OpenCopySource(sourceFile, shipped);
                // A file that cannot be opened has no time to compare: it is copied.
                if (targetOpen && sourceOpen && installed.timesKnown && shipped.timesKnown &&
                    ::CompareFileTime(&installed.written, &shipped.written) >= 0) {
                    ++m_nSkippedByTime;
                    continue;
                }
            }

            // What this file's undo needs, in the record before the file
            // changes. A new file that stays on rollback needs nothing.
            CCopyUndoEntry undo;
            undo.strTarget = targetFile;
            undo.bDeleteNew = rollBackExtra && !targetExists;
            const bool recorded = targetExists || undo.bDeleteNew;
            if (recorded && !MakeRoomFor(undo)) {
                result = -1199;
                break;
            }

            int r = KVCOPY_SOURCE_OPEN_FAILED;
            if (targetOpen) {
                r = SaveOriginal(installed, backupFolder, name, undo);
                if (r == KVCOPY_OK)
                    NoteCopied(backupFolder, GetFileNamePart(undo.strBackup), true);
            }
            installed.handle.Close();
            // An installed file that can't even be read (held without sharing)
            // must not be replaced without a backup, or neither a rollback
            // nor a later removal could ever put it back.
            if (!targetExists) {
                m_pInterpreter->Log("[%s : %s%s->%s%s %s]", name.c_str(), targetFile.c_str(), targetVT.c_str(),
                                    backupFile.c_str(), backupVT.c_str(), "skip extra files.");
            } else if (r != KVCOPY_OK) {
                if (!targetOpen)
                    m_pInterpreter->Log("Open existed File Failed and create new File Failed,last error:[%lu]",
                                        installed.openError);
                m_pInterpreter->Log("[%s : %s%s->%s%s %s]", name.c_str(), targetFile.c_str(), targetVT.c_str(),
                                    backupFile.c_str(), backupVT.c_str(), "fail.");
                result = -1150;
                break;
            }
            if (recorded)
                AddEntry(undo);
            const size_t undoIndex = m_batch.entries.size() - 1;

            bool sourceOpen = sourceTried ? static_cast<bool>(shipped.handle) : OpenCopySource(sourceFile, shipped);
            WORD sourceV[4] = {0, 0, 0, 0};
            bool hasSourceV = false;
            if (!sourceOpen || !ReadCopySourceHead(shipped, m_buffer) ||
                HeadMayHoldVersion(m_buffer.data(), shipped.headSize))
                hasSourceV = GetFileVersionNumbers(sourceFile, sourceV);
            std::string sourceVT = VersionTextOf(hasSourceV, sourceV);
            m_pInterpreter->Log("[%s : %s%s->%s%s]", name.c_str(), sourceFile.c_str(), sourceVT.c_str(),
                                targetFile.c_str(), targetVT.c_str());

            // The backup just made is a complete copy of the installed file:
            // a failed copy is undone from it instead of from a safety copy.
            CKvCopyPlan copyPlan;
            copyPlan.source = &shipped;
            copyPlan.buffer = &m_buffer;
            const DWORD absent = INVALID_FILE_ATTRIBUTES;
            if (targetOpen)
                copyPlan.destinationAttributes = &installed.attributes;
            else if (!targetExists)
                copyPlan.destinationAttributes = &absent;
            copyPlan.restoreFrom = undo.strBackup;
            copyPlan.written = &undo.after;
            bool rebootScheduled = false;
            r = CopyFileWithFailPolicy(log, sourceFile, targetFile, removeReadOnly, reboot, &rebootScheduled,
                                       &copyPlan);
            if (recorded) {
                CCopyUndoEntry& done = m_batch.entries[undoIndex];
                done.strStaged = copyPlan.staged;
                if (r == KVCOPY_OK) {
                    done.after = undo.after;
                    if (shipped.timesKnown)
                        done.afterTime = shipped.written;
                }
            }
            NoteCopied(targetFolder, name, r == KVCOPY_OK && !rebootScheduled);
            if (rebootScheduled) {
                m_pInterpreter->SetGlobalSymbol("NEED_REBOOT", "TRUE");
                m_pInterpreter->Log("Set Global Symbol '%s' = TRUE", "NEED_REBOOT");
            }
            if (r != KVCOPY_OK) {
                m_pInterpreter->Log("[%s : %s->%s fail]", name.c_str(), sourceFile.c_str(), targetFile.c_str());
                result = -1140;
                break;
            }
            // A copy that needed a second attempt counts what the first one
            // wrote: the size is an estimate for the uninstall entry.
            m_pInterpreter->NoteBytesWritten(shipped.nCopied);
        }
    }

    if (m_nGroupsProcessed == m_nGroupCount) {
        if (m_nSkippedByTime == m_nEntriesProcessed) {
            AppendDetail("\r\n\r\n" + m_pInterpreter->UIText(IDS_FILES_UP_TO_DATE));
        } else if (m_nSkippedByTime > 0 && m_nSkippedByTime < m_nEntriesProcessed) {
            AppendDetail("\r\n\r\n" + m_pInterpreter->UIText(IDS_SOME_NOT_COPIED) + " ");
            AppendDetail("\r\n " + m_pInterpreter->UIText(IDS_NEWER_TIMESTAMP));
            AppendDetail("\r\n " + m_pInterpreter->UIText(IDS_HIGHER_BUILD));
        }
    }
    if (!IsMissing(m_strCustomError) && (result == -1190 || result == -1140)) {
        if (CHFS_UICallback* cb = m_pInterpreter->GetCallback())
            cb->ShowMessage(m_strCustomError, MB_ICONERROR);
        m_pInterpreter->m_bErrorShown = 1;
    }
    AppendDetail("\r\n" + m_pInterpreter->UIText(result != 0 ? IDS_FAILURE : IDS_SUCCESS) + ".\r\n");
    return result;
}

int CHFS_CopyFileGroupToSection::GetExitCode() { return m_nExitCode; }
