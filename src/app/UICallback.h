#pragma once
// The two callbacks of the application: a silent one and one that drives the
// dialogs. Both write the log the same way.
#include <windows.h>
#include <string>

#include <mutex>

#include "interpreter/UICallback.h"
#include "util/WinHandles.h"

// One log line: open for appending in text mode (shared for reading and
// writing), write, newline, flush, close. 0, or -1 when the file can't be
// opened. Writes nothing and returns 0 with /M.
int KorvexWriteLogLine(const std::string& logPath, const std::string& text);

// Message-box text: every "__NEWLINE__" becomes CR LF.
std::string ReplaceNewlineMarks(const std::string& text);
std::wstring ReplaceNewlineMarks(const std::wstring& text);

// What both callbacks share: the log file. Everything that shows or asks
// does nothing here and answers 0, which is what a silent run needs.
class CKorvexCallback : public CHFS_UICallback {
public:
    explicit CKorvexCallback(const std::string& logPath) : m_strLogPath(logPath) {}
    int SetProgress(int position, int range) override;
    int SetTaskText(const std::string& text, int rollback) override;
    int AppendDetail(const std::string& text, int rollback) override;
    int SetDescription(const std::string& text) override;
    int SetReadme(const std::string& text) override;
    int SetLicense(const std::string& text) override;
    int SetLicenseTitle(const std::string& text) override;
    int WriteLog(const std::string& text) override;
    int ShowMessage(const std::string& text, UINT type) override;
    void HoldLog(bool hold) override;
    const std::string& GetLogPath() const { return m_strLogPath; }

protected:
    std::string m_strLogPath;

private:
    // The log as it is kept open while held; the worker thread and the main
    // thread may both write lines.
    std::mutex m_logLock;
    int m_nLogHolds = 0;
    CHandle m_heldLog;
};

// Silent run: only the log is written; every other request answers 0.
class CSilentCallback : public CKorvexCallback {
public:
    using CKorvexCallback::CKorvexCallback;
};

// Dialog-driven run: drives the progress, welcome and agreement dialogs.
class CUICallback : public CKorvexCallback {
public:
    explicit CUICallback(const std::string& logPath);
    int SetProgress(int position, int range) override;
    int SetTaskText(const std::string& text, int rollback) override;
    int AppendDetail(const std::string& text, int rollback) override;
    int SetDescription(const std::string& text) override;
    int SetReadme(const std::string& text) override;
    int SetLicense(const std::string& text) override;
    int SetLicenseTitle(const std::string& text) override;
    int ShowMessage(const std::string& text, UINT type) override;
    bool HasMainWindow() override;
    // Every text reaches the windows through these; the 8-bit operations
    // above widen their script texts through the ANSI code page first.
    int SetTaskTextW(const CHFS_UIText& text, int rollback) override;
    int AppendDetailW(const CHFS_UIText& text, int rollback) override;
    int ShowMessageW(const CHFS_UIText& text, UINT type) override;
    // The folder picker owned by the progress dialog and the application's
    // input dialog, shown from the worker; nothing is asked (0) while the
    // progress dialog is not up.
    int AskFolder(const CHFS_UIText& caption, const std::string& prompt, const std::string& initial,
                  std::string& answer) override;
    int AskText(const CHFS_UIText& caption, const std::string& prompt, const std::string& initial, int min, int max,
                std::string& answer) override;
    const std::string& GetDetailText() const { return m_strDetail; }
    // What the detail box shows: the same lines, program texts unnarrowed.
    const std::wstring& GetDetailShown() const { return m_strDetailShown; }
    // The texts handed over before the dialogs open; the welcome and
    // agreement dialogs take them from here when they initialise.
    const std::string& GetDescription() const { return m_strDescription; }
    const std::string& GetReadme() const { return m_strReadme; }
    const std::string& GetLicense() const { return m_strLicense; }
    const std::string& GetLicenseTitle() const { return m_strLicenseTitle; }

protected:
    // The rollback prefix in front of a task or detail text when asked for.
    static CHFS_UIText WithRollbackPrefix(const CHFS_UIText& text, int rollback);

    std::string m_strDetail;
    std::wstring m_strDetailShown;
    std::string m_strDescription;
    std::string m_strReadme;
    std::string m_strLicense;
    std::string m_strLicenseTitle;
};
