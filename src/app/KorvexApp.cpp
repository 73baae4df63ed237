// The application object and its start-up routine.
#include "app/KorvexApp.h"

#include <commctrl.h>
#include <fcntl.h>
#include <io.h>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "app/Dialogs.h"
#include "app/UICallback.h"
#include "interpreter/Interpreter.h"
#include "util/SystemLib.h"
#include "interpreter/StrFormat.h"

static CKorvexApp theApp;
CKorvexApp* GetKorvexApp() { return &theApp; }

namespace {

const char kMutexName[] = "KorvexPreventSecondInstance";
const char kScriptName[] = "setup.ini";
const char kPrimaryLogPath[] = "c:\\Korvex.log";
const char kFallbackLogName[] = "Korvex.log";
const char kLicenseFile[] = "license.txt";

// A standard output the parent already gave us (a pipe, a file) is where the
// caller reads our output from; it must not be swapped for the console.
bool StdoutIsRedirected()
{
    intptr_t h = _get_osfhandle(_fileno(stdout));
    if (h == -1 || h == -2 || h == 0)
        return false;
    DWORD type = ::GetFileType(reinterpret_cast<HANDLE>(h));
    return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE;
}

}  // namespace

CKorvexApp::CKorvexApp()
    : m_bZenta(0), m_bSilent(0), m_bTrace(0), m_bUninstall(0), m_bKeepRecord(0), m_bPrintErrorCode(0),
      m_bExitCode(0), m_bNoLog(0), m_bRemoteProgress(0), m_bAllowSecondInstance(0), m_pCallback(nullptr),
      m_pInterpreter(nullptr), m_pWelcomeDlg(nullptr), m_pRunDlg(nullptr), m_pInputDlg(nullptr),
      m_pAgreementDlg(nullptr), m_hMainWnd(nullptr), m_hMutex(nullptr), m_hZentaEvent(nullptr)
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
    // 1. Common controls for the dialogs, then the command line.
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&icc);
    ParseCommandLine(__argc, __argv);

    // 2. A second copy would fight the first over the same files and services.
    if (!TakeSingleInstanceGuard())
        return FALSE;

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

    // 8. The sections reach the interpreter through the application object,
    // already while the patch information is loaded.
    m_pInterpreter = new (std::nothrow) CHFS_Interpreter(m_pCallback, kScriptName);
    if (!m_pInterpreter)
        return FALSE;
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

BOOL CKorvexApp::TakeSingleInstanceGuard()
{
    HANDLE h = ::CreateMutexA(nullptr, FALSE, kMutexName);
    DWORD err = ::GetLastError();
    // A copy running under another account leaves us a mutex we may not
    // open: that copy is running all the same.
    bool exists = h ? err == ERROR_ALREADY_EXISTS : err == ERROR_ACCESS_DENIED;
    if (h)
        m_hMutex = h;  // held until the process ends
    return (exists && !m_bAllowSecondInstance) ? FALSE : TRUE;
}

std::string CKorvexApp::ChooseLogPath() const
{
    if (m_bNoLog)
        return kPrimaryLogPath;
    FILE* f = fopen(kPrimaryLogPath, "a+t");
    if (f) {
        fclose(f);
        return kPrimaryLogPath;
    }
    char tmp[MAX_PATH + 1] = {0};
    DWORD n = ::GetTempPathA(sizeof tmp, tmp);
    std::string dir = (n > 0 && n < sizeof tmp) ? std::string(tmp, n) : std::string();
    return dir + kFallbackLogName;
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

void CKorvexApp::AttachParentConsole()
{
    typedef BOOL(WINAPI * AttachConsoleFn)(DWORD);
    AttachConsoleFn attach = reinterpret_cast<AttachConsoleFn>(
        reinterpret_cast<void (*)()>(GetSystemProcAddress("kernel32.dll", "AttachConsole")));
    if (!attach) {
        StartupLog("GetProcAddress of 'AttachConsole' failed.Requirement platform:(1) Minimum supported "
                   "client:Windows XP  (2)Minimum supported server: Windows Server 2003");
        return;
    }
    StartupLog("GetProcAddress of 'AttachConsole' successful.");

    bool redirected = StdoutIsRedirected();
    bool ok = false;
    if (attach(ATTACH_PARENT_PROCESS)) {
        bool outOk = redirected || freopen("CONOUT$", "wt", stdout) != nullptr;
        if (outOk) {
            _setmode(_fileno(stdout), _O_TEXT);
            // Unbuffered: the process may end through exit() right after the
            // code is printed, or the console may go away under us.
            setvbuf(stdout, nullptr, _IONBF, 0);
            ok = ::SetConsoleCtrlHandler(KorvexConsoleCtrlHandler, TRUE) != FALSE;
        }
    }
    StartupLog(ok ? "Got Console Attach successful." : "!Error!Got Console Attach failed.");
}

BOOL WINAPI KorvexConsoleCtrlHandler(DWORD ctrlType)
{
    switch (ctrlType) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        ::FreeConsole();
        return TRUE;
    default:
        return FALSE;
    }
}
