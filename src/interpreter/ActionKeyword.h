#pragma once
// The action keywords of the event keys and their result codes. Pure text
// work, shared by the event handler and the native fuzzing build.
#include <string>

// True and the code for a keyword of the table (KVHF_GOTOSTEP(n) gives n,
// held at the largest int); false for anything else.
bool KvActionCode(const std::string& value, int& code);
