#pragma once
// Waiting for a service to arrive at the state a start or a stop asked for.
// The wait limit is a deadline counted from the request (wait seconds plus
// one second): a service that does not arrive fails no earlier and no later
// than that. Its state is looked at at once and then at short intervals, so
// that a service that gets there in 100 ms costs about 100 ms.
#include <windows.h>

// What the wait needs of the machine. The tests put a scripted service and a
// clock of their own in its place.
class CServiceWaitHost {
public:
    virtual ~CServiceWaitHost() {}
    // The service's status now; false when it can't be queried.
    virtual bool Query(SERVICE_STATUS& status) = 0;
    // Milliseconds on a clock that never goes back.
    virtual ULONGLONG Now() = 0;
    virtual void Pause(DWORD ms) = 0;
};

enum EServiceGoal { SERVICE_GOAL_RUNNING, SERVICE_GOAL_STOPPED };

// Called right after the manager accepted the start (goal running) or the
// stop control (goal stopped). 0 when the service arrived; for a start, the
// service's own error when it stopped with one; otherwise
// ERROR_SERVICE_REQUEST_TIMEOUT.
DWORD WaitForServiceGoal(CServiceWaitHost& host, EServiceGoal goal, int waitSeconds);
