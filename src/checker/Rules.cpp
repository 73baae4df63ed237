#include "checker/Rules.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace kvcheck {

namespace {

char LowerChar(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsNameChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

bool AllDigits(const std::string& s)
{
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

const char kGotoStep[] = "KVHF_GOTOSTEP(";

}  // namespace

std::string Lower(const std::string& text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), LowerChar);
    return out;
}

bool EqualsNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && Lower(a) == Lower(b);
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix)
{
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

KeywordMatch MatchKeyword(const std::string& value, const std::vector<std::string>& keywords, std::string* keyword)
{
    for (const std::string& k : keywords)
        if (value == k)
            return KeywordMatch::Exact;
    for (const std::string& k : keywords) {
        if (EqualsNoCase(value, k)) {
            if (keyword)
                *keyword = k;
            return KeywordMatch::WrongCase;
        }
    }
    return KeywordMatch::None;
}

ActionCheck CheckAction(const std::string& value, std::string* expected)
{
    static const std::vector<std::string> kActions = {"KVHF_CONTINUE", "KVHF_RETRY", "KVHF_USERBREAK",
                                                      "KVHF_UNINSTALL"};
    switch (MatchKeyword(value, kActions, expected)) {
    case KeywordMatch::Exact:
        return ActionCheck::Keyword;
    case KeywordMatch::WrongCase:
        return ActionCheck::WrongCase;
    case KeywordMatch::None:
        break;
    }
    const size_t n = std::strlen(kGotoStep);
    if (value.compare(0, n, kGotoStep) == 0)
        return value.size() > n && value[n] >= '0' && value[n] <= '9' ? ActionCheck::Keyword
                                                                       : ActionCheck::NoStepNumber;
    if (StartsWithNoCase(value, kGotoStep)) {
        if (expected)
            *expected = kGotoStep + value.substr(n);
        return ActionCheck::WrongCase;
    }
    return ActionCheck::NotKeyword;
}

CountCheck CheckCount(const std::string& text, long long limit, long long& value)
{
    value = 0;
    if (text == "(empty)")
        return CountCheck::Missing;
    bool negative = !text.empty() && text[0] == '-';
    std::string digits = negative ? text.substr(1) : text;
    if (!AllDigits(digits))
        return CountCheck::NotANumber;
    // Beyond any limit long before the digits could overflow.
    std::string significant = digits.substr(std::min(digits.find_first_not_of('0'), digits.size()));
    if (significant.size() > 12) {
        value = negative ? -limit - 1 : limit + 1;
        return negative ? CountCheck::Negative : CountCheck::TooLarge;
    }
    long long v = significant.empty() ? 0 : std::stoll(significant);
    value = negative ? -v : v;
    if (value < 0)
        return CountCheck::Negative;
    return value > limit ? CountCheck::TooLarge : CountCheck::Ok;
}

bool SplitNumberedKey(const std::string& key, const std::string& stem, std::string& digits, std::string& rest)
{
    if (!StartsWithNoCase(key, stem))
        return false;
    size_t end = key.find_first_not_of("0123456789", stem.size());
    if (end == std::string::npos)
        end = key.size();
    if (end == stem.size())
        return false;
    if (end < key.size() && key[end] != '.')
        return false;
    digits = key.substr(stem.size(), end - stem.size());
    rest = key.substr(end);
    return true;
}

bool ParseEventKey(const std::string& key, const std::string& stem, bool numbered, EventKey& out)
{
    std::string rest;
    if (numbered) {
        if (!SplitNumberedKey(key, stem, out.digits, rest))
            return false;
    } else {
        if (!StartsWithNoCase(key, stem))
            return false;
        out.digits.clear();
        rest = key.substr(stem.size());
    }
    for (const char* outcome : {".Success.", ".Error."}) {
        if (StartsWithNoCase(rest, outcome) && rest.size() > std::strlen(outcome)) {
            out.outcome = rest.substr(1, std::strlen(outcome) - 2);
            out.suffix = rest.substr(std::strlen(outcome));
            return true;
        }
    }
    return false;
}

bool IsAnswerSuffix(const std::string& suffix)
{
    for (const char* s : {"Action", "Default", "Yes", "No", "Retry", "Cancel", "OK"})
        if (EqualsNoCase(suffix, s))
            return true;
    return false;
}

std::vector<std::string> FindSymbolUses(const std::string& text)
{
    std::vector<std::string> names;
    size_t i = text.find('%');
    while (i != std::string::npos) {
        size_t j = text.find('%', i + 1);
        if (j == std::string::npos)
            break;
        std::string name = text.substr(i + 1, j - i - 1);
        if (!name.empty() && std::all_of(name.begin(), name.end(), IsNameChar) &&
            std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
        // The closing '%' of a pattern that is no name may open the next one.
        i = j;
    }
    return names;
}

bool IsLiteralText(const std::string& text)
{
    return text.size() > 2 && text.front() == '"' && text.back() == '"';
}

std::string ReferenceMarker(const std::string& value)
{
    for (const char* marker : {"Reg", "FileInfo", "INI", "ServiceStatus"})
        if (value.find(std::string("[") + marker + ":") != std::string::npos)
            return marker;
    return std::string();
}

bool ReferenceDescription(const std::string& value, std::string& description)
{
    size_t close = value.rfind(']');
    if (close == std::string::npos)
        return false;
    description = close > 1 ? value.substr(1, close - 1) : std::string();
    return true;
}

std::vector<std::string> RegistryFields(const std::string& description)
{
    std::vector<std::string> fields;
    size_t start = description.find("Reg:");
    if (start == std::string::npos)
        return fields;
    size_t p = start + 4;
    while (fields.size() < 4) {
        size_t comma = description.find(',', p);
        if (comma == std::string::npos)
            break;
        fields.push_back(description.substr(p, comma - p));
        p = comma + 1;
    }
    fields.push_back(description.substr(p));
    return fields;
}

namespace {

std::string Trimmed(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

bool IsPlainDecimal(const std::string& text)
{
    std::string t = Trimmed(text);
    if (!t.empty() && (t[0] == '+' || t[0] == '-'))
        t.erase(0, 1);
    return !t.empty() && t.size() <= 18 && std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsDottedNumber(const std::string& text)
{
    std::string t = Trimmed(text);
    if (!t.empty() && (t[0] == '+' || t[0] == '-'))
        t.erase(0, 1);
    return !t.empty() && t.size() <= 64 && t.find_first_not_of("0123456789.") == std::string::npos &&
           t.find_first_of("0123456789") != std::string::npos;
}

bool MinorPartHasTwoDigits(const std::string& version)
{
    const std::string t = Trimmed(version);
    size_t dot = t.find('.');
    if (dot == std::string::npos)
        return false;
    size_t end = t.find('.', dot + 1);
    const std::string minor = t.substr(dot + 1, end == std::string::npos ? std::string::npos : end - dot - 1);
    return minor.size() >= 2;
}

DwordCheck CheckDwordText(const std::string& text, unsigned long long* read)
{
    unsigned long long value = 0;
    DwordCheck result = DwordCheck::Ok;
    if (text.compare(0, 2, "0x") == 0) {
        const std::string digits = text.substr(2);
        if (digits.empty() || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            result = DwordCheck::NotANumber;
        size_t significant = digits.find_first_not_of('0');
        const std::string hex = significant == std::string::npos ? std::string() : digits.substr(significant);
        if (result == DwordCheck::Ok && hex.size() > 8)
            result = DwordCheck::Beyond32Bits;
        value = result == DwordCheck::Ok && !hex.empty() ? std::stoull(hex, nullptr, 16) : 0;
    } else if (text.compare(0, 2, "0X") == 0) {
        result = DwordCheck::UpperCaseX;
    } else if (!IsPlainDecimal(text)) {
        result = DwordCheck::NotANumber;
    } else {
        long long v = std::strtoll(text.c_str(), nullptr, 10);
        if (v < -2147483648LL || v > 4294967295LL)
            result = DwordCheck::Beyond32Bits;
        value = static_cast<unsigned long long>(v < -2147483648LL ? -2147483648LL : (v > 4294967295LL ? 4294967295LL : v)) &
                0xFFFFFFFFull;
    }
    if (read)
        *read = value;
    return result;
}

bool IsFullPath(const std::string& path)
{
    if (path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
        path[1] == ':' && (path[2] == '\\' || path[2] == '/'))
        return true;
    return path.compare(0, 2, "\\\\") == 0;
}

const std::vector<SectionType>& SectionTypes()
{
    static const std::vector<SectionType> kTypes = {
        {"CheckRequirement", "CheckCount", "Check", true, {".Number", ".String", ".DiskSpace", ".ProcessStopped"},
         true, false},
        {"StartService", "ServiceCount", "Service", false, {""}, true, false},
        {"StopService", "ServiceCount", "Service", false, {""}, true, false},
        {"UpdateRegistry", "RegCount", "Reg", false, {".Key", ".Value"}, true, false},
        {"RemoveRegistry", "RegCount", "Reg", false, {".Key"}, true, false},
        // Its items are file group sections of their own.
        {"CopyFileGroupTo", "FileGroupCount", nullptr, false, {}, false, false},
        {"Run", "RunCount", "Run", true, {".Command", ".RollbackCommand"}, true, false},
        {"UpdateINI", "ItemCount", "Item", false, {".Key", ".Value"}, true, false},
        {"ReplaceSymbolsInFile", "FileCount", "File", false, {".Source", ".Output"}, true, false},
        {"GetUserInput", "InputCount", "Input", false, {".Type", ".RefSymbol"}, true, false},
        {"UpdateSymbols", nullptr, nullptr, false, {}, false, false},
        {"BackupFiles", "FileCount", "File", false, {""}, false, false},
        {"Rollback", nullptr, nullptr, false, {}, false, true},
    };
    return kTypes;
}

const SectionType* FindSectionType(const std::string& word, bool* exactCase)
{
    for (const SectionType& t : SectionTypes()) {
        if (word == t.name) {
            if (exactCase)
                *exactCase = true;
            return &t;
        }
    }
    for (const SectionType& t : SectionTypes()) {
        if (EqualsNoCase(word, t.name)) {
            if (exactCase)
                *exactCase = false;
            return &t;
        }
    }
    return nullptr;
}

const SectionType& ProcedureType()
{
    static const SectionType kProcedure = {"Main", "StepCount", "Step", false, {".Section"}, true, false};
    return kProcedure;
}

const SectionType& FileGroupType()
{
    static const SectionType kGroup = {"FileGroup", "FileCount", "File", false, {""}, false, false};
    return kGroup;
}

}  // namespace kvcheck
