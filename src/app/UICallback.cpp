// The two user-interaction callbacks and the log-line writer they share.
#include "app/UICallback.h"

#include <cstdio>

#include <commctrl.h>

#include "app/Dialogs.h"
#include "app/KorvexApp.h"
#include "app/PathDialog.h"
#include "app/StringTable.h"

namespace {

// The file is opened per line and shared both ways, so that a log viewer
// (or another copy started with /I) holding it open for reading and writing
// does not cost us the line, and a log removed or replaced meanwhile is
// simply written anew. Opened for appending only, every line lands at the
// end whoever wrote last. Plain system calls: a C runtime stream around the
// handle cost a third of the line again.
HANDLE OpenLog(const std::string& logPath)
{
    return ::CreateFileA(logPath.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool WriteLogBytes(HANDLE h, const std::string& text)
{
    // As a text-mode stream writes it: every "\n" becomes CR LF, and the
    // line ends with one.
    std::string bytes;
    bytes.reserve(text.size() + 16);
    for (char c : text) {
        if (c == '\n')
            bytes += '\r';
        bytes += c;
    }
    bytes += "\r\n";
    DWORD put = 0;
    return ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) && put == bytes.size();
}

}  // namespace

int KorvexWriteLogLine(const std::string& logPath, const std::string& text)
{
    if (GetKorvexApp()->m_bNoLog)
        return 0;
    HANDLE h = OpenLog(logPath);
    if (h == INVALID_HANDLE_VALUE)
        return -1;
    bool ok = WriteLogBytes(h, text);
    ok = ::CloseHandle(h) && ok;
    return ok ? 0 : -1;
}

namespace {

template <typename S>
S ReplaceMarks(const S& text, const S& kMark, const S& lineBreak)
{
    S out;
    out.reserve(text.size());
    size_t from = 0;
    for (;;) {
        size_t at = text.find(kMark, from);
        if (at == S::npos) {
            out.append(text, from, S::npos);
            return out;
        }
        out.append(text, from, at - from);
        out += lineBreak;
        from = at + kMark.size();
    }
}

}  // namespace

std::string ReplaceNewlineMarks(const std::string& text)
{
    return ReplaceMarks<std::string>(text, "__NEWLINE__", "\r\n");
}

std::wstring ReplaceNewlineMarks(const std::wstring& text)
{
    return ReplaceMarks<std::wstring>(text, L"__NEWLINE__", L"\r\n");
}

// ------------------------------------------------------------ CKorvexCallback

int CKorvexCallback::SetProgress(int, int) { return 0; }
int CKorvexCallback::SetTaskText(const std::string&, int) { return 0; }
int CKorvexCallback::AppendDetail(const std::string&, int) { return 0; }
int CKorvexCallback::SetDescription(const std::string&) { return 0; }
int CKorvexCallback::SetReadme(const std::string&) { return 0; }
int CKorvexCallback::SetLicense(const std::string&) { return 0; }
int CKorvexCallback::SetLicenseTitle(const std::string&) { return 0; }
int CKorvexCallback::WriteLog(const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_logLock);
    if (m_nLogHolds == 0 || GetKorvexApp()->m_bNoLog)
        return KorvexWriteLogLine(m_strLogPath, text);
    if (!m_heldLog)
        m_heldLog.Reset(OpenLog(m_strLogPath));
    if (!m_heldLog)
        return -1;
    if (WriteLogBytes(m_heldLog.Get(), text))
        return 0;
    // The next line opens the log afresh.
    m_heldLog.Close();
    return -1;
}

void CKorvexCallback::HoldLog(bool hold)
{
    std::lock_guard<std::mutex> lock(m_logLock);
    if (hold)
        ++m_nLogHolds;
    else if (m_nLogHolds > 0 && --m_nLogHolds == 0)
        m_heldLog.Close();
}
// Nobody is there to answer: 0 makes every question count as not answered Yes.
int CKorvexCallback::ShowMessage(const std::string&, UINT) { return 0; }

// ---------------------------------------------------------------- CUICallback

CUICallback::CUICallback(const std::string& logPath) : CKorvexCallback(logPath)
{
    // The detail box collects every step's lines; reserving up front keeps a
    // long run from reallocating the text over and over.
    m_strDetail.reserve(10240);
}

CHFS_UIText CUICallback::WithRollbackPrefix(const CHFS_UIText& text, int rollback)
{
    if (rollback != 1)
        return text;
    return CHFS_UIText::Program(LoadResStringW(IDS_RESTORE_PREFIX)) + text;
}

// A control of the progress dialog while it is up; null before and after,
// when there is nothing to update.
static HWND RunDialogItem(int id)
{
    CKorvexRunDlg* dlg = GetKorvexApp()->m_pRunDlg;
    HWND hwnd = dlg ? dlg->GetSafeHwnd() : nullptr;
    return hwnd ? ::GetDlgItem(hwnd, id) : nullptr;
}

int CUICallback::SetProgress(int position, int range)
{
    if (HWND bar = RunDialogItem(IDC_RUN_PROGRESS)) {
        ::SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, static_cast<WORD>(range)));
        ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    }
    return 0;
}

int CUICallback::SetTaskText(const std::string& text, int rollback) { return SetTaskTextW(CHFS_UIText(text), rollback); }

int CUICallback::AppendDetail(const std::string& text, int rollback)
{
    return AppendDetailW(CHFS_UIText(text), rollback);
}

int CUICallback::SetTaskTextW(const CHFS_UIText& text, int rollback)
{
    CHFS_UIText line = WithRollbackPrefix(text, rollback);
    if (HWND task = RunDialogItem(IDC_RUN_TASK))
        ::SendMessageW(task, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(line.Shown().c_str()));
    WriteLog(line.Logged());
    return 0;
}

int CUICallback::AppendDetailW(const CHFS_UIText& text, int rollback)
{
    CHFS_UIText line = WithRollbackPrefix(text, rollback);
    m_strDetail += line.Logged();
    m_strDetailShown += line.Shown();
    WriteLog(line.Logged());
    if (HWND box = RunDialogItem(IDC_RUN_DETAIL)) {
        ::SendMessageW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(m_strDetailShown.c_str()));
        LRESULT lines = ::SendMessageW(box, EM_GETLINECOUNT, 0, 0);
        ::SendMessageW(box, EM_LINESCROLL, 0, lines);
    }
    return 0;
}

int CUICallback::SetDescription(const std::string& text)
{
    m_strDescription = text;
    if (CKorvexDlg* dlg = GetKorvexApp()->m_pWelcomeDlg)
        dlg->SetDescription(text);
    return 0;
}

int CUICallback::SetReadme(const std::string& text)
{
    m_strReadme = text;
    if (CKorvexDlg* dlg = GetKorvexApp()->m_pWelcomeDlg)
        dlg->SetReadme(text);
    return 0;
}

int CUICallback::SetLicense(const std::string& text)
{
    m_strLicense = text;
    if (CKorvexAgreementDlg* dlg = GetKorvexApp()->m_pAgreementDlg)
        dlg->SetLicense(text);
    return 0;
}

int CUICallback::SetLicenseTitle(const std::string& text)
{
    m_strLicenseTitle = text;
    if (CKorvexAgreementDlg* dlg = GetKorvexApp()->m_pAgreementDlg)
        dlg->SetLicenseTitle(text);
    return 0;
}

bool CUICallback::HasMainWindow() { return GetKorvexApp()->m_hMainWnd != nullptr; }

int CUICallback::ShowMessage(const std::string& text, UINT type) { return ShowMessageW(CHFS_UIText(text), type); }

int CUICallback::ShowMessageW(const CHFS_UIText& text, UINT type)
{
    CKorvexApp* app = GetKorvexApp();
    if (app->m_bSilent || !app->m_hMainWnd)
        return 0;
    std::wstring shown = ReplaceNewlineMarks(text.Shown());
    std::wstring caption = LoadResStringW(IDS_CAPTION);
    return ::MessageBoxW(app->m_hMainWnd, shown.c_str(), caption.c_str(), type);
}

// The progress dialog while it is up: the owner of both questions.
static HWND RunDialogWindow()
{
    CKorvexApp* app = GetKorvexApp();
    if (app->m_bSilent || !app->m_pRunDlg)
        return nullptr;
    return app->m_pRunDlg->GetSafeHwnd();
}

int CUICallback::AskFolder(const CHFS_UIText& caption, const std::string& prompt, const std::string& initial,
                           std::string& answer)
{
    HWND owner = RunDialogWindow();
    if (!owner)
        return 0;
    CPathDialog dlg(caption.Shown(), KorvexWide(prompt), KorvexWide(initial), owner);
    if (dlg.DoModal() != 1)
        return -1;
    answer = dlg.GetPathName();
    return 1;
}

int CUICallback::AskText(const CHFS_UIText& caption, const std::string& prompt, const std::string& initial, int min,
                         int max, std::string& answer)
{
    CKorvexInputDlg* dlg = GetKorvexApp()->m_pInputDlg;
    if (!RunDialogWindow() || !dlg)
        return 0;
    dlg->SetTexts(caption.Shown(), KorvexWide(prompt), initial, std::to_string(max), std::to_string(min));
    if (dlg->DoModalOverParent() != IDOK)
        return -1;
    answer = dlg->GetValue();
    return 1;
}
