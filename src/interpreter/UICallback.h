#pragma once
// Everything the interpreter shows, asks or logs goes through one of these;
// the program that hosts the interpreter provides it (a silent one and a
// dialog-driven one).
#include <windows.h>
#include <string>

// A text on its way to a window that may hold the program's own texts.
// Script texts are 8-bit in the ANSI code page and are shown through it, as
// any 8-bit text on Windows is. The program's texts are UTF-16 in its
// resources, and a Western code page holds none of their characters: had
// they been narrowed first, a window would show question marks. So a text
// made of both keeps both forms side by side as it is put together: Shown()
// is what a window gets, Logged() the 8-bit line for the log, which stays
// 8-bit like everything else the interpreter writes.
class CHFS_UIText {
public:
    CHFS_UIText() {}
    // A script text (ANSI code page).
    explicit CHFS_UIText(const std::string& scriptText);
    // One of the program's own texts (UTF-16 from the host).
    static CHFS_UIText Program(const std::wstring& text);

    CHFS_UIText& operator+=(const CHFS_UIText& more);
    CHFS_UIText& operator+=(const std::string& scriptText) { return *this += CHFS_UIText(scriptText); }

    const std::wstring& Shown() const { return m_strShown; }
    const std::string& Logged() const { return m_strLogged; }
    bool empty() const { return m_strLogged.empty() && m_strShown.empty(); }

private:
    std::wstring m_strShown;
    std::string m_strLogged;
};

inline CHFS_UIText operator+(CHFS_UIText a, const CHFS_UIText& b) { return a += b; }
inline CHFS_UIText operator+(CHFS_UIText a, const std::string& b) { return a += b; }
inline CHFS_UIText operator+(const std::string& a, const CHFS_UIText& b) { return CHFS_UIText(a) += b; }

class CHFS_UICallback {
public:
    // Slot order is part of the design: keep it.
    virtual int SetProgress(int position, int range) = 0;
    virtual int SetTaskText(const std::string& text, int rollback) = 0;
    virtual int AppendDetail(const std::string& text, int rollback) = 0;
    virtual int SetDescription(const std::string& text) = 0;
    virtual int SetReadme(const std::string& text) = 0;
    virtual int SetLicense(const std::string& text) = 0;
    virtual int SetLicenseTitle(const std::string& text) = 0;
    virtual int WriteLog(const std::string& text) = 0;
    virtual int ShowMessage(const std::string& text, UINT type) = 0;

    // Whether the host has a main window a person looks at (a dialog-driven
    // run once its first dialog is up); the trace window is shown only then.
    virtual bool HasMainWindow() { return false; }

    // While held (the calls nest), the host may keep its log open between
    // WriteLog calls: a run of many small steps (the files of a copy group)
    // would otherwise open and close the log for every line, which costs the
    // platform more than the copy of a small file. Lines are written as
    // they come either way.
    virtual void HoldLog(bool /*hold*/) {}

    // The task line, the detail box and the message box for texts that hold
    // program texts (see CHFS_UIText). The nine operations above stay what
    // they were for 8-bit script texts; a host without windows needs nothing
    // but the 8-bit form, which is what these hand on unless overridden.
    virtual int SetTaskTextW(const CHFS_UIText& text, int rollback) { return SetTaskText(text.Logged(), rollback); }
    virtual int AppendDetailW(const CHFS_UIText& text, int rollback) { return AppendDetail(text.Logged(), rollback); }
    virtual int ShowMessageW(const CHFS_UIText& text, UINT type) { return ShowMessage(text.Logged(), type); }

    // The user-input section's two questions, shown modally; the caller waits
    // for the answer. 1: answered with OK, the answer is set; 0: nothing was
    // asked (the default: a host nobody looks at); -1: cancelled.
    // Ask for a folder, which exists once the answer is 1.
    virtual int AskFolder(const CHFS_UIText& /*caption*/, const std::string& /*prompt*/,
                          const std::string& /*initial*/, std::string& /*answer*/)
    {
        return 0;
    }
    // Ask for a line of text; the bounds are handed on, not enforced.
    virtual int AskText(const CHFS_UIText& /*caption*/, const std::string& /*prompt*/, const std::string& /*initial*/,
                        int /*min*/, int /*max*/, std::string& /*answer*/)
    {
        return 0;
    }
    virtual ~CHFS_UICallback() {}
};
