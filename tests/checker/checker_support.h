#pragma once
// Helpers shared by the checker's tests.
#include <string>
#include <vector>

#include "TestSupport.h"
#include "checker/Checker.h"
#include "checker/Report.h"

namespace kvtest {

// Scripts are written with "\n" in the tests and stored with CR LF.
inline std::string WithCrLf(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

inline std::string FindingLines(const std::vector<kvcheck::Finding>& findings)
{
    std::string text;
    for (const kvcheck::Finding& f : findings)
        text += kvcheck::FindingLine(f) + "\n";
    return text;
}

inline std::string CheckPkgExe() { return BinDir() + "\\checkpkg.exe"; }

}  // namespace kvtest
