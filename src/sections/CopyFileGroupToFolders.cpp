// The copy's folders and backups, and its undo data as it goes: the folders
// it makes (noted so that its rollback can take them away), the checks of a
// group's folders and entries, the saving of an original under a name of its
// own, and the batches of entries that become record items.
#include "sections/CopyFileGroupToSection.h"

#include "interpreter/Interpreter.h"
#include "util/FileUtil.h"
#include "util/StrFormat.h"

namespace {

bool IsMissing(const std::string& v) { return v == KORVEX_MISSING; }

// A record value is kept below the reader's 4095 characters.
const size_t kMaxBatchChars = 3900;

// The longest text one entry can take beside its paths.
const size_t kEntryOverhead = 2 * (20 + 1 + 64) + 16 + 20 + 16;

// File names compare without regard to case, as the file system does.
std::string NameKey(const std::string& name)
{
    std::string key = name;
    if (!key.empty())
        ::CharUpperBuffA(&key[0], static_cast<DWORD>(key.size()));
    return key;
}

}  // namespace

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

void CHFS_CopyFileGroupToSection::AddEntry(const CCopyUndoEntry& entry, bool noted)
{
    m_batch.entries.push_back(entry);
    std::string text = EncodeCopyUndoEntry(m_batch, entry);
    // Its fingerprint and time are filled in once the copy is done.
    m_nBatchChars += text.size() + 1 + (20 + 1 + 64) + 16;
    // In the journal at once: an install ended from outside before the batch
    // becomes an item is undone with this entry all the same.
    if (m_pRunList && !noted)
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
        for (const std::string& level : CopyFolderChain(base, rel)) {
            if (FileExists(level))
                break;
            made.insert(made.begin(), level);
        }
    }
    // In the record (and the journal) before they are made: a run ended
    // right after making them leaves nothing the next run does not remove.
    // A level that could not be made is no harm there: the undo of a folder
    // that is not there does nothing.
    if (kind != 0) {
        for (const std::string& level : made) {
            CCopyUndoEntry e;
            e.cKind = kind;
            e.strTarget = level;
            if (MakeRoomFor(e))
                AddEntry(e);
        }
    }
    if (PrepareFolder(folder, -1130) != 0)
        return;
    m_knownFolders.insert(folder);
    if (!existed)
        m_madeFolders[folder];
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

std::string CHFS_CopyFileGroupToSection::TempFolder(const std::string& backupFolder)
{
    // A new name in a folder costs the platform a look at every name already
    // there (it matches names without regard to case), and a backup folder
    // can hold thousands: a copy written under a temporary name in a folder
    // of its own costs one such look instead of two.
    if (!m_bTempFolderTried) {
        m_bTempFolderTried = true;
        const std::string folder = JoinPath(m_batch.strBackup, KvFormat("~kv%lx.tmp", ::GetCurrentProcessId()));
        if (m_pRunList) {
            CCopyUndoEntry made;
            made.cKind = CCopyUndoEntry::BACKUP_FOLDER;
            made.strTarget = folder;
            m_pRunList->NoteInJournal(m_nRunGroup, EncodeCopyUndoParam1(m_batch),
                                      "|" + EncodeCopyUndoEntry(m_batch, made) + "|", std::string());
        }
        if (PathFitsLimit(folder) && ::CreateDirectoryA(folder.c_str(), nullptr))
            m_strTempFolder = folder;
    }
    return m_strTempFolder.empty() ? backupFolder : m_strTempFolder;
}

void CHFS_CopyFileGroupToSection::DropTempFolder()
{
    if (!m_strTempFolder.empty() && !::RemoveDirectoryA(m_strTempFolder.c_str()))
        m_pInterpreter->Log("CHFS_CopyFileGroupToSection: the temporary folder '%s' is left, lasterror=%lu",
                            m_strTempFolder.c_str(), ::GetLastError());
    m_strTempFolder.clear();
    m_bTempFolderTried = false;
}

int CHFS_CopyFileGroupToSection::SaveOriginal(CKvCopySource& installed, const std::string& backupFolder,
                                              const std::string& name, bool preferredFree, CCopyUndoEntry& entry)
{
    CKvLogSink* log = m_pInterpreter->LogSink();
    // Written under a name of its own first and given its name only when it
    // is complete: a run ended half-way through never leaves a torn copy
    // under a product file's name.
    std::string temp;
    CHandle written;
    int r = KVCOPY_CREATE_FAILED;
    static unsigned s_nTemp = 0;
    const std::string tempFolder = TempFolder(backupFolder);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = JoinPath(tempFolder, KvFormat("~kv%lx_%x.tmp", ::GetCurrentProcessId(), ++s_nTemp));
        // The journal knows of the copy before it is begun: a run ended in
        // the middle of it leaves nothing that the next run does not remove.
        if (m_pRunList) {
            CCopyUndoEntry pending = entry;
            pending.strBackup = temp;
            pending.bPending = true;
            m_pRunList->NoteInJournal(m_nRunGroup, EncodeCopyUndoParam1(m_batch),
                                      "|" + EncodeCopyUndoEntry(m_batch, pending) + "|", std::string());
        }
        r = CopyFileToNew(installed, temp, m_buffer, log, &entry.before, written);
        // A name that was taken leaves the source open and unread.
        if (r != KVCOPY_CREATE_FAILED || ::GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (r != KVCOPY_OK) {
        installed.handle.Close();
        if (r != KVCOPY_CREATE_FAILED)
            ::DeleteFileA(temp.c_str());
        return r;
    }
    // The name the layout gives it, unless an earlier run or another patch
    // keeps a backup of its own there: that one is theirs and stays. Only a
    // name that is free is tried, and the journal knows of each try before
    // it is made: a run ended just after the rename is undone from the
    // backup under its new name (see UndoFile).
    const std::string preferred = JoinPath(backupFolder, name);
    std::string final = preferred;
    bool free = preferredFree;
    for (int n = 2; n < 1000; ++n) {
        if (!free) {
            const DWORD attrs = PathFitsLimit(final) ? ::GetFileAttributesA(final.c_str()) : 0;
            free = attrs == INVALID_FILE_ATTRIBUTES || !PathFitsLimit(final);
        }
        if (free) {
            if (m_pRunList) {
                CCopyUndoEntry naming = entry;
                naming.strBackup = final;
                naming.bNaming = true;
                naming.strTemp = temp;
                m_pRunList->NoteInJournal(m_nRunGroup, EncodeCopyUndoParam1(m_batch),
                                          "|" + EncodeCopyUndoEntry(m_batch, naming) + "|", std::string());
            }
            if (RenameOpenFile(written, temp, final)) {
                entry.strBackup = final;
                m_madeBackups.insert(final);
                return KVCOPY_OK;
            }
            DWORD err = ::GetLastError();
            if (err != ERROR_ALREADY_EXISTS && err != ERROR_FILE_EXISTS && err != ERROR_ACCESS_DENIED)
                break;
        }
        free = false;
        final = preferred + KvFormat(".~%d", n);
    }
    m_pInterpreter->Log("CHFS_CopyFileGroupToSection: no name for the backup '%s' in '%s', lasterror=%lu",
                        temp.c_str(), backupFolder.c_str(), ::GetLastError());
    written.Close();
    ::SetFileAttributesA(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(temp.c_str());
    return KVCOPY_CREATE_FAILED;
}
