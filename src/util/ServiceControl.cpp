#include "util/ServiceControl.h"

#include <cstring>

#include "util/ServiceWait.h"
#include "util/SystemLib.h"
#include "util/WinHandles.h"

namespace {

class CServiceHandleWait : public CServiceWaitHost {
public:
    explicit CServiceHandleWait(SC_HANDLE service) : m_hService(service) {}
    bool Query(SERVICE_STATUS& status) override { return ::QueryServiceStatus(m_hService, &status) != 0; }
    ULONGLONG Now() override { return ::GetTickCount64(); }
    void Pause(DWORD ms) override { ::Sleep(ms); }

private:
    SC_HANDLE m_hService;
};

// Network-management messages live in their own message file, not in the
// system's table.
bool IsNetworkMessage(DWORD code) { return code >= 2100 && code <= 2999; }

const char* MachineArg(const char* machine) { return (machine && *machine) ? machine : nullptr; }

// Opens the manager and the service with full access; 0 or the Windows error.
DWORD OpenForControl(const char* machine, const char* service, CScHandle& manager, CScHandle& handle)
{
    manager.Reset(::OpenSCManagerA(MachineArg(machine), nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return ::GetLastError();
    handle.Reset(::OpenServiceA(manager.Get(), service ? service : "", SERVICE_ALL_ACCESS));
    if (!handle)
        return ::GetLastError();
    return 0;
}

DWORD Finish(DWORD result, char* text, int textSize)
{
    if (result != 0)
        SMGetErrorText(result, text, textSize);
    return result;
}

}  // namespace

DWORD SMStartService(const char* machine, const char* service, char* text, int textSize, int waitSeconds)
{
    CScHandle manager, handle;
    DWORD result = OpenForControl(machine, service, manager, handle);
    if (result != 0)
        return Finish(result, text, textSize);
    if (!::StartServiceA(handle.Get(), 0, nullptr))
        return Finish(::GetLastError(), text, textSize);
    CServiceHandleWait wait(handle.Get());
    return Finish(WaitForServiceGoal(wait, SERVICE_GOAL_RUNNING, waitSeconds), text, textSize);
}

DWORD SMStopService(const char* machine, const char* service, char* text, int textSize, int waitSeconds)
{
    CScHandle manager, handle;
    DWORD result = OpenForControl(machine, service, manager, handle);
    if (result != 0)
        return Finish(result, text, textSize);
    SERVICE_STATUS status = {};
    if (!::ControlService(handle.Get(), SERVICE_CONTROL_STOP, &status)) {
        DWORD err = ::GetLastError();
        return Finish(err == ERROR_SERVICE_NOT_ACTIVE ? 0 : err, text, textSize);
    }
    CServiceHandleWait wait(handle.Get());
    return Finish(WaitForServiceGoal(wait, SERVICE_GOAL_STOPPED, waitSeconds), text, textSize);
}

int SMQueryServiceStatus(const char* service)
{
    CScHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return 0;
    CScHandle handle(::OpenServiceA(manager.Get(), service ? service : "", SERVICE_QUERY_STATUS));
    if (!handle)
        return 0;
    SERVICE_STATUS status = {};
    if (!::QueryServiceStatus(handle.Get(), &status))
        return 0;
    return status.dwCurrentState == SERVICE_RUNNING ? 1 : 2;
}

void SMGetErrorText(DWORD code, char* buffer, int size)
{
    if (code == 0 || !buffer || size <= 0)
        return;
    DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    CLibrary netmsg;
    if (IsNetworkMessage(code)) {
        netmsg.Reset(LoadSystemLibrary("netmsg.dll", LOAD_LIBRARY_AS_DATAFILE));
        if (netmsg)
            flags |= FORMAT_MESSAGE_FROM_HMODULE;
    }
    char work[2048] = {0};
    DWORD n = ::FormatMessageA(flags, netmsg.Get(), code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), work,
                               sizeof(work) - 1, nullptr);
    if (n >= sizeof(work))
        n = sizeof(work) - 1;
    work[n] = 0;
    size_t len = std::strlen(work);
    if (len > static_cast<size_t>(size - 1))
        len = static_cast<size_t>(size - 1);
    std::memcpy(buffer, work, len);
    buffer[len] = 0;
}
