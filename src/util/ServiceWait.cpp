#include "util/ServiceWait.h"

namespace {

// Until this long after the request only a final state ends the wait: the
// state reported right after a request may still be the one before it (a
// stop control is answered with RUNNING while the service has not yet
// taken it in). From then on a state that is not on its way ends the wait,
// as it did when the first look came one second after the request.
const ULONGLONG kSettleMs = 1000;

// Pauses between looks start short and double up to a cap: 50 ms in the
// first second, later a tenth of the service's own wait hint within 50 to
// 250 ms, so that a slow service is not asked twenty times a second for a
// minute and a quick one is still seen within a quarter of a second.
const DWORD kFirstPauseMs = 10;
const DWORD kSettlingCapMs = 50;
const DWORD kMinCapMs = 50;
const DWORD kMaxCapMs = 250;

enum EVerdict { kKeepWaiting, kArrived, kGaveUp };

// The service's own error, when it ended with one instead of starting.
DWORD StartFailure(const SERVICE_STATUS& status)
{
    DWORD code = status.dwWin32ExitCode;
    return code == NO_ERROR || code == ERROR_SERVICE_NEVER_STARTED ? 0 : code;
}

EVerdict Judge(EServiceGoal goal, const SERVICE_STATUS& status, bool settled)
{
    DWORD state = status.dwCurrentState;
    if (goal == SERVICE_GOAL_RUNNING) {
        if (state == SERVICE_RUNNING)
            return kArrived;
        // A service that has ended will not come up: waiting out the whole
        // limit would only hide its own error behind a time-out.
        if (state == SERVICE_STOPPED && (settled || StartFailure(status) != 0))
            return kGaveUp;
        return kKeepWaiting;
    }
    if (state == SERVICE_STOPPED)
        return kArrived;
    if (state == SERVICE_STOP_PENDING || !settled)
        return kKeepWaiting;
    return kGaveUp;
}

DWORD PauseCap(const SERVICE_STATUS& status, bool settled)
{
    if (!settled)
        return kSettlingCapMs;
    DWORD cap = status.dwWaitHint / 10;
    return cap < kMinCapMs ? kMinCapMs : cap > kMaxCapMs ? kMaxCapMs : cap;
}

}  // namespace

DWORD WaitForServiceGoal(CServiceWaitHost& host, EServiceGoal goal, int waitSeconds)
{
    const ULONGLONG start = host.Now();
    const ULONGLONG limitMs = waitSeconds > 0 ? static_cast<ULONGLONG>(waitSeconds) * 1000 : 0;
    const ULONGLONG deadline = start + kSettleMs + limitMs;
    DWORD pause = kFirstPauseMs;
    for (;;) {
        SERVICE_STATUS status = {};
        if (!host.Query(status))
            return ERROR_SERVICE_REQUEST_TIMEOUT;
        const ULONGLONG now = host.Now();
        const bool settled = now - start >= kSettleMs;
        switch (Judge(goal, status, settled)) {
        case kArrived:
            return 0;
        case kGaveUp: {
            DWORD own = goal == SERVICE_GOAL_RUNNING ? StartFailure(status) : 0;
            return own != 0 ? own : ERROR_SERVICE_REQUEST_TIMEOUT;
        }
        case kKeepWaiting:
            break;
        }
        if (now >= deadline)
            return ERROR_SERVICE_REQUEST_TIMEOUT;
        DWORD cap = PauseCap(status, settled);
        DWORD ms = pause < cap ? pause : cap;
        pause = ms * 2;
        // The last look falls on the deadline itself: a service that arrives
        // just in time is not failed for the length of a pause.
        ULONGLONG left = deadline - now;
        host.Pause(left < ms ? static_cast<DWORD>(left) : ms);
    }
}
