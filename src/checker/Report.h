#pragma once
// What the checker hands its user: one line per finding and the report as
// JSON (UTF-8), written through nlohmann's library.
#include <string>
#include <vector>

#include "checker/Checker.h"

namespace kvcheck {

// "[section] key: kind: message" ("[section]: kind: message" without a key;
// "kind (warning)" for a warning).
std::string FindingLine(const Finding& finding);
// An 8-bit text of the system's code page as UTF-8.
std::string AnsiToUtf8(const std::string& text);
// The whole report: package, script, exitCode, error (only for an
// unreadable package), count, errors and the findings with kind, severity,
// section, key and message.
std::string JsonReport(const CPackageChecker& checker, int exitCode);

}  // namespace kvcheck
