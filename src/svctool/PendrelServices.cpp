#include "Pendrel.h"

#include <vector>

namespace {

// A stop has 601 seconds to arrive, counted from the request: one
// second for the control to be taken in, then 600 more.
const ULONGLONG kStopLimitMs = 601000;
const ULONGLONG kSettleMs = 1000;
// Looks at the state start 10 ms apart and double up to 50 ms in the first
// second, later up to a tenth of the service's wait hint within 50 to 250 ms:
// a service that stops in 100 ms costs about 100 ms.
const DWORD kFirstPauseMs = 10;
const DWORD kSettlingCapMs = 50;
const DWORD kMinCapMs = 50;
const DWORD kMaxCapMs = 250;
const DWORD kEmptyNamePauseMs = 5000;

class CServiceHandle {
public:
    explicit CServiceHandle(SC_HANDLE h = nullptr) : m_h(h) {}
    ~CServiceHandle()
    {
        if (m_h)
            ::CloseServiceHandle(m_h);
    }
    CServiceHandle(const CServiceHandle&) = delete;
    CServiceHandle& operator=(const CServiceHandle&) = delete;
    SC_HANDLE Get() const { return m_h; }
    explicit operator bool() const { return m_h != nullptr; }
    void Reset(SC_HANDLE h)
    {
        if (m_h)
            ::CloseServiceHandle(m_h);
        m_h = h;
    }

private:
    SC_HANDLE m_h;
};

bool OpenService(const wchar_t* name, CServiceHandle& manager, CServiceHandle& service)
{
    manager.Reset(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        PendrelTrace(L"OpenSCManager(NULL) fail(%d)", static_cast<int>(::GetLastError()));
        return false;
    }
    service.Reset(::OpenServiceW(manager.Get(), name, SERVICE_ALL_ACCESS));
    if (!service) {
        PendrelTrace(L"OpenService(%ls) fail(%d)", name, static_cast<int>(::GetLastError()));
        return false;
    }
    return true;
}

}  // namespace

int StopServiceAndWait(const wchar_t* name)
{
    if (!name || !*name) {
        PendrelPause(kEmptyNamePauseMs);
        return 0;
    }
    CServiceHandle manager, service;
    if (!OpenService(name, manager, service))
        return -1;
    SERVICE_STATUS status = {};
    if (!::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status)) {
        DWORD err = ::GetLastError();
        if (err == ERROR_SERVICE_NOT_ACTIVE)
            return 0;
        PendrelTrace(L"StopService() fail(%d)", static_cast<int>(err));
        return -1;
    }
    DWORD lastState = status.dwCurrentState;
    const ULONGLONG start = ::GetTickCount64();
    DWORD pause = kFirstPauseMs;
    for (;;) {
        if (!::QueryServiceStatus(service.Get(), &status))
            break;
        lastState = status.dwCurrentState;
        const ULONGLONG elapsed = ::GetTickCount64() - start;
        // Right after the request the service may still report the state it
        // had before it took the control in; a second later a state that is
        // not on its way to stopped means the stop will not come.
        const bool settled = elapsed >= kSettleMs;
        if (lastState == SERVICE_STOPPED || (settled && lastState != SERVICE_STOP_PENDING) ||
            elapsed >= kStopLimitMs)
            break;
        DWORD cap = settled ? status.dwWaitHint / 10 : kSettlingCapMs;
        cap = cap < kMinCapMs ? kMinCapMs : cap > kMaxCapMs ? kMaxCapMs : cap;
        DWORD ms = pause < cap ? pause : cap;
        pause = ms * 2;
        const ULONGLONG left = kStopLimitMs - elapsed;
        PendrelPause(left < ms ? static_cast<DWORD>(left) : ms);
    }
    return lastState == SERVICE_STOPPED ? 0 : -1;
}

int SetServiceEnabled(const wchar_t* name, bool disable)
{
    CServiceHandle manager, service;
    if (!OpenService(name, manager, service))
        return -1;
    DWORD needed = 0;
    if (::QueryServiceConfigW(service.Get(), nullptr, 0, &needed) || ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        PendrelTrace(L"QueryServiceConfig(%ls) fail(%d)", name, static_cast<int>(::GetLastError()));
        return -1;
    }
    std::vector<BYTE> buffer(static_cast<size_t>(needed) + 2, 0);
    QUERY_SERVICE_CONFIGW* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!::QueryServiceConfigW(service.Get(), config, needed, &needed)) {
        PendrelTrace(L"QueryServiceConfig(%ls) fail(%d)", name, static_cast<int>(::GetLastError()));
        return -1;
    }
    DWORD startType;
    if (disable) {
        if (config->dwStartType == SERVICE_DISABLED)
            return 0;
        startType = SERVICE_DISABLED;
    } else {
        // Enabling only undoes a disable: a demand-start service stays so.
        if (config->dwStartType != SERVICE_DISABLED)
            return 0;
        startType = SERVICE_AUTO_START;
    }
    if (!::ChangeServiceConfigW(service.Get(), SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr, nullptr)) {
        PendrelTrace(L"ChangeServiceConfig(%ls) fail(%d)", name, static_cast<int>(::GetLastError()));
        return -1;
    }
    if (disable)
        PendrelTrace(L"DisableService %ls succeeds", name);
    else
        PendrelTrace(L"EnableService(SERVICE_AUTO_START) %ls succeeds", name);
    return 0;
}
