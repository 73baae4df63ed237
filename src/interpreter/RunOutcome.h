#pragma once
// How a run ended, in the two forms its starter may read: the run's own code
// (what /G ends the process with) and the conventional code that deployment
// systems understand without knowing this program.
#include <string>

struct CHFS_RunOutcome {
    int m_nExitCode = -2000;       // the run's own code
    int m_nConventionalCode = 0;   // see KvConventionalExitCode
    bool m_bSuccess = false;       // the run did what it was asked to do
    bool m_bRebootRequired = false;
    bool m_bRemoval = false;       // the run was asked to remove, not to install
    // The step that ended the run (0: none, for example a refused removal)
    // and its section value (empty: none; the procedure itself when it has
    // no usable StepCount).
    int m_nFailedStep = 0;
    std::string m_strFailedSection;
};

// The conventional codes are the system's own installer error codes.
enum {
    KV_CONVENTIONAL_SUCCESS = 0,
    KV_CONVENTIONAL_USER_BREAK = 1602,       // ERROR_INSTALL_USEREXIT
    KV_CONVENTIONAL_FAILURE = 1603,          // ERROR_INSTALL_FAILURE
    KV_CONVENTIONAL_ANOTHER_COPY = 1618,     // ERROR_INSTALL_ALREADY_RUNNING
    KV_CONVENTIONAL_REBOOT_REQUIRED = 3010,  // ERROR_SUCCESS_REBOOT_REQUIRED
};

// succeeded: the run did what it was asked to do; result: the step runner's
// final answer; exitCode: the run's own code. A break (KVHF_USERBREAK) is
// the user's or the script's only when the exit code is not a full item
// list's (codes ending in 99 also come with -300).
int KvConventionalExitCode(bool succeeded, int result, int exitCode, bool needReboot);

// Told once, at the very end of Execute, before /G may end the process.
class CHFS_RunEndListener {
public:
    virtual ~CHFS_RunEndListener() {}
    virtual void RunEnded(const CHFS_RunOutcome& outcome) = 0;
};
