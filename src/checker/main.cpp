// checkpkg: checks a patch package before it ships, and seals it.
//   checkpkg [--seal] <package folder> [--json <file>]
// Exit code 0: no errors (warnings may be printed; with --seal: sealed);
// 1: errors (with --seal: not sealed); 2: the package cannot be read, the
// manifest cannot be written, or the command line or the report file is
// wrong, so nothing could be told.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "checker/Checker.h"
#include "checker/Report.h"
#include "util/CodePageText.h"
#include "util/WinHandles.h"

namespace {

const char kUsage[] =
    "usage: checkpkg [--seal] <package folder> [--json <report file>]\n"
    "Checks the script (setup.ini, else HotFix.ini) and the file groups of a patch package\n"
    "without changing anything. Exit code 0: no errors (warnings may be shown), 1: errors,\n"
    "2: the package cannot be read.\n"
    "--seal: when there are no errors, writes the manifest package.sha256 into the package\n"
    "(the SHA-256 of the script, the file groups and the package files the script names);\n"
    "Korvex then refuses the package if any of them is altered or missing, or a file is\n"
    "added to a file group. Exit code 0: sealed, 1: not sealed, 2: not written.\n";

// A console shows the text as the program's code page meant it; a pipe or a
// file gets the bytes unchanged, like the installer's own log.
void Print(FILE* stream, const std::string& text)
{
    HANDLE h = ::GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (h && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode)) {
        std::wstring w = KvWiden(CP_ACP, text);
        if (!w.empty()) {
            fflush(stream);
            DWORD written = 0;
            if (::WriteConsoleW(h, w.data(), static_cast<DWORD>(w.size()), &written, nullptr))
                return;
        }
    }
    fwrite(text.data(), 1, text.size(), stream);
    fflush(stream);
}

bool WriteReport(const std::string& path, const std::string& text)
{
    CHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    DWORD written = 0;
    return ::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

}  // namespace

int main(int argc, char** argv)
{
    std::string package, json;
    bool havePackage = false;
    bool seal = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            Print(stdout, kUsage);
            return kvcheck::kExitClean;
        }
        if (arg == "--seal") {
            seal = true;
        } else if (arg == "--json") {
            if (i + 1 >= argc) {
                Print(stderr, "checkpkg: --json needs a file name\n" + std::string(kUsage));
                return kvcheck::kExitUnreadable;
            }
            json = argv[++i];
        } else if (!havePackage && !(arg.size() > 1 && arg[0] == '-')) {
            package = arg;
            havePackage = true;
        } else {
            Print(stderr, "checkpkg: unexpected argument '" + arg + "'\n" + kUsage);
            return kvcheck::kExitUnreadable;
        }
    }
    if (!havePackage) {
        Print(stderr, kUsage);
        return kvcheck::kExitUnreadable;
    }

    kvcheck::CPackageChecker checker(package);
    checker.SetSealing(seal);
    int code = checker.Run();
    if (code == kvcheck::kExitUnreadable) {
        Print(stderr, "checkpkg: " + checker.Error() + "\n");
    } else {
        std::string out;
        for (const kvcheck::Finding& f : checker.Findings())
            out += kvcheck::FindingLine(f) + "\n";
        const size_t errors = checker.ErrorCount();
        const size_t warnings = checker.Findings().size() - errors;
        out += checker.Findings().empty()
                   ? "checkpkg: " + checker.ScriptFile() + ": no findings\n"
                   : "checkpkg: " + checker.ScriptFile() + ": " + std::to_string(checker.Findings().size()) +
                         " finding(s), " + std::to_string(errors) + " error(s), " + std::to_string(warnings) +
                         " warning(s)\n";
        Print(stdout, out);
    }
    if (seal && code == kvcheck::kExitClean) {
        std::vector<std::string> files;
        const unsigned long error = checker.Seal(files);
        if (error != 0) {
            Print(stderr, "checkpkg: the manifest of '" + checker.PackageDir() + "' cannot be written (error " +
                              std::to_string(error) + ")\n");
            code = kvcheck::kExitUnreadable;
        } else {
            Print(stdout, "checkpkg: sealed " + std::to_string(files.size()) + " file(s) in " +
                              checker.PackageDir() + "\\package.sha256\n");
        }
    } else if (seal && code == kvcheck::kExitFindings) {
        Print(stdout, "checkpkg: the package has errors: it is not sealed\n");
    }
    if (!json.empty() && !WriteReport(json, kvcheck::JsonReport(checker, code))) {
        Print(stderr, "checkpkg: the report '" + json + "' cannot be written (error " +
                          std::to_string(::GetLastError()) + ")\n");
        return kvcheck::kExitUnreadable;
    }
    return code;
}
