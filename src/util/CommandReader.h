#pragma once
// The reader of the commands in a line for the command interpreter (see
// util/CommandPolicy.h); the policy's second half.
#include <string>

#include "util/CommandPolicy.h"

// Holds every command of text (the line after the interpreter's own
// expansion) against the policy; the first problem goes into verdict.
void KvReadCommandLine(const std::string& text, const CKvCommandEnv& env, CKvCommandVerdict& verdict);
