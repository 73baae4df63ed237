// The silent and dialog callbacks, the message box and the string table.
#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "app/KorvexApp.h"
#include "app/StringTable.h"
#include "app/UICallback.h"

namespace {

// Sets the application's run kind and main window for one test.
class AppState {
public:
    AppState(int silent, HWND wnd) : m_silent(GetKorvexApp()->m_bSilent), m_wnd(GetKorvexApp()->m_hMainWnd)
    {
        GetKorvexApp()->m_bSilent = silent;
        GetKorvexApp()->m_hMainWnd = wnd;
    }
    ~AppState()
    {
        GetKorvexApp()->m_bSilent = m_silent;
        GetKorvexApp()->m_hMainWnd = m_wnd;
    }

private:
    int m_silent;
    HWND m_wnd;
};

HWND MakeWindow() { return ::CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr); }

struct BoxCall {
    std::string text;
    UINT type = 0;
    int result = -1;
    DWORD threadId = 0;
    HWND owner = nullptr;
};

// The box is shown on a thread of its own that also owns the main window,
// so this thread is free to find it, read it and press a button.
DWORD WINAPI ShowOnThread(LPVOID p)
{
    BoxCall* call = static_cast<BoxCall*>(p);
    call->owner = MakeWindow();
    {
        AppState state(0, call->owner);
        CUICallback cb("C:\\kvtests\\unused.log");
        call->result = cb.ShowMessage(call->text, call->type);
    }
    ::DestroyWindow(call->owner);
    return 0;
}

struct FoundBox {
    HWND box = nullptr;
};

BOOL CALLBACK FindDialog(HWND w, LPARAM p)
{
    wchar_t cls[64] = {0};
    ::GetClassNameW(w, cls, 64);
    if (std::wstring(cls) == L"#32770") {
        reinterpret_cast<FoundBox*>(p)->box = w;
        return FALSE;
    }
    return TRUE;
}

std::wstring WindowText(HWND w)
{
    wchar_t buf[1024] = {0};
    ::GetWindowTextW(w, buf, 1024);
    return buf;
}

// Runs ShowMessage on its own thread and, as soon as the box is up, records
// its caption, text and owner and presses `button`.
struct BoxSeen {
    bool shown = false;
    std::wstring caption, text;
    HWND owner = nullptr;
    int result = -1;
};

BoxSeen ShowAndPress(const std::string& text, UINT type, int button)
{
    BoxSeen seen;
    BoxCall call;
    call.text = text;
    call.type = type;
    HANDLE t = ::CreateThread(nullptr, 0, ShowOnThread, &call, 0, &call.threadId);
    if (!t)
        return seen;
    for (int i = 0; i < 200; ++i) {
        FoundBox found;
        ::EnumThreadWindows(call.threadId, FindDialog, reinterpret_cast<LPARAM>(&found));
        if (found.box && ::IsWindowVisible(found.box)) {
            seen.shown = true;
            seen.caption = WindowText(found.box);
            // The message text is the static control with id 0xFFFF.
            seen.text = WindowText(::GetDlgItem(found.box, 0xFFFF));
            seen.owner = ::GetWindow(found.box, GW_OWNER);
            ::PostMessageW(found.box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
            break;
        }
        if (::WaitForSingleObject(t, 50) == WAIT_OBJECT_0)
            break;
    }
    if (::WaitForSingleObject(t, 10000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "ShowMessage did not return";
        ::TerminateThread(t, 1);
    }
    ::CloseHandle(t);
    seen.result = call.result;
    if (seen.shown && seen.owner != call.owner)
        seen.owner = nullptr;
    return seen;
}

}  // namespace

TEST(NewlineMarks, EveryMarkBecomesCrLf)
{
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"", ""},
        {"no marks", "no marks"},
        {"one__NEWLINE__two", "one\r\ntwo"},
        {"__NEWLINE__", "\r\n"},
        {"a__NEWLINE____NEWLINE__b", "a\r\n\r\nb"},
        {"__NEWLINE__x__NEWLINE__", "\r\nx\r\n"},
        // Incomplete or differently cased marks stay as they are.
        {"a__NEWLINE_b", "a__NEWLINE_b"},
        {"a__newline__b", "a__newline__b"},
        // Underscores around a mark are not eaten by it.
        {"___NEWLINE___", "_\r\n_"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReplaceNewlineMarks(c.in), c.out) << c.in;
}

TEST(ShowMessage, NothingIsShownInASilentRunOrWithoutMainWindow)
{
    HWND w = MakeWindow();
    ASSERT_NE(w, nullptr);
    CUICallback ui("C:\\kvtests\\unused.log");
    CSilentCallback silent("C:\\kvtests\\unused.log");
    {
        // A silent run answers 0 even when a window would be there to own
        // the box: a Yes/No question counts as not answered Yes.
        AppState state(1, w);
        EXPECT_EQ(ui.ShowMessage("Retry?", MB_YESNO | MB_ICONQUESTION), 0);
        EXPECT_EQ(silent.ShowMessage("Retry?", MB_YESNO), 0);
    }
    {
        AppState state(0, nullptr);
        EXPECT_EQ(ui.ShowMessage("Retry?", MB_YESNO), 0);
    }
    ::DestroyWindow(w);
}

TEST(ShowMessage, BoxOwnedByTheMainWindowWithCaptionAndLineBreaks)
{
    BoxSeen seen = ShowAndPress("first__NEWLINE__second", MB_YESNO | MB_ICONQUESTION, IDNO);
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.caption, LoadResStringW(IDS_CAPTION));
    EXPECT_EQ(seen.caption, L"Halvern\x5b89\x88c5\x8f6f\x4ef6\x5305");
    EXPECT_EQ(seen.text, L"first\r\nsecond");
    EXPECT_NE(seen.owner, nullptr) << "box not owned by the main window";
    EXPECT_EQ(seen.result, IDNO);

    BoxSeen ok = ShowAndPress("done", MB_OK, IDOK);
    ASSERT_TRUE(ok.shown);
    EXPECT_EQ(ok.result, IDOK);
}

TEST(UICallback, TaskAndDetailTextsCarryTheRestorePrefixOnlyForRollback)
{
    kvtest::TempDir dir("shcb");
    std::string f = dir / "k.log";
    CUICallback cb(f);
    EXPECT_GE(cb.GetDetailText().capacity(), 10240u);

    const std::string restore = LoadResString(IDS_RESTORE_PREFIX);
    ASSERT_FALSE(restore.empty());
    EXPECT_EQ(LoadResStringW(IDS_RESTORE_PREFIX), L"\x8fd8\x539f:");

    EXPECT_EQ(cb.SetTaskText("Copy files", 0), 0);
    EXPECT_EQ(cb.SetTaskText("Copy files", 1), 0);
    EXPECT_EQ(cb.AppendDetail("copied a\r\n", 0), 0);
    EXPECT_EQ(cb.AppendDetail("restored a\r\n", 1), 0);
    // Only exactly 1 marks a rollback.
    EXPECT_EQ(cb.AppendDetail("other\r\n", 2), 0);

    EXPECT_EQ(cb.GetDetailText(), "copied a\r\n" + restore + "restored a\r\nother\r\n");
    // Each text went to the log as one line; the detail lines' own CR LF
    // come out as CR CR LF, then the line's newline.
    EXPECT_EQ(kvtest::ReadFileOr(f), "Copy files\r\n" + restore + "Copy files\r\ncopied a\r\r\n\r\n" + restore +
                                         "restored a\r\r\n\r\nother\r\r\n\r\n");
}

TEST(SilentCallback, OnlyTheLogIsWritten)
{
    kvtest::TempDir dir("shcb");
    std::string f = dir / "k.log";
    CSilentCallback cb(f);
    EXPECT_EQ(cb.SetProgress(1, 2), 0);
    EXPECT_EQ(cb.SetTaskText("task", 1), 0);
    EXPECT_EQ(cb.AppendDetail("detail\r\n", 0), 0);
    EXPECT_EQ(cb.SetDescription("d"), 0);
    EXPECT_EQ(cb.SetReadme("r"), 0);
    EXPECT_EQ(cb.SetLicense("l"), 0);
    EXPECT_EQ(cb.SetLicenseTitle("t"), 0);
    EXPECT_FALSE(kvtest::Exists(f));
    EXPECT_EQ(cb.WriteLog("only this"), 0);
    EXPECT_EQ(kvtest::ReadFileOr(f), "only this\r\n");
}

TEST(StringTable, AllTwentyTextsArePresent)
{
    for (UINT id = 1; id <= 20; ++id)
        EXPECT_FALSE(LoadResStringW(id).empty()) << id;
    EXPECT_TRUE(LoadResStringW(21).empty());
    EXPECT_EQ(LoadResStringW(IDS_INSTALL_FAILED), L"\x5b89\x88c5\x5931\x8d25\xff01");
    EXPECT_EQ(LoadResStringW(IDS_PATCH), L"Patch");
    // The folder texts are formats with one path between two line breaks.
    std::wstring ask = LoadResStringW(IDS_FOLDER_CREATE_ASK);
    EXPECT_EQ(ask.substr(0, 6), L"\x6587\x4ef6\x5939:\n%");
}
