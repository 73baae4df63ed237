#include "sections/BackupFileSection.h"

#include <cstdio>
#include <cstdlib>

#include "interpreter/Interpreter.h"
#include "sections/CopyFileGroupToSection.h"
#include "util/FileUtil.h"
#include "util/StrFormat.h"

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
    for (int i = 1; i <= count; ++i) {
        char key[32];
        snprintf(key, sizeof key, "File%d", i);
        std::string file = ReadKey(key, true);
        if (IsMissing(file)) {
            m_pInterpreter->Log("*** Syntax error: %s can not be empty in section ['%s']. ", key, sectionName.c_str());
            continue;
        }
        CHFS_CopyFileGroupToSection::PrepareFolder(m_pInterpreter, backup, -1);
        std::string copy;
        int r = KVCOPY_CREATE_FAILED;
        if (MakeTempFileName(backup, "BAK", copy))
            r = CopyFileKeepTime(file, copy, m_pInterpreter->LogSink());
        else
            m_pInterpreter->Log("CHFS_BackupFileSection::Run('%s'): GetTempFileName in '%s' Failed! lasterror=%lu",
                                sectionName.c_str(), backup.c_str(), ::GetLastError());
        m_pInterpreter->Log("Backup file from '%s' to '%s'. result=%d", file.c_str(), copy.c_str(), r);
        if (r != KVCOPY_OK) {
            if (r == KVCOPY_WRITE_FAILED)
                m_nExitCode = -2102;
            else if (r == KVCOPY_SHORT_WRITE)
                m_nExitCode = -2103;
            else if (r == KVCOPY_CREATE_FAILED)
                m_nExitCode = -2104;
            else if (r == KVCOPY_SOURCE_OPEN_FAILED && FileExists(file))
                m_nExitCode = KV_EXIT_BACKUP_UNREADABLE;
            // The unique name was a file of its own: without an item nobody
            // would ever remove it.
            if (!copy.empty())
                DeleteCopy(copy);
            // A file that is there but cannot be read must stop the step: a
            // later step would change it with nothing to put back, and its copy
            // code -100 would read as KVHF_CONTINUE. -100 stays only for a file
            // that is absent (nothing to save), where the run goes on as it
            // always did.
            result = (r == KVCOPY_SOURCE_OPEN_FAILED && FileExists(file)) ? -1 : r;
            break;
        }
        if (list.AddItem(i, file, copy, "") != 0) {
            m_nExitCode = -2199;
            DeleteCopy(copy);
            result = KVHF_USERBREAK;
            break;
        }
    }
    m_pInterpreter->Log("[CHFS_BackupFileSection::Run(%s)=%d]", sectionName.c_str(), result);
    return result;
}

int CHFS_BackupFileSection::Rollback(const std::string& sectionName, CHFS_ItemList& list)
{
    SetSectionName(sectionName);
    int index = 0;
    std::string saved, copy;
    while (list.PopItem(index, saved, copy) == 0) {
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
        int r = CopyOverReadOnly(copy, saved, m_pInterpreter);
        m_pInterpreter->Log("Restore file from '%s' to '%s'. result=%d", copy.c_str(), saved.c_str(), r);
        if (r != KVCOPY_OK)
            return r;
        DeleteCopy(copy);
    }
    return 0;
}

int CHFS_BackupFileSection::GetExitCode() { return m_nExitCode; }
