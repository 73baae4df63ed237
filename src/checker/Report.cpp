#include "checker/Report.h"

#include <windows.h>

#include <nlohmann/json.hpp>

#include "util/CodePageText.h"

namespace kvcheck {

std::string FindingLine(const Finding& f)
{
    std::string line = "[" + f.section + "]";
    if (!f.key.empty())
        line += " " + f.key;
    return line + ": " + f.kind + (f.warning ? " (warning)" : "") + ": " + f.message;
}

std::string AnsiToUtf8(const std::string& text)
{
    return KvAnsiToUtf8(text);
}

std::string JsonReport(const CPackageChecker& checker, int exitCode)
{
    nlohmann::ordered_json report;
    report["package"] = AnsiToUtf8(checker.PackageDir());
    report["script"] = AnsiToUtf8(checker.ScriptFile());
    report["exitCode"] = exitCode;
    if (exitCode == kExitUnreadable)
        report["error"] = AnsiToUtf8(checker.Error());
    report["count"] = checker.Findings().size();
    report["errors"] = checker.ErrorCount();
    nlohmann::ordered_json findings = nlohmann::ordered_json::array();
    for (const Finding& f : checker.Findings()) {
        nlohmann::ordered_json item;
        item["kind"] = f.kind;
        item["severity"] = f.warning ? "warning" : "error";
        item["section"] = AnsiToUtf8(f.section);
        item["key"] = AnsiToUtf8(f.key);
        item["message"] = AnsiToUtf8(f.message);
        findings.push_back(item);
    }
    report["findings"] = findings;
    // A byte the code page could not map must not cost the whole report.
    return report.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace kvcheck
