#include "interpreter/Interpreter.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "interpreter/ItemList.h"
#include "interpreter/Journal.h"
#include "interpreter/MainSection.h"
#include "symbols/Builtins.h"
#include "util/FileUtil.h"
#include "util/WinHandles.h"

namespace {

// The whole file as 8-bit text, unchanged; empty when it can't be read.
std::string ReadWholeTextFile(const std::string& path)
{
    CHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return std::string();
    std::string text;
    char buffer[8192];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr))
            return std::string();
        if (got == 0)
            break;
        text.append(buffer, got);
    }
    return text;
}

std::string ModuleFolder()
{
    char path[2048 + 1] = {0};
    DWORD n = ::GetModuleFileNameA(nullptr, path, 2048);
    if (n == 0 || n > 2048)
        return ".\\";
    std::string full(path, n);
    size_t slash = full.find_last_of('\\');
    if (slash == std::string::npos)
        return ".\\";
    return full.substr(0, slash + 1);
}

std::string TimeStampText()
{
    return GetDateString() + ":" + GetTimeString();
}

}  // namespace

void CHFS_InterpreterLog::LogText(const std::string& line) { m_pInterpreter->Log("%s", line.c_str()); }

CHFS_Interpreter::CHFS_Interpreter(CHFS_UICallback* pCallback, const std::string& scriptName,
                                   const CHFS_RunSettings& settings, const CHFS_ProgramTexts* pTexts)
    : m_pCallback(pCallback), m_bErrorShown(0), m_nExitCode(-2000), m_settings(settings), m_pTexts(pTexts),
      m_logSink(this), m_bRemovalAsked(settings.m_bUninstall != 0)
{
    m_strModuleDir = ModuleFolder();
    if (!m_settings.m_strPackageDir.empty()) {
        m_strModuleDir = m_settings.m_strPackageDir;
        if (m_strModuleDir.back() != '\\' && m_strModuleDir.back() != '/')
            m_strModuleDir += '\\';
    }

    const std::string commandLineRecord = m_settings.m_strRecordFile;
    if (!commandLineRecord.empty()) {
        // A record file is a complete copy of the script that installed it.
        m_strScriptFile = commandLineRecord;
    } else {
        Log("*** Begin of debug log ***");
        Log("Current Module Path = %s", m_strModuleDir.c_str());
        m_strScriptFile = m_strModuleDir + scriptName;
        if (!FileExists(m_strScriptFile))
            m_strScriptFile = m_strModuleDir + "HotFix.ini";
    }

    if (DisableWow64Redirection() == 1)
        Log("Disable WOW64 Redirection!");

    // A package that came with a manifest must be what was sealed before
    // anything is read from its script or done for it; a removal from an
    // install record runs the record, not the package.
    if (commandLineRecord.empty() && !m_settings.m_bCheckOnly) {
        m_nSealResult = CheckPackageSeal(GetFileNamePart(m_strScriptFile));
        if (m_nSealResult != 0)
            return;
    }

    InitBuiltinSymbols();
    InitVariables("ProductInstall.Symbols");

    if (m_settings.m_bUninstall) {
        m_strMainSection = "ProductRemove.Main";
        m_strRecordFile = commandLineRecord;
        if (!m_strRecordFile.empty()) {
            LoadSymbols(m_strRecordFile);
            InitVariables("ProductRemove.Symbols");
        }
    } else {
        m_strMainSection = "ProductInstall.Main";
        std::string record = ReadItem("InstallRecordFile", m_strMainSection, false);
        if (record != KORVEX_MISSING) {
            // One full path for every write and for the uninstall entry: a
            // relative one would be taken against whatever folder is current
            // by the profile functions (the Windows folder) and by the copy.
            record = AbsolutePath(m_strModuleDir, record);
            std::string folder = GetFolderPart(record);
            if (!folder.empty() && !m_settings.m_bCheckOnly)
                CreateDirectoryTree(folder, false);
            m_strRecordFile = record;
        }
    }

    std::string description = ReadItem("MainDescription", m_strMainSection, true);
    std::string licenseTitle = ReadItem("LicenseTitle", m_strMainSection, true);
    std::string readmeFile = ReadItem("ReadmeFile", m_strMainSection, true);
    if (m_pCallback) {
        m_pCallback->SetDescription(description);
        m_pCallback->SetLicenseTitle(licenseTitle);
        m_pCallback->SetReadme(ReadWholeTextFile(readmeFile));
        m_pCallback->SetLicense(ReadWholeTextFile("License.txt"));
    }
}

CHFS_Interpreter::~CHFS_Interpreter() {}

int CHFS_Interpreter::InitPatchInfo(const std::string& section)
{
    // An altered package ends here, before the patch database or anything
    // else is written: with /G its code is the process's exit code.
    if (m_nSealResult != 0) {
        if (m_pCallback)
            m_pCallback->ShowMessageW(UIText(IDS_INSTALL_FAILED), MB_OK | MB_ICONHAND);
        m_nExitCode = m_nSealResult;
        FinishRun(-1);
        return -1;
    }
    int size = LoadSymbolSection(section, 2, "CHFS_Interpreter::InitPatchInfo()");
    if (size < 0)
        return -1;
    if (size == 0) {
        m_strVersion = "1.0";
        return 0;
    }

    std::string version = GetPatchInfo("KorvexVersion");
    if (version.empty() || version != "2.0") {
        Log("KorvexVersion info error in PatchInformation section");
        return -1;
    }
    m_strVersion = version;

    static const char* const kRequired[] = {"PatchID",  "ProductName",      "Language",     "ProductVersion",
                                            "BuildNumber", "Platform", "PatchDescription", "TimeOutSecond"};
    for (const char* key : kRequired) {
        if (GetPatchInfo(key).empty()) {
            Log("PatchInformation section error");
            return -1;
        }
    }
    if (m_settings.m_bCheckOnly)
        return 0;

    // Only the last write decides: a database that can't be written at all
    // fails there too, while one slip before it is merely logged.
    const std::string patchId = GetPatchInfo("PatchID");
    UpdatePatchDB(patchId, "TimeOutSecond", GetPatchInfo("TimeOutSecond"));
    UpdatePatchDB(patchId, "ResultCode", "1");
    UpdatePatchDB(patchId, "Progress", "0");
    return UpdatePatchDB(patchId, "TimeStamp", TimeStampText());
}

// A file of the folder's name is no folder: writes below it would fail later
// with a less telling message.
static bool IsFolder(const std::string& path)
{
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int CHFS_Interpreter::MakeDir(const std::string& folder)
{
    if (IsFolder(folder))
        return 0;
    Log("[Create dir : %s]", folder.c_str());
    if (!CreateDirectoryTree(folder, false) || !IsFolder(folder)) {
        Log("[Create dir fail: %s]", folder.c_str());
        return -1;
    }
    return 0;
}

// The failure half of a run (after the procedure or its install record
// failed): database, box, rollback, texts.
int CHFS_Interpreter::FailRun(CHFS_MainSection& main, CHFS_ItemList& list, int result)
{
    if (m_strVersion == "2.0")
        UpdatePatchDB(GetPatchInfo("PatchID"), "ResultCode", "1");
    if (m_pCallback && result != KVHF_USERBREAK && result != KVHF_UNINSTALL && m_bErrorShown != 1)
        m_pCallback->ShowMessageW(UIText(IDS_INSTALL_FAILED), MB_OK | MB_ICONHAND);

    int undone = main.Rollback(m_strMainSection, list);
    if (undone != 0) {
        // The machine is neither as it was nor as the patch would have left
        // it: that, not the step that failed first, is what the caller must
        // learn from the exit code.
        Log("*** Runtime error: CHFS_Interpreter::Execute(): the rollback could not undo every change, ret=%d",
            undone);
        m_nExitCode = KV_EXIT_RESTORE_FAILED;
    }

    if (m_pCallback) {
        CHFS_UIText text;
        if (m_settings.m_bUninstall) {
            text = UIText(IDS_REMOVE_FAILED);
            m_pCallback->SetTaskTextW(text, 0);
        } else {
            text = UIText(result == KVHF_USERBREAK ? IDS_USER_BREAK : IDS_INSTALL_FAILED);
        }
        m_pCallback->AppendDetailW(text, 0);
        m_pCallback->SetProgress(0, 0);
    }
    return undone;
}

int CHFS_Interpreter::Execute()
{
    if (m_settings.m_bCheckOnly) {
        Log("*** Runtime error: CHFS_Interpreter::Execute(): the script is only being checked, no step runs");
        return -1;
    }
    std::unique_ptr<CHFS_MainSection> main(new CHFS_MainSection(this));
    std::unique_ptr<CHFS_ItemList> list(new CHFS_ItemList);
    m_nExitCode = -2000;
    const bool v2 = m_strVersion == "2.0";
    bool succeeded = false;
    int result = -1;

    // Redirection is a setting of the thread: the one that runs the
    // procedure (a worker in a dialog-driven run) turns it off before it
    // touches the first file, the undo of an interrupted install included
    // (the loop below says so in the log, as it always has).
    DisableWow64Redirection();

    // Nothing of the machine changes before these say the run may go on.
    const bool journaled = !m_settings.m_bUninstall && !m_strRecordFile.empty();
    int refused = 0;
    if (journaled) {
        int prepared = PrepareInstall(*main);
        if (prepared == 1) {
            KeepAlreadyInstalled();
            list.reset();
            main.reset();
            return FinishRun(0);
        }
        refused = prepared;
    } else if (m_settings.m_bUninstall && !m_strRecordFile.empty()) {
        refused = CheckRemoval(*main);
    }
    CHFS_InstallJournal journal(this, m_strRecordFile);
    if (refused == 0 && journaled) {
        if (journal.Start())
            list->SetJournal(&journal);
        else
            refused = KV_EXIT_RECORD_NOT_WRITTEN;
    }
    if (refused != 0) {
        if (v2)
            UpdatePatchDB(GetPatchInfo("PatchID"), "ResultCode", "1");
        m_nExitCode = refused;
        list.reset();
        main.reset();
        return FinishRun(-1);
    }
    bool keepJournal = false;

    for (;;) {
        if (DisableWow64Redirection() == 1)
            WriteLog("Disable WOW64 Redirection!");

        result = main->Run(m_strMainSection, *list);
        m_nExitCode = main->GetExitCode();
        if (result >= 0) {
            succeeded = true;
            break;
        }

        keepJournal = FailRun(*main, *list, result) != 0;
        list->SetJournal(nullptr);

        if (!m_settings.m_bUninstall && result == KVHF_UNINSTALL) {
            m_settings.m_bUninstall = 1;
            m_strMainSection = "ProductRemove.Main";
            if (m_strRecordFile.empty())
                break;
            LoadSymbols(m_strRecordFile);
            InitVariables("ProductRemove.Symbols");
            continue;
        }
        break;
    }

    // The record comes before the uninstall entry: an entry must never point
    // at a record that cannot undo the installation. A record that could not
    // be written completely fails the run, which is then rolled back. It
    // says what the install left, as it is now that every step ran.
    if (succeeded && !m_settings.m_bUninstall && !m_strRecordFile.empty() &&
        (main->SealItems("ProductInstall.Main", *list) != 0 || WriteInstallRecord(*list) != 0)) {
        succeeded = false;
        result = -1;
        m_nExitCode = KV_EXIT_RECORD_NOT_WRITTEN;
        keepJournal = FailRun(*main, *list, result) != 0;
    }

    // The run ended as it should: what the journal held is now either in the
    // record or undone. A rollback that failed leaves it for the next run.
    list->SetJournal(nullptr);
    if (journaled && !keepJournal)
        journal.Discard();

    if (succeeded) {
        const bool removal = m_settings.m_bUninstall != 0;
        UpdateUninstallReg(removal ? 1 : 0);
        if (m_settings.m_bRemoteProgress)
            UpdateProgressForRemote("100");
        if (v2) {
            const std::string patchId = GetPatchInfo("PatchID");
            UpdatePatchDB(patchId, "Progress", "100");
            UpdatePatchDB(patchId, "ResultCode", "0");
            static const char* const kIdentity[] = {"ProductName",      "Language",       "ProductVersion", "Platform",
                                                    "BuildNumber", "PatchDescription", "UninstallString"};
            for (const char* key : kIdentity)
                UpdatePatchDB(patchId, key, removal ? std::string() : GetPatchInfo(key));
            UpdatePatchDB(patchId, "ErrorMSG", "success");
        }

        if (removal) {
            WriteLog("Delete Install record file!");
            if (!m_settings.m_bKeepRecord && !m_strRecordFile.empty()) {
                ::SetFileAttributesA(m_strRecordFile.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileA(m_strRecordFile.c_str());
            }
        }

        if (m_pCallback) {
            m_pCallback->SetProgress(100, 100);
            CHFS_UIText text = UIText(removal ? IDS_REMOVE_SUCCESS : IDS_INSTALL_SUCCESS);
            m_pCallback->SetTaskTextW(text, 0);
            m_pCallback->AppendDetailW(text, 0);
        }
        m_nExitCode = 0;
        Log("Return code in silent mode,installation success,code=%d\n", m_nExitCode);
    }

    // The process may end below without unwinding this frame.
    list.reset();
    main.reset();
    return FinishRun(result);
}

int CHFS_Interpreter::FinishRun(int result)
{
    if (m_pRunEnd)
        m_pRunEnd->RunEnded(Outcome(result));
    if (m_settings.m_bPrintErrorCode && m_nExitCode != 0) {
        AttachParentConsole();
        Log("Return error code in silent mode if the installation failed,code=%d\n", m_nExitCode);
        printf("%d\n", m_nExitCode);
        fflush(stdout);
    }
    if (m_settings.m_bExitCode && !m_settings.m_bPrintErrorCode) {
        Log("Return exit code of Korvex in silent mode,code=%d\n", m_nExitCode);
        exit(m_nExitCode);
    }
    return result;
}
