// The patch's entry in the system's list of installed software: what
// deployment systems detect the patch by and the command that removes it.
#include <algorithm>
#include <vector>

#include "interpreter/Interpreter.h"
#include "symbols/RegWrite.h"
#include "util/FileUtil.h"
#include "util/Profile.h"
#include "util/StrFormat.h"
#include "util/WinHandles.h"

namespace {

const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char kTag[] = "CHFS_Interpreter::UpdateUninstallReg(): ";

int LastError()
{
    return static_cast<int>(::GetLastError());
}

// The installer is kept beside the uninstall files or one folder above;
// empty when neither holds it.
std::string FindInstaller(const std::string& uninstallFile)
{
    std::string base = uninstallFile;
    for (int level = 0; level < 2; ++level) {
        size_t slash = base.find_last_of('\\');
        if (slash == std::string::npos)
            break;
        base.resize(slash);
        std::string candidate = base + "\\Korvex.exe";
        if (FileExists(candidate))
            return candidate;
    }
    return std::string();
}

std::string LocalDateYYYYMMDD()
{
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return KvFormat("%04u%02u%02u", static_cast<unsigned>(now.wYear), static_cast<unsigned>(now.wMonth),
                    static_cast<unsigned>(now.wDay));
}

std::string UninstallCommand(const std::string& installer, const std::string& recordFile)
{
    // Unquoted, a blank in the path would split the program's name in two
    // for whoever runs the command.
    const bool blank = installer.find_first_of(" \t") != std::string::npos;
    return (blank ? "\"" + installer + "\"" : installer) + " /U:\"" + recordFile + "\"";
}

}  // namespace

int CHFS_Interpreter::UpdateUninstallReg(int remove)
{
    const std::string patchId = GetPatchInfo("PatchID");
    if (patchId.empty())
        return 0;
    const std::string keyName = kUninstallKey + patchId;

    std::string installer;
    if (!remove) {
        installer = FindInstaller(GetPatchInfo("UninstallString"));
        if (installer.empty()) {
            // An entry, even an empty one, reads as "installed" to whoever
            // detects the patch by it, and it could not remove the patch.
            WriteLog(KvFormat("%sKorvex.exe is neither beside nor above '%s': no uninstall entry is written.", kTag,
                              GetPatchInfo("UninstallString").c_str()));
            LONG gone = ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyName.c_str());
            if (gone == ERROR_SUCCESS)
                WriteLog(KvFormat("%sthe entry of an earlier install at key='%s' is deleted.", kTag, keyName.c_str()));
            return 0;
        }
    }

    CRegKey key;
    LONG ret = KvCreateKey(HKEY_LOCAL_MACHINE, keyName, key);
    if (ret != ERROR_SUCCESS) {
        WriteLog(KvFormat("%sRegCreateKeyEx:HKLM key='%s' Failed! ret=%d,lasterror=%d", kTag, keyName.c_str(),
                          static_cast<int>(ret), LastError()));
        return ret;
    }
    WriteLog(KvFormat("%sRegCreateKeyEx:HKLM key='%s' Successful.", kTag, keyName.c_str()));

    if (remove) {
        // The key goes with every value the install wrote into it.
        ret = ::RegDeleteKeyA(key.Get(), "");
        if (ret == ERROR_SUCCESS)
            WriteLog(KvFormat("%sRegDeleteKey Successful.", kTag));
        else
            WriteLog(KvFormat("%sRegDeleteKey Failed! ret=%d,lasterror=%d", kTag, static_cast<int>(ret), LastError()));
        return ret;
    }

    // The record this run wrote, as a full path; a script without one names
    // it through the RecordFile symbol.
    const std::string record = m_strRecordFile.empty() ? GetSymbol("RecordFile") : m_strRecordFile;
    const std::string command = UninstallCommand(installer, record);
    const std::string build = GetPatchInfo("BuildNumber");
    const std::string version = GetPatchInfo("ProductVersion") + (build.empty() ? "" : "." + build);
    const std::string publisher = GetPatchInfo("Publisher");
    const unsigned long long kb = (BytesWritten() + 1023) / 1024;
    const DWORD size = kb > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<DWORD>(kb);

    LONG first = ERROR_SUCCESS;
    auto note = [&](const char* name, const std::string& shown, LONG r) {
        if (r == ERROR_SUCCESS) {
            WriteLog(KvFormat("%sRegSetValueEx Successful for name='%s', value='%s'.", kTag, name, shown.c_str()));
        } else {
            WriteLog(KvFormat("%sRegSetValueEx Failed! name='%s', value='%s', ret=%d,lasterror=%d", kTag, name,
                              shown.c_str(), static_cast<int>(r), LastError()));
            if (first == ERROR_SUCCESS)
                first = r;
        }
    };
    auto text = [&](const char* name, const std::string& value) { note(name, value, KvSetString(key.Get(), name, value)); };
    auto number = [&](const char* name, DWORD value) {
        note(name, std::to_string(static_cast<unsigned long>(value)), KvSetDword(key.Get(), name, value));
    };

    text("DisplayName", GetPatchInfo("PatchDescription"));
    text("UninstallString", command);
    // Without /G the removal ends with the conventional codes.
    text("QuietUninstallString", command + " /S");
    text("DisplayVersion", version);
    if (!publisher.empty())
        text("Publisher", publisher);
    else
        ::RegDeleteValueA(key.Get(), "Publisher");  // an earlier install's
    text("InstallDate", LocalDateYYYYMMDD());
    number("EstimatedSize", size);
    number("NoModify", 1);
    // Written last: a run of the installed package takes an entry without it
    // for one whose writing was ended, and writes it again.
    number("NoRepair", 1);
    return first;
}

void CHFS_Interpreter::RepairUninstallEntry()
{
    // This run ran no step, so no step named the uninstall file: the patch
    // database holds what the install named (once it got that far), else
    // the removal's program is kept beside the record, else the package
    // that runs now holds one.
    const std::string patchId = GetPatchInfo("PatchID");
    if (FindInstaller(GetPatchInfo("UninstallString")).empty()) {
        std::string known;
        std::string db;
        if (GetPatchDBFileName(db) == 0) {
            std::vector<char> buffer(4096);
            const DWORD n = KvGetProfileString(patchId.c_str(), "UninstallString", "", buffer.data(),
                                               static_cast<DWORD>(buffer.size()), db);
            known.assign(buffer.data(), std::min<size_t>(n, buffer.size()));
        }
        if (FindInstaller(known).empty())
            known = m_strRecordFile;
        if (FindInstaller(known).empty())
            known = JoinPath(m_strModuleDir, "uninstall");
        SetPatchInfo("UninstallString", known);
    }
    if (FindInstaller(GetPatchInfo("UninstallString")).empty()) {
        // Deleting it would tell whoever detects the patch by it that an
        // installed patch is absent.
        WriteLog(KvFormat("%sKorvex.exe is not found for the entry of the installed patch; it is kept as it is.",
                          kTag));
        return;
    }
    UpdateUninstallReg(0);
}
