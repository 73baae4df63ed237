#pragma once
// Putting a saved file back, and taking away a file a patch created, even
// when the file is in use: then the system does it at the next start.
#include <string>

#include "util/LogSink.h"

enum { KVRESTORE_FAILED = -1, KVRESTORE_DONE = 0, KVRESTORE_AT_NEXT_START = 1 };

// Puts saved in place of target. Where both lie on one volume the saved file
// is renamed over the target (it is used up, and keeps its times,
// attributes and security as they were saved); otherwise it is copied and
// deleted. A target in use is replaced at the next start: the saved file is
// then kept until that start, so that an attempt made again before it finds
// it still. KVRESTORE_FAILED (logged) when neither can be done; the target
// is then as it was.
int KvPutBack(CKvLogSink* log, const std::string& saved, const std::string& target);
// Deletes a file (read-only or not); one in use is deleted at the next start.
int KvTakeAway(CKvLogSink* log, const std::string& path);
