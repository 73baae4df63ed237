// Values that the installer reads as something other than what their author
// wrote: numbers, REG_DWORD data, file versions, INI names, file names the
// platform takes elsewhere, templates, symbols that never finish expanding.
#include "checker/Checker.h"

#include <windows.h>

#include "checker/CheckerShared.h"
#include "interpreter/Interpreter.h"
#include "symbols/Expansion.h"
#include "util/FileUtil.h"
#include "util/StrFormat.h"

namespace kvcheck {

using namespace detail;

namespace {

// Only what the script writes itself is judged: a value made of symbols
// and references is what the target machine gives.
bool IsLiteralValue(const std::string& raw)
{
    return raw != KORVEX_MISSING && raw.find('%') == std::string::npos && raw.find('[') == std::string::npos;
}

bool HasLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

}  // namespace

void CPackageChecker::CheckDecimal(const std::string& section, const std::string& key)
{
    const std::string raw = RawValue(section, key);
    if (IsLiteralValue(raw) && !IsPlainDecimal(raw))
        Add(kMisreadNumber, section, key,
            KvFormat("'%s' is no plain decimal number: Korvex reads it as %d", raw.c_str(), KvParseInt(raw)));
}

void CPackageChecker::CheckValues(const Section& s, const SectionType& type, long long count)
{
    const std::string name = type.name;
    for (const Line& l : s.lines) {
        std::string digits, rest;
        if (!type.stem || !SplitNumberedKey(l.name, type.stem, digits, rest) || digits[0] == '0' ||
            NumberOf(digits) > count)
            continue;
        const std::string item = type.stem + digits;
        if (name == "CheckRequirement") {
            if (EqualsNoCase(rest, ".DiskSpace.SizeMB")) {
                CheckDecimal(s.name, l.name);
            } else if (EqualsNoCase(rest, ".Number") || EqualsNoCase(rest, ".Number.Min") ||
                       EqualsNoCase(rest, ".Number.Max")) {
                const std::string raw = RawValue(s.name, l.name);
                if (IsLiteralValue(raw) && !IsDottedNumber(raw))
                    Add(kMisreadNumber, s.name, l.name,
                        "'" + raw + "' is no number of digits and dots: Korvex reads only the digits it begins with");
            }
        } else if (name == "GetUserInput") {
            if (EqualsNoCase(rest, ".Min") || EqualsNoCase(rest, ".Max"))
                CheckDecimal(s.name, l.name);
        } else if (name == "StartService" || name == "StopService") {
            if (EqualsNoCase(rest, ".WaitSeconds"))
                CheckDecimal(s.name, l.name);
        } else if (name == "UpdateRegistry" && EqualsNoCase(rest, ".Value")) {
            const std::string raw = RawValue(s.name, l.name);
            DWORD valueType = 0;
            HKEY root = nullptr;
            std::string subkey, valueName;
            int view64 = 0;
            if (!IsLiteralValue(raw) ||
                m_interp->SpliteRegParameter(Read(s.name, item + ".Key"), valueType, root, subkey, valueName,
                                             view64) != 0 ||
                valueType != REG_DWORD)
                continue;
            unsigned long long written = 0;
            switch (CheckDwordText(raw, &written)) {
            case DwordCheck::Ok:
                break;
            case DwordCheck::UpperCaseX:
                Add(kMisreadNumber, s.name, l.name,
                    "'" + raw + "': only a lower-case \"0x\" starts a hexadecimal number; Korvex writes 0");
                break;
            case DwordCheck::NotANumber:
                Add(kMisreadNumber, s.name, l.name, "'" + raw + "' is no REG_DWORD number: Korvex writes what it begins with");
                break;
            case DwordCheck::Beyond32Bits:
                Add(kMisreadNumber, s.name, l.name,
                    KvFormat("'%s' is beyond 32 bits: Korvex writes %llu", raw.c_str(), written));
                break;
            }
        }
    }
}

void CPackageChecker::CheckFileGroupValues(const Section& group, long long)
{
    for (const char* key : {"FileBuildNumber", "FileMaintenanceNumber"})
        if (group.Has(key))
            CheckDecimal(group.name, key);
    if (!group.Has("FileVersion"))
        return;
    const std::string raw = RawValue(group.name, "FileVersion");
    if (!IsLiteralValue(raw))
        return;
    if (!IsDottedNumber(raw))
        Add(kMisreadNumber, group.name, "FileVersion",
            "'" + raw + "' is no number of digits and dots: Korvex reads only the digits it begins with");
    else if (MinorPartHasTwoDigits(raw))
        Warn(kFileVersion, group.name, "FileVersion",
             "'" + raw + "' is compared as a decimal number, so its minor part reads as a fraction (6.10 is 6.1, "
                         "older than 6.9), and an installed version is read the same way");
}

void CPackageChecker::CheckTemplates(const Section& s, long long count)
{
    for (long long n = 1; n <= count; ++n) {
        const std::string key = "File" + std::to_string(n) + ".Source";
        if (!s.Has(key))
            continue;
        const std::string source = Read(s.name, key);
        if (source.empty() || source == KORVEX_MISSING)
            continue;
        const bool relative = !IsFullPath(source);
        if (relative)
            Warn(kRelativePath, s.name, key,
                 "'" + source + "' is read from the folder Korvex is started in, which is the package only when it "
                                "is started there: write %SOURCEDIR% in front of it");
        const std::string full = relative ? AbsolutePath(m_strPackageDir, source) : source;
        if (!InPackage(full))
            continue;
        if (FileExists(full))
            NameFile(full);
        else
            Add(kMissingFile, s.name, key, "the template '" + full + "' is not in the package: the file fails (-2501)");
    }
}

void CPackageChecker::CheckIniFileName(const std::string& section, const std::string& key, const std::string& file)
{
    if (!file.empty() && !IsFullPath(file))
        Warn(kRelativePath, section, key,
             "'" + file + "' is no full path: the platform reads and writes it in the Windows folder");
}

void CPackageChecker::CheckIniItems(const Section& s, long long count)
{
    for (long long n = 1; n <= count; ++n) {
        const std::string item = "Item" + std::to_string(n);
        if (!s.Has(item + ".Key"))
            continue;
        std::string file, iniSection, key;
        if (m_interp->SpliteINIParameter(Read(s.name, item + ".Key"), file, iniSection, key) != 0)
            continue;
        CheckIniFileName(s.name, item + ".Key", file);
        if (HasLineBreak(iniSection) || HasLineBreak(key))
            Add(kIniUnwritable, s.name, item + ".Key",
                "the section or key name holds a line break: it would add lines of its own to the file");
        if (iniSection.find(']') != std::string::npos)
            Add(kIniUnwritable, s.name, item + ".Key",
                "the section name '" + iniSection + "' holds ']': the file would read back another section");
        if (key.find('=') != std::string::npos)
            Add(kIniUnwritable, s.name, item + ".Key",
                "the key name '" + key + "' holds '=': the file would read back another key and value");
        const size_t first = key.find_first_not_of(" \t");
        const size_t last = key.find_last_not_of(" \t");
        if (first != std::string::npos && (first > 0 || last + 1 < key.size()))
            Warn(kIniKeyBlanks, s.name, item + ".Key",
                 "the key name '" + key + "' has blanks around it: the file holds it as '" +
                     key.substr(first, last - first + 1) + "'");
        if (s.Has(item + ".Value") && HasLineBreak(Read(s.name, item + ".Value")))
            Add(kIniUnwritable, s.name, item + ".Value",
                "the value holds a line break: it would add lines of its own to the file");
    }
}

void CPackageChecker::CheckExpansion(const std::string& section, const std::string& key, const std::string& text)
{
    CKvExpansionStop stop;
    KvExpandSymbols(text, m_interp->m_globalSymbols, m_interp->m_scriptSymbols, stop);
    if (stop.kind == CKvExpansionStop::kNone || !m_selfReferences.insert(stop.name).second)
        return;
    const std::string name = "%" + stop.name + "%";
    Add(kSelfReference, section, key,
        stop.kind == CKvExpansionStop::kSelfReference
            ? name + " refers to itself: Korvex stops expanding and the text keeps " + name
            : "expanding " + name + " goes beyond the installer's limits: Korvex stops and the text keeps it");
}

}  // namespace kvcheck
