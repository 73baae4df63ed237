#pragma once
// The result document of a run (/J:), for deployment systems: UTF-8 JSON with
// fixed fields, whatever the system's code page.
#include <windows.h>
#include <string>

#include "interpreter/RunOutcome.h"

struct CKvRunResult {
    std::string strPatchId;     // ANSI code page, like every script text
    CHFS_RunOutcome outcome;
    SYSTEMTIME startTime = {};  // UTC
    SYSTEMTIME endTime = {};    // UTC
    bool bHasLog = false;       // no log with /M
    std::string strLogPath;     // ANSI code page
    std::string strVersion;     // the program's file version
};

// "2026-03-07T09:05:03Z".
std::string KvIsoUtcTime(const SYSTEMTIME& utc);
// The document: patchId, action, exitCode, conventionalExitCode, success,
// rebootRequired, failedStep, failedSection, startTime, endTime, log,
// korvexVersion, in that order.
std::string KvRunResultJson(const CKvRunResult& result);
// The running program's file version ("2.0.0.0"); empty when it has none.
std::string KvProgramVersion();
