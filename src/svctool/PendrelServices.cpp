#include "Pendrel.h"

#include <vector>

namespace {

const DWORD kStopPollMs = 1000;
const int kStopPolls = 600;
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
    for (int counter = 0;; ++counter) {
        PendrelPause(kStopPollMs);
        if (!::QueryServiceStatus(service.Get(), &status))
            break;
        lastState = status.dwCurrentState;
        if (counter >= kStopPolls || lastState != SERVICE_STOP_PENDING)
            break;
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
