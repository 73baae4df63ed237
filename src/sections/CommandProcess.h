#pragma once
// Starting a command of the Run section as a process of its own and waiting
// for it, on the current or a hidden desktop, with or without a time limit.
#include <windows.h>
#include <string>

struct CHFS_ProcessStart {
    // The program file to start (full path); empty: the first word of the
    // command line, found as the system searches for it.
    std::string strApplication;
    std::string strCommandLine;
    std::string strFolder;           // current folder of the process; empty: ours
    bool bHiddenDesktop = false;     // on the desktop "MyDesk"
    DWORD dwCreationFlags = CREATE_NEW_PROCESS_GROUP;
    // The characters the command-line buffer holds, terminator included.
    size_t nBufferSize = 30000;
    int nTimeoutSeconds = 0;         // 0: wait for as long as it runs
};

enum {
    KVPROC_ENDED = 0,        // it ended by itself; exitCode holds its code
    KVPROC_TOO_LONG = -1,    // the command line does not fit the buffer
    KVPROC_NO_DESKTOP = -2,  // the hidden desktop could not be made (error)
    KVPROC_NOT_STARTED = -3, // CreateProcess failed (error)
    KVPROC_WAIT_FAILED = -4, // the wait or the exit code failed (error)
    // The time limit passed: the process and every process it started were
    // ended (error: 0, or why they could not be ended).
    KVPROC_TIMED_OUT = -5
};

// Starts the process, waits for it to end (by itself or, at the time limit,
// ended from here) and gives its exit code. error: the system error of a
// failure.
int KvStartAndWait(const CHFS_ProcessStart& start, DWORD& exitCode, DWORD& error);
