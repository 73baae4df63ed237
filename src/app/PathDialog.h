#pragma once
// The folder picker of the user-input section: the system's folder browser
// with an edit box of its own, and the check that makes the chosen folder
// exist before the browser may close.
#include <windows.h>
#include <shlobj.h>
#include <string>

enum {
    IDC_PATH_EDIT = 14148,        // our edit box in the browser
    IDC_BROWSER_TREE = 0x3741,    // the browser's folder tree
    IDC_BROWSER_STATUS = 0x3743   // the browser's status text
};

// The longest path the picker hands out (characters, without the end mark).
const int KORVEX_PICKED_PATH_MAX = MAX_PATH;

// A folder path the picker accepts: drive letter, ":" and "\" first, every
// component a valid name; a trailing "\" only on the bare drive root.
bool IsValidFolderPath(const std::wstring& path);

// Makes sure the folder exists, asking once before creating what is missing
// (message boxes owned by owner, under caption). 0: the folder exists now;
// -1: it does not (invalid, not created, or the user said No), and the user
// has been told why unless he said No himself.
int MakeSureFolderExists(HWND owner, const std::wstring& caption, const std::wstring& path);

class CPathDialog;

// Subclasses the browser window: OK goes through the folder check first, and
// typing in the edit box decides whether OK is enabled.
class CPathDialogSub {
public:
    explicit CPathDialogSub(CPathDialog* owner) : m_pOwner(owner), m_hWnd(nullptr) {}
    bool Attach(HWND browser);
    HWND GetSafeHwnd() const { return m_hWnd; }

private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR data);
    CPathDialog* m_pOwner;
    HWND m_hWnd;
};

class CPathDialog {
public:
    // UTF-16 texts: the caption is a program text, the others come from
    // the script through the ANSI code page.
    CPathDialog(const std::wstring& caption, const std::wstring& prompt, const std::wstring& initial, HWND owner);
    // Shows the browser modally: 1 when a folder was accepted, otherwise -1.
    int DoModal();
    // The accepted folder in the ANSI code page (empty when none).
    const std::string& GetPathName() const { return m_strPath; }

private:
    friend class CPathDialogSub;
    static int CALLBACK BrowseCallback(HWND hwnd, UINT msg, LPARAM lParam, LPARAM data);
    void OnInitialized(HWND browser);
    void OnSelChanged(HWND browser, LPCITEMIDLIST pidl);
    // True when the typed folder exists (or was made) and was taken.
    bool OnOK();

    std::wstring m_strCaption;
    std::wstring m_strPrompt;
    std::wstring m_strInitial;
    HWND m_hOwner;
    HWND m_hEdit;
    std::string m_strPath;
    BOOL m_bAccepted;
    CPathDialogSub m_sub;
};
