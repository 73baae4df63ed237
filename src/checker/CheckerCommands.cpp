// The Run items: each command line through the installer's own command
// policy, in the working folder it would run in, and the time limits.
#include "checker/Checker.h"

#include <windows.h>

#include <set>

#include "checker/CheckerShared.h"
#include "interpreter/Interpreter.h"
#include "util/CommandEnvironment.h"
#include "util/FileUtil.h"
#include "util/StrFormat.h"

namespace kvcheck {

using namespace detail;

namespace {

const char kHideType[] = "KVHF_RunAtHideDialog";

}  // namespace

void CPackageChecker::CheckRunItems(const Section& s, long long count)
{
    std::set<long long> items;
    for (const Line& l : s.lines) {
        std::string digits, rest;
        if (SplitNumberedKey(l.name, "Run", digits, rest) && digits[0] != '0' && NumberOf(digits) <= count)
            items.insert(NumberOf(digits));
    }
    for (long long n : items) {
        const std::string item = "Run" + std::to_string(n);
        const bool timeout = s.Has(item + ".Timeout");
        int seconds = 0;
        if (timeout && !KvParseTimeoutSeconds(Read(s.name, item + ".Timeout"), seconds))
            Add(kMisreadNumber, s.name, item + ".Timeout",
                KvFormat("'%s' is no number of seconds from 1 to %d: Korvex runs neither command of the item (-2600)",
                         Read(s.name, item + ".Timeout").c_str(), kKvMaxTimeoutSeconds));

        std::string folder = s.Has(item + ".Path") ? Read(s.name, item + ".Path") : std::string(KORVEX_MISSING);
        if (folder == KORVEX_MISSING) {
            folder = m_strPackageDir;
        } else if (folder.empty()) {
            Add(kCommandRefused, s.name, item + ".Path", "empty: the commands have no working folder and fail (-2600)");
            continue;
        } else {
            folder = AbsolutePath(m_strPackageDir, folder);
        }
        for (const char* key : {".Command", ".RollbackCommand"})
            if (s.Has(item + key))
                CheckRunCommand(s.name, item, key, folder, timeout);
    }
}

void CPackageChecker::CheckRunCommand(const std::string& section, const std::string& item, const std::string& key,
                                      const std::string& folder, bool timeout)
{
    const std::string name = item + key;
    const std::string command = Read(section, name);
    if (!command.empty() && command[0] == '<')
        return;
    const std::string type = Read(section, item + (key == ".Command" ? ".CommandType" : ".RollbackCommandType"));
    const bool inPackage = InPackage(folder);
    const std::string word = KvCommandFirstWord(command);

    bool interpreter = true;
    if (!KvCommandAllowed(word)) {
        if (KvCommandRejected(word)) {
            Add(kCommandRefused, section, name,
                "'" + word + "' is on the list of rejected commands: Korvex refuses the line (-2600)");
            return;
        }
        const std::string program = JoinPath(folder, word);
        if (word.empty() || !FileExists(program)) {
            if (inPackage)
                Add(kMissingProgram, section, name,
                    "'" + program + "' is not in the package: the command fails (-2600)");
            else
                Warn(kCommandLine, section, name,
                     "runs '" + program + "', which is not part of the package: it must be on the target machine "
                     "and is not sealed");
            return;
        }
        interpreter = type != "KVHF_RunAtBackground" && type != "KVHF_RunAtBackgroundAndWaitForReturn" &&
                      type != kHideType;
    }

    const CKvCommandEnv env = KvCommandEnvironment(folder);
    const CKvCommandVerdict verdict = KvCheckCommandLine(RawValue(section, name), command, interpreter, env);
    if (!verdict.Allowed()) {
        if (verdict.problem == CKvCommandVerdict::kNotFound && !inPackage)
            Warn(kCommandLine, section, name,
                 KvCommandProblemText(verdict) + " here: it must be there on the target machine and is not sealed");
        else if (verdict.problem == CKvCommandVerdict::kNotFound)
            Add(kMissingProgram, section, name, KvCommandProblemText(verdict) + ": the command fails (-2600)");
        else
            Add(kCommandRefused, section, name, "Korvex refuses the line: " + KvCommandProblemText(verdict) + " (-2600)");
        return;
    }
    if (verdict.separators > 0)
        Warn(kCommandLine, section, name,
             "holds command separators or groups: every command of it must stay on the allow list or in the "
             "package");
    bool packageProgram = false;
    for (const std::string& program : verdict.programs) {
        if (InPackage(program)) {
            NameFile(program);
            packageProgram = true;
        } else {
            Warn(kCommandLine, section, name,
                 "runs '" + program + "', which is not part of the package: it is not sealed");
        }
    }
    if (type == kHideType && packageProgram && !timeout)
        Warn(kNoTimeout, section, name,
             "runs a program of the package on the hidden desktop without " + item +
                 ".Timeout: should it wait for an answer, nobody can give one and the installation never ends");
}

}  // namespace kvcheck
