#pragma once
// Replacing and deleting files at the next start of the system, for files
// that are in use now, and taking such a request back again.
#include <string>

#include "util/LogSink.h"

// Has the system put staged in place of destination at the next start
// (wininit.ini on the 9x family, a delayed move elsewhere). tag begins the
// log lines ("[OnCopyFail]"). false, logged, when the system refused.
bool KvScheduleReplacement(CKvLogSink* log, const char* tag, const std::string& staged,
                           const std::string& destination);
// Has the system delete path at the next start; false (logged) when refused.
bool KvScheduleDeletion(CKvLogSink* log, const char* tag, const std::string& path);
// Takes back a replacement requested for staged: the request leaves the
// system's list of pending renames and the staged file is deleted. 1: a
// request was taken back; 0: none was pending (a restart has carried it out,
// or it was never made); -1: one is pending but could not be taken back
// (logged).
int KvTakeBackReplacement(CKvLogSink* log, const std::string& staged);
// Whether a replacement of staged is still pending.
bool KvReplacementPending(const std::string& staged);
