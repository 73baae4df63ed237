// The counts, numbered items, event answers, options and file groups of a
// section.
#include "checker/Checker.h"

#include <windows.h>

#include <cstring>

#include "checker/CheckerShared.h"
#include "interpreter/Interpreter.h"
#include "interpreter/Section.h"
#include "util/FileUtil.h"
#include "util/StrFormat.h"

namespace kvcheck {

using namespace detail;

bool CPackageChecker::CheckCountKey(const std::string& section, const std::string& key, long long limit,
                                    bool required, long long& count)
{
    const std::string text = Read(section, key);
    switch (CheckCount(text, limit, count)) {
    case CountCheck::Ok:
        // No step at all leaves the run without a result: it fails.
        if (count == 0 && key == std::string("StepCount")) {
            Add(kBadCount, section, key, "'" + text + "': no step runs, and a procedure without steps fails (-1)");
            return false;
        }
        return true;
    case CountCheck::Missing:
        if (required)
            Add(kBadCount, section, key,
                key == std::string("StepCount") ? "missing: no step runs (-2001)" : "missing: no item runs");
        return false;
    case CountCheck::NotANumber:
        Add(kBadCount, section, key,
            KvFormat("'%s' is not a number: Korvex reads %d", text.c_str(), KvParseInt(text)));
        return false;
    case CountCheck::Negative:
        Add(kBadCount, section, key, "'" + text + "' is negative: no item runs");
        return false;
    case CountCheck::TooLarge:
        Add(kBadCount, section, key,
            limit == KV_MAX_STEPS
                ? KvFormat("'%s' is more than %d steps: Korvex refuses the procedure (-2001)", text.c_str(),
                           static_cast<int>(KV_MAX_STEPS))
                : KvFormat("'%s' is beyond %d: Korvex takes %d", text.c_str(), static_cast<int>(KV_MAX_COUNT),
                           static_cast<int>(KV_MAX_COUNT)));
        return false;
    }
    return false;
}

void CPackageChecker::CheckItems(const Section& s, const SectionType& type, long long count)
{
    const bool steps = &type == &ProcedureType();
    const char* missingKind = steps ? kMissingStep : kMissingItem;
    const std::string stem = type.stem;
    const std::string countText = KvFormat("%s=%lld", type.countKey, count);

    std::set<long long> present;
    std::set<long long> reported;
    for (const Line& l : s.lines) {
        std::string digits, rest;
        if (!SplitNumberedKey(l.name, stem, digits, rest))
            continue;
        if (digits.size() > 1 && digits[0] == '0') {
            Add(kBeyondCount, s.name, l.name, "never read: item numbers are written without leading zeros");
            continue;
        }
        long long n = NumberOf(digits);
        if (n >= 1 && n <= count) {
            present.insert(n);
        } else if (reported.insert(n).second) {
            Add(kBeyondCount, s.name, l.name,
                n == 0 ? std::string("never read: items count from 1")
                       : "never read: item " + digits + " is beyond " + countText);
        }
    }

    // Absent items are reported a run at a time: a count far too high gives
    // one line, not thousands.
    const std::string first = type.required.empty() ? std::string() : type.required.front();
    long long runStart = 0;
    auto flush = [&](long long end) {
        if (runStart == 0)
            return;
        std::string from = stem + std::to_string(runStart);
        if (end == runStart)
            Add(missingKind, s.name, from + first, "missing within " + countText);
        else
            Add(missingKind, s.name, from + first,
                from + " to " + stem + std::to_string(end) + " are missing within " + countText);
        runStart = 0;
    };
    for (long long n = 1; n <= count; ++n) {
        if (!present.count(n)) {
            if (runStart == 0)
                runStart = n;
            continue;
        }
        flush(n - 1);
        const std::string item = stem + std::to_string(n);
        if (type.anyRequired) {
            bool any = false;
            std::vector<std::string> keys;
            for (const std::string& r : type.required) {
                any = any || s.Has(item + r);
                keys.push_back(item + r);
            }
            if (!any)
                Add(missingKind, s.name, item, "has none of " + Join(keys) + ": the item does nothing");
        } else {
            for (const std::string& r : type.required)
                if (!s.Has(item + r))
                    Add(missingKind, s.name, item + r, "missing within " + countText);
        }
    }
    flush(count);
}

void CPackageChecker::CheckEvents(const Section& s, const std::string& stem, bool numbered)
{
    for (const Line& l : s.lines) {
        EventKey e;
        if (ParseEventKey(l.name, stem, numbered, e) && IsAnswerSuffix(e.suffix))
            CheckAnswer(s.name, l.name);
    }
}

void CPackageChecker::CheckAnswer(const std::string& section, const std::string& key)
{
    const std::string value = Read(section, key);
    std::string expected;
    switch (CheckAction(value, &expected)) {
    case ActionCheck::Keyword:
        return;
    case ActionCheck::WrongCase:
        Add(kWrongCase, section, key,
            "'" + value + "' must be written '" + expected + "': as written it is no action and fails (-1)");
        return;
    case ActionCheck::NoStepNumber:
        Add(kUnknownKeyword, section, key, "'" + value + "' names no step number: it goes to step 0, which ends the run");
        return;
    case ActionCheck::NotKeyword:
        Add(kUnknownKeyword, section, key,
            "'" + value +
                "' is no action keyword (KVHF_CONTINUE, KVHF_RETRY, KVHF_USERBREAK, KVHF_UNINSTALL, "
                "KVHF_GOTOSTEP(n)): it fails (-1)");
        return;
    }
}

void CPackageChecker::CheckOption(const std::string& section, const std::string& key,
                                  const std::vector<std::string>& keywords, const char* whenOff)
{
    const std::string value = Read(section, key);
    if (value == KORVEX_MISSING || value.empty())
        return;
    std::string keyword;
    switch (MatchKeyword(value, keywords, &keyword)) {
    case KeywordMatch::Exact:
        return;
    case KeywordMatch::WrongCase:
        Add(kWrongCase, section, key, "'" + value + "' must be written '" + keyword + "': as written " + whenOff);
        return;
    case KeywordMatch::None:
        Add(kUnknownKeyword, section, key, "'" + value + "' is none of " + Join(keywords) + ": " + whenOff);
        return;
    }
}

void CPackageChecker::CheckFileGroups(const Section& s, const std::string& procedure)
{
    long long count = 0;
    bool ok = CheckCountKey(s.name, "FileGroupCount", KV_MAX_COUNT, true, count);
    long long start = 1;
    if (s.Has("FileGroupStartCount") &&
        !CheckCountKey(s.name, "FileGroupStartCount", KV_MAX_COUNT, false, start))
        ok = false;
    if (!ok)
        return;
    long long runStart = -1;
    auto flush = [&](long long end) {
        if (runStart < 0)
            return;
        std::string from = "[FileGroup" + std::to_string(runStart) + "]";
        Add(kMissingSection, s.name, "FileGroupCount",
            end == runStart ? "the script has no section " + from
                            : "the script has no sections " + from + " to [FileGroup" + std::to_string(end) + "]");
        runStart = -1;
    };
    for (long long g = start; g < start + count; ++g) {
        std::string group = "FileGroup" + std::to_string(g);
        if (!HasSection(group)) {
            if (runStart < 0)
                runStart = g;
            continue;
        }
        flush(g - 1);
        CheckFileGroup(group, procedure);
    }
    flush(start + count - 1);
}

void CPackageChecker::CheckFileGroup(const std::string& group, const std::string& procedure)
{
    if (!m_checked.insert(Lower(procedure + "|" + group)).second)
        return;
    Section s = ReadSection(group);
    CheckSymbolUses(s, procedure, false, false);
    long long count = 0;
    bool counted = CheckCountKey(group, "FileCount", KV_MAX_COUNT, true, count);
    if (counted)
        CheckItems(s, FileGroupType(), count);
    for (const char* key : {"Target", "Backup"})
        if (!s.Has(key))
            Add(kMissingItem, group, key, "missing: the group's files have nowhere to go");
    CheckOption(group, "OnCopyNewFile", kCopyNewFile, "the option is off");
    CheckOption(group, "OnRollBackFile", kRollBackFile, "the option is off");
    CheckOption(group, "OnCopyFail", kCopyFail, "a failed copy just fails");
    CheckFileGroupValues(s, counted ? count : 0);

    const std::string package = m_interp->GetModuleDir();
    if (!IsFolder(JoinPath(package, group))) {
        Add(kMissingFolder, group, "", "the package has no folder " + group + ": the group fails (-2302)");
        return;
    }
    if (!counted)
        return;
    for (const Line& l : s.lines) {
        std::string digits, rest;
        if (!SplitNumberedKey(l.name, "File", digits, rest) || !rest.empty() || digits[0] == '0' ||
            NumberOf(digits) > count)
            continue;
        const std::string entry = Read(group, l.name);
        const std::string groupFolder = JoinPath(package, group);
        if (!PathIsBelow(groupFolder, JoinPath(groupFolder, entry))) {
            Add(kLeavesFolder, group, l.name,
                "'" + entry + "' leads out of the folder " + group + ": the group copies nothing and fails (-2304)");
            continue;
        }
        std::vector<std::string> found;
        if (FindFiles(found, JoinPath3(package, group, GetFolderPart(entry)), GetFileNamePart(entry), false) == 0) {
            std::string folder = JoinPath(group, GetFolderPart(entry));
            if (folder.size() > group.size() && folder.back() == '\\')
                folder.pop_back();
            Add(kMissingFile, group, l.name,
                "'" + entry + "' matches no file in " + folder + ": the group fails (-2302)");
        }
    }
}

void CPackageChecker::CheckRequirementItems(const Section& s)
{
    std::set<std::string> items;
    for (const Line& l : s.lines) {
        std::string digits, rest;
        if (SplitNumberedKey(l.name, "Check", digits, rest))
            items.insert(digits);
    }
    for (const std::string& digits : items) {
        const std::string item = "Check" + digits;
        if (s.Has(item + ".Number")) {
            if (!s.Has(item + ".Number.Min") && !s.Has(item + ".Number.Max"))
                Add(kMissingItem, s.name, item + ".Number.Min",
                    "neither " + item + ".Number.Min nor " + item + ".Number.Max: the check always succeeds");
        } else if (s.Has(item + ".String")) {
            if (!s.Has(item + ".String.List"))
                Add(kMissingItem, s.name, item + ".String.List", "missing: the check always fails");
        } else if (s.Has(item + ".DiskSpace")) {
            if (!s.Has(item + ".DiskSpace.SizeMB"))
                Add(kMissingItem, s.name, item + ".DiskSpace.SizeMB", "missing: the check always succeeds");
        } else if (s.Has(item + ".ProcessStopped")) {
            const std::string name = Read(s.name, item + ".ProcessStopped");
            if (name.find_first_of("\\/") != std::string::npos)
                Add(kProcessPath, s.name, item + ".ProcessStopped",
                    "'" + name + "' holds a folder: only the image names of processes are compared, so it never "
                    "matches and the check always succeeds");
        }
    }
}

void CPackageChecker::CheckCommandTypes(const Section& s)
{
    for (const Line& l : s.lines) {
        std::string digits, rest;
        if (SplitNumberedKey(l.name, "Run", digits, rest) &&
            (EqualsNoCase(rest, ".CommandType") || EqualsNoCase(rest, ".RollbackCommandType")))
            CheckOption(s.name, l.name, kCommandTypes, "the command runs through the command interpreter");
    }
}

void CPackageChecker::CheckInputTypes(const Section& s)
{
    for (const Line& l : s.lines) {
        std::string digits, rest;
        if (SplitNumberedKey(l.name, "Input", digits, rest) && EqualsNoCase(rest, ".Type"))
            CheckOption(s.name, l.name, kInputTypes, "nothing is asked and the symbol keeps its value");
    }
}

void CPackageChecker::CheckDescriptions(const Section& s, const SectionType& type)
{
    const bool registry = std::strcmp(type.stem, "Reg") == 0;
    for (const Line& l : s.lines) {
        std::string digits, rest;
        if (!SplitNumberedKey(l.name, type.stem, digits, rest) || !EqualsNoCase(rest, ".Key"))
            continue;
        const std::string value = Read(s.name, l.name);
        if (!value.empty() && value[0] == '[') {
            Add(kBadReference, s.name, l.name,
                "'" + value + "' is written in brackets: this key takes the description without them");
            continue;
        }
        if (registry) {
            CheckRegistryDescription(s.name, l.name, value);
        } else {
            std::string file, section, key;
            if (m_interp->SpliteINIParameter(value, file, section, key) != 0)
                Add(kBadReference, s.name, l.name,
                    "'" + value + "' is no INI description (INI:file,section,key): the step fails");
        }
    }
}

}  // namespace kvcheck
