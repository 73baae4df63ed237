#pragma once
// The copy the file sections use: a safety copy of the file being replaced,
// and the OnCopyFail policy (clear read-only, replace at the next boot).
#include <string>

#include "util/LogSink.h"

int CopyFileSafe(CKvLogSink* pLog, const std::string& source, const std::string& destination);
// *pRebootScheduled (when given) tells whether the new file was staged for
// replacement at the next start; the caller raises NEED_REBOOT then.
int CopyFileWithFailPolicy(CKvLogSink* pLog, const std::string& source, const std::string& destination,
                           bool removeReadOnly, bool reboot, bool* pRebootScheduled = nullptr);
