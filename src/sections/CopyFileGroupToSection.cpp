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
