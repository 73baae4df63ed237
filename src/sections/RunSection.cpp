#include "sections/RunSection.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <direct.h>

#include "interpreter/Interpreter.h"
#include "util/FileUtil.h"
#include "util/StrFormat.h"
#include "util/SystemLib.h"
#include "util/WinHandles.h"

namespace {

const int kRunOk = -100;
const int kRunFailed = -300;
const DWORD kFailedExitCode = static_cast<DWORD>(-500);
const int kMaxSleepSeconds = 32767;
const DWORD kCurrentDirChars = 2048;
const size_t kCommandBufferSize = 30000;
// What the oldest supported system takes for a whole command line.
const size_t kCommandBufferSizeV50 = 268;
const char kHiddenDesktop[] = "MyDesk";

// File and console commands that the command interpreter may run for a script.
const char* const kAllowed[] = {
    "ATTRIB", "CD",   "CLS",  "COPY", "DATE",   "DEL",    "DELTREE", "DIR",  "DISKCOMP", "DISKCOPY", "ECHO",
    "ERASE",  "FC",   "FIND", "FINDSTR", "LOGTIME", "MD", "MKDIR",   "MOVE", "NOW",      "PATH",     "REN",
    "RENAME", "RD",   "RMDIR", "SLEEP", "START",  "TIME",   "TYPE",    "VER",  "IF",       "XCOPY"};

// Commands that change the machine beyond the package's reach or wait for a
// person: never run for a script.
const char* const kRejected[] = {
    "ADDUSERS", "ARP",        "ASSOC",     "ASSOCIAT",  "AT",        "BOOTCFG",  "BROWSTAT", "CACLS",
    "CALL",     "CHANGE",     "CHKDSK",    "CHKNTFS",   "CHOICE",    "CIPHER",   "CLEANMGR", "CLEARMEM",
    "CLIPCLUSTER", "CMD",     "COLOR",     "COMP",      "COMPACTCOMPRESS", "CON2PRT", "CONVERT", "CSCCMD",
    "CSVDEDCOMCNFG", "DEFRAG", "DELPROF",  "DEVCON",    "DIRUSE",    "DISKPART", "DNSSTAT",  "DOSKEY",
    "DSADD",    "DSQUERY",    "DSMOD",     "ENDLOCAL",  "EXIT",      "EXPAND",   "EXTRACT",  "FOR",
    "FORFILES", "FORMAT",     "FREEDISK",  "FSUTIL",    "FTP",       "FTYPE",    "GLOBAL",   "GOTO",
    "HELP",     "ICACLS",     "IFMEMBER",  "IPCONFIG",  "KILL",      "LABEL",    "LOCAL",    "LOGEVENT",
    "LOGOFF",   "MAPISEND",   "MBSACLI",   "MEM",       "MKLINK",    "MODE",     "MORE",     "MOUNTVOL",
    "MOVEUSER", "MSG",        "MSIEXEC",   "MSINFO",    "MSTSC",     "MUNGE",    "MV",       "NET",
    "NETDOM",   "NETSH",      "NETSVC",    "NBTSTAT",   "NETSTAT",   "NSLOOKUP", "NTBACKUP", "NTRIGHTS",
    "PATHPING", "PAUSE",      "PERMS",     "PERFMON",   "PING",      "POPD",     "PORTQRY",  "PRINT",
    "PRNCNFG",  "PRNMNGR",    "PROMPT",    "PSEXEC",    "PSFILE",    "PSGETSID", "PSINFO",   "PSKILL",
    "PSLIST",   "PSLOGGEDON", "PSLOGLIST", "PSPASSWD",  "PSSERVICE", "PSSHUTDOWN", "PSSUSPEND", "PUSHD",
    "QGREP",    "RASDIAL",    "RASPHONE",  "RECOVER",   "REG",       "REGEDIT",  "REGSVR32", "REGINI",
    "REM",      "REPLACE",    "RMTSHARE",  "ROBOCOPY",  "ROUTE",     "RUNAS",    "RUNDLL32", "SC",
    "SCHTASKS", "SCLIST",     "SET",       "SETLOCAL",  "SETX",      "SHARE",    "SHIFT",    "SHORTCUT",
    "SHOWGRPS", "SHOWMBRS",   "SHUTDOWN",  "SOON",      "SORT",      "SU",       "SUBINACL", "SUBST",
    "SYSTEMINFO", "TASKLIST", "TASKKILL",  "TIMEOUT",   "TITLE",     "TLIST",    "TOUCH",    "TRACERT",
    "TREE",     "USRSTAT",    "VERIFY",    "VOL",       "WHERE",     "WHOAMI",   "WINDIFF",  "WINMSD",
    "WINMSDP",  "WMIC",       "XCACLS"};

template <size_t N>
bool InList(const char* const (&list)[N], const std::string& word)
{
    for (const char* name : list)
        if (word == name)
            return true;
    return false;
}

std::string FirstWord(const std::string& command)
{
    return command.substr(0, command.find(' '));
}

// ASCII letters only: the bytes of a double-byte character stay as they are.
std::string UpperCase(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

bool IsBatchFile(const std::string& firstWord)
{
    return firstWord.size() > 4 && firstWord.compare(firstWord.size() - 4, 4, ".bat") == 0;
}

size_t CommandBufferSize()
{
    OSVERSIONINFOEXA info;
    if (QueryVersion(info) && info.dwMajorVersion == 5 && info.dwMinorVersion == 0)
        return kCommandBufferSizeV50;
    return kCommandBufferSize;
}

std::string ItemKey(int n, const char* suffix)
{
    return KvFormat("Run%d.%s", n, suffix);
}

class CDesktop {
public:
    CDesktop() : m_h(nullptr) {}
    ~CDesktop()
    {
        if (m_h)
            ::CloseDesktop(m_h);
    }
    CDesktop(const CDesktop&) = delete;
    CDesktop& operator=(const CDesktop&) = delete;
    bool Create()
    {
        m_h = ::CreateDesktopA(kHiddenDesktop, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
        return m_h != nullptr;
    }

private:
    HDESK m_h;
};

// The process's current directory, put back when the holder ends.
class CCurrentDirectory {
public:
    CCurrentDirectory()
    {
        char buffer[kCurrentDirChars + 1] = {0};
        DWORD n = ::GetCurrentDirectoryA(kCurrentDirChars, buffer);
        if (n > 0 && n < kCurrentDirChars)
            m_saved.assign(buffer, n);
    }
    ~CCurrentDirectory()
    {
        if (!m_saved.empty())
            ::SetCurrentDirectoryA(m_saved.c_str());
    }
    CCurrentDirectory(const CCurrentDirectory&) = delete;
    CCurrentDirectory& operator=(const CCurrentDirectory&) = delete;

private:
    std::string m_saved;
};

}  // namespace

int CHFS_RunSection::GetExitCode() { return m_nExitCode; }

std::string CHFS_RunSection::ItemFolder(int n)
{
    std::string folder = ReadKey(ItemKey(n, "Path"), true);
    if (folder == KORVEX_MISSING)
        return m_pInterpreter->GetModuleDir();
    // A relative folder belongs to the package like a missing one; against
    // the current directory it would depend on the item that ran before.
    const bool relative = !folder.empty() && folder[0] != '\\' && folder[0] != '/' &&
                          !(folder.size() >= 2 && folder[1] == ':');
    return relative ? AbsolutePath(m_pInterpreter->GetModuleDir(), folder) : folder;
}

int CHFS_RunSection::RunSleepCommand(const std::string& command)
{
    static const char kSleep[] = "<SLEEP>";
    const size_t len = sizeof(kSleep) - 1;
    if (command.compare(0, len, kSleep) != 0 || command.size() == len)
        return kRunOk;
    int seconds = KvParseInt(command.substr(len));
    m_pInterpreter->Log("Found internal command <SLEEP> %d", seconds);
    if (seconds < 0)
        seconds = 0;
    if (seconds > kMaxSleepSeconds)
        seconds = kMaxSleepSeconds;
    m_pInterpreter->Log("Doing command '<SLEEP> %d' ...", seconds);
    ::Sleep(static_cast<DWORD>(seconds) * 1000u);
    m_pInterpreter->Log("Done!! ret=Success");
    return kRunOk;
}

int CHFS_RunSection::CreateBlockProcess(const std::string& command, const std::string& folder, bool hidden)
{
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    char desktopName[sizeof kHiddenDesktop];
    std::memcpy(desktopName, kHiddenDesktop, sizeof kHiddenDesktop);
    CDesktop desktop;
    if (hidden) {
        // Without the desktop the program would either show itself or fail
        // to start with an exit code that passes for success.
        if (!desktop.Create()) {
            m_pInterpreter->Log("CreateDesktop('%s') Failed, error : %d", kHiddenDesktop,
                                static_cast<int>(::GetLastError()));
            return kRunFailed;
        }
        si.lpDesktop = desktopName;
    }

    // The process takes its command line from a writable buffer of a fixed
    // size: a longer line is refused, never cut or run past the buffer's end.
    const size_t size = CommandBufferSize();
    if (command.size() >= size) {
        m_pInterpreter->Log("CreateProcess Failed, command line of %u characters exceeds the limit of %u",
                            static_cast<unsigned>(command.size()), static_cast<unsigned>(size - 1));
        return kRunFailed;
    }
    std::vector<char> buffer(size, '\0');
    std::memcpy(buffer.data(), command.data(), command.size());
    m_pInterpreter->Log("CreateProcess(%s)", command.c_str());

    PROCESS_INFORMATION pi;
    ZeroMemory(&pi, sizeof pi);
    if (!::CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &si, &pi)) {
        m_pInterpreter->Log("CreateProcess Failed, error : %d", static_cast<int>(::GetLastError()));
        return kRunFailed;
    }
    CHandle process(pi.hProcess);
    CHandle thread(pi.hThread);

    // Waiting on the handle, not for the code to change from STILL_ACTIVE: a
    // program may end with that very code (259).
    DWORD code = 0;
    if (::WaitForSingleObject(process.Get(), INFINITE) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(process.Get(), &code)) {
        m_pInterpreter->Log("GetExitCodeProcess Failed, error : %d", static_cast<int>(::GetLastError()));
        return kRunFailed;
    }
    m_pInterpreter->Log("Doing command '<CREATEBLOCKPROCESS>' exitCode=%d", static_cast<int>(code));
    const std::string value = std::to_string(static_cast<int>(code));
    m_pInterpreter->SetGlobalSymbol("RETCODE", value);
    m_pInterpreter->Log("Set Global Symbol '%s' = %s", "RETCODE", value.c_str());

    if (code == kFailedExitCode) {
        m_pInterpreter->AppendDetail(
            KvFormat("Error: -> Run command: %s (error code:%s )!\r\n", command.c_str(), value.c_str()), 0);
        return kRunFailed;
    }
    return kRunOk;
}

int CHFS_RunSection::ExecuteCommand(const std::string& type, const std::string& folder, const std::string& command)
{
    if (!command.empty() && command[0] == '<') {
        m_pInterpreter->Log("Run Korvex internal command <SLEEP>");
        int r = RunSleepCommand(command);
        m_pInterpreter->Log("return code = %d", r);
        return r;
    }

    // A path that expanded to nothing names no folder: the command would run
    // wherever the process happens to be, and the program check would look
    // at the root of the current drive.
    if (folder.empty()) {
        m_pInterpreter->Log("*** Runtime error: no working folder for '%s'", command.c_str());
        return kRunFailed;
    }

    const std::string word = UpperCase(FirstWord(command));
    if (InList(kAllowed, word)) {
        m_pInterpreter->Log("cmd.exe command '%s' is found, allow", word.c_str());
        // DEL, MOVE and friends act on the current folder: never run them
        // anywhere but in the item's own.
        if (_chdir(folder.c_str()) != 0) {
            m_pInterpreter->Log("*** Runtime error: can't change to folder '%s', errno=%d", folder.c_str(), errno);
            return kRunFailed;
        }
        if (type == "KVHF_RunAtHideDialog") {
            int r = CreateBlockProcess("cmd.exe /C " + command, folder, true);
            m_pInterpreter->Log("cmd.exe internal command(run hide) return code = %d", r);
            return r;
        }
        int code = system(command.c_str());
        if (code != 0) {
            m_pInterpreter->Log("cmd.exe internal command fail, return code = %d", code);
            return kRunFailed;
        }
        m_pInterpreter->Log("cmd.exe internal command success, return code = %d", 0);
        return 0;
    }
    if (InList(kRejected, word)) {
        m_pInterpreter->Log("cmd.exe command '%s' is found, reject", word.c_str());
        return kRunFailed;
    }

    // A command that starts with a blank names no program; the folder
    // itself would pass the existence test.
    const std::string program = folder.back() == '\\' ? folder + word : folder + "\\" + word;
    if (word.empty() || !FileExists(program)) {
        m_pInterpreter->Log("external command '%s' not found", program.c_str());
        return kRunFailed;
    }
    if (_chdir(folder.c_str()) != 0) {
        m_pInterpreter->Log("*** Runtime error: can't change to folder '%s', errno=%d", folder.c_str(), errno);
        return kRunFailed;
    }
    m_pInterpreter->Log("Run '%s' in folder '%s'", command.c_str(), folder.c_str());

    int r;
    if (type == "KVHF_RunAtBackground" || type == "KVHF_RunAtBackgroundAndWaitForReturn") {
        r = CreateBlockProcess(command, folder, false);
    } else if (type == "KVHF_RunAtHideDialog") {
        r = CreateBlockProcess(command, folder, true);
    } else {
        int code = system(command.c_str());
        // A batch file's exit code is whatever its last command left; only
        // -500 is its way of saying that it failed.
        const bool batch = IsBatchFile(FirstWord(command));
        const bool failed = batch ? code == -500 : code != 0;
        if (failed) {
            m_pInterpreter->AppendDetail(
                KvFormat("Error: -> Run command: %s (error code:%d )!\r\n", command.c_str(), code), 0);
            r = kRunFailed;
        } else {
            m_pInterpreter->Log("Call system() return code = %d", code);
            r = batch ? kRunOk : 0;
        }
    }
    m_pInterpreter->Log("external command return code = %d", r);
    return r;
}

int CHFS_RunSection::Run(const std::string& sectionName, CHFS_ItemList& list)
{
    m_nExitCode = -2000;
    m_pInterpreter->Log("CHFS_RunSection::Run('%s') ", sectionName.c_str());
    int result = 0;
    SetSectionName(sectionName);

    const int count = ReadCount("RunCount", true);
    {
        CCurrentDirectory savedDirectory;
        int n = 1;
        while (n <= count) {
            m_pInterpreter->AppendDetail(ReadKey(ItemKey(n, "Description"), true) + "\r\n", 0);

            std::string command = ReadKey(ItemKey(n, "Command"), false);
            if (command == KORVEX_MISSING) {
                // Nothing to run, but something to undo should the step be
                // rolled back.
                if (ReadKey(ItemKey(n, "RollbackCommand"), false) != KORVEX_MISSING &&
                    list.AddItem(n, std::string(), std::string(), std::string()) != 0) {
                    result = KVHF_USERBREAK;
                    m_nExitCode = -2699;
                    break;
                }
                ++n;
                continue;
            }
            command = ReadKey(ItemKey(n, "Command"), true);
            const std::string folder = ItemFolder(n);
            const std::string type = ReadKey(ItemKey(n, "CommandType"), false);
            m_pInterpreter->Log("strType(%s)", type.c_str());

            int r = ExecuteCommand(type, folder, command);
            if (list.AddItem(n, std::string(), std::string(), std::string()) != 0) {
                result = KVHF_USERBREAK;
                m_nExitCode = -2699;
                break;
            }
            if (r == kRunFailed) {
                if (m_nExitCode == -2000)
                    m_nExitCode = -2600;
                m_pInterpreter->Log("Failed to run '%s' in folder '%s'", command.c_str(), folder.c_str());
                result = EventHandler(ItemKey(n, "Error."), kRunFailed);
            } else {
                m_pInterpreter->Log("Success to run '%s' in folder '%s'", command.c_str(), folder.c_str());
                result = EventHandler(ItemKey(n, "Success."), 0);
            }

            if (result == KVHF_CONTINUE) {
                result = 0;
                ++n;
            } else if (result == KVHF_RETRY) {
                result = 0;
            } else if (result == 0) {
                ++n;
            } else {
                break;
            }
        }
    }
    m_pInterpreter->Log("CHFS_RunSection::Run('%s') Ret=%d", sectionName.c_str(), result);
    return result;
}

int CHFS_RunSection::Rollback(const std::string& sectionName, CHFS_ItemList& list)
{
    m_pInterpreter->Log("CHFS_RunSection::Rollback('%s') ", sectionName.c_str());
    SetSectionName(sectionName);
    int result = 0;
    {
        CCurrentDirectory savedDirectory;
        int n = 0;
        while (list.PopItem(n) == 0) {
            m_pInterpreter->AppendDetail(ReadKey(ItemKey(n, "Description"), true) + "\r\n", 1);
            const std::string command = ReadKey(ItemKey(n, "RollbackCommand"), false);
            if (command == KORVEX_MISSING)
                continue;
            const std::string folder = ItemFolder(n);
            const std::string type = ReadKey(ItemKey(n, "RollbackCommandType"), false);
            if (ExecuteCommand(type, folder, command) == kRunFailed) {
                m_pInterpreter->Log("Failed to run '%s' in folder '%s'", command.c_str(), folder.c_str());
                result = kRunFailed;
                break;
            }
            result = 0;
            m_pInterpreter->Log("Success to run '%s' in folder '%s'", command.c_str(), folder.c_str());
        }
    }
    m_pInterpreter->Log("CHFS_RunSection::Rollback('%s') Ret=%d", sectionName.c_str(), result);
    return result;
}
