#pragma once
// Test services and processes in the Wine machine: installed under names of
// the tests' own, always stopped and removed again (also after a failed
// assertion, through the destructor). Header-only so that the pendrel and
// varrefs test groups can use it too.
#include <windows.h>
#include <winsvc.h>

#include <string>
#include <vector>

#include "TestSupport.h"

namespace kvsvc {

inline std::string ServiceExe() { return kvtest::FixtureDir() + "\\kvtestsvc.exe"; }
inline std::string WaiterExe() { return kvtest::FixtureDir() + "\\kvwaiter.exe"; }

inline DWORD QueryState(const std::string& name)
{
    DWORD state = 0;
    SC_HANDLE scm = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!scm)
        return 0;
    SC_HANDLE svc = ::OpenServiceA(scm, name.c_str(), SERVICE_QUERY_STATUS);
    if (svc) {
        SERVICE_STATUS st = {};
        if (::QueryServiceStatus(svc, &st))
            state = st.dwCurrentState;
        ::CloseServiceHandle(svc);
    }
    ::CloseServiceHandle(scm);
    return state;
}

inline bool WaitForState(const std::string& name, DWORD state, DWORD timeoutMs)
{
    DWORD start = ::GetTickCount();
    for (;;) {
        if (QueryState(name) == state)
            return true;
        if (::GetTickCount() - start > timeoutMs)
            return false;
        ::Sleep(100);
    }
}

// Stops a service by every means (a stop control, then ending its process)
// and deletes it. Quiet: it also clears what an earlier, crashed run left.
inline void ForceRemoveService(const std::string& name)
{
    SC_HANDLE scm = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!scm)
        return;
    SC_HANDLE svc = ::OpenServiceA(scm, name.c_str(), SERVICE_ALL_ACCESS);
    if (!svc) {
        ::CloseServiceHandle(scm);
        return;
    }
    // The test service ends at once on its quit event, whatever its mode.
    HANDLE quit = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, ("Global\\kvtestsvc-quit-" + name).c_str());
    if (quit) {
        ::SetEvent(quit);
        ::CloseHandle(quit);
        WaitForState(name, SERVICE_STOPPED, 5000);
    }
    DWORD start = ::GetTickCount();
    SERVICE_STATUS_PROCESS sp = {};
    DWORD needed = 0;
    bool refused = false;
    while (::QueryServiceStatusEx(svc, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&sp), sizeof sp, &needed) &&
           sp.dwCurrentState != SERVICE_STOPPED) {
        bool patient = !refused && ::GetTickCount() - start < 8000;
        if (patient && sp.dwCurrentState == SERVICE_RUNNING) {
            SERVICE_STATUS st = {};
            if (!::ControlService(svc, SERVICE_CONTROL_STOP, &st) && ::GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
                refused = patient = false;
        }
        if (!patient && sp.dwProcessId) {
            HANDLE p = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, sp.dwProcessId);
            if (p) {
                ::TerminateProcess(p, 1);
                ::WaitForSingleObject(p, 5000);
                ::CloseHandle(p);
            }
        }
        if (::GetTickCount() - start > 20000)
            break;
        ::Sleep(200);
    }
    ::DeleteService(svc);
    ::CloseServiceHandle(svc);
    ::CloseServiceHandle(scm);
    // The manager drops a deleted service once the last handle is closed.
    for (int i = 0; i < 50; ++i) {
        SC_HANDLE m = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
        SC_HANDLE s = m ? ::OpenServiceA(m, name.c_str(), SERVICE_QUERY_STATUS) : nullptr;
        if (s)
            ::CloseServiceHandle(s);
        if (m)
            ::CloseServiceHandle(m);
        if (!s)
            break;
        ::Sleep(100);
    }
}

// One installed test service. args: the behaviour switches of kvtestsvc.
class CTestService {
public:
    // exe: the program the service runs; the fixture's own copy when empty.
    CTestService(const std::string& name, const std::string& args, DWORD startType = SERVICE_DEMAND_START,
                 const std::string& exe = std::string())
        : m_name(name)
    {
        ForceRemoveService(name);
        SC_HANDLE scm = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        if (!scm)
            return;
        std::string image = "\"" + (exe.empty() ? ServiceExe() : exe) + "\" " + name + (args.empty() ? "" : " " + args);
        SC_HANDLE svc = ::CreateServiceA(scm, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, startType, SERVICE_ERROR_NORMAL,
                                         image.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
        m_installed = svc != nullptr;
        m_createError = m_installed ? 0 : ::GetLastError();
        if (svc)
            ::CloseServiceHandle(svc);
        ::CloseServiceHandle(scm);
    }
    ~CTestService() { ForceRemoveService(m_name); }
    CTestService(const CTestService&) = delete;
    CTestService& operator=(const CTestService&) = delete;

    const std::string& Name() const { return m_name; }
    bool Installed() const { return m_installed; }
    DWORD CreateError() const { return m_createError; }
    DWORD State() const { return QueryState(m_name); }

    // Starts the service and waits until it runs.
    bool Start(DWORD timeoutMs = 15000)
    {
        SC_HANDLE scm = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE svc = scm ? ::OpenServiceA(scm, m_name.c_str(), SERVICE_ALL_ACCESS) : nullptr;
        bool ok = svc && (::StartServiceA(svc, 0, nullptr) || ::GetLastError() == ERROR_SERVICE_ALREADY_RUNNING);
        if (svc)
            ::CloseServiceHandle(svc);
        if (scm)
            ::CloseServiceHandle(scm);
        return ok && WaitForState(m_name, SERVICE_RUNNING, timeoutMs);
    }

    // Stops the service and waits until it has stopped.
    bool Stop(DWORD timeoutMs = 15000)
    {
        SC_HANDLE scm = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE svc = scm ? ::OpenServiceA(scm, m_name.c_str(), SERVICE_ALL_ACCESS) : nullptr;
        SERVICE_STATUS st = {};
        if (svc)
            ::ControlService(svc, SERVICE_CONTROL_STOP, &st);
        if (svc)
            ::CloseServiceHandle(svc);
        if (scm)
            ::CloseServiceHandle(scm);
        return WaitForState(m_name, SERVICE_STOPPED, timeoutMs);
    }

    DWORD StartType() const
    {
        DWORD type = 0xFFFFFFFF;
        SC_HANDLE scm = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
        SC_HANDLE svc = scm ? ::OpenServiceA(scm, m_name.c_str(), SERVICE_QUERY_CONFIG) : nullptr;
        if (svc) {
            std::vector<BYTE> buf(8192);
            DWORD needed = 0;
            if (::QueryServiceConfigA(svc, reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buf.data()),
                                      static_cast<DWORD>(buf.size()), &needed))
                type = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buf.data())->dwStartType;
            ::CloseServiceHandle(svc);
        }
        if (scm)
            ::CloseServiceHandle(scm);
        return type;
    }

    bool SetStartType(DWORD type)
    {
        SC_HANDLE scm = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE svc = scm ? ::OpenServiceA(scm, m_name.c_str(), SERVICE_ALL_ACCESS) : nullptr;
        bool ok = svc && ::ChangeServiceConfigA(svc, SERVICE_NO_CHANGE, type, SERVICE_NO_CHANGE, nullptr, nullptr,
                                                 nullptr, nullptr, nullptr, nullptr, nullptr);
        if (svc)
            ::CloseServiceHandle(svc);
        if (scm)
            ::CloseServiceHandle(scm);
        return ok;
    }

private:
    std::string m_name;
    bool m_installed = false;
    DWORD m_createError = 0;
};

// Copies of the waiter program under a name of the test's own, started and
// always ended again.
class CWaiters {
public:
    // exeName: the program name the copies run under, e.g. "kvw_kill3.exe";
    // program: the waiter build they are copies of.
    CWaiters(const kvtest::TempDir& dir, const std::string& exeName, const std::string& program = WaiterExe())
        : m_exe(dir / exeName)
    {
        ::CopyFileA(program.c_str(), m_exe.c_str(), FALSE);
        char buf[128];
        snprintf(buf, sizeof buf, "kvwaiter-stop-%lu-%lu", ::GetCurrentProcessId(), ::GetTickCount());
        m_stopName = buf;
        m_stop = ::CreateEventA(nullptr, TRUE, FALSE, m_stopName.c_str());
        snprintf(buf, sizeof buf, "kvwaiter-ready-%lu-%lu", ::GetCurrentProcessId(), ::GetTickCount());
        m_readyName = buf;
        m_ready = ::CreateSemaphoreA(nullptr, 0, 100000, m_readyName.c_str());
    }
    ~CWaiters()
    {
        ::SetEvent(m_stop);
        for (HANDLE p : m_processes) {
            if (::WaitForSingleObject(p, 5000) != WAIT_OBJECT_0)
                ::TerminateProcess(p, 1);
            ::CloseHandle(p);
        }
        ::CloseHandle(m_stop);
        ::CloseHandle(m_ready);
    }
    CWaiters(const CWaiters&) = delete;
    CWaiters& operator=(const CWaiters&) = delete;
    DWORD LastStartError() const { return m_lastError; }

    // Starts one copy that runs for at most ms; waits until it is running.
    bool Start(DWORD ms)
    {
        std::string cmd = "\"" + m_exe + "\" " + m_stopName + " " + std::to_string(ms) + " " + m_readyName;
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        std::vector<char> line(cmd.begin(), cmd.end());
        line.push_back(0);
        // Wine refuses a start now and then while dozens of processes come up
        // at once; a second try a moment later succeeds.
        bool started = false;
        for (int attempt = 0; attempt < 5 && !started; ++attempt) {
            started = ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi) != 0;
            if (!started) {
                m_lastError = ::GetLastError();
                ::Sleep(300);
            }
        }
        if (!started)
            return false;
        ::CloseHandle(pi.hThread);
        m_processes.push_back(pi.hProcess);
        // A copy that ends before it is ready (one the machine can't run)
        // fails the start at once.
        HANDLE readyOrEnded[2] = {m_ready, pi.hProcess};
        return ::WaitForMultipleObjects(2, readyOrEnded, FALSE, 20000) == WAIT_OBJECT_0;
    }

    size_t Count() const { return m_processes.size(); }
    HANDLE Process(size_t i) const { return m_processes[i]; }
    bool Ended(size_t i) const { return ::WaitForSingleObject(m_processes[i], 0) == WAIT_OBJECT_0; }
    bool WaitEnded(size_t i, DWORD ms) const { return ::WaitForSingleObject(m_processes[i], ms) == WAIT_OBJECT_0; }
    DWORD ExitCode(size_t i) const
    {
        DWORD code = 0;
        ::GetExitCodeProcess(m_processes[i], &code);
        return code;
    }
    void StopAll() { ::SetEvent(m_stop); }

private:
    std::string m_exe;
    std::string m_stopName, m_readyName;
    HANDLE m_stop = nullptr;
    HANDLE m_ready = nullptr;
    DWORD m_lastError = 0;
    std::vector<HANDLE> m_processes;
};

}  // namespace kvsvc
