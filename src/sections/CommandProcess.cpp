#include "sections/CommandProcess.h"

#include <cstring>
#include <vector>

#include "util/WinHandles.h"

namespace {

const char kHiddenDesktop[] = "MyDesk";
// How long a process ended at its time limit is given to go away.
const DWORD kEndWaitMs = 10000;

class CDesktop {
public:
    CDesktop() : m_h(nullptr) {}
    ~CDesktop()
    {
        if (m_h)
            ::CloseDesktop(m_h);
    }
    CDesktop(const CDesktop&) = delete;
    CDesktop& operator=(const CDesktop&) = delete;
    bool Create()
    {
        m_h = ::CreateDesktopA(kHiddenDesktop, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
        return m_h != nullptr;
    }

private:
    HDESK m_h;
};

}  // namespace

int KvStartAndWait(const CHFS_ProcessStart& start, DWORD& exitCode, DWORD& error)
{
    exitCode = 0;
    error = 0;
    STARTUPINFOA si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    char desktopName[sizeof kHiddenDesktop];
    std::memcpy(desktopName, kHiddenDesktop, sizeof kHiddenDesktop);
    CDesktop desktop;
    if (start.bHiddenDesktop) {
        // Without the desktop the program would either show itself or fail
        // to start with an exit code that passes for success.
        if (!desktop.Create()) {
            error = ::GetLastError();
            return KVPROC_NO_DESKTOP;
        }
        si.lpDesktop = desktopName;
    }

    // The process takes its command line from a writable buffer of a fixed
    // size: a longer line is refused, never cut or run past the buffer's end.
    if (start.strCommandLine.size() >= start.nBufferSize)
        return KVPROC_TOO_LONG;
    std::vector<char> buffer(start.nBufferSize, '\0');
    std::memcpy(buffer.data(), start.strCommandLine.data(), start.strCommandLine.size());

    // A time limit must end what the command started too (the command
    // interpreter's children): the process starts held, inside a job.
    const bool limited = start.nTimeoutSeconds > 0;
    CHandle job;
    if (limited)
        job.Reset(::CreateJobObjectA(nullptr, nullptr));
    PROCESS_INFORMATION pi;
    ZeroMemory(&pi, sizeof pi);
    const DWORD flags = start.dwCreationFlags | (job ? CREATE_SUSPENDED : 0);
    if (!::CreateProcessA(start.strApplication.empty() ? nullptr : start.strApplication.c_str(), buffer.data(),
                          nullptr, nullptr, FALSE, flags, nullptr,
                          start.strFolder.empty() ? nullptr : start.strFolder.c_str(), &si, &pi)) {
        error = ::GetLastError();
        return KVPROC_NOT_STARTED;
    }
    CHandle process(pi.hProcess);
    CHandle thread(pi.hThread);
    // Where jobs cannot be nested (the installer itself runs in one), only
    // the process itself can be ended.
    const bool inJob = job && ::AssignProcessToJobObject(job.Get(), process.Get());
    if (job)
        ::ResumeThread(thread.Get());

    // Waiting on the handle, not for the code to change from STILL_ACTIVE: a
    // program may end with that very code (259).
    const DWORD limit = limited ? static_cast<DWORD>(start.nTimeoutSeconds) * 1000u : INFINITE;
    const DWORD waited = ::WaitForSingleObject(process.Get(), limit);
    if (waited == WAIT_TIMEOUT) {
        const BOOL ended = inJob ? ::TerminateJobObject(job.Get(), static_cast<UINT>(-1))
                                 : ::TerminateProcess(process.Get(), static_cast<UINT>(-1));
        if (!ended)
            error = ::GetLastError();
        else if (::WaitForSingleObject(process.Get(), kEndWaitMs) != WAIT_OBJECT_0)
            error = WAIT_TIMEOUT;
        return KVPROC_TIMED_OUT;
    }
    if (waited != WAIT_OBJECT_0 || !::GetExitCodeProcess(process.Get(), &exitCode)) {
        error = ::GetLastError();
        return KVPROC_WAIT_FAILED;
    }
    return KVPROC_ENDED;
}
