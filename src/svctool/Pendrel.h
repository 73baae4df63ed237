#pragma once
// Pendrel: stops, disables and enables services, waits for (and terminates)
// processes and frees the performance-counter DLL's name, for patch scripts.
// It writes nothing to the console; only the exit code reaches the caller.
#include <windows.h>
#include <vector>

// A handle owner of Pendrel's own: the tool shares no code with the installer.
class CPendrelHandle {
public:
    explicit CPendrelHandle(HANDLE h = nullptr) : m_h(h) {}
    ~CPendrelHandle() { Close(); }
    CPendrelHandle(const CPendrelHandle&) = delete;
    CPendrelHandle& operator=(const CPendrelHandle&) = delete;
    CPendrelHandle(CPendrelHandle&& o) noexcept : m_h(o.m_h) { o.m_h = nullptr; }
    HANDLE Get() const { return m_h; }
    explicit operator bool() const { return m_h != nullptr && m_h != INVALID_HANDLE_VALUE; }
    void Close()
    {
        if (m_h && m_h != INVALID_HANDLE_VALUE)
            ::CloseHandle(m_h);
        m_h = nullptr;
    }

private:
    HANDLE m_h;
};

// Diagnostic text for the debugger output, never for the console.
void PendrelTrace(const wchar_t* format, ...);
// A pause on an event that nobody sets.
void PendrelPause(DWORD ms);

int StopServiceAndWait(const wchar_t* service);
int SetServiceEnabled(const wchar_t* service, bool disable);
// Number of processes whose program is `name`, their handles in `handles`;
// -1 when the process list can't be read.
int FindProcessesByName(const wchar_t* name, bool forKill, std::vector<HANDLE>& handles);
int WaitForProcesses(const wchar_t* name, DWORD ms, bool kill);
int ReleasePerfDll();

// The command line as the tool reads it (argv without the program name is
// argv[1..argc-1]); returns the exit code.
int PendrelMain(int argc, wchar_t** argv);
