#include "sections/RunSection.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <direct.h>

#include "interpreter/Interpreter.h"
#include "sections/CommandProcess.h"
#include "util/CommandEnvironment.h"
#include "util/FileUtil.h"
#include "util/Profile.h"
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
const char kHideType[] = "KVHF_RunAtHideDialog";

std::string FirstWord(const std::string& command)
{
    return command.substr(0, command.find(' '));
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

std::string CHFS_RunSection::ScriptText(const std::string& key)
{
    char buffer[4096] = {0};
    KvGetProfileString(m_strSectionName.c_str(), key.c_str(), KORVEX_MISSING, buffer, sizeof buffer,
                       m_pInterpreter->GetScriptFile());
    buffer[sizeof buffer - 1] = '\0';
    return buffer;
}

bool CHFS_RunSection::ItemTimeout(int n, int& seconds)
{
    seconds = 0;
    const std::string text = ReadKey(ItemKey(n, "Timeout"), false);
    if (text == KORVEX_MISSING)
        return true;
    // Strictly decimal: a limit misread as 0 or as something else would
    // either end every command at once or never end a hanging one.
    if (KvParseTimeoutSeconds(text, seconds))
        return true;
    m_pInterpreter->Log("*** Syntax error: %s='%s' in section ['%s'] is no number of seconds from 1 to %d; the "
                        "command does not run! ",
                        ItemKey(n, "Timeout").c_str(), text.c_str(), m_strSectionName.c_str(), kKvMaxTimeoutSeconds);
    return false;
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

bool CHFS_RunSection::StartAndWait(const CHFS_ProcessStart& start, DWORD& code)
{
    DWORD error = 0;
    switch (KvStartAndWait(start, code, error)) {
    case KVPROC_ENDED:
        return true;
    case KVPROC_TOO_LONG:
        m_pInterpreter->Log("CreateProcess Failed, command line of %u characters exceeds the limit of %u",
                            static_cast<unsigned>(start.strCommandLine.size()),
                            static_cast<unsigned>(start.nBufferSize - 1));
        return false;
    case KVPROC_NO_DESKTOP:
        m_pInterpreter->Log("CreateDesktop('%s') Failed, error : %d", "MyDesk", static_cast<int>(error));
        return false;
    case KVPROC_NOT_STARTED:
        m_pInterpreter->Log("CreateProcess Failed, error : %d", static_cast<int>(error));
        return false;
    case KVPROC_TIMED_OUT:
        if (error == 0)
            m_pInterpreter->Log("*** Runtime error: '%s' did not end within %d second(s); it was ended",
                                start.strCommandLine.c_str(), start.nTimeoutSeconds);
        else
            m_pInterpreter->Log("*** Runtime error: '%s' did not end within %d second(s) and could not be ended, "
                                "lasterror=%d",
                                start.strCommandLine.c_str(), start.nTimeoutSeconds, static_cast<int>(error));
        return false;
    default:
        m_pInterpreter->Log("GetExitCodeProcess Failed, error : %d", static_cast<int>(error));
        return false;
    }
}

int CHFS_RunSection::CreateBlockProcess(const std::string& command, const std::string& folder, bool hidden,
                                        int timeoutSeconds, const std::string& program)
{
    CHFS_ProcessStart start;
    start.strApplication = program;
    start.strCommandLine = command;
    start.strFolder = folder;
    start.bHiddenDesktop = hidden;
    start.nBufferSize = CommandBufferSize();
    start.nTimeoutSeconds = timeoutSeconds;
    if (command.size() < start.nBufferSize)
        m_pInterpreter->Log("CreateProcess(%s)", command.c_str());
    DWORD code = 0;
    if (!StartAndWait(start, code))
        return kRunFailed;
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

bool CHFS_RunSection::RunInterpreter(const std::string& command, const std::string& folder, int timeoutSeconds,
                                     int& code)
{
    if (timeoutSeconds <= 0) {
        code = system(command.c_str());
        return true;
    }
    // What system() does, with a time limit: the system folder's command
    // interpreter, whose window nobody needs to see.
    CHFS_ProcessStart start;
    start.strApplication = GetSystemFolderPath("cmd.exe");
    start.strCommandLine = "cmd.exe /c " + command;
    start.strFolder = folder;
    start.dwCreationFlags = CREATE_NEW_PROCESS_GROUP | CREATE_NO_WINDOW;
    start.nBufferSize = CommandBufferSize();
    start.nTimeoutSeconds = timeoutSeconds;
    DWORD exitCode = 0;
    if (!StartAndWait(start, exitCode))
        return false;
    code = static_cast<int>(exitCode);
    return true;
}

bool CHFS_RunSection::PassesPolicy(const std::string& command, const std::string* scriptText,
                                   const std::string& folder, bool interpreter, std::string& program)
{
    const CKvCommandEnv env = KvCommandEnvironment(folder);
    const CKvCommandVerdict verdict = KvCheckCommandLine(scriptText ? *scriptText : command, command, interpreter, env);
    if (!verdict.Allowed()) {
        m_pInterpreter->Log("*** Runtime error: command '%s' refused: %s", command.c_str(),
                            KvCommandProblemText(verdict).c_str());
        return false;
    }
    program = verdict.program;
    return true;
}

int CHFS_RunSection::ExecuteCommand(const std::string& type, const std::string& folder, const std::string& command,
                                    const std::string* scriptText, int timeoutSeconds)
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

    std::string program;
    const std::string word = KvCommandFirstWord(command);
    if (KvCommandAllowed(word)) {
        m_pInterpreter->Log("cmd.exe command '%s' is found, allow", word.c_str());
        if (!PassesPolicy(command, scriptText, folder, true, program))
            return kRunFailed;
        // DEL, MOVE and friends act on the current folder: never run them
        // anywhere but in the item's own.
        if (_chdir(folder.c_str()) != 0) {
            m_pInterpreter->Log("*** Runtime error: can't change to folder '%s', errno=%d", folder.c_str(), errno);
            return kRunFailed;
        }
        if (type == kHideType) {
            int r = CreateBlockProcess("cmd.exe /C " + command, folder, true, timeoutSeconds,
                                       GetSystemFolderPath("cmd.exe"));
            m_pInterpreter->Log("cmd.exe internal command(run hide) return code = %d", r);
            return r;
        }
        int code = 0;
        if (!RunInterpreter(command, folder, timeoutSeconds, code))
            return kRunFailed;
        if (code != 0) {
            m_pInterpreter->Log("cmd.exe internal command fail, return code = %d", code);
            return kRunFailed;
        }
        m_pInterpreter->Log("cmd.exe internal command success, return code = %d", 0);
        return 0;
    }
    if (KvCommandRejected(word)) {
        m_pInterpreter->Log("cmd.exe command '%s' is found, reject", word.c_str());
        return kRunFailed;
    }

    // A command that starts with a blank names no program; the folder
    // itself would pass the existence test.
    const std::string checked = folder.back() == '\\' ? folder + word : folder + "\\" + word;
    if (word.empty() || !FileExists(checked)) {
        m_pInterpreter->Log("external command '%s' not found", checked.c_str());
        return kRunFailed;
    }
    const bool ownProcess = type == "KVHF_RunAtBackground" || type == "KVHF_RunAtBackgroundAndWaitForReturn" ||
                            type == kHideType;
    if (!PassesPolicy(command, scriptText, folder, !ownProcess, program))
        return kRunFailed;
    if (_chdir(folder.c_str()) != 0) {
        m_pInterpreter->Log("*** Runtime error: can't change to folder '%s', errno=%d", folder.c_str(), errno);
        return kRunFailed;
    }
    m_pInterpreter->Log("Run '%s' in folder '%s'", command.c_str(), folder.c_str());

    int r;
    if (ownProcess) {
        r = CreateBlockProcess(command, folder, type == kHideType, timeoutSeconds, program);
    } else {
        int code = 0;
        // A batch file's exit code is whatever its last command left; only
        // -500 is its way of saying that it failed.
        const bool batch = IsBatchFile(FirstWord(command));
        if (!RunInterpreter(command, folder, timeoutSeconds, code)) {
            r = kRunFailed;
        } else if (batch ? code == -500 : code != 0) {
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

int CHFS_RunSection::RunItem(int n, bool rollback, const std::string& command, std::string& folder)
{
    const char* commandKey = rollback ? "RollbackCommand" : "Command";
    folder = ItemFolder(n);
    const std::string type = ReadKey(ItemKey(n, rollback ? "RollbackCommandType" : "CommandType"), false);
    if (!rollback)
        m_pInterpreter->Log("strType(%s)", type.c_str());
    int timeout = 0;
    if (!ItemTimeout(n, timeout))
        return kRunFailed;
    const std::string text = ScriptText(ItemKey(n, commandKey));
    return ExecuteCommand(type, folder, command, &text, timeout);
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
            std::string folder;
            // Its undo is known before it runs: a run ended while the command
            // is at work runs the rollback command for what it did so far,
            // as a finished or failed command has it run.
            list.NoteInJournal(n, std::string(), std::string(), std::string());
            int r = RunItem(n, false, command, folder);
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
            std::string folder;
            if (RunItem(n, true, command, folder) == kRunFailed) {
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
