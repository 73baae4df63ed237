// The dialogs of a dialog-driven run and the worker thread.
#include "app/Dialogs.h"

#include <commctrl.h>
#include <process.h>
#include <algorithm>
#include <vector>

#include "app/KorvexApp.h"
#include "app/StringTable.h"
#include "interpreter/Interpreter.h"
#include "util/CodePageText.h"

namespace {

const char kMainSection[] = "ProductInstall.Main";

// Dialogs whose queued messages pass through PreTranslateMessage first. Only
// the main thread runs those dialogs; the input dialog, shown from the
// worker, never registers.
std::vector<CKorvexDialog*>& ActiveDialogs()
{
    static std::vector<CKorvexDialog*> s_active;
    return s_active;
}

std::string ReadMainItem(const char* key)
{
    CHFS_Interpreter* interp = GetKorvexApp()->m_pInterpreter;
    return interp ? interp->ReadItem(key, kMainSection, false) : std::string(KORVEX_MISSING);
}

}  // namespace

std::wstring KorvexWide(const std::string& text) { return KvWiden(CP_ACP, text); }

std::string KorvexNarrow(const std::wstring& text) { return KvNarrow(CP_ACP, text); }

// ------------------------------------------------------------------ OS::CThread

namespace OS {

CThread::CThread() : m_hThread(nullptr), m_lRunning(0) {}

CThread::~CThread()
{
    // Run() belongs to a derived object that is already gone: whoever
    // started the thread must have waited for it.
    if (m_hThread)
        ::CloseHandle(m_hThread);
}

unsigned __stdcall CThread::ThreadMain(void* arg)
{
    CThread* self = static_cast<CThread*>(arg);
    DWORD result = self->Run();
    ::InterlockedExchange(&self->m_lRunning, 0);
    return result;
}

bool CThread::Start(int priority)
{
    if (IsRunning())
        return false;
    if (m_hThread) {
        ::CloseHandle(m_hThread);
        m_hThread = nullptr;
    }
    ::InterlockedExchange(&m_lRunning, 1);
    unsigned id = 0;
    uintptr_t h = _beginthreadex(nullptr, 0, ThreadMain, this, CREATE_SUSPENDED, &id);
    if (!h) {
        ::InterlockedExchange(&m_lRunning, 0);
        return false;
    }
    m_hThread = reinterpret_cast<HANDLE>(h);
    ::SetThreadPriority(m_hThread, priority);
    ::ResumeThread(m_hThread);
    return true;
}

bool CThread::Wait(DWORD timeoutMs, DWORD& result, bool answerSentMessages)
{
    if (!m_hThread)
        return false;
    const DWORD limit = timeoutMs == 0 ? INFINITE : timeoutMs;
    const DWORD start = ::GetTickCount();
    for (;;) {
        DWORD left = INFINITE;
        if (limit != INFINITE) {
            DWORD spent = ::GetTickCount() - start;
            left = spent >= limit ? 0 : limit - spent;
        }
        DWORD r = answerSentMessages ? ::MsgWaitForMultipleObjects(1, &m_hThread, FALSE, left, QS_SENDMESSAGE)
                                     : ::WaitForSingleObject(m_hThread, left);
        if (r == WAIT_OBJECT_0)
            break;
        if (r == WAIT_OBJECT_0 + 1) {
            // Peeking delivers the messages sent to this thread's windows.
            MSG msg;
            ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            continue;
        }
        return false;
    }
    DWORD code = 0;
    ::GetExitCodeThread(m_hThread, &code);
    result = code;
    return true;
}

}  // namespace OS

DWORD CRunThread::Run()
{
    CHFS_Interpreter* interp = GetKorvexApp()->m_pInterpreter;
    int result = interp ? interp->Execute() : -1;
    if (m_pDlg)
        m_pDlg->MarkFinished();
    return static_cast<DWORD>(result);
}

// ---------------------------------------------------------------- CKorvexDialog

CKorvexDialog::CKorvexDialog(UINT resourceId, HWND parent)
    : m_hWnd(nullptr), m_hParent(parent), m_nResourceId(resourceId), m_bMainWindow(false), m_hPrevMainWnd(nullptr),
      m_hHook(nullptr), m_hFont(nullptr)
{
}

CKorvexDialog::~CKorvexDialog()
{
    if (m_hFont)
        ::DeleteObject(m_hFont);
}

INT_PTR CKorvexDialog::DoModal(bool asMainWindow)
{
    m_bMainWindow = asMainWindow;
    if (WantsPreTranslate()) {
        m_hHook = ::SetWindowsHookExW(WH_MSGFILTER, MessageFilter, nullptr, ::GetCurrentThreadId());
        ActiveDialogs().push_back(this);
    }
    INT_PTR r = ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_nResourceId), m_hParent,
                                  DialogProc, reinterpret_cast<LPARAM>(this));
    DWORD err = ::GetLastError();
    if (WantsPreTranslate()) {
        std::vector<CKorvexDialog*>& active = ActiveDialogs();
        active.erase(std::remove(active.begin(), active.end(), this), active.end());
        if (m_hHook)
            ::UnhookWindowsHookEx(m_hHook);
        m_hHook = nullptr;
    }
    if (r == -1)
        GetKorvexApp()->StartupLog("CKorvexDialog::DoModal(): DialogBoxParam(%u) Failed! lasterror=%lu", m_nResourceId,
                                   err);
    return r;
}

LRESULT CALLBACK CKorvexDialog::MessageFilter(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == MSGF_DIALOGBOX && lParam) {
        MSG* msg = reinterpret_cast<MSG*>(lParam);
        std::vector<CKorvexDialog*>& active = ActiveDialogs();
        // Innermost first: a nested dialog's messages are its own.
        for (auto it = active.rbegin(); it != active.rend(); ++it) {
            HWND dlg = (*it)->m_hWnd;
            if (dlg && (msg->hwnd == dlg || ::IsChild(dlg, msg->hwnd)))
                return (*it)->PreTranslateMessage(*msg) ? TRUE : FALSE;
        }
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

INT_PTR CALLBACK CKorvexDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    CKorvexDialog* self = nullptr;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CKorvexDialog*>(lParam);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->m_hWnd = hwnd;
        if (self->m_bMainWindow) {
            CKorvexApp* app = GetKorvexApp();
            self->m_hPrevMainWnd = app->m_hMainWnd;
            app->m_hMainWnd = hwnd;
        }
        return self->OnInitDialog();
    }
    self = reinterpret_cast<CKorvexDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self)
        return FALSE;
    switch (msg) {
    case WM_COMMAND:
        self->OnCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_DESTROY:
        self->OnDestroy();
        // A message box asked for after this window is gone must not be
        // given a dead owner.
        if (self->m_bMainWindow && GetKorvexApp()->m_hMainWnd == hwnd)
            GetKorvexApp()->m_hMainWnd = self->m_hPrevMainWnd;
        return FALSE;
    case WM_NCDESTROY:
        self->m_hWnd = nullptr;
        ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        if (self->m_hFont) {
            ::DeleteObject(self->m_hFont);
            self->m_hFont = nullptr;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

void CKorvexDialog::OnCommand(WORD id, WORD)
{
    if (id == IDOK || id == IDCANCEL)
        EndDialog(id);
}

void CKorvexDialog::EndDialog(INT_PTR result)
{
    if (m_hWnd)
        ::EndDialog(m_hWnd, result);
}

void CKorvexDialog::SetItemText(int id, const std::string& text)
{
    ::SetDlgItemTextW(m_hWnd, id, KorvexWide(text).c_str());
}

void CKorvexDialog::SetCaption(const std::string& text)
{
    ::SetWindowTextW(m_hWnd, KorvexWide(text).c_str());
}

void CKorvexDialog::SetAppIcon()
{
    HINSTANCE inst = ::GetModuleHandleW(nullptr);
    HANDLE big = ::LoadImageW(inst, MAKEINTRESOURCEW(IDR_KORVEX_ICON), IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                              ::GetSystemMetrics(SM_CYICON), LR_SHARED);
    HANDLE small = ::LoadImageW(inst, MAKEINTRESOURCEW(IDR_KORVEX_ICON), IMAGE_ICON,
                                ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), LR_SHARED);
    if (big)
        ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    if (small)
        ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

void CKorvexDialog::ApplyTextBoxFont(int id)
{
    const std::wstring caption = LoadResStringW(IDS_CAPTION);
    int points = 0;
    BYTE pitchAndFamily = 0;
    if (caption == L"Norlane Installation Package") {
        points = 8;
        pitchAndFamily = FF_MODERN;
    } else if (caption == L"Halvern安装软件包") {
        points = 10;
        pitchAndFamily = VARIABLE_PITCH;
    } else {
        return;
    }
    HDC dc = ::GetDC(m_hWnd);
    int dpi = dc ? ::GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc)
        ::ReleaseDC(m_hWnd, dc);
    LOGFONTW lf = {};
    lf.lfHeight = -::MulDiv(points, dpi, 72);
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfPitchAndFamily = pitchAndFamily;
    HFONT font = ::CreateFontIndirectW(&lf);
    if (!font)
        return;
    if (m_hFont)
        ::DeleteObject(m_hFont);
    m_hFont = font;
    ::SendDlgItemMessageW(m_hWnd, id, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

// ------------------------------------------------------------------ CKorvexDlg

BOOL CKorvexDlg::OnInitDialog()
{
    SetAppIcon();
    ApplyTextBoxFont(IDC_TEXT_BOX);
    std::string title = ReadMainItem("WelcomeWindowTitle");
    if (title != KORVEX_MISSING)
        SetCaption(title);
    SetItemText(IDC_TITLE, m_strDescription);
    SetItemText(IDC_TEXT_BOX, m_strReadme);
    ::SetDlgItemTextW(m_hWnd, IDOK, LoadResStringW(GetKorvexApp()->m_bUninstall ? IDS_REMOVE : IDS_INSTALL).c_str());
    return TRUE;
}

void CKorvexDlg::OnCommand(WORD id, WORD)
{
    if (id == IDOK) {
        ::ShowWindow(m_hWnd, SW_HIDE);
        CKorvexRunDlg* run = GetKorvexApp()->m_pRunDlg;
        if (run)
            run->DoModal(true);
        EndDialog(IDOK);
    } else if (id == IDCANCEL) {
        // Nothing runs: the process tells its starter that the user said no.
        GetKorvexApp()->m_nStopCode = KV_CONVENTIONAL_USER_BREAK;
        EndDialog(IDCANCEL);
    }
}

// --------------------------------------------------------------- CKorvexRunDlg

CKorvexRunDlg::CKorvexRunDlg() : CKorvexDialog(IDD_KORVEX_RUN), m_thread(this), m_lFinished(0) {}

CKorvexRunDlg::~CKorvexRunDlg()
{
    DWORD result = 0;
    m_thread.Wait(0, result);
}

BOOL CKorvexRunDlg::OnInitDialog()
{
    SetAppIcon();
    std::string title = ReadMainItem("SetupWindowTitle");
    if (title != KORVEX_MISSING)
        SetCaption(title);
    // Before the worker starts: it may finish before this returns, and its
    // "finished" must not be overwritten nor its OK button disabled again.
    ::InterlockedExchange(&m_lFinished, 0);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDOK), FALSE);
    if (!m_thread.Start(THREAD_PRIORITY_NORMAL)) {
        GetKorvexApp()->StartupLog("CKorvexRunDlg::OnInitDialog(): the worker thread could not be started! "
                                   "lasterror=%lu",
                                   ::GetLastError());
        // Nothing runs; the user must still be able to close the dialog.
        MarkFinished();
    }
    return TRUE;
}

void CKorvexRunDlg::MarkFinished()
{
    // The button first: once "finished" is seen, the dialog may close and
    // wait for this thread.
    ::EnableWindow(::GetDlgItem(m_hWnd, IDOK), TRUE);
    ::InterlockedExchange(&m_lFinished, 1);
}

void CKorvexRunDlg::OnCommand(WORD id, WORD)
{
    // Cancel (Escape, the window's close) never stops a running procedure.
    if (id == IDOK && IsFinished())
        EndDialog(IDOK);
}

void CKorvexRunDlg::OnDestroy()
{
    DWORD result = 0;
    m_thread.Wait(0, result, true);
}

bool CKorvexRunDlg::PreTranslateMessage(MSG& msg)
{
    if (msg.message != WM_KEYDOWN && msg.message != WM_SYSKEYDOWN)
        return false;
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN && IsFinished())
        EndDialog(IDOK);
    return true;
}

// ------------------------------------------------------------- CKorvexInputDlg

CKorvexInputDlg::CKorvexInputDlg(CKorvexDialog* parent)
    : CKorvexDialog(IDD_KORVEX_INPUT), m_pParent(parent), m_nMaxLength(MAX_INPUT_LENGTH)
{
}

void CKorvexInputDlg::SetTexts(const std::wstring& caption, const std::wstring& question, const std::string& value,
                               const std::string&, const std::string&)
{
    m_strCaption = caption;
    m_strQuestion = question;
    m_strValue = value;
}

INT_PTR CKorvexInputDlg::DoModalOverParent()
{
    SetParent(m_pParent ? m_pParent->GetSafeHwnd() : nullptr);
    return DoModal(false);
}

BOOL CKorvexInputDlg::OnInitDialog()
{
    if (!m_strCaption.empty())
        ::SetWindowTextW(m_hWnd, m_strCaption.c_str());
    ::SetDlgItemTextW(m_hWnd, IDC_INPUT_QUESTION, m_strQuestion.empty() ? L"Question?" : m_strQuestion.c_str());
    // Even in a double-byte code page the answer then takes at most 2048
    // bytes, so it fits whole into a script value (4095) when it is read back.
    ::SendDlgItemMessageW(m_hWnd, IDC_TEXT_BOX, EM_LIMITTEXT, m_nMaxLength, 0);
    SetItemText(IDC_TEXT_BOX, m_strValue);
    return TRUE;
}

void CKorvexInputDlg::OnCommand(WORD id, WORD)
{
    if (id == IDOK) {
        HWND edit = ::GetDlgItem(m_hWnd, IDC_TEXT_BOX);
        int n = ::GetWindowTextLengthW(edit);
        std::wstring text(static_cast<size_t>(n > 0 ? n : 0) + 1, L'\0');
        int got = ::GetWindowTextW(edit, &text[0], n + 1);
        text.resize(static_cast<size_t>(got > 0 ? got : 0));
        m_strValue = KorvexNarrow(text);
        EndDialog(IDOK);
    } else if (id == IDCANCEL) {
        EndDialog(IDCANCEL);
    }
}

// --------------------------------------------------------- CKorvexAgreementDlg

std::string CKorvexAgreementDlg::DoubleAmpersands(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        out += c;
        if (c == '&')
            out += '&';
    }
    return out;
}

BOOL CKorvexAgreementDlg::OnInitDialog()
{
    SetAppIcon();
    ApplyTextBoxFont(IDC_TEXT_BOX);
    std::string caption = ReadMainItem("MainDescription");
    if (caption != KORVEX_MISSING)
        SetCaption(caption);
    if (m_strLicenseTitle != KORVEX_MISSING)
        SetItemText(IDC_TITLE, DoubleAmpersands(m_strLicenseTitle));
    SetItemText(IDC_TEXT_BOX, m_strLicense);
    ::CheckRadioButton(m_hWnd, IDC_AGREE_ACCEPT, IDC_AGREE_DECLINE, IDC_AGREE_DECLINE);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_AGREE_NEXT), FALSE);
    m_bAccepted = FALSE;
    return TRUE;
}

void CKorvexAgreementDlg::SetAccepted(BOOL accepted, bool focusRadio)
{
    m_bAccepted = accepted;
    ::CheckRadioButton(m_hWnd, IDC_AGREE_ACCEPT, IDC_AGREE_DECLINE, accepted ? IDC_AGREE_ACCEPT : IDC_AGREE_DECLINE);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_AGREE_NEXT), accepted);
    if (!focusRadio)
        return;
    ::SendMessageW(m_hWnd, DM_SETDEFID, accepted ? IDC_AGREE_NEXT : IDCANCEL, 0);
    ::SetFocus(::GetDlgItem(m_hWnd, accepted ? IDC_AGREE_ACCEPT : IDC_AGREE_DECLINE));
}

void CKorvexAgreementDlg::OnCommand(WORD id, WORD code)
{
    switch (id) {
    case IDC_AGREE_ACCEPT:
        if (code == BN_CLICKED)
            SetAccepted(TRUE, false);
        break;
    case IDC_AGREE_DECLINE:
        if (code == BN_CLICKED)
            SetAccepted(FALSE, false);
        break;
    case IDC_AGREE_NEXT:
        OnNext();
        break;
    case IDCANCEL:
        GetKorvexApp()->m_nStopCode = KV_CONVENTIONAL_USER_BREAK;
        EndDialog(IDCANCEL);
        break;
    default:
        break;
    }
}

void CKorvexAgreementDlg::OnNext()
{
    // Next is also reached by keys and posted commands, not only by the
    // button that is disabled until the terms are accepted.
    if (!m_bAccepted)
        return;
    ::ShowWindow(m_hWnd, SW_HIDE);
    CKorvexDlg* welcome = GetKorvexApp()->m_pWelcomeDlg;
    if (welcome)
        welcome->DoModal(true);
    EndDialog(IDOK);
}

bool CKorvexAgreementDlg::PreTranslateMessage(MSG& msg)
{
    if (msg.message != WM_KEYDOWN && msg.message != WM_SYSKEYDOWN)
        return false;
    const bool alt = (msg.message == WM_SYSKEYDOWN && (msg.lParam & (1 << 29))) || ::GetKeyState(VK_MENU) < 0;
    if (alt) {
        switch (msg.wParam) {
        case 'N':
            if (m_bAccepted)
                ::PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_AGREE_NEXT, BN_CLICKED), 0);
            break;
        case 'A':
        case 'a':
            SetAccepted(TRUE, true);
            break;
        case 'D':
        case 'd':
            SetAccepted(FALSE, true);
            break;
        default:
            break;
        }
        return false;
    }
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN) {
        const bool onCancel = msg.hwnd == ::GetDlgItem(m_hWnd, IDCANCEL);
        // Posted, not called: Next opens the welcome page's own modal loop,
        // which must not run inside this filter.
        ::PostMessageW(m_hWnd, WM_COMMAND,
                       MAKEWPARAM(m_bAccepted && !onCancel ? IDC_AGREE_NEXT : IDCANCEL, BN_CLICKED), 0);
        // The dialog manager would act on the key a second time.
        return true;
    }
    return false;
}
