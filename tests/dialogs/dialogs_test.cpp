// The dialog-driven run of the real program, driven from outside the way a
// user would: find its dialogs by process, press buttons and keys, read the
// controls, the log and the traces the run leaves.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "Snapshot.h"
#include "TestSupport.h"

namespace {

const char kLogPath[] = "C:\\Korvex.log";
const char kKorvexKey[] = "SOFTWARE\\Norlane\\Korvex";
const char kUninstallRoot[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const DWORD kWaitMs = 20000;

std::string TempLogPath()
{
    char buf[MAX_PATH + 1] = {0};
    ::GetTempPathA(MAX_PATH, buf);
    return std::string(buf) + "Korvex.log";
}

std::string LogText()
{
    std::string text;
    if (kvtest::ReadFileBytes(kLogPath, text))
        return text;
    return kvtest::ReadFileOr(TempLogPath());
}

std::string Ran(const std::string& section) { return "@@@ Session name ['" + section + "'] return code = 0"; }

bool Poll(const std::function<bool()>& done, DWORD timeoutMs = kWaitMs)
{
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (done())
            return true;
        if (::GetTickCount() - start > timeoutMs)
            return false;
        ::Sleep(50);
    }
}

// Asked of the window itself: another process's edit control keeps its text
// where GetWindowText does not look.
std::wstring TextOf(HWND hwnd)
{
    wchar_t buf[4096] = {0};
    ::SendMessageW(hwnd, WM_GETTEXT, 4095, reinterpret_cast<LPARAM>(buf));
    return buf;
}

std::wstring ItemText(HWND dlg, int id) { return TextOf(::GetDlgItem(dlg, id)); }

std::string U8(const std::wstring& w)
{
    int n = ::WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

// What the inspection helper reads of a process's windows: each window's
// and control's text as UTF-16 from the window itself, handed over as UTF-8.
struct Seen {
    HWND hwnd = nullptr;
    HWND parent = nullptr;
    int id = 0;
    bool visible = false;
    bool enabled = false;
    std::string cls;
    std::string text;
};

class CWindows {
public:
    explicit CWindows(DWORD pid)
    {
        kvtest::ProcessResult r =
            kvtest::RunProcess("\"" + kvtest::FixtureDir() + "\\kvinspect.exe\" windows " + std::to_string(pid),
                               std::string(), 30000);
        m_raw = r.output;
        std::istringstream in(r.output);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            std::istringstream f(line);
            std::string hwnd, parent, id;
            Seen w;
            f >> hwnd >> parent >> id >> w.visible >> w.enabled >> w.cls;
            if (!f)
                continue;
            w.hwnd = reinterpret_cast<HWND>(static_cast<UINT_PTR>(std::strtoull(hwnd.c_str(), nullptr, 16)));
            w.parent = reinterpret_cast<HWND>(static_cast<UINT_PTR>(std::strtoull(parent.c_str(), nullptr, 16)));
            w.id = static_cast<int>(std::strtol(id.c_str(), nullptr, 16));
            std::string rest;
            std::getline(f, rest);
            if (!rest.empty() && rest[0] == ' ')
                rest.erase(0, 1);
            for (size_t i = 0; i < rest.size(); ++i) {
                if (rest[i] == '\\' && i + 1 < rest.size()) {
                    char c = rest[++i];
                    w.text += c == 'r' ? '\r' : c == 'n' ? '\n' : c;
                } else {
                    w.text += rest[i];
                }
            }
            m_seen.push_back(w);
        }
    }
    // The text of a window, or of control id of that dialog ("?" unseen).
    std::string Text(HWND hwnd, int id = -1) const
    {
        for (const Seen& w : m_seen)
            if ((id < 0 && w.hwnd == hwnd) || (id >= 0 && w.parent == hwnd && w.id == id))
                return w.text;
        return "?";
    }
    const std::string& Raw() const { return m_raw; }

private:
    std::vector<Seen> m_seen;
    std::string m_raw;
};

// Pictures of what the user sees, kept with the test results.
void Screenshot(HWND hwnd, const std::string& name)
{
    const char* dir = std::getenv("KORVEX_ARTIFACT_DIR");
    if (!dir || !*dir)
        return;
    ::Sleep(300);  // the last repaint
    kvtest::CreateTree(dir);
    char handle[32];
    std::snprintf(handle, sizeof handle, "%llx", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(hwnd)));
    kvtest::ProcessResult r = kvtest::RunProcess(
        "\"" + kvtest::FixtureDir() + "\\kvinspect.exe\" shot " + handle + " \"" + dir + "\\" + name + ".bmp\"",
        std::string(), 30000);
    EXPECT_EQ(r.exitCode, 0u) << "screenshot " << name;
}

// HKLM in the view the installer of this build uses for its own keys.
void WriteRegString(const std::string& key, const char* name, const std::string* value)
{
    if (value)
        kvtest::RegWriteString(HKEY_LOCAL_MACHINE, key, name, *value, kvtest::kProgramView);
    else
        kvtest::RegDeleteValueOf(HKEY_LOCAL_MACHINE, key, name, kvtest::kProgramView);
}

bool ReadRegString(const std::string& key, const char* name, std::string& value)
{
    return kvtest::RegReadString(HKEY_LOCAL_MACHINE, key, name, value, kvtest::kProgramView);
}

// Which of the program's dialogs a window is, told by its controls.
enum class Page { Agreement, Welcome, Progress, Message, Input, Browser };

std::wstring TextOf(HWND hwnd);

bool IsPage(HWND hwnd, Page page)
{
    switch (page) {
    case Page::Agreement:
        return ::GetDlgItem(hwnd, 1007) != nullptr;
    case Page::Welcome:
        return ::GetDlgItem(hwnd, 1001) && ::GetDlgItem(hwnd, 1000) && !::GetDlgItem(hwnd, 1007) &&
               !::GetDlgItem(hwnd, 1006);
    case Page::Progress:
        return ::GetDlgItem(hwnd, 1002) != nullptr;
    case Page::Message:
        return TextOf(hwnd) == L"Halvern安装软件包" && ::GetDlgItem(hwnd, 0xFFFF) != nullptr;
    case Page::Input:
        return ::GetDlgItem(hwnd, 1006) != nullptr;
    case Page::Browser:
        return ::GetDlgItem(hwnd, 14148) != nullptr;
    }
    return false;
}

// Korvex.exe started without waiting; killed at the end if still running.
class CKorvexProcess {
public:
    ~CKorvexProcess()
    {
        if (m_pi.hProcess) {
            if (::WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT) {
                ::TerminateProcess(m_pi.hProcess, 99);
                ::WaitForSingleObject(m_pi.hProcess, 5000);
            }
            ::CloseHandle(m_pi.hProcess);
            ::CloseHandle(m_pi.hThread);
        }
    }

    bool Start(const std::string& commandLine, const std::string& cwd)
    {
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        std::vector<char> cmd(commandLine.begin(), commandLine.end());
        cmd.push_back('\0');
        return ::CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, cwd.c_str(), &si, &m_pi) !=
               FALSE;
    }

    DWORD Pid() const { return m_pi.dwProcessId; }

    bool Exited(DWORD timeoutMs = kWaitMs) const
    {
        return m_pi.hProcess && ::WaitForSingleObject(m_pi.hProcess, timeoutMs) == WAIT_OBJECT_0;
    }

    // What a deployment system reads once the process has ended.
    int ExitCode() const
    {
        DWORD code = STILL_ACTIVE;
        ::GetExitCodeProcess(m_pi.hProcess, &code);
        return static_cast<int>(code);
    }

    // The visible top-level window of this process that is that page.
    HWND Visible(Page page) const
    {
        struct Search {
            DWORD pid;
            Page page;
            HWND found;
        } s = {m_pi.dwProcessId, page, nullptr};
        ::EnumWindows(
            [](HWND hwnd, LPARAM arg) CALLBACK -> BOOL {
                Search* s = reinterpret_cast<Search*>(arg);
                DWORD pid = 0;
                ::GetWindowThreadProcessId(hwnd, &pid);
                if (pid == s->pid && ::IsWindowVisible(hwnd) && IsPage(hwnd, s->page)) {
                    s->found = hwnd;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&s));
        return s.found;
    }

    HWND WaitFor(Page page) const
    {
        HWND hwnd = nullptr;
        Poll([&] { return (hwnd = Visible(page)) != nullptr || Exited(0); });
        return hwnd;
    }

private:
    PROCESS_INFORMATION m_pi = {};
};

void Press(HWND dlg, int id)
{
    ::PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dlg, id)));
}

void Key(HWND target, UINT vk, bool alt = false)
{
    LPARAM lParam = 1 | (alt ? (1 << 29) : 0);
    ::PostMessageW(target, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, vk, lParam);
}

bool Finished(HWND progress) { return ::IsWindowEnabled(::GetDlgItem(progress, IDOK)) != FALSE; }

class DialogRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        exe = pkg / "Korvex.exe";
        ASSERT_TRUE(::CopyFileA(kvtest::KorvexExe().c_str(), exe.c_str(), FALSE));
        m_hadDbPath = ReadRegString(kKorvexKey, "KorvexDBPath", m_dbPath);
        const std::string db = pkg / "db\\KorvexDB.ini";
        WriteRegString(kKorvexKey, "KorvexDBPath", &db);
        patchId = "KvDialogs-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++s_counter);
        ::DeleteFileA(kLogPath);
        ::DeleteFileA(TempLogPath().c_str());
    }

    void TearDown() override
    {
        kvtest::RegDeleteTree(HKEY_LOCAL_MACHINE, kUninstallRoot + patchId, kvtest::kProgramView);
        WriteRegString(kKorvexKey, "KorvexDBPath", m_hadDbPath ? &m_dbPath : nullptr);
        ::DeleteFileA(kLogPath);
        ::DeleteFileA(TempLogPath().c_str());
    }

    // Two steps that change symbols only, and a removal of one step.
    void Script(const std::string& secondStep = "ProductInstall.UpdateSymbols.SetB")
    {
        record = pkg / "rec\\record.ini";
        std::string text =
            "[PatchInformation]\r\nKorvexVersion=2.0\r\nPatchID=" + patchId +
            "\r\nProductName=Prod\r\nLanguage=EN\r\nProductVersion=1.0\r\nBuildNumber=100\r\nPlatform=x86\r\n"
            "PatchDescription=Dialog test patch\r\nTimeOutSecond=600\r\nUninstallString=" +
            (pkg / "files\\x.dat") + "\r\n[ProductInstall.Symbols]\r\nA=a0\r\nRecordFile=" + record + "\r\n"
            "[ProductInstall.UpdateSymbols.SetA]\r\nA=a1\r\n[ProductInstall.UpdateSymbols.SetB]\r\nA=a2\r\n"
            "[ProductRemove.UpdateSymbols.Empty]\r\n"
            "[ProductInstall.Main]\r\nMainDescription=Fix 42 for Prod\r\nWelcomeWindowTitle=Welcome to fix 42\r\n"
            "SetupWindowTitle=Installing fix 42\r\nLicenseTitle=Terms & Conditions\r\nInstallRecordFile=" +
            record + "\r\n"
            "StepCount=2\r\nStep1.Section=ProductInstall.UpdateSymbols.SetA\r\n"
            "Step2.Section=" + secondStep + "\r\n"
            "[ProductRemove.Main]\r\nStepCount=1\r\nStep1.Section=ProductRemove.UpdateSymbols.Empty\r\n";
        ASSERT_TRUE(kvtest::WriteFileBytes(pkg / "setup.ini", text));
    }

    bool Start(CKorvexProcess& p, const std::string& args = std::string())
    {
        return p.Start("\"" + exe + "\" " + args, pkg.Path());
    }

    // From the welcome page through the whole run to the closed progress
    // dialog; closeWithEnter picks Enter over the OK button.
    void RunFromWelcome(CKorvexProcess& p, HWND welcome, bool closeWithEnter, const std::wstring& doneText,
                        const std::string& shot = std::string())
    {
        Press(welcome, IDOK);
        HWND progress = p.WaitFor(Page::Progress);
        ASSERT_NE(progress, nullptr) << LogText();
        EXPECT_FALSE(::IsWindowVisible(welcome));
        ASSERT_TRUE(Poll([&] { return Finished(progress); })) << LogText();
        // The program's own texts arrive whole whatever the ANSI code page.
        CWindows seen(p.Pid());
        EXPECT_EQ(seen.Text(progress), "Installing fix 42") << seen.Raw();
        EXPECT_EQ(seen.Text(progress, 1003), U8(doneText)) << seen.Raw();
        EXPECT_NE(seen.Text(progress, 1004).find(U8(doneText)), std::string::npos) << seen.Raw();
        EXPECT_EQ(::SendDlgItemMessageW(progress, 1002, PBM_GETPOS, 0, 0), 100);
        if (!shot.empty())
            Screenshot(progress, shot);

        // Neither Escape nor Cancel ends the progress dialog, finished or not.
        Key(progress, VK_ESCAPE);
        Key(::GetDlgItem(progress, 1004), VK_ESCAPE);
        Press(progress, IDCANCEL);
        EXPECT_FALSE(p.Exited(500));
        EXPECT_TRUE(::IsWindowVisible(progress));

        if (closeWithEnter)
            Key(progress, VK_RETURN);
        else
            Press(progress, IDOK);
        EXPECT_TRUE(p.Exited()) << LogText();
        EXPECT_EQ(p.ExitCode(), 0);
    }

    kvtest::TempDir pkg{"dlg"};
    std::string exe;
    std::string patchId;
    std::string record;
    static int s_counter;

private:
    bool m_hadDbPath = false;
    std::string m_dbPath;
};

int DialogRun::s_counter = 0;

// The tests run once in a Chinese and once in a Western locale; in the
// Western one no program text could survive a trip through the code page.
TEST(DialogLocale, TheAnsiCodePageIsTheOneThisRunIsFor)
{
    const char* want = std::getenv("KORVEX_EXPECT_ACP");
    if (!want)
        GTEST_SKIP() << "run outside its CTest set-up";
    EXPECT_EQ(::GetACP(), static_cast<UINT>(std::atoi(want)));
}

TEST_F(DialogRun, WithoutLicenceTheWelcomePageLeadsToTheRun)
{
    Script();
    CKorvexProcess p;
    ASSERT_TRUE(Start(p));
    HWND welcome = p.WaitFor(Page::Welcome);
    ASSERT_NE(welcome, nullptr) << LogText();
    EXPECT_EQ(p.Visible(Page::Agreement), nullptr);
    CWindows seen(p.Pid());
    EXPECT_EQ(seen.Text(welcome), "Welcome to fix 42") << seen.Raw();
    EXPECT_EQ(seen.Text(welcome, 1001), "Fix 42 for Prod");
    EXPECT_EQ(seen.Text(welcome, IDOK), u8"安装");
    EXPECT_EQ(seen.Text(welcome, IDCANCEL), u8"取消");
    Screenshot(welcome, "welcome");
    // Nothing runs before the user asks for it.
    EXPECT_EQ(LogText().find(Ran("ProductInstall.UpdateSymbols.SetA")), std::string::npos);

    RunFromWelcome(p, welcome, false, L"安装成功！", "progress-success");
    const std::string log = LogText();
    size_t a = log.find(Ran("ProductInstall.UpdateSymbols.SetA"));
    size_t b = log.find(Ran("ProductInstall.UpdateSymbols.SetB"));
    ASSERT_NE(a, std::string::npos) << log;
    ASSERT_NE(b, std::string::npos) << log;
    EXPECT_LT(a, b);
    EXPECT_TRUE(kvtest::Exists(record));
}

// The worker asks its question in a message box owned by the progress
// dialog of the other thread; answering it lets the run roll back and end.
TEST_F(DialogRun, AFailedStepIsReportedInAMessageBoxOverTheProgressDialog)
{
    Script("ProductInstall.NoSuchKind.X");
    CKorvexProcess p;
    ASSERT_TRUE(Start(p));
    HWND welcome = p.WaitFor(Page::Welcome);
    ASSERT_NE(welcome, nullptr) << LogText();
    Press(welcome, IDOK);
    HWND progress = p.WaitFor(Page::Progress);
    ASSERT_NE(progress, nullptr) << LogText();
    HWND box = p.WaitFor(Page::Message);
    ASSERT_NE(box, nullptr) << LogText();
    EXPECT_EQ(::GetWindow(box, GW_OWNER), progress);
    EXPECT_EQ(CWindows(p.Pid()).Text(box, 0xFFFF), u8"安装失败！");
    EXPECT_FALSE(Finished(progress));
    // While the procedure runs, no key and no Cancel ends the progress dialog.
    Key(progress, VK_ESCAPE);
    Key(progress, VK_RETURN);
    Press(progress, IDCANCEL);
    EXPECT_FALSE(p.Exited(500));
    EXPECT_TRUE(::IsWindow(progress));
    Press(box, IDOK);
    ASSERT_TRUE(Poll([&] { return Finished(progress); })) << LogText();
    EXPECT_NE(CWindows(p.Pid()).Text(progress, 1004).find(u8"安装失败！"), std::string::npos);
    Press(progress, IDOK);
    EXPECT_TRUE(p.Exited()) << LogText();
    EXPECT_EQ(p.ExitCode(), 1603);
    EXPECT_FALSE(kvtest::Exists(record));
}

TEST_F(DialogRun, CancelOnTheWelcomePageRunsNothing)
{
    Script();
    CKorvexProcess p;
    ASSERT_TRUE(Start(p));
    HWND welcome = p.WaitFor(Page::Welcome);
    ASSERT_NE(welcome, nullptr) << LogText();
    Press(welcome, IDCANCEL);
    ASSERT_TRUE(p.Exited());
    EXPECT_EQ(LogText().find("@@@ Session name"), std::string::npos) << LogText();
    EXPECT_FALSE(kvtest::Exists(record));
    EXPECT_EQ(p.ExitCode(), 1602);
}

TEST_F(DialogRun, LicenceIsAgreedToWithAltAAndEnterBeforeTheWelcomePage)
{
    Script();
    ASSERT_TRUE(kvtest::WriteFileBytes(pkg / "license.txt", "Licence line one\r\nLicence line two"));
    CKorvexProcess p;
    ASSERT_TRUE(Start(p));
    HWND agreement = p.WaitFor(Page::Agreement);
    ASSERT_NE(agreement, nullptr) << LogText();
    EXPECT_EQ(p.Visible(Page::Welcome), nullptr);
    EXPECT_EQ(TextOf(agreement), L"Fix 42 for Prod");
    EXPECT_EQ(ItemText(agreement, 1001), L"Terms && Conditions");
    EXPECT_EQ(ItemText(agreement, 1000), L"Licence line one\r\nLicence line two");
    EXPECT_EQ(::IsDlgButtonChecked(agreement, 1009), static_cast<UINT>(BST_CHECKED));
    EXPECT_EQ(::IsDlgButtonChecked(agreement, 1008), static_cast<UINT>(BST_UNCHECKED));
    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(agreement, 1007)));

    // Next without acceptance, even as a bare command, goes nowhere.
    Press(agreement, 1007);
    ::Sleep(300);
    EXPECT_EQ(p.Visible(Page::Welcome), nullptr);

    Key(agreement, 'A', true);
    ASSERT_TRUE(Poll([&] { return ::IsWindowEnabled(::GetDlgItem(agreement, 1007)) != FALSE; }));
    EXPECT_EQ(::IsDlgButtonChecked(agreement, 1008), static_cast<UINT>(BST_CHECKED));
    EXPECT_EQ(::IsDlgButtonChecked(agreement, 1009), static_cast<UINT>(BST_UNCHECKED));
    // Alt+D takes it back, a click on the accept radio gives it again.
    Key(agreement, 'D', true);
    ASSERT_TRUE(Poll([&] { return !::IsWindowEnabled(::GetDlgItem(agreement, 1007)); }));
    EXPECT_EQ(::IsDlgButtonChecked(agreement, 1009), static_cast<UINT>(BST_CHECKED));
    ::CheckRadioButton(agreement, 1008, 1009, 1008);
    Press(agreement, 1008);
    ASSERT_TRUE(Poll([&] { return ::IsWindowEnabled(::GetDlgItem(agreement, 1007)) != FALSE; }));

    Key(agreement, VK_RETURN);
    HWND welcome = p.WaitFor(Page::Welcome);
    ASSERT_NE(welcome, nullptr) << LogText();
    EXPECT_FALSE(::IsWindowVisible(agreement));
    EXPECT_EQ(ItemText(welcome, IDOK), L"安装");

    RunFromWelcome(p, welcome, true, L"安装成功！");
    EXPECT_NE(LogText().find(Ran("ProductInstall.UpdateSymbols.SetB")), std::string::npos) << LogText();
}

TEST_F(DialogRun, EnterWhileTheLicenceIsDeclinedCancels)
{
    Script();
    ASSERT_TRUE(kvtest::WriteFileBytes(pkg / "license.txt", "Licence"));
    CKorvexProcess p;
    ASSERT_TRUE(Start(p));
    HWND agreement = p.WaitFor(Page::Agreement);
    ASSERT_NE(agreement, nullptr) << LogText();
    // Accepted, then declined again: the state, not the history, counts.
    Key(agreement, 'A', true);
    ASSERT_TRUE(Poll([&] { return ::IsWindowEnabled(::GetDlgItem(agreement, 1007)) != FALSE; }));
    Press(agreement, 1009);
    ::CheckRadioButton(agreement, 1008, 1009, 1009);
    ASSERT_TRUE(Poll([&] { return !::IsWindowEnabled(::GetDlgItem(agreement, 1007)); }));
    Key(agreement, VK_RETURN);
    ASSERT_TRUE(p.Exited()) << LogText();
    EXPECT_EQ(LogText().find("@@@ Session name"), std::string::npos) << LogText();
    EXPECT_EQ(p.ExitCode(), 1602) << "the user said no";
}

TEST_F(DialogRun, EnterOnTheCancelButtonCancelsEvenWhenAccepted)
{
    Script();
    ASSERT_TRUE(kvtest::WriteFileBytes(pkg / "license.txt", "Licence"));
    CKorvexProcess p;
    ASSERT_TRUE(Start(p));
    HWND agreement = p.WaitFor(Page::Agreement);
    ASSERT_NE(agreement, nullptr) << LogText();
    Key(agreement, 'A', true);
    ASSERT_TRUE(Poll([&] { return ::IsWindowEnabled(::GetDlgItem(agreement, 1007)) != FALSE; }));
    Key(::GetDlgItem(agreement, IDCANCEL), VK_RETURN);
    ASSERT_TRUE(p.Exited()) << LogText();
    EXPECT_EQ(LogText().find("@@@ Session name"), std::string::npos) << LogText();
}

TEST_F(DialogRun, TheUninstallEntrysCommandRemovesThePatchWithoutTheAgreement)
{
    Script();
    // A licence beside the program must not stand in the way of a removal.
    ASSERT_TRUE(kvtest::WriteFileBytes(pkg / "license.txt", "Licence"));
    kvtest::ProcessResult install = kvtest::RunProcess("\"" + exe + "\" /S /G", pkg.Path(), 60000);
    ASSERT_EQ(kvtest::Signed(install.exitCode), 0) << LogText();
    ASSERT_TRUE(kvtest::Exists(record));
    const std::string key = kUninstallRoot + patchId;
    std::string command;
    ASSERT_TRUE(ReadRegString(key, "UninstallString", command));
    ASSERT_EQ(command, exe + " /U:\"" + record + "\"");

    ::DeleteFileA(kLogPath);
    ::DeleteFileA(TempLogPath().c_str());
    CKorvexProcess p;
    ASSERT_TRUE(p.Start(command, pkg.Path()));
    HWND welcome = p.WaitFor(Page::Welcome);
    ASSERT_NE(welcome, nullptr) << LogText();
    EXPECT_EQ(p.Visible(Page::Agreement), nullptr);
    EXPECT_EQ(CWindows(p.Pid()).Text(welcome, IDOK), u8"移除");
    // Still there until the user presses the button.
    EXPECT_TRUE(kvtest::Exists(record));

    RunFromWelcome(p, welcome, false, L"移除安装成功！");
    EXPECT_NE(LogText().find(Ran("ProductRemove.UpdateSymbols.Empty")), std::string::npos) << LogText();
    EXPECT_FALSE(kvtest::Exists(record));
    std::string left;
    EXPECT_FALSE(ReadRegString(key, "UninstallString", left)) << left;
}

// ---------------------------------------------------------------- user input

// Type into a control of the program the way a keyboard does: the old text
// selected, one character message per key.
void TypeInto(HWND edit, const std::wstring& text)
{
    ::SendMessageW(edit, EM_SETSEL, 0, -1);
    for (wchar_t c : text)
        ::PostMessageW(edit, WM_CHAR, c, 1);
    Poll([&] { return TextOf(edit) == text; }, 5000);
}

class InputRun : public DialogRun {
protected:
    // One GetUserInput step and a later step that writes %NAME% and %DIR%
    // into <OUT>\answer.txt.
    void InputScript(const std::string& items, const std::string& outFolder = "%DIR%")
    {
        ASSERT_TRUE(kvtest::WriteFileBytes(pkg / "answer.tpl", "name=%NAME% dir=%DIR%"));
        std::string text =
            "[PatchInformation]\r\nKorvexVersion=2.0\r\nPatchID=" + patchId +
            "\r\nProductName=Prod\r\nLanguage=EN\r\nProductVersion=1.0\r\nBuildNumber=100\r\nPlatform=x86\r\n"
            "PatchDescription=Input test\r\nTimeOutSecond=600\r\nUninstallString=x\r\n"
            "[ProductInstall.Symbols]\r\nNAME=Anon\r\nDIR=" + pkg.Path() + "\r\n"
            "[ProductInstall.Main]\r\nMainDescription=Input test\r\nStepCount=2\r\n"
            "Step1.Section=ProductInstall.GetUserInput.Ask\r\nStep1.Description=Asking\r\n"
            "Step2.Section=ProductInstall.ReplaceSymbolsInFile.Write\r\nStep2.Description=Writing\r\n"
            "[ProductInstall.GetUserInput.Ask]\r\n" + items +
            "[ProductInstall.ReplaceSymbolsInFile.Write]\r\nFileCount=1\r\nFile1.Description=Answer\r\n"
            "File1.Source=" + (pkg / "answer.tpl") + "\r\nFile1.Output=" + outFolder + "\\answer.txt\r\n";
        ASSERT_TRUE(kvtest::WriteFileBytes(pkg / "setup.ini", text));
    }

    HWND StartToProgress(CKorvexProcess& p)
    {
        if (!Start(p))
            return nullptr;
        HWND welcome = p.WaitFor(Page::Welcome);
        if (!welcome)
            return nullptr;
        Press(welcome, IDOK);
        return p.WaitFor(Page::Progress);
    }

    // A message box of the program: its text, then the button pressed.
    std::string Answer(CKorvexProcess& p, int button)
    {
        HWND box = p.WaitFor(Page::Message);
        if (!box)
            return "(no message box)";
        std::string text = CWindows(p.Pid()).Text(box, 0xFFFF);
        Press(box, button);
        Poll([&] { return !::IsWindow(box); }, 5000);
        return text;
    }

    void EndRun(CKorvexProcess& p, HWND progress)
    {
        ASSERT_TRUE(Poll([&] { return Finished(progress); })) << LogText();
        EXPECT_EQ(CWindows(p.Pid()).Text(progress, 1003), u8"安装成功！") << LogText();
        Key(progress, VK_RETURN);
        EXPECT_TRUE(p.Exited()) << LogText();
        EXPECT_EQ(p.ExitCode(), 0);
    }
};

std::string WithPath(const char* format, const std::string& path)
{
    std::string s = format;
    s.replace(s.find("%s"), 2, path);
    return s;
}

// Cancelled first: the failure line and the retry handler bring the box
// back; the answer then reaches the later step through its symbol.
TEST_F(InputRun, TheTextBoxIsAskedAgainAfterCancelAndItsAnswerIsUsedLater)
{
    InputScript("InputCount=1\r\nInput1.Description=Your name?\r\nInput1.Type=KVHF_INPUT_EDITBOX\r\n"
                "Input1.RefSymbol=NAME\r\nInput1.Min=2\r\nInput1.Max=40\r\nInput1.Error.Action=KVHF_RETRY\r\n");
    CKorvexProcess p;
    HWND progress = StartToProgress(p);
    ASSERT_NE(progress, nullptr) << LogText();

    HWND box = p.WaitFor(Page::Input);
    ASSERT_NE(box, nullptr) << LogText();
    EXPECT_EQ(::GetWindow(box, GW_OWNER), progress);
    CWindows first(p.Pid());
    EXPECT_EQ(first.Text(box), u8"Halvern安装软件包") << first.Raw();
    EXPECT_EQ(first.Text(box, 1006), "Your name?");
    EXPECT_EQ(first.Text(box, 1000), "Anon");
    EXPECT_EQ(::SendDlgItemMessageW(box, 1000, EM_GETLIMITTEXT, 0, 0), 1024);
    Key(::GetDlgItem(box, 1000), VK_ESCAPE);
    ASSERT_TRUE(Poll([&] { return !::IsWindow(box); })) << LogText();

    HWND again = p.WaitFor(Page::Input);
    ASSERT_NE(again, nullptr) << LogText();
    EXPECT_NE(LogText().find("1.GetUserInput(Type='KVHF_INPUT_EDITBOX',variable='NAME') failed!"), std::string::npos);
    EXPECT_NE(CWindows(p.Pid()).Text(progress, 1004).find(u8" - Your name? (失败)\r\n"), std::string::npos);
    Screenshot(again, "input-box");
    TypeInto(::GetDlgItem(again, 1000), L"Zhang San");
    Key(::GetDlgItem(again, 1000), VK_RETURN);

    EndRun(p, progress);
    EXPECT_EQ(kvtest::ReadFileOr(pkg / "answer.txt"), "name=Zhang San dir=" + pkg.Path());
    EXPECT_NE(LogText().find("User Input = 'Zhang San'"), std::string::npos) << LogText();
}

// A vertical bar in a name is refused and the picker stays; a missing
// folder two levels deep is made after one question.
TEST_F(InputRun, TheFolderPickerRefusesABadNameAndMakesMissingLevelsAfterOneQuestion)
{
    InputScript("InputCount=1\r\nInput1.Description=Where to?\r\nInput1.Type=KVHF_INPUT_FOLDER_SELECT\r\n"
                "Input1.RefSymbol=DIR\r\n");
    CKorvexProcess p;
    HWND progress = StartToProgress(p);
    ASSERT_NE(progress, nullptr) << LogText();
    HWND picker = p.WaitFor(Page::Browser);
    ASSERT_NE(picker, nullptr) << LogText();
    EXPECT_EQ(::GetWindow(picker, GW_OWNER), progress);
    HWND edit = ::GetDlgItem(picker, 14148);
    CWindows seen(p.Pid());
    EXPECT_EQ(seen.Text(picker), u8"Halvern安装软件包") << seen.Raw();
    EXPECT_EQ(seen.Text(edit), pkg.Path());
    EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(picker, IDOK)));
    Screenshot(picker, "folder-picker");

    // Typing decides OK: nothing typed, nothing to accept.
    TypeInto(edit, L"");
    ::PostMessageW(edit, WM_CHAR, VK_BACK, 1);
    ASSERT_TRUE(Poll([&] { return !::IsWindowEnabled(::GetDlgItem(picker, IDOK)); }, 5000));

    const std::string bad = pkg / "bad|name";
    TypeInto(edit, std::wstring(bad.begin(), bad.end()));
    ASSERT_TRUE(Poll([&] { return ::IsWindowEnabled(::GetDlgItem(picker, IDOK)) != FALSE; }, 5000));
    Key(edit, VK_RETURN);
    EXPECT_EQ(Answer(p, IDOK), WithPath(u8"文件夹:\n%s\n 名称无效。请检查格式，然后重试。", bad));
    EXPECT_TRUE(::IsWindowVisible(picker));

    const std::string made = pkg / "new1\\new2";
    TypeInto(edit, std::wstring(made.begin(), made.end()));
    Key(edit, VK_RETURN);
    EXPECT_EQ(Answer(p, IDYES), WithPath(u8"文件夹:\n%s\n 不存在。是否要创建该文件夹？", made));
    ASSERT_TRUE(Poll([&] { return !::IsWindow(picker); })) << LogText();
    EXPECT_EQ(p.Visible(Page::Message), nullptr) << "a second question";
    EXPECT_TRUE(kvtest::Exists(made));

    EndRun(p, progress);
    EXPECT_NE(LogText().find("User Select folder = '" + made + "'"), std::string::npos) << LogText();
    EXPECT_EQ(kvtest::ReadFileOr(made + "\\answer.txt"), "name=Anon dir=" + made);
}

TEST_F(InputRun, ASilentRunAsksNothingAndKeepsTheDefaults)
{
    InputScript("InputCount=2\r\nInput1.Description=Where to?\r\nInput1.Type=KVHF_INPUT_FOLDER_SELECT\r\n"
                "Input1.RefSymbol=DIR\r\nInput2.Description=Name?\r\nInput2.Type=KVHF_INPUT_EDITBOX\r\n"
                "Input2.RefSymbol=NAME\r\n");
    kvtest::ProcessResult r = kvtest::RunProcess("\"" + exe + "\" /S /G", pkg.Path(), 60000);
    ASSERT_FALSE(r.timedOut) << "a question was asked";
    EXPECT_EQ(kvtest::Signed(r.exitCode), 0) << LogText();
    const std::string log = LogText();
    EXPECT_NE(log.find("In the silent mode, use Default value to continue installation.[DIR=" + pkg.Path() + "]"),
              std::string::npos) << log;
    EXPECT_NE(log.find("In the silent mode, use Default value to continue installation.[NAME=Anon]"),
              std::string::npos) << log;
    EXPECT_EQ(kvtest::ReadFileOr(pkg / "answer.txt"), "name=Anon dir=" + pkg.Path());
}

}  // namespace
