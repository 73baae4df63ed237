#include "checker/Checker.h"

#include "checker/CheckerShared.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "interpreter/Interpreter.h"
#include "interpreter/MainSection.h"
#include "interpreter/Section.h"
#include "util/CommandPolicy.h"
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
const char kCommandRefused[] = "command-refused";
const char kMissingProgram[] = "missing-program";
const char kSelfReference[] = "self-reference";
const char kMisreadNumber[] = "misread-number";
const char kLeavesFolder[] = "leaves-folder";
const char kProcessPath[] = "process-path";
const char kIniUnwritable[] = "ini-unwritable";
const char kPackageAltered[] = "package-altered";
const char kCommandLine[] = "command-line";
const char kNoTimeout[] = "no-timeout";
const char kRelativePath[] = "relative-path";
const char kFileVersion[] = "file-version";
const char kIniKeyBlanks[] = "ini-key-blanks";

namespace detail {

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

}  // namespace detail

using namespace detail;

namespace {

// The longest list of lines kept from the interpreter's log: enough to see
// what it read, bounded for a script with absurd counts.
const size_t kMaxLogLines = 20000;

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

void CPackageChecker::Warn(const std::string& kind, const std::string& section, const std::string& key,
                           const std::string& message)
{
    Finding f{kind, section, key, message, true};
    if (m_seen.insert(f).second)
        m_findings.push_back(f);
}

size_t CPackageChecker::ErrorCount() const
{
    size_t n = 0;
    for (const Finding& f : m_findings)
        n += f.warning ? 0 : 1;
    return n;
}

bool CPackageChecker::InPackage(const std::string& path) const
{
    return KvPathInside(m_strPackageDir, path) || EqualsNoCase(AbsolutePath(m_strPackageDir, path), m_strPackageDir);
}

void CPackageChecker::NameFile(const std::string& path)
{
    if (m_namedFiles.insert(Lower(path)).second)
        m_namedOrder.push_back(path);
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
    m_namedFiles.clear();
    m_namedOrder.clear();
    m_selfReferences.clear();

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

    // What the welcome and licence pages show comes from the package too.
    const std::string readme = Read(kInstall, "ReadmeFile");
    if (readme != KORVEX_MISSING && !readme.empty()) {
        const std::string full = AbsolutePath(m_strPackageDir, readme);
        if (InPackage(full) && FileExists(full))
            NameFile(full);
    }
    if (FileExists(JoinPath(m_strPackageDir, "license.txt")))
        NameFile(JoinPath(m_strPackageDir, "license.txt"));
    if (!m_bSealing)
        CheckSeal();
    return ErrorCount() == 0 ? kExitClean : kExitFindings;
}

std::vector<CPackageChecker::Step> CPackageChecker::StepsOf(const std::string& procedure)
{
    std::vector<Step> steps;
    if (!HasSection(procedure))
        return steps;
    long long count = 0;
    const std::string text = Read(procedure, "StepCount");
    const CountCheck check = CheckCount(text, KV_MAX_STEPS, count);
    // A count that is no plain number still runs the steps it reads as.
    if (check == CountCheck::NotANumber)
        count = KvParseInt(text);
    else if (check != CountCheck::Ok)
        return steps;
    if (count > KV_MAX_STEPS)
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
    const bool counted = CheckCountKey(section, type.countKey, KV_MAX_COUNT, true, count);
    if (counted)
        CheckItems(s, type, count);
    if (type.itemEvents)
        CheckEvents(s, type.stem, true);
    if (counted)
        CheckValues(s, type, count);
    if (name == "CheckRequirement") {
        CheckRequirementItems(s);
    } else if (name == "Run") {
        CheckCommandTypes(s);
        if (counted)
            CheckRunItems(s, count);
    } else if (name == "GetUserInput") {
        CheckInputTypes(s);
    } else if (name == "UpdateRegistry" || name == "RemoveRegistry" || name == "UpdateINI") {
        CheckDescriptions(s, type);
        if (name == "UpdateINI" && counted)
            CheckIniItems(s, count);
    } else if (name == "ReplaceSymbolsInFile" && counted) {
        CheckTemplates(s, count);
    } else if (name == "BackupFiles" && !s.Has("Backup")) {
        Add(kMissingItem, section, "Backup", "missing: the step fails before it saves any file");
    }
}

}  // namespace kvcheck
