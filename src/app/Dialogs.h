#pragma once
// The dialogs of a dialog-driven run and the worker thread that runs the
// interpreter while the progress dialog is up.
#include <windows.h>
#include <string>

// Resource and control identifiers (res/korvex.rc uses the same numbers).
enum {
    IDD_KORVEX_WELCOME = 102,
    IDD_KORVEX_RUN = 129,
    IDD_KORVEX_INPUT = 131,
    IDD_KORVEX_AGREEMENT = 132,
    IDR_KORVEX_ICON = 128,

    IDC_TEXT_BOX = 1000,        // readme / licence text, input value
    IDC_TITLE = 1001,           // description / licence title
    IDC_RUN_PROGRESS = 1002,
    IDC_RUN_TASK = 1003,
    IDC_RUN_DETAIL = 1004,
    IDC_INPUT_QUESTION = 1006,
    IDC_AGREE_NEXT = 1007,
    IDC_AGREE_ACCEPT = 1008,
    IDC_AGREE_DECLINE = 1009
};

// ANSI (the interpreter's texts) to UTF-16 for the W controls.
std::wstring KorvexWide(const std::string& text);
std::string KorvexNarrow(const std::wstring& text);

namespace OS {

// A thread with a virtual run operation; the object must outlive the thread.
class CThread {
public:
    CThread();
    virtual ~CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    virtual DWORD Run() = 0;

    // Starts Run() on a new thread at the given priority; false when the
    // thread could not be created (or one is still running).
    bool Start(int priority = THREAD_PRIORITY_NORMAL);
    // Waits up to timeoutMs (0: without limit); true with the thread's
    // result once it has ended, false on time-out or when never started.
    // With answerSentMessages the waiting thread keeps handling the
    // synchronous messages the thread may still send to its windows.
    bool Wait(DWORD timeoutMs, DWORD& result, bool answerSentMessages = false);
    bool IsRunning() const { return m_lRunning != 0; }

private:
    static unsigned __stdcall ThreadMain(void* arg);
    HANDLE m_hThread;
    volatile LONG m_lRunning;
};

}  // namespace OS

class CKorvexRunDlg;

// Runs the interpreter's whole procedure for the progress dialog.
class CRunThread : public OS::CThread {
public:
    explicit CRunThread(CKorvexRunDlg* dlg) : m_pDlg(dlg) {}
    DWORD Run() override;

private:
    CKorvexRunDlg* m_pDlg;
};

// A modal dialog from the resources, its procedure forwarded to members.
class CKorvexDialog {
public:
    CKorvexDialog(UINT resourceId, HWND parent = nullptr);
    virtual ~CKorvexDialog();
    CKorvexDialog(const CKorvexDialog&) = delete;
    CKorvexDialog& operator=(const CKorvexDialog&) = delete;

    // Shows the dialog modally; with asMainWindow it is the application's
    // main window while it is up (message boxes are owned by it).
    INT_PTR DoModal(bool asMainWindow = false);
    HWND GetSafeHwnd() const { return m_hWnd; }
    void SetParent(HWND parent) { m_hParent = parent; }

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnCommand(WORD id, WORD code);
    virtual void OnDestroy() {}
    // A queued message on its way to this dialog or one of its controls,
    // before the dialog manager sees it; true swallows it.
    virtual bool PreTranslateMessage(MSG&) { return false; }
    virtual bool WantsPreTranslate() const { return false; }

    void EndDialog(INT_PTR result);
    void SetItemText(int id, const std::string& text);
    void SetCaption(const std::string& text);
    // The application icon as large and small icon.
    void SetAppIcon();
    // The text-box font that goes with the package's caption string.
    void ApplyTextBoxFont(int id);

    HWND m_hWnd;
    HWND m_hParent;
    UINT m_nResourceId;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK MessageFilter(int code, WPARAM wParam, LPARAM lParam);
    bool m_bMainWindow;
    HWND m_hPrevMainWnd;
    HHOOK m_hHook;
    HFONT m_hFont;
};

// Welcome page: description, readme, Install (or Remove) button.
class CKorvexDlg : public CKorvexDialog {
public:
    CKorvexDlg() : CKorvexDialog(IDD_KORVEX_WELCOME), m_strDescription("(empty)") {}
    void SetDescription(const std::string& text) { m_strDescription = text; }
    void SetReadme(const std::string& text) { m_strReadme = text; }

protected:
    BOOL OnInitDialog() override;
    void OnCommand(WORD id, WORD code) override;

private:
    std::string m_strDescription;
    std::string m_strReadme;
};

// Progress page: task line, detail box, progress bar; owns the worker.
class CKorvexRunDlg : public CKorvexDialog {
public:
    CKorvexRunDlg();
    ~CKorvexRunDlg() override;
    bool IsFinished() const { return m_lFinished != 0; }
    // Called by the worker when the procedure has returned.
    void MarkFinished();

protected:
    BOOL OnInitDialog() override;
    void OnCommand(WORD id, WORD code) override;
    void OnDestroy() override;
    bool PreTranslateMessage(MSG& msg) override;
    bool WantsPreTranslate() const override { return true; }

private:
    CRunThread m_thread;
    volatile LONG m_lFinished;
};

// One-line question for the user-input section.
class CKorvexInputDlg : public CKorvexDialog {
public:
    // The most characters the user can type in (see OnInitDialog).
    enum { MAX_INPUT_LENGTH = 1024 };

    explicit CKorvexInputDlg(CKorvexDialog* parent);
    // Caption and question as the window shows them (the caption is a program
    // text); the value is the script's 8-bit text. The last two arguments
    // are accepted for the section's sake and unused.
    void SetTexts(const std::wstring& caption, const std::wstring& question, const std::string& value,
                  const std::string& = std::string(), const std::string& = std::string());
    const std::string& GetValue() const { return m_strValue; }
    // Shows the dialog owned by the parent given at construction.
    INT_PTR DoModalOverParent();

protected:
    BOOL OnInitDialog() override;
    void OnCommand(WORD id, WORD code) override;

private:
    CKorvexDialog* m_pParent;
    std::wstring m_strCaption;
    std::wstring m_strQuestion;
    std::string m_strValue;
    UINT m_nMaxLength;
};

// Licence agreement: Next only once the terms are accepted.
class CKorvexAgreementDlg : public CKorvexDialog {
public:
    CKorvexAgreementDlg() : CKorvexDialog(IDD_KORVEX_AGREEMENT), m_strLicenseTitle("(empty)"), m_bAccepted(FALSE) {}
    void SetLicense(const std::string& text) { m_strLicense = text; }
    void SetLicenseTitle(const std::string& text) { m_strLicenseTitle = text; }
    // "&" shows as an underline in a static; "&&" shows one "&".
    static std::string DoubleAmpersands(const std::string& text);

protected:
    BOOL OnInitDialog() override;
    void OnCommand(WORD id, WORD code) override;
    bool PreTranslateMessage(MSG& msg) override;
    bool WantsPreTranslate() const override { return true; }

private:
    void SetAccepted(BOOL accepted, bool focusRadio);
    void OnNext();
    std::string m_strLicense;
    std::string m_strLicenseTitle;
    BOOL m_bAccepted;
};
