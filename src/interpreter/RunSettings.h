#pragma once
// What the command line decides for the interpreter, handed over once when
// the interpreter is made. The interpreter owns its copy: the switch from a
// failed install to the removal procedure and a cancelled trace window change
// it for the rest of the run.
#include <string>

struct CHFS_RunSettings {
    int m_bSilent = 0;           // /S, /C: no questions, Default actions
    int m_bUninstall = 0;        // /U: ProductRemove.Main
    std::string m_strRecordFile; // /U:<file>: the install record to remove
    int m_bKeepRecord = 0;       // /D: keep the record after a removal
    int m_bTrace = 0;            // /T: show every value read
    int m_bRemoteProgress = 0;   // /R: progress into the remote-progress value
    int m_bPrintErrorCode = 0;   // /E: print a failure's code on the console
    int m_bExitCode = 0;         // /G: end the process with the run's code
    // The package checker reads a package without running it: nothing is
    // created or written, and Execute runs no step.
    int m_bCheckOnly = 0;
    // The package folder when it is not the program's own folder (the
    // checker runs from elsewhere); empty: the program's folder.
    std::string m_strPackageDir;
};
