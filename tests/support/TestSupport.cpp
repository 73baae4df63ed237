#include "TestSupport.h"

#include <tlhelp32.h>

#include "app/StringTable.h"

#include <atomic>
#include <cstdio>

namespace kvtest {

std::string WinPathFromUnix(const std::string& unixPath)
{
    std::string p = "Z:" + unixPath;
    for (char& c : p)
        if (c == '/')
            c = '\\';
    return p;
}

std::string BinDir() { return WinPathFromUnix(KORVEX_BIN_DIR_UNIX); }
std::string KorvexExe() { return BinDir() + "\\Korvex.exe"; }
std::string PendrelExe() { return BinDir() + "\\Pendrel.exe"; }
std::string FixtureDir() { return WinPathFromUnix(KORVEX_FIXTURE_DIR_UNIX); }
std::string SourceDir() { return WinPathFromUnix(KORVEX_SOURCE_DIR_UNIX); }

bool CreateTree(const std::string& folder)
{
    if (folder.empty())
        return false;
    DWORD a = ::GetFileAttributesA(folder.c_str());
    if (a != INVALID_FILE_ATTRIBUTES)
        return (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
    size_t pos = folder.find_last_of('\\');
    if (pos != std::string::npos && pos > 2)
        CreateTree(folder.substr(0, pos));
    return ::CreateDirectoryA(folder.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

static std::atomic<unsigned> g_counter{0};

TempDir::TempDir(const std::string& tag)
{
    char buf[256];
    snprintf(buf, sizeof buf, "C:\\kvtests\\%s-%lu-%u-%lu", tag.c_str(), ::GetCurrentProcessId(),
             g_counter.fetch_add(1), ::GetTickCount());
    m_path = buf;
    RemoveTree(m_path);
    CreateTree(m_path);
}

TempDir::~TempDir()
{
    if (!m_keep)
        RemoveTree(m_path);
}

std::string TempDir::operator/(const std::string& rel) const
{
    if (rel.empty())
        return m_path;
    return m_path + (rel[0] == '\\' ? "" : "\\") + rel;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    size_t pos = path.find_last_of('\\');
    if (pos != std::string::npos)
        CreateTree(path.substr(0, pos));
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = bytes.empty() || ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(h);
    return ok && written == bytes.size();
}

bool ReadFileBytes(const std::string& path, std::string& bytes)
{
    bytes.clear();
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    char buf[65536];
    DWORD got = 0;
    while (::ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0)
        bytes.append(buf, got);
    ::CloseHandle(h);
    return true;
}

std::string ReadFileOr(const std::string& path, const std::string& fallback)
{
    std::string s;
    return ReadFileBytes(path, s) ? s : fallback;
}

bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void RemoveTree(const std::string& path)
{
    DWORD a = ::GetFileAttributesA(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES)
        return;
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
        ::DeleteFileA(path.c_str());
        return;
    }
    WIN32_FIND_DATAA fd;
    HANDLE h = ::FindFirstFileA((path + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string n = fd.cFileName;
            if (n == "." || n == "..")
                continue;
            RemoveTree(path + "\\" + n);
        } while (::FindNextFileA(h, &fd));
        ::FindClose(h);
    }
    ::RemoveDirectoryA(path.c_str());
}

bool CopyTree(const std::string& from, const std::string& to)
{
    DWORD a = ::GetFileAttributesA(from.c_str());
    if (a == INVALID_FILE_ATTRIBUTES)
        return false;
    if (!(a & FILE_ATTRIBUTE_DIRECTORY))
        return ::CopyFileA(from.c_str(), to.c_str(), FALSE) != FALSE;
    if (!CreateTree(to))
        return false;
    bool ok = true;
    WIN32_FIND_DATAA fd;
    HANDLE h = ::FindFirstFileA((from + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string n = fd.cFileName;
            if (n != "." && n != "..")
                ok = CopyTree(from + "\\" + n, to + "\\" + n) && ok;
        } while (::FindNextFileA(h, &fd));
        ::FindClose(h);
    }
    return ok;
}

ProcessResult RunProcess(const std::string& commandLine, const std::string& cwd, DWORD timeoutMs)
{
    ProcessResult r;
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE readPipe = nullptr, writePipe = nullptr;
    if (!::CreatePipe(&readPipe, &writePipe, &sa, 0))
        return r;
    ::SetHandleInformation(readPipe, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = writePipe;
    si.hStdError = writePipe;
    PROCESS_INFORMATION pi = {};
    std::vector<char> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back('\0');
    BOOL ok = ::CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr,
                               cwd.empty() ? nullptr : cwd.c_str(), &si, &pi);
    ::CloseHandle(writePipe);
    if (!ok) {
        ::CloseHandle(readPipe);
        return r;
    }
    r.started = true;
    DWORD start = ::GetTickCount();
    for (;;) {
        DWORD avail = 0;
        while (::PeekNamedPipe(readPipe, nullptr, 0, nullptr, &avail, nullptr) && avail > 0) {
            char buf[4096];
            DWORD got = 0;
            if (!::ReadFile(readPipe, buf, sizeof buf, &got, nullptr) || got == 0)
                break;
            r.output.append(buf, got);
        }
        DWORD w = ::WaitForSingleObject(pi.hProcess, 50);
        if (w == WAIT_OBJECT_0)
            break;
        if (::GetTickCount() - start > timeoutMs) {
            r.timedOut = true;
            ::TerminateProcess(pi.hProcess, 0xDEAD);
            ::WaitForSingleObject(pi.hProcess, 5000);
            break;
        }
    }
    // The pipe may still hold output (a child of the child can keep it open:
    // read only what is there).
    DWORD avail = 0;
    while (::PeekNamedPipe(readPipe, nullptr, 0, nullptr, &avail, nullptr) && avail > 0) {
        char buf[4096];
        DWORD got = 0;
        if (!::ReadFile(readPipe, buf, sizeof buf, &got, nullptr) || got == 0)
            break;
        r.output.append(buf, got);
    }
    ::GetExitCodeProcess(pi.hProcess, &r.exitCode);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    ::CloseHandle(readPipe);
    return r;
}

size_t CountProcesses(const std::string& imageName)
{
    HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return 0;
    size_t n = 0;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32First(snap, &entry); more; more = ::Process32Next(snap, &entry))
        if (::lstrcmpiA(entry.szExeFile, imageName.c_str()) == 0)
            ++n;
    ::CloseHandle(snap);
    return n;
}

size_t CountOf(const std::string& hay, const std::string& needle)
{
    if (needle.empty())
        return 0;
    size_t n = 0;
    for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + needle.size()))
        ++n;
    return n;
}

int CRecordingCallback::SetProgress(int position, int range) { progress.emplace_back(position, range); return 0; }
int CRecordingCallback::SetTaskText(const std::string& text, int rollback) { tasks.emplace_back(text, rollback); return 0; }
int CRecordingCallback::AppendDetail(const std::string& text, int) { details.push_back(text); return 0; }
int CRecordingCallback::SetDescription(const std::string& text) { description = text; return 0; }
int CRecordingCallback::SetReadme(const std::string& text) { readme = text; return 0; }
int CRecordingCallback::SetLicense(const std::string& text) { license = text; return 0; }
int CRecordingCallback::SetLicenseTitle(const std::string& text) { licenseTitle = text; return 0; }
int CRecordingCallback::WriteLog(const std::string& text) { logLines.push_back(text); return 0; }
int CRecordingCallback::ShowMessage(const std::string& text, UINT type)
{
    messages.emplace_back(text, type);
    if (answers.empty())
        return 0;
    int a = answers.front();
    answers.pop_front();
    return a;
}

std::string CRecordingCallback::LogText() const
{
    std::string s;
    for (const std::string& l : logLines) {
        s += l;
        s += '\n';
    }
    return s;
}

const CHFS_ProgramTexts* ProgramTexts()
{
    static const CResourceTexts texts;
    return &texts;
}

CLogTail::CLogTail()
{
    m_path = "C:\\Korvex.log";
    if (!Exists(m_path)) {
        char tmp[MAX_PATH + 1] = {0};
        ::GetTempPathA(MAX_PATH, tmp);
        std::string alt = std::string(tmp) + "Korvex.log";
        if (Exists(alt))
            m_path = alt;
    }
    std::string s;
    ReadFileBytes(m_path, s);
    m_start = s.size();
}

std::string CLogTail::Text() const
{
    std::string s;
    ReadFileBytes(m_path, s);
    return s.size() > m_start ? s.substr(m_start) : std::string();
}

}  // namespace kvtest
