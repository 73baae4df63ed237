// The folder picker and the check that makes its folder exist.
#include "app/PathDialog.h"

#include <commctrl.h>
#include <objbase.h>

#include <vector>

#include "app/StringTable.h"

namespace {

bool IsFolderW(const std::wstring& path)
{
    DWORD a = ::GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsValidName(const std::wstring& name)
{
    if (name.empty())
        return false;
    auto edge = [](wchar_t c) { return c == L'\t' || c == L' ' || c == L'.'; };
    if (edge(name.front()) || edge(name.back()))
        return false;
    return name.find_first_of(L"\"*/:<>?\\|") == std::wstring::npos;
}

// One of the folder texts with the path in place of its "%s". The texts are
// the program's own, but the path is not put through a format.
std::wstring WithPath(UINT id, const std::wstring& path)
{
    std::wstring text = LoadResStringW(id);
    size_t at = text.find(L"%s");
    if (at != std::wstring::npos)
        text.replace(at, 2, path);
    return text;
}

// The path as the rest of the run will use it: in the ANSI code page, and
// only when every character has its own there, so that the folder made here
// is the one later steps name.
bool ToAnsiExactly(const std::wstring& path, std::string& out)
{
    out.clear();
    if (path.empty())
        return true;
    BOOL lossy = FALSE;
    int n = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.data(), static_cast<int>(path.size()), nullptr, 0,
                                  nullptr, &lossy);
    if (n <= 0 || lossy)
        return false;
    out.assign(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.data(), static_cast<int>(path.size()), &out[0], n,
                          nullptr, &lossy);
    return !lossy;
}

std::wstring WindowTextOf(HWND hwnd, int limit)
{
    std::vector<wchar_t> buf(static_cast<size_t>(limit) + 1, L'\0');
    int n = ::GetWindowTextW(hwnd, buf.data(), limit + 1);
    return std::wstring(buf.data(), static_cast<size_t>(n > 0 ? n : 0));
}

}  // namespace

// The path is checked as UTF-16: in a double-byte code page the second byte
// of a character can be a backslash or a vertical bar.
bool IsValidFolderPath(const std::wstring& path)
{
    if (path.size() < 3)
        return false;
    const wchar_t d = path[0];
    if (!((d >= L'A' && d <= L'Z') || (d >= L'a' && d <= L'z')) || path[1] != L':' || path[2] != L'\\')
        return false;
    if (path.size() == 3)
        return true;
    size_t from = 3;
    for (;;) {
        size_t bs = path.find(L'\\', from);
        if (!IsValidName(path.substr(from, bs == std::wstring::npos ? std::wstring::npos : bs - from)))
            return false;
        if (bs == std::wstring::npos)
            return true;
        from = bs + 1;
    }
}

int MakeSureFolderExists(HWND owner, const std::wstring& caption, const std::wstring& path)
{
    std::string ansi;
    int error = 0;
    if (!IsValidFolderPath(path) || !ToAnsiExactly(path, ansi)) {
        error = 1;
    } else if (IsFolderW(path)) {
        return 0;
    } else {
        if (::MessageBoxW(owner, WithPath(IDS_FOLDER_CREATE_ASK, path).c_str(), caption.c_str(),
                          MB_YESNO | MB_ICONQUESTION) != IDYES)
            return -1;
        // Level by level from the drive root down; a level that is not there
        // after its creation (a file of that name, no rights) stops it.
        for (size_t bs = path.find(L'\\', 3);; bs = path.find(L'\\', bs + 1)) {
            std::wstring level = path.substr(0, bs);
            if (!IsFolderW(level))
                ::CreateDirectoryW(level.c_str(), nullptr);
            if (!IsFolderW(level)) {
                error = 2;
                break;
            }
            if (bs == std::wstring::npos)
                break;
        }
        if (error == 0)
            return 0;
    }
    ::MessageBoxW(owner, WithPath(error == 1 ? IDS_FOLDER_INVALID : IDS_FOLDER_CREATE_FAILED, path).c_str(),
                  caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
    return -1;
}

// ---------------------------------------------------------------- CPathDialogSub

bool CPathDialogSub::Attach(HWND browser)
{
    if (!::SetWindowSubclass(browser, SubclassProc, 1, reinterpret_cast<DWORD_PTR>(this)))
        return false;
    m_hWnd = browser;
    return true;
}

LRESULT CALLBACK CPathDialogSub::SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                              DWORD_PTR data)
{
    CPathDialogSub* self = reinterpret_cast<CPathDialogSub*>(data);
    switch (msg) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            // The browser's own OK would hand back its tree's selection; the
            // folder is what the edit box says, and only once it exists.
            if (self->m_pOwner->OnOK())
                return ::DefSubclassProc(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            return 0;
        }
        if (LOWORD(wParam) == IDC_PATH_EDIT && HIWORD(wParam) == EN_CHANGE) {
            ::EnableWindow(::GetDlgItem(hwnd, IDOK), ::GetWindowTextLengthW(reinterpret_cast<HWND>(lParam)) > 0);
            return 0;
        }
        break;
    case WM_NCDESTROY:
        ::RemoveWindowSubclass(hwnd, SubclassProc, 1);
        self->m_hWnd = nullptr;
        break;
    default:
        break;
    }
    return ::DefSubclassProc(hwnd, msg, wParam, lParam);
}

// ---------------------------------------------------------------- CPathDialog

CPathDialog::CPathDialog(const std::wstring& caption, const std::wstring& prompt, const std::wstring& initial,
                         HWND owner)
    : m_strCaption(caption), m_strPrompt(prompt), m_strInitial(initial), m_hOwner(owner), m_hEdit(nullptr),
      m_bAccepted(FALSE), m_sub(this)
{
}

int CPathDialog::DoModal()
{
    m_bAccepted = FALSE;
    m_strPath.clear();
    // The browser is a shell object: the thread that shows it (the worker,
    // in a run) needs its own apartment.
    HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    BROWSEINFOW bi = {};
    bi.hwndOwner = m_hOwner;
    bi.lpszTitle = m_strPrompt.c_str();
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN | BIF_STATUSTEXT;
    bi.lpfn = BrowseCallback;
    bi.lParam = reinterpret_cast<LPARAM>(this);
    LPITEMIDLIST pidl = ::SHBrowseForFolderW(&bi);
    if (pidl)
        ::CoTaskMemFree(pidl);

    if (SUCCEEDED(com))
        ::CoUninitialize();
    m_hEdit = nullptr;
    return m_bAccepted ? 1 : -1;
}

int CALLBACK CPathDialog::BrowseCallback(HWND hwnd, UINT msg, LPARAM lParam, LPARAM data)
{
    CPathDialog* self = reinterpret_cast<CPathDialog*>(data);
    if (msg == BFFM_INITIALIZED)
        self->OnInitialized(hwnd);
    else if (msg == BFFM_SELCHANGED)
        self->OnSelChanged(hwnd, reinterpret_cast<LPCITEMIDLIST>(lParam));
    return 0;
}

void CPathDialog::OnInitialized(HWND browser)
{
    if (!m_strCaption.empty())
        ::SetWindowTextW(browser, m_strCaption.c_str());
    m_sub.Attach(browser);
    if (HWND status = ::GetDlgItem(browser, IDC_BROWSER_STATUS))
        ::ShowWindow(status, SW_HIDE);

    // The strip from 27 to 4 pixels above the tree, where the hidden status
    // text was, as wide as the tree.
    HWND tree = ::GetDlgItem(browser, IDC_BROWSER_TREE);
    if (!tree)
        tree = ::FindWindowExW(browser, nullptr, WC_TREEVIEWW, nullptr);
    RECT r = {0, 27, 0, 27};
    if (tree) {
        ::GetWindowRect(tree, &r);
        ::MapWindowPoints(nullptr, browser, reinterpret_cast<POINT*>(&r), 2);
    }
    m_hEdit = ::CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                                WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, r.left, r.top - 27,
                                r.right - r.left, 23, browser, reinterpret_cast<HMENU>(IDC_PATH_EDIT),
                                ::GetModuleHandleW(nullptr), nullptr);
    if (m_hEdit) {
        ::SendMessageW(m_hEdit, WM_SETFONT, ::SendMessageW(browser, WM_GETFONT, 0, 0), FALSE);
        ::SendMessageW(m_hEdit, EM_LIMITTEXT, KORVEX_PICKED_PATH_MAX, 0);
    }

    std::wstring start = m_strInitial;
    if (start.empty()) {
        wchar_t cwd[MAX_PATH + 1] = {0};
        DWORD n = ::GetCurrentDirectoryW(MAX_PATH + 1, cwd);
        if (n > 0 && n <= MAX_PATH)
            start = cwd;
    }
    ::SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(start.c_str()));
    // A default folder that does not exist yet can't be selected in the
    // tree; it still stands in the box, ready to be made.
    if (m_hEdit)
        ::SetWindowTextW(m_hEdit, start.c_str());
}

void CPathDialog::OnSelChanged(HWND browser, LPCITEMIDLIST pidl)
{
    wchar_t buf[MAX_PATH + 1] = {0};
    std::wstring path;
    if (pidl && ::SHGetPathFromIDListW(pidl, buf) && buf[0] && buf[1] == L':')
        path = buf;
    ::SendMessageW(browser, BFFM_ENABLEOK, 0, path.empty() ? FALSE : TRUE);
    ::SendMessageW(browser, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(path.c_str()));
    if (m_hEdit)
        ::SetWindowTextW(m_hEdit, path.c_str());
}

bool CPathDialog::OnOK()
{
    HWND browser = m_sub.GetSafeHwnd();
    std::wstring path = m_hEdit ? WindowTextOf(m_hEdit, KORVEX_PICKED_PATH_MAX) : std::wstring();
    std::wstring caption = m_strCaption.empty() ? LoadResStringW(IDS_CAPTION) : m_strCaption;
    std::string ansi;
    if (MakeSureFolderExists(browser, caption, path) != 0 || !ToAnsiExactly(path, ansi)) {
        if (m_hEdit)
            ::SetFocus(m_hEdit);
        return false;
    }
    m_strPath = ansi;
    m_bAccepted = TRUE;
    return true;
}
