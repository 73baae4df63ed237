#pragma once
// The command policy's view of this machine: files, the environment the
// command interpreter inherits and the code page's lead bytes.
#include <string>

#include "util/CommandPolicy.h"

CKvCommandEnv KvCommandEnvironment(const std::string& folder);
