#include "sections/BackupFileSection.h"

#include <cstdio>
#include <cstdlib>

#include "interpreter/Interpreter.h"
#include "sections/CopyFileGroupToSection.h"
#include "sections/UndoSeal.h"
#include "util/FileCopy.h"
#include "util/FileFingerprint.h"
#include "util/FileUtil.h"
#include "util/Sha256.h"
#include "util/StrFormat.h"
#include "util/UndoId.h"

namespace {

bool IsMissing(const std::string& v) { return v == KORVEX_MISSING; }

// The same file or folder, whatever the case and the trailing backslash.
bool SamePath(const std::string& a, const std::string& b)
{
    if (IsMissing(a) || IsMissing(b) || a.empty() || b.empty())
        return false;
    std::string x = AbsolutePath(std::string(), a), y = AbsolutePath(std::string(), b);
    while (x.size() > 3 && x.back() == '\\')
        x.pop_back();
    while (y.size() > 3 && y.back() == '\\')
        y.pop_back();
    return _stricmp(x.c_str(), y.c_str()) == 0;
}

// Copies source over destination; a read-only destination (a saved file that
// was read-only when it was saved, or made so since) is made writable for
// the copy, which puts the saved attributes back anyway.
int CopyOverReadOnly(const std::string& source, const std::string& destination, CHFS_Interpreter* p)
{
    int r = CopyFileKeepTime(source, destination, p->LogSink());
    if (r != KVCOPY_CREATE_FAILED)
        return r;
    DWORD attrs = ::GetFileAttributesA(destination.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_READONLY) ||
        !::SetFileAttributesA(destination.c_str(), attrs & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)))
        return r;
    r = CopyFileKeepTime(source, destination, p->LogSink());
    if (r != KVCOPY_OK)
        ::SetFileAttributesA(destination.c_str(), attrs);
    return r;
}

void DeleteCopy(const std::string& path)
{
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(path.c_str());
}

// Param3 of the item of a folder the section made.
const char kFolderMark[] = "folder";
// Param3 of a journal's note of a copy being made.
const char kPendingMark[] = "pending";

bool IsAbsent(DWORD openError)
{
    return openError == ERROR_FILE_NOT_FOUND || openError == ERROR_PATH_NOT_FOUND;
}

// The third parameter of an item: the fingerprint of the file as it was
// saved and, once sealed, of the file as the install left it. False for an
// item of a record without fingerprints.
bool ReadFingerprints(const std::string& param, CKvFingerprint& saved, std::string& left)
{
    std::string head;
    SplitSeal(param, head, left);
    return CKvFingerprint::Parse(head, saved) && saved.bPresent;
}

std::string StateOf(const CKvFingerprint& f)
{
    return f.bPresent ? UndoPresent(f.Text()) : std::string(kUndoAbsent);
}

// A name in folder that no file holds, of the shape the copies always had
// ("BAK" and up to four hexadecimal digits). Unlike a system temporary name
// it is not created here: the journal has to know a name before its file
// exists, or a run ended in between leaves a file nobody takes away.
bool FreeCopyName(const std::string& folder, std::string& name)
{
    // The room the system's temporary names always left for themselves.
    if (folder.size() > static_cast<size_t>(MAX_PATH - 14)) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        name.clear();
        return false;
    }
    static unsigned next = ::GetTickCount() ^ (::GetCurrentProcessId() << 5);
    for (unsigned tries = 0; tries < 0x10000u; ++tries) {
        const unsigned n = next++ & 0xFFFFu;
        if (n == 0)
            continue;
        name = JoinPath(folder, KvFormat("BAK%x.tmp", n));
        if (!PathFitsLimit(name))
            break;
        if (::GetFileAttributesA(name.c_str()) == INVALID_FILE_ATTRIBUTES && ::GetLastError() == ERROR_FILE_NOT_FOUND)
            return true;
    }
    name.clear();
    return false;
}

}  // namespace

int CHFS_BackupFileSection::Run(const std::string& sectionName, CHFS_ItemList& list)
{
    m_nExitCode = -2000;
    SetSectionName(sectionName);
    std::string countText = ReadKey("FileCount", true);
    std::string backup = ReadKey("Backup", true);
    // An empty folder would put the copies into the current folder,
    // wherever that happens to be.
    if (IsMissing(backup) || backup.empty()) {
        m_pInterpreter->Log("*** Syntax error: Backup='' can not be empty in section ['%s']. ", sectionName.c_str());
        m_nExitCode = IsMissing(countText) ? -2100 : -2101;
        return -1;
    }
    int count = BoundedCount("FileCount", countText);
    int result = 0;
    std::vector<BYTE> buffer;
    for (int i = 1; i <= count; ++i) {
        char key[32];
        snprintf(key, sizeof key, "File%d", i);
        std::string file = ReadKey(key, true);
        if (IsMissing(file)) {
            m_pInterpreter->Log("*** Syntax error: %s can not be empty in section ['%s']. ", key, sectionName.c_str());
            continue;
        }
        CKvCopySource source;
        if (!OpenCopySource(file, source)) {
            // Nothing to save, and nothing a later step changes can be lost:
            // the rest of the files still need their copies.
            if (IsAbsent(source.openError)) {
                m_pInterpreter->Log("Backup file '%s' does not exist: nothing to save, skipped.", file.c_str());
                continue;
            }
            // One that is there but cannot be read stops the step: a later
            // step would change it with nothing to put back.
            m_pInterpreter->Log("Backup file from '%s' to ''. result=%d, lasterror=%lu", file.c_str(),
                                KVCOPY_SOURCE_OPEN_FAILED, static_cast<unsigned long>(source.openError));
            m_nExitCode = KV_EXIT_BACKUP_UNREADABLE;
            result = -1;
            break;
        }
        if (!PrepareBackupFolder(backup, list)) {
            m_nExitCode = -2199;
            result = KVHF_USERBREAK;
            break;
        }
        std::string copy;
        int r = KVCOPY_CREATE_FAILED;
        CKvSha256 hash;
        source.pHash = &hash;
        // The record may outlive a power cut that the system's cache would not.
        source.bFlush = true;
        // Another program may take the free name first: a few more names.
        for (int attempt = 0; attempt < 8 && r == KVCOPY_CREATE_FAILED; ++attempt) {
            if (!FreeCopyName(backup, copy)) {
                m_pInterpreter->Log("CHFS_BackupFileSection::Run('%s'): no free name for a copy in '%s'! "
                                    "lasterror=%lu",
                                    sectionName.c_str(), backup.c_str(), ::GetLastError());
                break;
            }
            // Known to the journal before the file exists: a run ended during
            // the copy leaves nothing the next run does not take away.
            list.NoteInJournal(i, file, copy, kPendingMark);
            CHandle written;
            r = CopyFileToNew(source, copy, buffer, m_pInterpreter->LogSink(), nullptr, written);
            if (r != KVCOPY_CREATE_FAILED)
                break;
            const DWORD error = ::GetLastError();
            copy.clear();  // not ours to delete
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
                break;
        }
        m_pInterpreter->Log("Backup file from '%s' to '%s'. result=%d", file.c_str(), copy.c_str(), r);
        if (r != KVCOPY_OK) {
            if (r == KVCOPY_WRITE_FAILED)
                m_nExitCode = -2102;
            else if (r == KVCOPY_SHORT_WRITE)
                m_nExitCode = -2103;
            else if (r == KVCOPY_CREATE_FAILED)
                m_nExitCode = -2104;
            else if (r == KVCOPY_READ_FAILED)
                m_nExitCode = KV_EXIT_BACKUP_UNREADABLE;
            // The unique name was a file of its own: without an item nobody
            // would ever remove it.
            if (!copy.empty())
                DeleteCopy(copy);
            result = r == KVCOPY_READ_FAILED ? -1 : r;
            break;
        }
        // What was saved, as the bytes went by: a restore takes the copy
        // only while it still holds exactly that.
        CKvFingerprint saved;
        saved.bPresent = true;
        saved.nSize = source.nCopied;
        saved.strHash = hash.FinalHex();
        if (list.AddItem(i, file, copy, saved.Text()) != 0) {
            m_nExitCode = -2199;
            DeleteCopy(copy);
            result = KVHF_USERBREAK;
            break;
        }
    }
    m_pInterpreter->Log("[CHFS_BackupFileSection::Run(%s)=%d]", sectionName.c_str(), result);
    return result;
}

bool CHFS_BackupFileSection::PrepareBackupFolder(const std::string& backup, CHFS_ItemList& list)
{
    if (FileExists(backup))
        return true;
    // The levels this section makes, so that its rollback takes them away
    // again once they are empty: a removal leaves nothing of its own.
    std::vector<std::string> made;
    for (std::string level = backup; !level.empty() && !FileExists(level);) {
        made.push_back(level);
        std::string parent = GetParentFolder(level);
        if (parent.size() >= level.size())
            break;
        level = parent;
    }
    CHFS_CopyFileGroupToSection::PrepareFolder(m_pInterpreter, backup, -1);
    for (size_t i = made.size(); i-- > 0;) {
        if (!FileExists(made[i]))
            continue;
        if (list.AddItem(0, std::string(), made[i], kFolderMark) != 0)
            return false;
    }
    return true;
}

int CHFS_BackupFileSection::Rollback(const std::string& sectionName, CHFS_ItemList& list)
{
    SetSectionName(sectionName);
    int index = 0;
    std::string saved, copy, param3;
    while (list.PopItem(index, saved, copy, param3) == 0) {
        if (index == 0 && saved.empty() && param3 == kFolderMark) {
            // A folder the section made for its copies: it goes when empty;
            // one that holds something else now stays, which is no failure.
            const std::string backup = ReadKey("Backup", false);
            if (!SamePath(backup, copy) && !PathIsBelow(copy, backup)) {
                m_pInterpreter->Log("*** Runtime error: CHFS_BackupFileSection::Rollback('%s'): the folder '%s' is "
                                    "not its section's; refused!",
                                    sectionName.c_str(), copy.c_str());
                return -1;
            }
            if (FileExists(copy)) {
                if (::RemoveDirectoryA(copy.c_str()))
                    m_pInterpreter->Log("[Remove %s]", copy.c_str());
                else
                    m_pInterpreter->Log("[Remove %s] return [%lu]", copy.c_str(), ::GetLastError());
            }
            continue;
        }
        // An item is only as trustworthy as the record it came from, which a
        // person may have edited: it may restore only the file that this
        // section's own key names, from a copy in this section's own Backup.
        const std::string named = ReadKey(KvFormat("File%d", index), false);
        const std::string backup = ReadKey("Backup", false);
        if (!SamePath(named, saved) || !SamePath(GetFolderPart(copy), backup)) {
            m_pInterpreter->Log("*** Runtime error: CHFS_BackupFileSection::Rollback('%s'): item %d restores '%s' "
                                "from '%s', which its section does not name; refused!",
                                sectionName.c_str(), index, saved.c_str(), copy.c_str());
            return -1;
        }
        if (param3 == kPendingMark) {
            // A copy that was being made when its run was ended.
            if (FileExists(copy))
                DeleteCopy(copy);
            continue;
        }
        int r = Restore(saved, copy, param3);
        if (r != 0)
            return r;
    }
    return 0;
}

int CHFS_BackupFileSection::Restore(const std::string& saved, const std::string& copy, const std::string& param3)
{
    CKvFingerprint expected;
    std::string left;
    if (!ReadFingerprints(param3, expected, left)) {
        // A record without fingerprints: the copy is all there is to go by.
        int r = CopyOverReadOnly(copy, saved, m_pInterpreter);
        m_pInterpreter->Log("Restore file from '%s' to '%s'. result=%d", copy.c_str(), saved.c_str(), r);
        if (r == KVCOPY_OK)
            DeleteCopy(copy);
        return r;
    }
    CKvFingerprint inCopy;
    if (KvFingerprintFile(copy, inCopy) && inCopy == expected) {
        int r = CopyOverReadOnly(copy, saved, m_pInterpreter);
        m_pInterpreter->Log("Restore file from '%s' to '%s'. result=%d", copy.c_str(), saved.c_str(), r);
        if (r != KVCOPY_OK)
            return r;
        DeleteCopy(copy);
        return 0;
    }
    // The copy is gone (an earlier removal restored it and deleted it) or
    // is not what was saved: the file itself may hold the saved content.
    CKvFingerprint now;
    if (KvFingerprintFile(saved, now) && now == expected) {
        m_pInterpreter->Log("Restore file '%s': it holds the saved content already (%s), nothing to copy.",
                            saved.c_str(), expected.Text().c_str());
        if (inCopy.bPresent)
            DeleteCopy(copy);
        return 0;
    }
    m_pInterpreter->Log("*** Runtime error: CHFS_BackupFileSection::Rollback(): the copy '%s' of '%s' is %s, not "
                        "what was saved (%s); the file is not restored!",
                        copy.c_str(), saved.c_str(), inCopy.bPresent ? inCopy.Text().c_str() : "gone",
                        expected.Text().c_str());
    return -1;
}

void CHFS_BackupFileSection::CheckUndo(const std::string&, const CHFS_RecordItem& item,
                                       std::vector<CHFS_UndoTarget>& targets)
{
    if (item.nItemIndex == 0 && item.strParam3 == kFolderMark)
        return;
    CKvFingerprint saved;
    std::string left;
    const std::string id = KvUndoFileId(item.strParam1);
    if (!ReadFingerprints(item.strParam3, saved, left) || left.empty()) {
        targets.push_back(JudgeUndo(id, item.strParam1, "content", std::string(), std::string(), std::string()));
        return;
    }
    CKvFingerprint now;
    DWORD error = 0;
    if (!KvFingerprintFile(item.strParam1, now, &error)) {
        targets.push_back(UnreadableUndo(id, item.strParam1, "content", static_cast<long>(error)));
        return;
    }
    targets.push_back(JudgeUndo(id, item.strParam1, "content", StateOf(now), left, StateOf(saved)));
}

void CHFS_BackupFileSection::SealItem(const std::string&, CHFS_RecordItem& item)
{
    if (item.nItemIndex == 0 && item.strParam3 == kFolderMark)
        return;
    CKvFingerprint saved, now;
    std::string left;
    DWORD error = 0;
    if (!ReadFingerprints(item.strParam3, saved, left))
        return;
    if (!KvFingerprintFile(item.strParam1, now, &error)) {
        m_pInterpreter->Log("CHFS_BackupFileSection::SealItem(): '%s' can't be read, lasterror=%lu; its removal "
                            "will not be checked",
                            item.strParam1.c_str(), static_cast<unsigned long>(error));
        return;
    }
    item.strParam3 = WithSeal(saved.Text(), StateOf(now));
}

int CHFS_BackupFileSection::GetExitCode() { return m_nExitCode; }
