#include "checker/Checker.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "interpreter/Interpreter.h"
#include "interpreter/MainSection.h"
#include "interpreter/Section.h"
#include "util/FileUtil.h"
#include "util/Profile.h"
#include "util/StrFormat.h"
#include "util/WinHandles.h"

namespace kvcheck {

const char kUnknownType[] = "unknown-type";
const char kOtherProcedure[] = "other-procedure";
const char kMissingStep[] = "missing-step";
const char kMissingSection[] = "missing-section";
const char kWrongCase[] = "wrong-case";
const char kUnknownKeyword[] = "unknown-keyword";
const char kBeyondCount[] = "beyond-count";
const char kMissingItem[] = "missing-item";
const char kBadCount[] = "bad-count";
const char kMissingFolder[] = "missing-folder";
const char kMissingFile[] = "missing-file";
const char kBadReference[] = "bad-reference";
const char kUndefinedSymbol[] = "undefined-symbol";
const char kNoRemovalRollback[] = "no-removal-rollback";
const char kPatchInformation[] = "patch-information";

namespace {

const char kInstall[] = "ProductInstall.Main";
const char kRemove[] = "ProductRemove.Main";
const char kInstallSymbols[] = "ProductInstall.Symbols";
const char kRemoveSymbols[] = "ProductRemove.Symbols";
const char kPatchInfo[] = "PatchInformation";
// The longest list of lines kept from the interpreter's log: enough to see
// what it read, bounded for a script with absurd counts.
const size_t kMaxLogLines = 20000;

std::string DomainOf(const std::string& procedure)
{
    return procedure.substr(0, procedure.find('.') + 1);
}

// The type word of a section value: the text between its first and its
// second dot, whatever the case of the procedure word.
std::string TypeWordOf(const std::string& value)
{
    size_t dot = value.find('.');
    if (dot == std::string::npos)
        return std::string();
    size_t next = value.find('.', dot + 1);
    return value.substr(dot + 1, next == std::string::npos ? std::string::npos : next - dot - 1);
}

bool IsFolder(const std::string& path)
{
    DWORD a = ::GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string Join(const std::vector<std::string>& words)
{
    std::string out;
    for (const std::string& w : words)
        out += (out.empty() ? "" : ", ") + w;
    return out;
}

long long NumberOf(const std::string& digits)
{
    // Leading zeros and absurd lengths are judged by the caller; anything
    // this long is beyond every count.
    return digits.size() > 12 ? (1LL << 40) : std::stoll(digits);
}

const std::vector<std::string> kCopyNewFile = {"KVHF_OnlyCopyAfterLastModifiedDate"};
const std::vector<std::string> kRollBackFile = {"KVHF_RollBackExtraAndExistenFile"};
const std::vector<std::string> kCopyFail = {"KVHF_CopyFailRemoveReadonly", "KVHF_CopyFailReboot",
                                            "KVHF_CopyFailRemoveReadonlyAndReboot"};
const std::vector<std::string> kCommandTypes = {"KVHF_RunAtBackground", "KVHF_RunAtBackgroundAndWaitForReturn",
                                                "KVHF_RunAtHideDialog"};
const std::vector<std::string> kInputTypes = {"KVHF_INPUT_FOLDER_SELECT", "KVHF_INPUT_EDITBOX"};
const std::vector<std::string> kFileInfoKinds = {"FileSize",       "FileVersion",  "MaintenanceVersion",
                                                 "BuildVersion",   "ProductVersion", "SpecialBuild"};
const std::vector<std::string> kRegTypes = {"REG_SZ", "REG_DWORD"};

}  // namespace

// Nothing is shown or asked; the log stays in memory.
class CPackageChecker::CCallback : public CHFS_UICallback {
public:
    int SetProgress(int, int) override { return 0; }
    int SetTaskText(const std::string&, int) override { return 0; }
    int AppendDetail(const std::string&, int) override { return 0; }
    int SetDescription(const std::string&) override { return 0; }
    int SetReadme(const std::string&) override { return 0; }
    int SetLicense(const std::string&) override { return 0; }
    int SetLicenseTitle(const std::string&) override { return 0; }
    int WriteLog(const std::string& text) override
    {
        if (m_lines.size() < kMaxLogLines)
            m_lines.push_back(text);
        return 0;
    }
    int ShowMessage(const std::string&, UINT) override { return 0; }

    std::vector<std::string> m_lines;
};

CPackageChecker::CPackageChecker(const std::string& packageDir) : m_strPackageDir(packageDir) {}

CPackageChecker::~CPackageChecker() {}

std::string CPackageChecker::LogText() const
{
    std::string text;
    if (m_callback)
        for (const std::string& line : m_callback->m_lines)
            text += line + "\n";
    return text;
}

void CPackageChecker::Add(const std::string& kind, const std::string& section, const std::string& key,
                          const std::string& message)
{
    Finding f{kind, section, key, message};
    if (m_seen.insert(f).second)
        m_findings.push_back(f);
}

bool CPackageChecker::HasSection(const std::string& name) const
{
    return m_sections.count(Lower(name)) != 0;
}

CPackageChecker::Section CPackageChecker::ReadSection(const std::string& name) const
{
    Section s;
    s.name = name;
    std::vector<char> buf(65536);
    DWORD n = 0;
    for (;;) {
        n = KvGetProfileSection(name.c_str(), buf.data(), static_cast<DWORD>(buf.size()), m_strScriptFile);
        if (n + 2 < buf.size() || buf.size() >= (1u << 24))
            break;
        buf.resize(buf.size() * 4);
    }
    for (const char* p = buf.data(); p < buf.data() + n && *p; p += std::strlen(p) + 1) {
        std::string line(p);
        size_t eq = line.find('=');
        if (eq == std::string::npos || line[0] == ';')
            continue;
        Line l{line.substr(0, eq), line.substr(eq + 1)};
        s.keys.insert(Lower(l.name));
        s.lines.push_back(l);
    }
    return s;
}

std::string CPackageChecker::Read(const std::string& section, const std::string& key) const
{
    return m_interp->ReadItem(key, section, false);
}

std::string CPackageChecker::RawValue(const std::string& section, const std::string& key) const
{
    char buf[4096] = {0};
    KvGetProfileString(section.c_str(), key.c_str(), KORVEX_MISSING, buf, sizeof buf, m_strScriptFile);
    buf[sizeof buf - 1] = '\0';
    return buf;
}

int CPackageChecker::Run()
{
    m_findings.clear();
    m_seen.clear();
    m_checked.clear();

    char full[MAX_PATH + 1] = {0};
    DWORD len = m_strPackageDir.empty() ? 0 : ::GetFullPathNameA(m_strPackageDir.c_str(), sizeof full, full, nullptr);
    if (len == 0 || len >= sizeof full) {
        m_strError = "'" + m_strPackageDir + "' is no folder name";
        return kExitUnreadable;
    }
    m_strPackageDir = full;
    if (m_strPackageDir.size() > 3 && (m_strPackageDir.back() == '\\' || m_strPackageDir.back() == '/'))
        m_strPackageDir.pop_back();
    if (!IsFolder(m_strPackageDir)) {
        m_strError = "the package folder '" + m_strPackageDir + "' does not exist";
        return kExitUnreadable;
    }

    CHFS_RunSettings settings;
    settings.m_bSilent = 1;
    settings.m_bCheckOnly = 1;
    settings.m_strPackageDir = m_strPackageDir;
    m_callback.reset(new CCallback);
    m_interp.reset(new CHFS_Interpreter(m_callback.get(), "setup.ini", settings));
    m_strScriptFile = m_interp->GetScriptFile();

    DWORD attributes = ::GetFileAttributesA(m_strScriptFile.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        m_strError = "the package has no script: neither setup.ini nor HotFix.ini in '" + m_strPackageDir + "'";
        return kExitUnreadable;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        m_strError = "the script '" + m_strScriptFile + "' is a folder";
        return kExitUnreadable;
    }
    {
        CHandle file(::CreateFileA(m_strScriptFile.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            m_strError = KvFormat("the script '%s' cannot be read (error %lu)", m_strScriptFile.c_str(),
                                  static_cast<unsigned long>(::GetLastError()));
            return kExitUnreadable;
        }
    }

    std::vector<char> names(65536);
    DWORD n = 0;
    for (;;) {
        n = KvGetProfileSectionNames(names.data(), static_cast<DWORD>(names.size()), m_strScriptFile);
        if (n + 2 < names.size() || names.size() >= (1u << 24))
            break;
        names.resize(names.size() * 4);
    }
    m_sections.clear();
    for (const char* p = names.data(); p < names.data() + n && *p; p += std::strlen(p) + 1)
        m_sections.insert(Lower(p));

    m_factory.reset(new CHFS_MainSection(m_interp.get()));

    // What the two procedures define: the symbols sections and the answers
    // of their GetUserInput items. A removal sees the install's symbols too
    // (they come back from the install record).
    std::vector<Step> installSteps = StepsOf(kInstall);
    std::vector<Step> removeSteps = StepsOf(kRemove);
    m_installScript = SymbolNamesOf(kInstallSymbols);
    std::set<std::string> inputs = InputTargetsOf(installSteps);
    m_installScript.insert(inputs.begin(), inputs.end());
    m_removeScript = m_installScript;
    std::set<std::string> removeNames = SymbolNamesOf(kRemoveSymbols);
    m_removeScript.insert(removeNames.begin(), removeNames.end());
    inputs = InputTargetsOf(removeSteps);
    m_removeScript.insert(inputs.begin(), inputs.end());

    CheckPatchInformation();
    CheckSymbolSection(kInstallSymbols, kInstall);
    if (!HasSection(kInstall))
        Add(kMissingSection, kInstall, "", "the script has no install procedure: nothing would be installed");
    else
        CheckProcedure(kInstall, installSteps);
    if (HasSection(kRemove)) {
        // As a removal run does: its own symbols on top of the install's.
        m_interp->InitVariables(kRemoveSymbols);
        CheckSymbolSection(kRemoveSymbols, kRemove);
        CheckProcedure(kRemove, removeSteps);
    }
    CheckRemovalRollback(removeSteps);
    return m_findings.empty() ? kExitClean : kExitFindings;
}

std::vector<CPackageChecker::Step> CPackageChecker::StepsOf(const std::string& procedure)
{
    std::vector<Step> steps;
    if (!HasSection(procedure))
        return steps;
    long long count = 0;
    if (CheckCount(Read(procedure, "StepCount"), KV_MAX_STEPS, count) != CountCheck::Ok)
        return steps;
    for (int n = 1; n <= count; ++n) {
        std::string value = Read(procedure, KvFormat("Step%d.Section", n));
        if (value != KORVEX_MISSING)
            steps.push_back(Step{n, value});
    }
    return steps;
}

std::set<std::string> CPackageChecker::SymbolNamesOf(const std::string& section) const
{
    std::set<std::string> names;
    if (HasSection(section))
        for (const Line& l : ReadSection(section).lines)
            names.insert(l.name);
    return names;
}

std::set<std::string> CPackageChecker::InputTargetsOf(const std::vector<Step>& steps)
{
    std::set<std::string> targets;
    for (const Step& step : steps) {
        const SectionType* t = FindSectionType(TypeWordOf(step.value));
        if (!t || std::strcmp(t->name, "GetUserInput") != 0 || !HasSection(step.value))
            continue;
        for (const Line& l : ReadSection(step.value).lines) {
            std::string digits, rest;
            if (SplitNumberedKey(l.name, "Input", digits, rest) && EqualsNoCase(rest, ".RefSymbol")) {
                std::string name = Read(step.value, l.name);
                if (name != KORVEX_MISSING)
                    targets.insert(name);
            }
        }
    }
    return targets;
}

const std::set<std::string>& CPackageChecker::Defined(const std::string& procedure) const
{
    return procedure == kRemove ? m_removeScript : m_installScript;
}

bool CPackageChecker::IsScriptSymbol(const std::string& name, const std::string& procedure) const
{
    return Defined(procedure).count(name) != 0;
}

void CPackageChecker::CheckPatchInformation()
{
    if (!HasSection(kPatchInfo))
        return;
    CheckSymbolSection(kPatchInfo, kInstall);
    if (m_interp->InitPatchInfo(kPatchInfo) == 0)
        return;
    std::string version = m_interp->GetPatchInfo("KorvexVersion");
    if (version != "2.0") {
        Add(kPatchInformation, kPatchInfo, "KorvexVersion",
            version.empty() ? std::string("missing or empty: Korvex stops before any step")
                            : "'" + version + "' is not 2.0: Korvex stops before any step");
        return;
    }
    for (const char* key : {"PatchID", "ProductName", "Language", "ProductVersion", "BuildNumber", "Platform",
                            "PatchDescription", "TimeOutSecond"}) {
        if (m_interp->GetPatchInfo(key).empty()) {
            Add(kPatchInformation, kPatchInfo, key, "missing or empty: Korvex stops before any step");
            return;
        }
    }
}

void CPackageChecker::CheckProcedure(const std::string& procedure, const std::vector<Step>& steps)
{
    Section s = ReadSection(procedure);
    CheckSymbolUses(s, procedure, false, false);
    long long count = 0;
    if (CheckCountKey(procedure, "StepCount", KV_MAX_STEPS, true, count))
        CheckItems(s, ProcedureType(), count);
    CheckEvents(s, "Step", true);
    for (const Step& step : steps)
        CheckStep(procedure, step);
}

void CPackageChecker::CheckStep(const std::string& procedure, const Step& step)
{
    const std::string key = KvFormat("Step%d.Section", step.number);
    const std::string& value = step.value;
    const std::string own = DomainOf(procedure);
    const std::string other = own == "ProductInstall." ? "ProductRemove." : "ProductInstall.";

    std::string typeName;
    if (!CHFS_MainSection::GetTypeName(value, own, typeName)) {
        if (StartsWithNoCase(value, other))
            Add(kOtherProcedure, procedure, key,
                "'" + value + "' belongs to " + other + "Main: the run ends at this step (-2004)");
        else if (StartsWithNoCase(value, own))
            Add(kWrongCase, procedure, key,
                "'" + value + "' must begin with '" + own + "' written exactly so: the run ends at this step (-2004)");
        else
            Add(kUnknownType, procedure, key,
                "'" + value + "' does not begin with '" + own + "': the run ends at this step (-2004)");
    } else if (!m_factory->FindHandler(typeName)) {
        const std::string word = typeName.substr(own.size());
        bool exact = false;
        const SectionType* t = FindSectionType(word, &exact);
        if (t && t->removeOnly && own != "ProductRemove.")
            Add(kUnknownType, procedure, key,
                "'" + value + "': " + t->name + " steps exist only in ProductRemove.Main (-2004)");
        else if (t && !exact)
            Add(kWrongCase, procedure, key,
                "'" + value + "': the section type must be written '" + own + t->name + "' (-2004)");
        else if (t)
            Add(kUnknownType, procedure, key,
                "'" + value + "': this build of Korvex has no handler for " + typeName + " (-2004)");
        else
            Add(kUnknownType, procedure, key, "'" + value + "' names no section type (-2004)");
    }

    const SectionType* t = FindSectionType(TypeWordOf(value));
    if (!t)
        return;
    if (!HasSection(value)) {
        // A Rollback step reads no key of its own; its section is optional.
        if (!t->removeOnly)
            Add(kMissingSection, procedure, key, "the script has no section [" + value + "]");
        return;
    }
    CheckSectionContent(value, *t, procedure);
}

void CPackageChecker::CheckSectionContent(const std::string& section, const SectionType& type,
                                          const std::string& procedure)
{
    if (!m_checked.insert(Lower(procedure + "|" + section)).second)
        return;
    Section s = ReadSection(section);
    const std::string name = type.name;
    CheckSymbolUses(s, procedure, name == "UpdateSymbols", name == "Run");
    if (name == "Rollback") {
        CheckEvents(s, "Rollback", false);
        return;
    }
    if (name == "UpdateSymbols") {
        CheckUpdateSymbols(s, procedure);
        return;
    }
    if (name == "CopyFileGroupTo") {
        CheckFileGroups(s, procedure);
        return;
    }
    long long count = 0;
    if (CheckCountKey(section, type.countKey, KV_MAX_COUNT, true, count))
        CheckItems(s, type, count);
    if (type.itemEvents)
        CheckEvents(s, type.stem, true);
    if (name == "CheckRequirement")
        CheckRequirementItems(s);
    else if (name == "Run")
        CheckCommandTypes(s);
    else if (name == "GetUserInput")
        CheckInputTypes(s);
    else if (name == "UpdateRegistry" || name == "RemoveRegistry" || name == "UpdateINI")
        CheckDescriptions(s, type);
    else if (name == "BackupFiles" && !s.Has("Backup"))
        Add(kMissingItem, section, "Backup", "missing: the step fails before it saves any file");
}

bool CPackageChecker::CheckCountKey(const std::string& section, const std::string& key, long long limit,
                                    bool required, long long& count)
{
    const std::string text = Read(section, key);
    switch (CheckCount(text, limit, count)) {
    case CountCheck::Ok:
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

void CPackageChecker::CheckUpdateSymbols(const Section& s, const std::string& procedure)
{
    for (const Line& l : s.lines) {
        CheckReference(s.name, l.name, m_interp->ExpandSymbols(l.value));
        if (IsScriptSymbol(l.name, procedure))
            continue;
        Add(kUndefinedSymbol, s.name, l.name,
            m_interp->m_globalSymbols.Contains(l.name)
                ? "'" + l.name + "' is a built-in: only symbols of a symbols section or a GetUserInput item "
                                 "can be changed (-2901)"
                : "'" + l.name + "' is defined in no symbols section and by no GetUserInput item: "
                                 "it cannot be changed (-2901)");
    }
}

void CPackageChecker::CheckReference(const std::string& section, const std::string& key, const std::string& value)
{
    const std::string marker = ReferenceMarker(value);
    if (marker.empty())
        return;
    std::string d;
    if (!ReferenceDescription(value, d)) {
        Add(kBadReference, section, key, "'" + value + "' has no closing ']': the value is empty");
        return;
    }
    if (marker == "Reg") {
        CheckRegistryDescription(section, key, d);
    } else if (marker == "INI") {
        std::string file, sec, k;
        if (m_interp->SpliteINIParameter(d, file, sec, k) != 0)
            Add(kBadReference, section, key,
                "'" + value + "' is no INI reference ([INI:file,section,key]): the value is empty");
    } else if (marker == "FileInfo") {
        std::string path, kind, expected;
        if (m_interp->SpliteFileInfoParameter(d, path, kind) != 0) {
            Add(kBadReference, section, key,
                "'" + value + "' is no file information reference ([FileInfo:path,kind]): the value is empty");
            return;
        }
        switch (MatchKeyword(kind, kFileInfoKinds, &expected)) {
        case KeywordMatch::Exact:
            break;
        case KeywordMatch::WrongCase:
            Add(kWrongCase, section, key, "'" + kind + "' must be written '" + expected + "': the value is empty");
            break;
        case KeywordMatch::None:
            Add(kBadReference, section, key,
                "'" + kind + "' is none of " + Join(kFileInfoKinds) + ": the value is empty");
            break;
        }
    } else {
        static const char kMarker[] = "[ServiceStatus:";
        size_t start = value.find(kMarker) + sizeof kMarker - 1;
        size_t close = value.rfind(']');
        if (close == std::string::npos || close <= start)
            Add(kBadReference, section, key, "'" + value + "' names no service: the value is 0");
    }
}

void CPackageChecker::CheckRegistryDescription(const std::string& section, const std::string& key,
                                               const std::string& description)
{
    DWORD type = 0;
    HKEY root = nullptr;
    std::string subkey, valueName;
    int view64 = 0;
    const int r = m_interp->SpliteRegParameter(description, type, root, subkey, valueName, view64);
    const std::vector<std::string> fields = RegistryFields(description);
    std::string expected;
    if (r == -1) {
        Add(kBadReference, section, key,
            "'" + description + "' is no registry description (Reg:type,root,key[,value name[,flag]])");
    } else if (r == -2) {
        if (MatchKeyword(fields[0], kRegTypes, &expected) == KeywordMatch::WrongCase)
            Add(kWrongCase, section, key, "the registry type '" + fields[0] + "' must be written '" + expected + "'");
        else
            Add(kBadReference, section, key, "the registry type '" + fields[0] + "' is neither REG_SZ nor REG_DWORD");
    } else if (r == -3) {
        Add(kBadReference, section, key,
            "the registry root '" + fields[1] + "' is none of HKCU, HKLM, HKEY_USERS, HKEY_CURRENT_CONFIG");
    } else if (fields.size() == 5 && fields[4] != "x64") {
        Add(EqualsNoCase(fields[4], "x64") ? kWrongCase : kBadReference, section, key,
            "the flag '" + fields[4] + "' is ignored: only 'x64' selects the 64-bit registry view");
    }
}

void CPackageChecker::CheckSymbolSection(const std::string& name, const std::string& procedure)
{
    if (!HasSection(name))
        return;
    Section s = ReadSection(name);
    for (const Line& l : s.lines)
        CheckReference(name, l.name, m_interp->ExpandSymbols(l.value));
    CheckSymbolUses(s, procedure, true, false);
}

void CPackageChecker::CheckSymbolUses(const Section& s, const std::string& procedure, bool rawLines,
                                      bool commands)
{
    for (const Line& l : s.lines) {
        // A section read keeps the quotes around a value, a key read takes
        // one pair off; either way a text still quoted is not expanded.
        const std::string text = rawLines ? l.value : RawValue(s.name, l.name);
        std::string digits, rest;
        const bool commandLine = commands && SplitNumberedKey(l.name, "Run", digits, rest) &&
                                 (EqualsNoCase(rest, ".Command") || EqualsNoCase(rest, ".RollbackCommand"));
        if (!IsLiteralText(text))
            CheckNameUses(s.name, l.name, text, procedure, commandLine);
    }
}

void CPackageChecker::CheckNameUses(const std::string& section, const std::string& key, const std::string& text,
                                    const std::string& procedure, bool commandLine)
{
    const std::set<std::string>& script = Defined(procedure);
    for (const std::string& name : FindSymbolUses(text)) {
        if (m_interp->m_globalSymbols.Contains(name) || script.count(name))
            continue;
        // A command line that the installer leaves %PATH% in is handed to
        // the command interpreter, which expands the environment variable.
        if (commandLine && ::GetEnvironmentVariableA(name.c_str(), nullptr, 0) > 0)
            continue;
        std::string hint;
        for (const auto& e : m_interp->m_globalSymbols)
            if (hint.empty() && EqualsNoCase(e.first, name))
                hint = e.first;
        for (const std::string& other : script)
            if (hint.empty() && EqualsNoCase(other, name))
                hint = other;
        Add(kUndefinedSymbol, section, key,
            "%" + name + "% is not defined" + (hint.empty() ? std::string() : " (names are case-sensitive: %" + hint + "%?)") +
                ": it stays as written");
    }
}

void CPackageChecker::CheckRemovalRollback(const std::vector<Step>& removeSteps)
{
    if (!HasSection(kInstall) || Read(kInstall, "InstallRecordFile") == KORVEX_MISSING)
        return;
    for (const Step& step : removeSteps) {
        std::string typeName;
        if (CHFS_MainSection::GetTypeName(step.value, "ProductRemove.", typeName) &&
            typeName == "ProductRemove.Rollback")
            return;
    }
    Add(kNoRemovalRollback, kInstall, "InstallRecordFile",
        HasSection(kRemove) ? "ProductRemove.Main has no ProductRemove.Rollback step: removing the patch with its "
                              "install record would undo nothing of the installation"
                            : "the script has no ProductRemove.Main: the install record's removal would do nothing");
}

}  // namespace kvcheck
