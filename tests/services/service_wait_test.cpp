// The wait for a service's state against scripted services on a clock of the
// test's own: the deadlines exactly, without a loaded machine in the way.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "util/ServiceWait.h"

namespace {

struct Phase {
    ULONGLONG fromMs;
    DWORD state;
    DWORD win32Exit;
    DWORD waitHint;
};

// A service that goes through its phases as the clock runs; the clock moves
// only when the wait pauses.
class CScriptedService : public CServiceWaitHost {
public:
    CScriptedService(std::vector<Phase> phases, ULONGLONG queriesFailFrom)
        : m_phases(std::move(phases)), m_failFrom(queriesFailFrom)
    {
    }
    bool Query(SERVICE_STATUS& status) override
    {
        // A wait that never pauses would never end: fail it instead.
        if (m_now >= m_failFrom || ++m_queries > 100000)
            return false;
        m_queryTimes.push_back(m_now);
        const Phase* current = &m_phases.front();
        for (const Phase& p : m_phases)
            if (p.fromMs <= m_now)
                current = &p;
        status = SERVICE_STATUS();
        status.dwCurrentState = current->state;
        status.dwWin32ExitCode = current->win32Exit;
        status.dwWaitHint = current->waitHint;
        return true;
    }
    ULONGLONG Now() override { return m_now; }
    void Pause(DWORD ms) override
    {
        m_pauses.push_back(ms);
        m_now += ms;
    }

    std::vector<Phase> m_phases;
    ULONGLONG m_failFrom;
    ULONGLONG m_now = 0;
    int m_queries = 0;
    std::vector<ULONGLONG> m_queryTimes;
    std::vector<DWORD> m_pauses;
};

const ULONGLONG kNever = ~0ull;
const DWORD kTimeout = ERROR_SERVICE_REQUEST_TIMEOUT;

struct Case {
    const char* what;
    EServiceGoal goal;
    int waitSeconds;
    std::vector<Phase> phases;
    ULONGLONG queriesFailFrom;
    DWORD result;
    ULONGLONG endsFrom, endsBy;  // the clock when the wait returns
};

}  // namespace

TEST(ServiceWait, ArrivesAsSoonAsTheServiceDoesAndGivesUpAtTheDeadline)
{
    const EServiceGoal run = SERVICE_GOAL_RUNNING, stop = SERVICE_GOAL_STOPPED;
    const Case cases[] = {
        // Stops.
        {"stop answered with RUNNING, stopped after 100 ms", stop, 150,
         {{0, SERVICE_RUNNING, 0, 0}, {100, SERVICE_STOPPED, 0, 0}}, kNever, 0, 100, 150},
        {"stop pending for ever: fails at the limit plus one second, not before", stop, 3,
         {{0, SERVICE_STOP_PENDING, 0, 2000}}, kNever, kTimeout, 4000, 4000},
        {"slow stop with a long hint", stop, 150,
         {{0, SERVICE_STOP_PENDING, 0, 30000}, {5000, SERVICE_STOPPED, 0, 0}}, kNever, 0, 5000, 5250},
        {"stop taken in but the service keeps running: known at one second", stop, 150,
         {{0, SERVICE_RUNNING, 0, 0}}, kNever, kTimeout, 1000, 1050},
        {"stop pending, then running again", stop, 150,
         {{0, SERVICE_STOP_PENDING, 0, 0}, {1500, SERVICE_RUNNING, 0, 0}}, kNever, kTimeout, 1500, 1550},
        {"stop pending after the first second", stop, 0,
         {{0, SERVICE_STOP_PENDING, 0, 0}}, kNever, kTimeout, 1000, 1000},
        // Starts.
        {"wait 0 on a slow starter: fails at one second", run, 0,
         {{0, SERVICE_START_PENDING, 0, 2000}}, kNever, kTimeout, 1000, 1000},
        {"slow starter within its limit", run, 5,
         {{0, SERVICE_START_PENDING, 0, 2000}, {2500, SERVICE_RUNNING, 0, 0}}, kNever, 0, 2500, 2750},
        {"slow starter beyond its limit: fails at the limit, not at arrival", run, 1,
         {{0, SERVICE_START_PENDING, 0, 2000}, {2500, SERVICE_RUNNING, 0, 0}}, kNever, kTimeout, 2000, 2000},
        {"arrives exactly at the deadline", run, 2,
         {{0, SERVICE_START_PENDING, 0, 100000}, {3000, SERVICE_RUNNING, 0, 0}}, kNever, 0, 3000, 3000},
        {"ends with its own error", run, 30,
         {{0, SERVICE_START_PENDING, 0, 0}, {200, SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR, 0}}, kNever,
         ERROR_SERVICE_SPECIFIC_ERROR, 200, 250},
        {"stopped without an error at first is not the end of a start", run, 30,
         {{0, SERVICE_STOPPED, 0, 0}, {150, SERVICE_START_PENDING, 0, 0}, {400, SERVICE_RUNNING, 0, 0}}, kNever,
         0, 400, 450},
        {"stays stopped without an error: known at one second", run, 30,
         {{0, SERVICE_STOPPED, ERROR_SERVICE_NEVER_STARTED, 0}}, kNever, kTimeout, 1000, 1050},
        {"the longest limit a script can give", run, INT_MAX,
         {{0, SERVICE_START_PENDING, 0, 0}, {300, SERVICE_RUNNING, 0, 0}}, kNever, 0, 300, 350},
        {"a negative limit is no limit beyond the first second", run, -5,
         {{0, SERVICE_START_PENDING, 0, 0}}, kNever, kTimeout, 1000, 1000},
        // The status can't be read.
        {"query fails at once", run, 30, {{0, SERVICE_START_PENDING, 0, 0}}, 0, kTimeout, 0, 0},
        {"query fails while stopping", stop, 30, {{0, SERVICE_STOP_PENDING, 0, 0}}, 700, kTimeout, 700, 750},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CScriptedService svc(c.phases, c.queriesFailFrom);
        EXPECT_EQ(c.result, WaitForServiceGoal(svc, c.goal, c.waitSeconds));
        EXPECT_GE(svc.m_now, c.endsFrom);
        EXPECT_LE(svc.m_now, c.endsBy);
        if (c.queriesFailFrom != 0) {
            ASSERT_FALSE(svc.m_queryTimes.empty());
            EXPECT_EQ(0u, svc.m_queryTimes.front()) << "the first look waits for nothing";
        }
        // Short pauses, but pauses: the service's state is known within 250
        // ms, and the manager is asked at most every 10 ms (only the pause
        // that ends on the deadline may be shorter).
        for (size_t i = 0; i < svc.m_pauses.size(); ++i) {
            EXPECT_LE(svc.m_pauses[i], 250u) << i;
            if (i + 1 < svc.m_pauses.size()) {
                EXPECT_GE(svc.m_pauses[i], 10u) << i;
            }
        }
    }
}
