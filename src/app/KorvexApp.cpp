// STUB(issue 2): replaced by the application shell.
#include "app/KorvexApp.h"

static CKorvexApp theApp;
CKorvexApp* GetKorvexApp() { return &theApp; }

CKorvexApp::CKorvexApp()
    : m_bZenta(0), m_bSilent(0), m_bTrace(0), m_bUninstall(0), m_bKeepRecord(0), m_bPrintErrorCode(0),
      m_bExitCode(0), m_bNoLog(0), m_bRemoteProgress(0), m_bAllowSecondInstance(0), m_pCallback(nullptr),
      m_pInterpreter(nullptr), m_pWelcomeDlg(nullptr), m_pRunDlg(nullptr), m_pInputDlg(nullptr),
      m_pAgreementDlg(nullptr), m_hMainWnd(nullptr), m_hMutex(nullptr) {}
CKorvexApp::~CKorvexApp() { Cleanup(); }
void CKorvexApp::Cleanup() {}
BOOL CKorvexApp::InitInstance() { return FALSE; }
void CKorvexApp::ParseCommandLine(int, char**) {}
void CKorvexApp::AttachParentConsole() {}
void CMyCommandLineInfo::ParseParam(const char*, BOOL, BOOL) {}
