// The application object and its start-up routine.
#include "app/KorvexApp.h"

#include <commctrl.h>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "app/Dialogs.h"
#include "app/RunResult.h"
#include "app/UICallback.h"
#include "interpreter/Interpreter.h"
#include "util/FileReplace.h"
#include "util/FileUtil.h"
#include "util/PathText.h"
#include "util/SystemLib.h"
#include "util/StrFormat.h"

static CKorvexApp theApp;
CKorvexApp* GetKorvexApp() { return &theApp; }

namespace {

const char kMutexName[] = "KorvexPreventSecondInstance";
const char kGlobalMutexName[] = "Global\\KorvexPreventSecondInstance";
const char kScriptName[] = "setup.ini";
const char kPrimaryLogPath[] = "c:\\Korvex.log";
const char kFallbackLogName[] = "Korvex.log";
const char kLicenseFile[] = "license.txt";

}  // namespace

CKorvexApp::CKorvexApp()
    : m_bZenta(0), m_bSilent(0), m_bTrace(0), m_bUninstall(0), m_bKeepRecord(0), m_bPrintErrorCode(0),
      m_bExitCode(0), m_bNoLog(0), m_bRemoteProgress(0), m_bAllowSecondInstance(0), m_pCallback(nullptr),
      m_pInterpreter(nullptr), m_pWelcomeDlg(nullptr), m_pRunDlg(nullptr), m_pInputDlg(nullptr),
      m_pAgreementDlg(nullptr), m_hMainWnd(nullptr), m_hZentaEvent(nullptr),
      m_nStopCode(KV_CONVENTIONAL_FAILURE), m_bRunEnded(false), m_bResultWritten(false), m_startTime()
{
}

CKorvexApp::~CKorvexApp() { Cleanup(); }

void CKorvexApp::Cleanup()
{
    // Order: progress dialog, welcome dialog, input dialog, callback,
    // interpreter, agreement dialog. The progress dialog goes first: it
    // joins the worker that still uses everything else.
    delete m_pRunDlg;
    m_pRunDlg = nullptr;
    delete m_pWelcomeDlg;
    m_pWelcomeDlg = nullptr;
    delete m_pInputDlg;
    m_pInputDlg = nullptr;
    // The interpreter outlives the callback it was given; it must not be
    // able to write through it while it is being torn down.
    if (m_pInterpreter)
        m_pInterpreter->m_pCallback = nullptr;
    delete m_pCallback;
    m_pCallback = nullptr;
    delete m_pInterpreter;
    m_pInterpreter = nullptr;
    delete m_pAgreementDlg;
    m_pAgreementDlg = nullptr;
    m_hMainWnd = nullptr;
}

BOOL CKorvexApp::InitInstance()
{
    ::GetSystemTime(&m_startTime);
    // 1. Common controls for the dialogs, then the command line.
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&icc);
    ParseCommandLine(__argc, __argv);
    // The starter means its own current folder; the run changes folders.
    char current[MAX_PATH + 1] = {0};
    DWORD n = ::GetCurrentDirectoryA(MAX_PATH, current);
    const std::string here = (n > 0 && n < MAX_PATH) ? std::string(current, n) : std::string();
    m_strLogFile = AbsolutePath(here, m_strLogFile);
    m_strResultFile = AbsolutePath(here, m_strResultFile);

    // 2. A second copy would fight the first over the same files and services.
    if (!TakeSingleInstanceGuard()) {
        m_nStopCode = KV_CONVENTIONAL_ANOTHER_COPY;
        return FALSE;
    }

    // 3, 4.
    m_strLogPath = ChooseLogPath();

    // 5.
    if (m_bSilent)
        m_pCallback = new (std::nothrow) CSilentCallback(m_strLogPath);
    else
        m_pCallback = new (std::nothrow) CUICallback(m_strLogPath);
    if (!m_pCallback)
        return FALSE;

    // 6. Several runs share one log file; the banner separates them.
    const std::string at(37, '@');
    m_pCallback->WriteLog("\r\n" + at + " Log Start " + at + "\r\n");
    if (!m_bNoLog && !m_strLogFile.empty() && m_strLogPath != m_strLogFile)
        StartupLog("*** Runtime error: CKorvexApp::InitInstance(): the log file '%s' can't be written, this run "
                   "logs to '%s'",
                   m_strLogFile.c_str(), m_strLogPath.c_str());

    // Where nobody sees the dialogs nobody answers them: the run would wait
    // for ever and hold the guard against every later run.
    if (!m_bSilent && !WindowStationIsVisible()) {
        StartupLog("*** Runtime error: CKorvexApp::InitInstance(): no user can see this window station (a service "
                   "or a session without a desktop), so a run with dialogs ends here; start it with /S");
        return FALSE;
    }

    // 7. Before the interpreter: its construction hands the description,
    // readme and licence texts to the dialogs through the callback.
    if (!m_bSilent) {
        m_pAgreementDlg = new (std::nothrow) CKorvexAgreementDlg;
        if (!m_pAgreementDlg)
            return FALSE;
        m_pWelcomeDlg = new (std::nothrow) CKorvexDlg;
        if (!m_pWelcomeDlg)
            return FALSE;
        m_pRunDlg = new (std::nothrow) CKorvexRunDlg;
        if (!m_pRunDlg)
            return FALSE;
        m_pInputDlg = new (std::nothrow) CKorvexInputDlg(m_pRunDlg);
        if (!m_pInputDlg)
            return FALSE;
    }

    // 8. The interpreter gets what the command line decided once, here.
    m_pInterpreter = new (std::nothrow) CHFS_Interpreter(m_pCallback, kScriptName, RunSettings(), &m_texts);
    if (!m_pInterpreter)
        return FALSE;
    m_pInterpreter->SetRunEndListener(this);
    if (m_pInterpreter->InitPatchInfo("PatchInformation") != 0)
        return FALSE;

    // 9.
    if (m_bZenta && AnswerZenta() != 0)
        return FALSE;

    // 10.
    if (CheckRecordFile() != 0)
        return FALSE;

    // 11. With /G the process ends inside Execute with the run's code.
    if (m_bSilent) {
        m_pInterpreter->Execute();
        return FALSE;
    }

    // 12. A removal has nothing to agree to; the modal dialogs lead on to
    // the progress dialog, whose worker runs the procedure.
    const DWORD licence = ::GetFileAttributesA(kLicenseFile);
    if (m_bUninstall || licence == INVALID_FILE_ATTRIBUTES || (licence & FILE_ATTRIBUTE_DIRECTORY))
        m_pWelcomeDlg->DoModal(true);
    else
        m_pAgreementDlg->DoModal(true);
    return FALSE;
}

namespace {

// Creates (or opens) the named mutex and keeps it in held; true when another
// copy holds it already.
bool HeldElsewhere(const char* name, CHandle& held)
{
    held.Reset(::CreateMutexA(nullptr, FALSE, name));
    const DWORD err = ::GetLastError();
    if (held)
        return err == ERROR_ALREADY_EXISTS;
    if (err != ERROR_ACCESS_DENIED)
        return false;
    // Refused: a copy under another account holds a mutex we may not open,
    // or this account may not create machine-wide names at all; only a name
    // that does not exist tells the two apart.
    CHandle opened(::OpenMutexA(SYNCHRONIZE, FALSE, name));
    return opened || ::GetLastError() != ERROR_FILE_NOT_FOUND;
}

}  // namespace

BOOL CKorvexApp::TakeSingleInstanceGuard()
{
    // The session's name as it always was, and the machine's: a run as
    // SYSTEM and a user's run in another session must exclude each other.
    const bool inSession = HeldElsewhere(kMutexName, m_mutex);
    const bool onMachine = HeldElsewhere(kGlobalMutexName, m_globalMutex);
    return ((inSession || onMachine) && !m_bAllowSecondInstance) ? FALSE : TRUE;
}

std::string CKorvexApp::ChooseLogPath() const
{
    if (m_bNoLog)
        return kPrimaryLogPath;
    auto writable = [](const std::string& path) {
        if (path.empty() || IsDevicePath(path) || !PathFitsLimit(path))
            return false;
        CreateDirectoryTree(path, true);
        FILE* f = fopen(path.c_str(), "a+t");
        if (f)
            fclose(f);
        return f != nullptr;
    };
    // A log asked for on the command line is this run's alone: nothing goes
    // to the shared one, not even when the asked-for one can't be written.
    if (!m_strLogFile.empty() && writable(m_strLogFile))
        return m_strLogFile;
    if (m_strLogFile.empty() && writable(kPrimaryLogPath))
        return kPrimaryLogPath;
    char tmp[MAX_PATH + 1] = {0};
    DWORD n = ::GetTempPathA(sizeof tmp, tmp);
    std::string dir = (n > 0 && n < sizeof tmp) ? std::string(tmp, n) : std::string();
    return dir + kFallbackLogName;
}

bool CKorvexApp::WindowStationIsVisible()
{
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    HWINSTA station = ::GetProcessWindowStation();
    // A station that can't be asked is taken as it always was: visible.
    if (!station || !::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed))
        return true;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void CKorvexApp::RunEnded(const CHFS_RunOutcome& outcome)
{
    m_outcome = outcome;
    m_bRunEnded = true;
    WriteResult(outcome);
}

void CKorvexApp::WriteResult(const CHFS_RunOutcome& outcome)
{
    if (m_bResultWritten || m_strResultFile.empty() || !m_pInterpreter)
        return;
    m_bResultWritten = true;
    CKvRunResult result;
    result.strPatchId = m_pInterpreter->GetPatchInfo("PatchID");
    result.outcome = outcome;
    result.startTime = m_startTime;
    ::GetSystemTime(&result.endTime);
    result.bHasLog = !m_bNoLog;
    result.strLogPath = m_strLogPath;
    result.strVersion = KvProgramVersion();
    DWORD error = KvWriteFileByRename(m_strResultFile, KvRunResultJson(result));
    if (error != 0)
        StartupLog("*** Runtime error: CKorvexApp::WriteResult(): the result file '%s' can't be written, "
                   "lasterror=%lu",
                   m_strResultFile.c_str(), error);
}

int CKorvexApp::FinishProcess()
{
    // /G without /E: the run's own code, as Execute would have ended with.
    const bool ownCode = m_bExitCode && !m_bPrintErrorCode;
    if (m_bRunEnded) {
        if (!ownCode)
            StartupLog("Return conventional exit code of Korvex,code=%d", m_outcome.m_nConventionalCode);
        return ownCode ? m_outcome.m_nExitCode : m_outcome.m_nConventionalCode;
    }
    // The script was read, the procedure never ran to its end.
    CHFS_RunOutcome stopped;
    stopped.m_nExitCode = KV_EXIT_NOT_STARTED;
    stopped.m_nConventionalCode = m_nStopCode;
    stopped.m_bRemoval = m_bUninstall != 0;
    WriteResult(stopped);
    if (!ownCode)
        StartupLog("Return conventional exit code of Korvex,code=%d", m_nStopCode);
    return ownCode ? KV_EXIT_NOT_STARTED : m_nStopCode;
}

int CKorvexApp::AnswerZenta()
{
    StartupLog("***********Run Korvex from Zenta***********");
    std::string patchId = m_pInterpreter ? m_pInterpreter->GetPatchInfo("PatchID") : std::string();
    HANDLE h = ::OpenEventA(EVENT_ALL_ACCESS, FALSE, patchId.c_str());
    if (!h) {
        StartupLog("Can not Get Event with PatchID=%s", patchId.c_str());
        return -1;
    }
    StartupLog("Get Event successfully with PatchID=%s", patchId.c_str());
    // Zenta may look at the event again; it stays open until the process ends.
    m_hZentaEvent = h;
    if (!::SetEvent(h))
        StartupLog("CKorvexApp::AnswerZenta(): SetEvent('%s') Failed! lasterror=%lu", patchId.c_str(),
                   ::GetLastError());
    return 0;
}

int CKorvexApp::CheckRecordFile()
{
    if (m_strRecordFile.empty() || ::GetFileAttributesA(m_strRecordFile.c_str()) != INVALID_FILE_ATTRIBUTES)
        return 0;
    std::string text = "***Error: Can't open Install record file ('" + m_strRecordFile + "')";
    if (m_pCallback)
        m_pCallback->WriteLog(text);
    fputs(text.c_str(), stdout);
    fflush(stdout);
    return -1;
}

void CKorvexApp::StartupLog(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = KvFormatV(format, args);
    va_end(args);
    if (m_pInterpreter)
        m_pInterpreter->Log("%s", text.c_str());
    else if (m_pCallback)
        m_pCallback->WriteLog(text);
}

CHFS_RunSettings CKorvexApp::RunSettings() const
{
    CHFS_RunSettings s;
    s.m_bSilent = m_bSilent;
    s.m_bUninstall = m_bUninstall;
    s.m_strRecordFile = m_strRecordFile;
    s.m_bKeepRecord = m_bKeepRecord;
    s.m_bTrace = m_bTrace;
    s.m_bRemoteProgress = m_bRemoteProgress;
    s.m_bPrintErrorCode = m_bPrintErrorCode;
    s.m_bExitCode = m_bExitCode;
    return s;
}
