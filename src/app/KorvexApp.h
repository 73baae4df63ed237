#pragma once
// The application object: command-line flags, the owned callback, interpreter
// and dialogs, and the start-up routine.
#include <windows.h>
#include <string>

#include "app/StringTable.h"
#include "interpreter/RunOutcome.h"
#include "interpreter/RunSettings.h"
#include "util/WinHandles.h"

class CHFS_UICallback;
class CHFS_Interpreter;
class CKorvexDlg;
class CKorvexRunDlg;
class CKorvexInputDlg;
class CKorvexAgreementDlg;
class CKorvexApp;

// Parameter handler of the command line: only the first letter counts.
class CMyCommandLineInfo {
public:
    explicit CMyCommandLineInfo(CKorvexApp* app) : m_pApp(app) {}
    // param: the argument without its leading '/' or '-' when bFlag is set.
    void ParseParam(const char* param, BOOL bFlag, BOOL bLast);

private:
    CKorvexApp* m_pApp;
};

class CKorvexApp : public CHFS_RunEndListener {
public:
    CKorvexApp();
    ~CKorvexApp() override;

    // Start-up (steps 1 to 12). Always reports failed initialisation (FALSE),
    // so the process ends once the silent run or the first dialog returns.
    BOOL InitInstance();
    // Frees what the application owns, in the design's order. Idempotent.
    void Cleanup();

    // Splits argv the way the framework does (a leading '/' or '-' is removed
    // and marks a switch) and hands every argument to the handler.
    void ParseCommandLine(int argc, char** argv);
    // What the interpreter is told of the command line.
    CHFS_RunSettings RunSettings() const;

    // ---- start-up steps, one each, so they can be checked on their own.
    // Single-instance guard, in the session and machine-wide; FALSE when
    // another copy runs and /I is absent.
    BOOL TakeSingleInstanceGuard();
    // The /L: file when given and it can be opened for appending, else
    // "c:\Korvex.log" when it can (without /L:; not probed with /M), else the
    // temporary folder's "Korvex.log".
    std::string ChooseLogPath() const;
    // Whether a user can see this process's windows: not in a service's
    // window station nor in any other that is not the interactive one.
    static bool WindowStationIsVisible();
    // The interpreter's report at the end of Execute, before /G may end the
    // process: the result document (/J:) and the process's conventional code.
    void RunEnded(const CHFS_RunOutcome& outcome) override;
    // After start-up returned: writes the result document of a run that read
    // its script but never finished Execute, and gives the process exit code.
    int FinishProcess();
    // The /P handshake; 0 when the event was found and set.
    int AnswerZenta();
    // 0 unless a /U: record file is named and missing; then the error has
    // been logged and printed.
    int CheckRecordFile();
    // A start-up line: through the interpreter's time-stamped Log once it
    // exists, else straight through the callback. Program formats only.
    void StartupLog(const char* format, ...) __attribute__((format(printf, 2, 3)));

    int m_bZenta;
    int m_bSilent;
    int m_bTrace;
    int m_bUninstall;
    std::string m_strRecordFile;
    int m_bKeepRecord;
    int m_bPrintErrorCode;
    int m_bExitCode;
    int m_bNoLog;
    int m_bRemoteProgress;
    int m_bAllowSecondInstance;
    std::string m_strLogFile;     // /L:
    std::string m_strResultFile;  // /J:

    CHFS_UICallback* m_pCallback;
    CHFS_Interpreter* m_pInterpreter;
    CKorvexDlg* m_pWelcomeDlg;
    CKorvexRunDlg* m_pRunDlg;
    CKorvexInputDlg* m_pInputDlg;
    CKorvexAgreementDlg* m_pAgreementDlg;

    HWND m_hMainWnd;          // the application's main window; null in a silent run
    std::string m_strLogPath;
    CHandle m_mutex;          // the guards, held until the process ends
    CHandle m_globalMutex;
    HANDLE m_hZentaEvent;     // kept open for the life of the process
    CResourceTexts m_texts;   // what the interpreter shows of the program's own texts
    // How a run that did not reach the end of Execute ends, as a
    // conventional code: another copy, a user's cancel, any other stop.
    int m_nStopCode;
    bool m_bRunEnded;         // RunEnded was told, m_outcome holds the run's outcome
    CHFS_RunOutcome m_outcome;
    bool m_bResultWritten;
    SYSTEMTIME m_startTime;   // UTC, when start-up began

private:
    // /J:, once: the document of this run (logged when it cannot be written).
    void WriteResult(const CHFS_RunOutcome& outcome);
};

// The exit code of a silent /G run whose start-up stopped before any step
// (a second copy, the patch information or database, the Zenta event, a
// missing record file): the patch was not applied, so never 0.
enum { KV_EXIT_NOT_STARTED = -2006 };

// The one application object of the process.
CKorvexApp* GetKorvexApp();
