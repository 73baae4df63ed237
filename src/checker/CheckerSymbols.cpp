// Symbols, their uses and the variable references; the removal road.
#include "checker/Checker.h"

#include <windows.h>

#include <cstring>

#include "checker/CheckerShared.h"
#include "interpreter/Interpreter.h"
#include "interpreter/MainSection.h"
#include "interpreter/Section.h"
#include "util/FileUtil.h"
#include "util/StrFormat.h"

namespace kvcheck {

using namespace detail;

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
        else
            CheckIniFileName(section, key, file);
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
        if (!IsLiteralText(text)) {
            CheckNameUses(s.name, l.name, text, procedure, commandLine);
            CheckExpansion(s.name, l.name, text);
        }
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
