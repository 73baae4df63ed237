#pragma once
// Shared helpers of the test programs (they run inside Wine).
#include <windows.h>
#include <deque>
#include <string>
#include <vector>

#include "interpreter/ProgramTexts.h"
#include "interpreter/UICallback.h"

namespace kvtest {

// "/a/b" -> "Z:\a\b" (Wine maps Z: to the Unix root).
std::string WinPathFromUnix(const std::string& unixPath);
std::string BinDir();        // folder of Korvex.exe and Pendrel.exe
std::string KorvexExe();
std::string PendrelExe();
std::string FixtureDir();    // <build>/fixtures
std::string SourceDir();     // the checkout

// A fresh folder below C:\kvtests, removed with everything in it at the end.
class TempDir {
public:
    explicit TempDir(const std::string& tag = "t");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& rel) const;  // joined with one backslash
    void Keep() { m_keep = true; }

private:
    std::string m_path;
    bool m_keep = false;
};

bool WriteFileBytes(const std::string& path, const std::string& bytes);  // creates parent folders
bool ReadFileBytes(const std::string& path, std::string& bytes);
std::string ReadFileOr(const std::string& path, const std::string& fallback = std::string());
bool Exists(const std::string& path);
void RemoveTree(const std::string& path);  // clears read-only attributes first
bool CopyTree(const std::string& from, const std::string& to);  // files and folders below, too
bool CreateTree(const std::string& folder);

struct ProcessResult {
    bool started = false;
    bool timedOut = false;
    DWORD exitCode = 0;
    std::string output;  // standard output and standard error
};
// Runs a command line in cwd (empty: current), waits up to timeoutMs.
ProcessResult RunProcess(const std::string& commandLine, const std::string& cwd = std::string(),
                         DWORD timeoutMs = 120000);
// Exit code as the signed value Korvex passes to exit().
inline int Signed(DWORD code) { return static_cast<int>(code); }

// The program's own texts, from the test program's copy of the string table.
const CHFS_ProgramTexts* ProgramTexts();

// How many processes run with that image name (any case).
size_t CountProcesses(const std::string& imageName);

// Log lines that the installer's runs write between construction and Text().
class CLogTail {
public:
    CLogTail();
    std::string Text() const;

private:
    std::string m_path;
    size_t m_start = 0;
};

// Count of non-overlapping occurrences of needle in hay.
size_t CountOf(const std::string& hay, const std::string& needle);

// A callback that records everything and answers ShowMessage from a queue
// (0 when the queue is empty, as a silent run would).
class CRecordingCallback : public CHFS_UICallback {
public:
    int SetProgress(int position, int range) override;
    int SetTaskText(const std::string& text, int rollback) override;
    int AppendDetail(const std::string& text, int rollback) override;
    int SetDescription(const std::string& text) override;
    int SetReadme(const std::string& text) override;
    int SetLicense(const std::string& text) override;
    int SetLicenseTitle(const std::string& text) override;
    int WriteLog(const std::string& text) override;
    int ShowMessage(const std::string& text, UINT type) override;
    bool HasMainWindow() override { return mainWindow; }

    std::string LogText() const;  // all WriteLog lines joined with "\n"
    bool LogContains(const std::string& s) const { return LogText().find(s) != std::string::npos; }

    std::vector<std::string> logLines;
    std::vector<std::string> details;
    std::vector<std::pair<std::string, int>> tasks;
    std::vector<std::pair<std::string, UINT>> messages;
    std::vector<std::pair<int, int>> progress;
    std::deque<int> answers;
    std::string description, readme, license, licenseTitle;
    bool mainWindow = false;  // what HasMainWindow answers
};

}  // namespace kvtest
