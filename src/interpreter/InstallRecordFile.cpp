// The install record file over the life of a patch: whose it is, a journal
// left by a run that did not end, the record written whole before it
// replaces anything, and the check that a removal would undo only what the
// patch itself left.
#include "interpreter/Interpreter.h"

#include <cstdlib>

#include "interpreter/Journal.h"
#include "interpreter/ItemList.h"
#include "interpreter/MainSection.h"
#include "util/FileUtil.h"
#include "util/Profile.h"
#include "util/WinHandles.h"

namespace {

std::string ProfileText(const std::string& file, const char* section, const char* key, bool& present)
{
    static const char kAbsent[] = "\x01kv-absent\x01";
    char buffer[4096] = {0};
    KvGetProfileString(section, key, kAbsent, buffer, sizeof buffer, file);
    present = std::string(buffer) != kAbsent;
    return present ? std::string(buffer) : std::string();
}

// An earlier record or a script copied from read-only media carries the
// read-only attribute; the record must still be replaceable and writable.
void ClearReadOnly(const std::string& path)
{
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        ::SetFileAttributesA(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

void DeleteQuietly(const std::string& path)
{
    ClearReadOnly(path);
    ::DeleteFileA(path.c_str());
}

}  // namespace

bool CHFS_Interpreter::IsOwnRecord(const std::string& file)
{
    // A record holds the count of its items...
    bool present = false;
    std::string total = ProfileText(file, "REC_0", "TotalCount", present);
    char* end = nullptr;
    long count = std::strtol(total.c_str(), &end, 10);
    if (!present || total.empty() || *end != '\0' || count < 0 || count > CHFS_ItemList::MAX_ITEMS)
        return false;
    // ...and is a copy of a script of the same patch: the same PatchID as it
    // stands in the script, or no patch information in either.
    bool ours = false, theirs = false;
    std::string ourId = ProfileText(m_strScriptFile, "PatchInformation", "PatchID", ours);
    std::string theirId = ProfileText(file, "PatchInformation", "PatchID", theirs);
    return ours == theirs && _stricmp(ourId.c_str(), theirId.c_str()) == 0;
}

int CHFS_Interpreter::PrepareInstall(CHFS_MainSection& main)
{
    const std::string& record = m_strRecordFile;
    if (IsDevicePath(record)) {
        Log("*** Runtime error: CHFS_Interpreter::Execute(): the install record '%s' names a device, not a file",
            record.c_str());
        return KV_EXIT_RECORD_NOT_OURS;
    }
    const DWORD attributes = ::GetFileAttributesA(record.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && ((attributes & FILE_ATTRIBUTE_DIRECTORY) || !IsOwnRecord(record))) {
        Log("*** Runtime error: CHFS_Interpreter::Execute(): InstallRecordFile '%s' names a %s that is not an "
            "install record of this patch; it is left as it is and nothing is installed",
            record.c_str(), (attributes & FILE_ATTRIBUTE_DIRECTORY) ? "folder" : "file");
        return KV_EXIT_RECORD_NOT_OURS;
    }
    // The journal goes beside the record: its folder is needed from the start.
    if (!exists)
        CreateDirectoryTree(record, true);
    // What a run that was ended while writing the record left half-made.
    const std::string pending = record + ".new";
    if (FileExists(pending))
        DeleteQuietly(pending);

    const std::string journal = CHFS_InstallJournal::JournalPath(record);
    if (exists) {
        // The record is given its name last, once it is complete: a journal
        // beside it belongs to the run that wrote it.
        if (FileExists(journal)) {
            Log("CHFS_Interpreter::Execute(): the journal '%s' of the run that wrote the install record is left "
                "over; removed",
                journal.c_str());
            KvDiscardJournal(record);
        }
        return 1;
    }
    if (FileExists(journal) && UndoInterruptedInstall(main, journal) != 0)
        return KV_EXIT_INTERRUPTED_NOT_UNDONE;
    return 0;
}

int CHFS_Interpreter::UndoInterruptedInstall(CHFS_MainSection& main, const std::string& journal)
{
    Log("CHFS_Interpreter::Execute(): '%s' was left by an installation that did not end; its changes are undone "
        "first",
        journal.c_str());
    // With the script and the symbols that run had, when it left them.
    const std::string script = CHFS_InstallJournal::ScriptPath(m_strRecordFile);
    const std::string ownScript = m_strScriptFile;
    const bool ownCopy = FileExists(script);
    if (ownCopy) {
        m_strScriptFile = script;
        LoadSymbols(script);
    }
    CHFS_ItemList old;
    int r = old.LoadRecord(this, journal, true);
    if (r == 0)
        r = main.Rollback("ProductInstall.Main", old);
    m_strScriptFile = ownScript;
    if (ownCopy) {
        // This run starts from its own symbols again; a restore staged for
        // the next start still asks for it.
        const std::string reboot = GetSymbol("NEED_REBOOT");
        InitBuiltinSymbols();
        InitVariables("ProductInstall.Symbols");
        if (reboot == "TRUE")
            SetGlobalSymbol("NEED_REBOOT", reboot);
    }
    if (r != 0) {
        Log("*** Runtime error: CHFS_Interpreter::Execute(): the changes of the installation that did not end could "
            "not be undone, ret=%d; '%s' is kept",
            r, journal.c_str());
        return -1;
    }
    KvDiscardJournal(m_strRecordFile);
    return 0;
}

void CHFS_Interpreter::KeepAlreadyInstalled()
{
    Log("CHFS_Interpreter::Execute(): the patch is already installed (its install record '%s' exists): nothing is "
        "changed; remove it first to install it again",
        m_strRecordFile.c_str());
    // What start-up wrote for this run is put back as the install left it.
    if (m_strVersion == "2.0") {
        const std::string patchId = GetPatchInfo("PatchID");
        UpdatePatchDB(patchId, "Progress", "100");
        UpdatePatchDB(patchId, "ResultCode", "0");
        UpdatePatchDB(patchId, "ErrorMSG", "success");
    }
    // A run ended right after its record was written may not have made the
    // uninstall entry yet, or only part of it: an entry is whole once it
    // holds the value written last.
    const std::string patchId = GetPatchInfo("PatchID");
    if (!patchId.empty()) {
        CRegKey key;
        const std::string path = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + patchId;
        bool whole = false;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, key.Put()) == ERROR_SUCCESS)
            whole = ::RegQueryValueExA(key.Get(), "UninstallString", nullptr, nullptr, nullptr, nullptr) ==
                        ERROR_SUCCESS &&
                    ::RegQueryValueExA(key.Get(), "NoRepair", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        else
            key.Release();
        if (!whole)
            RepairUninstallEntry();
    }
    if (m_pCallback) {
        m_pCallback->SetProgress(100, 100);
        CHFS_UIText text = UIText(IDS_INSTALL_SUCCESS);
        m_pCallback->SetTaskTextW(text, 0);
        m_pCallback->AppendDetailW(text, 0);
    }
    m_nExitCode = 0;
    Log("Return code in silent mode,installation success,code=%d\n", m_nExitCode);
}

int CHFS_Interpreter::WriteInstallRecord(CHFS_ItemList& list)
{
    // Written whole under a name of its own and only then given the record's
    // name: a run ended half-way leaves no record that would undo part of it.
    const std::string temp = m_strRecordFile + ".new";
    DeleteQuietly(temp);
    int copied = CopyFileKeepTime(m_strScriptFile, temp, LogSink());
    if (copied != KVCOPY_OK) {
        Log("*** Runtime error: CHFS_Interpreter::Execute(): can't copy the script '%s' to the install record "
            "'%s', ret=%d",
            m_strScriptFile.c_str(), temp.c_str(), copied);
        DeleteQuietly(temp);
        return -1;
    }
    // Without this the symbols and items of a read-only script's record
    // would be refused, and its removal would undo nothing.
    ClearReadOnly(temp);
    if (SaveSymbols(temp) != 0 || list.SaveRecord(this, temp) != 0) {
        Log("*** Runtime error: CHFS_Interpreter::Execute(): the install record '%s' could not be written "
            "completely",
            m_strRecordFile.c_str());
        DeleteQuietly(temp);
        return -1;
    }
    ClearReadOnly(m_strRecordFile);
    if (!::MoveFileExA(temp.c_str(), m_strRecordFile.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        Log("*** Runtime error: CHFS_Interpreter::Execute(): the install record can't be given its name '%s', "
            "lasterror=%lu",
            m_strRecordFile.c_str(), ::GetLastError());
        DeleteQuietly(temp);
        return -1;
    }
    return 0;
}

int CHFS_Interpreter::CheckRemoval(CHFS_MainSection& main)
{
    CHFS_ItemList recorded;
    if (recorded.LoadRecord(this, m_strRecordFile) != 0) {
        Log("*** Runtime error: CHFS_Interpreter::Execute(): the install record '%s' is damaged; nothing is "
            "removed and the record is kept",
            m_strRecordFile.c_str());
        return KV_EXIT_RECORD_DAMAGED;
    }
    int changed = main.CheckRollback("ProductInstall.Main", recorded);
    if (changed < 0) {
        Log("*** Runtime error: CHFS_Interpreter::Execute(): the install record '%s' names steps its script "
            "lacks; nothing is removed and the record is kept",
            m_strRecordFile.c_str());
        return KV_EXIT_RECORD_DAMAGED;
    }
    if (changed > 0) {
        Log("*** Runtime error: CHFS_Interpreter::Execute(): %d thing(s) this patch changed were changed again "
            "since; nothing is removed, the record '%s' and the uninstall entry are kept",
            changed, m_strRecordFile.c_str());
        return KV_EXIT_REMOVAL_REFUSED;
    }
    return 0;
}
