// The dialog-driven run of the real program, driven from outside the way a
// user would: find its dialogs by process, press buttons and keys, read the
// controls, the log and the traces the run leaves.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <functional>
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

// The program's run texts pass through the ANSI code page on their way to
// the controls; what survives is what the user sees.
std::wstring ThroughAnsi(const std::wstring& text)
{
    char narrow[1024] = {0};
    ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, narrow, sizeof narrow - 1, nullptr, nullptr);
    wchar_t wide[1024] = {0};
    ::MultiByteToWideChar(CP_ACP, 0, narrow, -1, wide, 1023);
    return wide;
}

std::wstring ItemText(HWND dlg, int id) { return TextOf(::GetDlgItem(dlg, id)); }

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
enum class Page { Agreement, Welcome, Progress, Message };

std::wstring TextOf(HWND hwnd);

bool IsPage(HWND hwnd, Page page)
{
    switch (page) {
    case Page::Agreement:
        return ::GetDlgItem(hwnd, 1007) != nullptr;
    case Page::Welcome:
        return ::GetDlgItem(hwnd, 1001) && ::GetDlgItem(hwnd, 1000) && !::GetDlgItem(hwnd, 1007);
    case Page::Progress:
        return ::GetDlgItem(hwnd, 1002) != nullptr;
    case Page::Message:
        return TextOf(hwnd) == L"Halvern安装软件包";
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

    bool Exited(DWORD timeoutMs = kWaitMs) const
    {
        return m_pi.hProcess && ::WaitForSingleObject(m_pi.hProcess, timeoutMs) == WAIT_OBJECT_0;
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
    void RunFromWelcome(CKorvexProcess& p, HWND welcome, bool closeWithEnter, const std::wstring& doneText)
    {
        Press(welcome, IDOK);
        HWND progress = p.WaitFor(Page::Progress);
        ASSERT_NE(progress, nullptr) << LogText();
        EXPECT_FALSE(::IsWindowVisible(welcome));
        ASSERT_TRUE(Poll([&] { return Finished(progress); })) << LogText();
        EXPECT_EQ(TextOf(progress), L"Installing fix 42");
        EXPECT_EQ(ItemText(progress, 1003), ThroughAnsi(doneText));
        EXPECT_NE(ItemText(progress, 1004).find(ThroughAnsi(doneText)), std::wstring::npos);
        EXPECT_EQ(::SendDlgItemMessageW(progress, 1002, PBM_GETPOS, 0, 0), 100);

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

TEST_F(DialogRun, WithoutLicenceTheWelcomePageLeadsToTheRun)
{
    Script();
    CKorvexProcess p;
    ASSERT_TRUE(Start(p));
    HWND welcome = p.WaitFor(Page::Welcome);
    ASSERT_NE(welcome, nullptr) << LogText();
    EXPECT_EQ(p.Visible(Page::Agreement), nullptr);
    EXPECT_EQ(TextOf(welcome), L"Welcome to fix 42");
    EXPECT_EQ(ItemText(welcome, 1001), L"Fix 42 for Prod");
    EXPECT_EQ(ItemText(welcome, IDOK), L"安装");
    // Nothing runs before the user asks for it.
    EXPECT_EQ(LogText().find(Ran("ProductInstall.UpdateSymbols.SetA")), std::string::npos);

    RunFromWelcome(p, welcome, false, L"安装成功！");
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
    EXPECT_FALSE(Finished(progress));
    // While the procedure runs, no key and no Cancel ends the progress dialog.
    Key(progress, VK_ESCAPE);
    Key(progress, VK_RETURN);
    Press(progress, IDCANCEL);
    EXPECT_FALSE(p.Exited(500));
    EXPECT_TRUE(::IsWindow(progress));
    Press(box, IDOK);
    ASSERT_TRUE(Poll([&] { return Finished(progress); })) << LogText();
    EXPECT_NE(ItemText(progress, 1004).find(ThroughAnsi(L"安装失败！")), std::wstring::npos);
    Press(progress, IDOK);
    EXPECT_TRUE(p.Exited()) << LogText();
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
    EXPECT_EQ(ItemText(welcome, IDOK), L"移除");
    // Still there until the user presses the button.
    EXPECT_TRUE(kvtest::Exists(record));

    RunFromWelcome(p, welcome, false, L"移除安装成功！");
    EXPECT_NE(LogText().find(Ran("ProductRemove.UpdateSymbols.Empty")), std::string::npos) << LogText();
    EXPECT_FALSE(kvtest::Exists(record));
    std::string left;
    EXPECT_FALSE(ReadRegString(key, "UninstallString", left)) << left;
}

}  // namespace
