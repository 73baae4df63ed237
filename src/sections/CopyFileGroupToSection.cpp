#include "sections/CopyFileGroupToSection.h"

#include <cstdio>
#include <algorithm>
#include <cstdlib>

#include "interpreter/Interpreter.h"
#include "util/CopyFailPolicy.h"
#include "util/FileUtil.h"
#include "util/WinHandles.h"
#include "util/StrFormat.h"

// Record items of a group and what they carry.
//
// Run appends one item per group (item index = group number) before it copies
// the group. With KVHF_RollBackExtraAndExistenFile the group's item is
// rewritten after the copy so that a removal run, which starts with an empty
// set of new targets, can still remove exactly what this group created:
//   Param1  the group's Target as it was expanded when the files were copied;
//   Param2  the files the copy created, each as its full path without that
//           Target prefix, every entry followed by "|" and the whole list
//           preceded by one "|" ("|a.dll|bin\b.dll|");
//   Param3  the folders it created, in the same form (the Target itself, when
//           it was new, is the empty entry: "||").
// "|" cannot occur in a path, and the outer bars keep the INI reader from
// trimming blanks or quotes off the first or last entry. A record value is
// read back cut at 4095 characters, so lists longer than kMaxListChars go on
// in continuation items of the same group, added right after its own item,
// whose Param1 is "*" followed by the Target ("*" cannot start a path).
// Rollback pops the continuation items first (they are newer), merges them
// with the group's item, and deletes a file or removes a folder only when it
// is named there or in this object's own set of new targets. An item with
// empty parameters (no option, nothing created, or an older record) therefore
// deletes nothing.

namespace {

const char kListSep = '|';
const char kContinuationMark = '*';
const size_t kMaxListChars = 3900;

// Group results of a group refused before anything is copied.
const int kGroupFolderMissing = -1180;
const int kGroupEntryOutside = -1181;

const char* const kOptOnlyNewer = "KVHF_OnlyCopyAfterLastModifiedDate";
const char* const kOptRollBackExtra = "KVHF_RollBackExtraAndExistenFile";
const char* const kOptRemoveReadOnly = "KVHF_CopyFailRemoveReadonly";
const char* const kOptReboot = "KVHF_CopyFailReboot";
const char* const kOptRemoveReadOnlyAndReboot = "KVHF_CopyFailRemoveReadonlyAndReboot";

bool IsMissing(const std::string& v) { return v == KORVEX_MISSING; }

std::string GroupName(int n)
{
    char buf[32];
    snprintf(buf, sizeof buf, "FileGroup%d", n);
    return buf;
}

std::string FileKey(int i)
{
    char buf[32];
    snprintf(buf, sizeof buf, "File%d", i);
    return buf;
}

std::string VersionTextOf(bool has, const WORD v[4])
{
    if (!has)
        return std::string();
    char buf[64];
    snprintf(buf, sizeof buf, "[%d.%d.%d.%d]", v[0], v[1], v[2], v[3]);
    return buf;
}

bool StartsWith(const std::string& s, const std::string& prefix)
{
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// Splits "|a|b|" into its entries; false when the text is not such a list.
bool SplitList(const std::string& text, std::vector<std::string>& out)
{
    if (text.empty())
        return true;
    if (text[0] != kListSep || text.back() != kListSep)
        return false;
    size_t pos = 1;
    while (pos < text.size()) {
        size_t end = text.find(kListSep, pos);
        out.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return true;
}

// Cuts one list into texts of at most kMaxListChars each.
std::vector<std::string> ChunkList(const std::vector<std::string>& entries)
{
    std::vector<std::string> chunks;
    std::string cur;
    for (const std::string& e : entries) {
        if (!cur.empty() && cur.size() + e.size() + 1 > kMaxListChars) {
            chunks.push_back(cur);
            cur.clear();
        }
        if (cur.empty())
            cur = std::string(1, kListSep);
        cur += e;
        cur += kListSep;
    }
    if (!cur.empty())
        chunks.push_back(cur);
    return chunks;
}

// The folder Target joined with rel, then each folder above it up to Target
// itself, deepest first, in the form both Run and Rollback build them.
std::vector<std::string> FolderChain(const std::string& target, const std::string& rel)
{
    std::vector<std::string> chain;
    std::string cur = rel;
    for (;;) {
        chain.push_back(JoinPath(target, cur));
        if (cur.empty())
            break;
        // rel comes from a folder part, so its last byte is a real separator.
        cur = GetFolderPart(cur.substr(0, cur.size() - 1));
    }
    return chain;
}

}  // namespace

// ---------------------------------------------------------------- record items

bool CHFS_CopyFileGroupToSection::IsContinuationItem(const std::string& p1)
{
    return !p1.empty() && p1[0] == kContinuationMark;
}

std::vector<CHFS_RecordItem> CHFS_CopyFileGroupToSection::EncodeCreatedTargets(int group,
                                                                               const std::string& target,
                                                                               const CCreatedTargets& created)
{
    std::vector<CHFS_RecordItem> items;
    std::vector<std::string> files, folders;
    // Only what lies below the Target can be named relative to it; anything
    // else cannot have been made by this group's copy.
    for (const std::string& f : created.files)
        if (!target.empty() && StartsWith(f, target))
            files.push_back(f.substr(target.size()));
    for (const std::string& d : created.folders)
        if (!target.empty() && StartsWith(d, target))
            folders.push_back(d.substr(target.size()));
    if (files.empty() && folders.empty())
        return items;
    std::vector<std::string> fileChunks = ChunkList(files);
    std::vector<std::string> folderChunks = ChunkList(folders);
    size_t n = std::max<size_t>(1, std::max(fileChunks.size(), folderChunks.size()));
    for (size_t i = 0; i < n; ++i) {
        CHFS_RecordItem item;
        item.nItemIndex = group;
        item.strParam1 = i == 0 ? target : std::string(1, kContinuationMark) + target;
        if (i < fileChunks.size())
            item.strParam2 = fileChunks[i];
        if (i < folderChunks.size())
            item.strParam3 = folderChunks[i];
        items.push_back(item);
    }
    return items;
}

bool CHFS_CopyFileGroupToSection::DecodeCreatedTargets(const std::string& p1, const std::string& p2,
                                                       const std::string& p3, CCreatedTargets& created)
{
    std::string target = IsContinuationItem(p1) ? p1.substr(1) : p1;
    if (target.empty())
        return false;
    std::vector<std::string> files, folders;
    if (!SplitList(p2, files) || !SplitList(p3, folders))
        return false;
    for (const std::string& f : files)
        if (!f.empty())  // an empty file entry would name the Target itself
            created.files.push_back(target + f);
    for (const std::string& d : folders)
        created.folders.push_back(target + d);
    return !files.empty() || !folders.empty();
}

void CHFS_CopyFileGroupToSection::StoreCreatedTargets(CHFS_ItemList& list, int group, const std::string& target)
{
    std::vector<CHFS_RecordItem> items = EncodeCreatedTargets(group, target, m_groupCreated);
    if (items.empty())
        return;
    int index = 0;
    std::string p1, p2, p3;
    if (list.PopItem(index, p1, p2, p3) != 0)
        return;
    if (index != group || !p1.empty() || !p2.empty() || !p3.empty()) {
        list.AddItem(index, p1, p2, p3);  // not the group's own item: leave it be
        return;
    }
    for (size_t i = 0; i < items.size(); ++i) {
        if (list.AddItem(items[i].nItemIndex, items[i].strParam1, items[i].strParam2, items[i].strParam3) != 0) {
            m_pInterpreter->Log("CHFS_CopyFileGroupToSection::Run(): the item list is full, %d of %d record "
                                "items of the files created by '%s' are lost; a later removal keeps them",
                                static_cast<int>(items.size() - i), static_cast<int>(items.size()),
                                GroupName(group).c_str());
            break;
        }
    }
}

// ---------------------------------------------------------------- helpers

void CHFS_CopyFileGroupToSection::AppendDetail(const CHFS_UIText& text)
{
    m_pInterpreter->AppendDetail(text);
}

std::string CHFS_CopyFileGroupToSection::VersionText(const std::string& path)
{
    WORD v[4] = {0, 0, 0, 0};
    bool has = GetFileVersionNumbers(path, v);
    return VersionTextOf(has, v);
}

void CHFS_CopyFileGroupToSection::RecordNewTarget(const std::string& path, bool isFolder)
{
    if (!m_newTargets.insert(path).second)
        return;
    (isFolder ? m_groupCreated.folders : m_groupCreated.files).push_back(path);
    if (!m_pRunList)
        return;
    CCreatedTargets one;
    (isFolder ? one.folders : one.files).push_back(path);
    // A continuation item of the group's own item, as the rollback reads it.
    for (const CHFS_RecordItem& item : EncodeCreatedTargets(m_nRunGroup, m_strGroupTarget, one))
        m_pRunList->NoteInJournal(item.nItemIndex, std::string(1, kContinuationMark) + m_strGroupTarget,
                                  item.strParam2, item.strParam3);
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
        if (list.AddItem(n, "", "", "") != 0) {
            m_nExitCode = -2399;
            result = KVHF_USERBREAK;
            break;
        }
        m_groupCreated = CCreatedTargets();
        m_strGroupTarget.clear();
        m_pRunList = &list;
        m_nRunGroup = n;
        int r = CopyGroup(GroupName(n));
        m_pRunList = nullptr;
        StoreCreatedTargets(list, n, m_strGroupTarget);
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
            m_nFailedGroup = n;
            result = -1100;
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

void CHFS_CopyFileGroupToSection::EnsureFolder(const std::string& folder)
{
    if (m_knownFolders.count(folder))
        return;
    bool existed = FileExists(folder);
    if (PrepareFolder(folder, -1130) != 0)
        return;
    m_knownFolders.insert(folder);
    if (!existed)
        m_madeFolders[folder];
}

namespace {

// File names compare without regard to case, as the file system does.
std::string NameKey(const std::string& name)
{
    std::string key = name;
    if (!key.empty())
        ::CharUpperBuffA(&key[0], static_cast<DWORD>(key.size()));
    return key;
}

}  // namespace

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
    m_strGroupTarget = target;

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

            if (rollBackExtra && !m_knownFolders.count(targetFolder) && !FileExists(targetFolder)) {
                // The folders between Target and the file's folder are made
                // along with it; they are recorded too, so that a rollback can
                // leave the tree as it found it.
                for (const std::string& f : FolderChain(target, rel)) {
                    if (FileExists(f))
                        break;
                    RecordNewTarget(f, true);
                }
            }
            EnsureFolder(targetFolder);
            EnsureFolder(backupFolder);

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

            if (rollBackExtra && !targetExists) {
                RecordNewTarget(targetFile, false);
                m_bNoNewTargetRecorded = false;
            }

            CKvCopyPlan backupPlan;
            backupPlan.source = &installed;
            backupPlan.buffer = &m_buffer;
            backupPlan.destinationAttributes = &backupAttrs;
            int r = CopyFileWithFailPolicy(log, targetFile, backupFile, true, false, nullptr, &backupPlan);
            installed.handle.Close();
            if (r != KVCOPY_SOURCE_OPEN_FAILED || targetExists)
                NoteCopied(backupFolder, name, r == KVCOPY_OK);
            // -100 means "nothing installed to back up" only when the target is
            // really absent: an installed file that can't even be read (held
            // without sharing) must not be replaced without a backup, or neither
            // a rollback nor a later removal could ever put it back.
            if (r == KVCOPY_SOURCE_OPEN_FAILED && !targetExists) {
                m_pInterpreter->Log("[%s : %s%s->%s%s %s]", name.c_str(), targetFile.c_str(), targetVT.c_str(),
                                    backupFile.c_str(), backupVT.c_str(), "skip extra files.");
            } else if (r != KVCOPY_OK) {
                m_pInterpreter->Log("[%s : %s%s->%s%s %s]", name.c_str(), targetFile.c_str(), targetVT.c_str(),
                                    backupFile.c_str(), backupVT.c_str(), "fail.");
                result = -1150;
                break;
            }
            const bool backedUp = r == KVCOPY_OK;

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
            if (backedUp && targetExists)
                copyPlan.restoreFrom = backupFile;
            bool rebootScheduled = false;
            r = CopyFileWithFailPolicy(log, sourceFile, targetFile, removeReadOnly, reboot, &rebootScheduled,
                                       &copyPlan);
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
            m_pInterpreter->NoteBytesWritten(shipped.bytesCopied);
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

// ---------------------------------------------------------------- Rollback

int CHFS_CopyFileGroupToSection::Rollback(const std::string& sectionName, CHFS_ItemList& list)
{
    SetSectionName(sectionName);
    ReadKey("FileGroupCount", true);
    int result = 0;
    std::vector<std::string> backups;
    CCreatedTargets recorded;
    int index = 0;
    std::string p1, p2, p3;
    while (list.PopItem(index, p1, p2, p3) == 0) {
        if (IsContinuationItem(p1)) {
            DecodeCreatedTargets(p1, p2, p3, recorded);
            continue;
        }
        DecodeCreatedTargets(p1, p2, p3, recorded);
        std::string backup;
        int r = RollbackGroup(GroupName(index), backup, recorded);
        recorded = CCreatedTargets();
        if (r != 0) {
            m_nFailedGroup = index;
            result = -1170;
            break;
        }
        if (!backup.empty())
            backups.push_back(backup);
    }
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

int CHFS_CopyFileGroupToSection::RollbackGroup(const std::string& group, std::string& backup,
                                               const CCreatedTargets& recorded)
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

    // What this group is known to have created: this object's own record of
    // the current run and what the group's record items carry.
    std::set<std::string> created(m_newTargets);
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
                std::string qVT = VersionText(q);
                std::string tVT = VersionText(t);
                m_pInterpreter->Log("[%s : %s%s->%s%s]", b.c_str(), q.c_str(), qVT.c_str(), t.c_str(), tVT.c_str());
                int r = CopyFileKeepTime(q, t, m_pInterpreter->LogSink());
                if (r == KVCOPY_CREATE_FAILED) {
                    // The patch's own copy can have made the file read-only
                    // (it carries the package file's attributes): that must not
                    // keep the saved original from coming back.
                    DWORD attrs = ::GetFileAttributesA(t.c_str());
                    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY) &&
                        ::SetFileAttributesA(t.c_str(), attrs & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
                        r = CopyFileKeepTime(q, t, m_pInterpreter->LogSink());
                        if (r != KVCOPY_OK)
                            ::SetFileAttributesA(t.c_str(), attrs);
                    }
                }
                if (r != KVCOPY_OK) {
                    m_pInterpreter->Log("[Rollback failed , skip it : %s->%s]", q.c_str(), t.c_str());
                    m_pInterpreter->Log("[%s : %s%s->%s%s %s]", b.c_str(), q.c_str(), qVT.c_str(), t.c_str(),
                                        tVT.c_str(), "fail.");
                    result = 0;
                } else {
                    ::SetFileAttributesA(q.c_str(), FILE_ATTRIBUTE_NORMAL);
                    ::DeleteFileA(q.c_str());
                }
            }
        } else if (rollBackExtra) {
            // Only files and folders this patch is known to have created go:
            // without such a record (no option at copy time, an older install
            // record) nothing is deleted, since a file without a backup may as
            // well be one the patch never touched.
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
            std::vector<std::string> chain = FolderChain(target, GetFolderPart(entry));
            if (created.count(folder) && FileExists(folder)) {
                if (::RemoveDirectoryA(folder.c_str()))
                    m_pInterpreter->Log("[Remove %s]", folder.c_str());
                else
                    m_pInterpreter->Log("[Remove %s] return [%lu]", folder.c_str(), ::GetLastError());
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

int CHFS_CopyFileGroupToSection::GetExitCode() { return m_nExitCode; }
