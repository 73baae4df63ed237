// The three symbol tables, %NAME% expansion, symbol sections of the script
// and the Symbols section of the install record.
#include "interpreter/Interpreter.h"
#include "util/Profile.h"
#include "symbols/Builtins.h"
#include "symbols/Expansion.h"
#include "symbols/SectionLines.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

namespace {

typedef CHFS_SymbolTable::Map::value_type SymbolEntry;

}  // namespace

int CHFS_Interpreter::SetGlobalSymbol(const std::string& name, const std::string& value)
{
    Log("@ Update Global Symbol table: '%s'='%s'", name.c_str(), value.c_str());
    m_globalSymbols.Set(name, value);
    return 0;
}

int CHFS_Interpreter::SetSymbol(const std::string& name, const std::string& value)
{
    Log("@ Update Symbol table: '%s'='%s'", name.c_str(), value.c_str());
    m_scriptSymbols.Set(name, value);
    return 0;
}

int CHFS_Interpreter::SetPatchInfo(const std::string& name, const std::string& value)
{
    Log("@ Update Patch Information: '%s'='%s'", name.c_str(), value.c_str());
    m_patchInfo.Set(name, value);
    return 0;
}

int CHFS_Interpreter::UpdateSymbol(const std::string& name, const std::string& value)
{
    if (!m_scriptSymbols.Contains(name)) {
        Log("Error! Can't Update undefine symbol '%s' to '%s'", name.c_str(), value.c_str());
        return -1;
    }
    return SetSymbol(name, value);
}

std::string CHFS_Interpreter::GetSymbol(const std::string& name) const
{
    const std::string* p = m_globalSymbols.Find(name);
    if (!p)
        p = m_scriptSymbols.Find(name);
    return p ? *p : std::string();
}

std::string CHFS_Interpreter::GetPatchInfo(const std::string& name) const
{
    const std::string* p = m_patchInfo.Find(name);
    return p ? *p : std::string();
}

// The expansion itself is pure text work (symbols/Expansion.cpp); what it
// refuses is logged here.
std::string CHFS_Interpreter::ExpandSymbols(const std::string& input)
{
    CKvExpansionStop stop;
    std::string text = KvExpandSymbols(input, m_globalSymbols, m_scriptSymbols, stop);
    switch (stop.kind) {
    case CKvExpansionStop::kSelfReference:
        Log("*** Runtime error: CHFS_Interpreter::ExpandSymbols(): symbol '%s' refers to itself, "
            "expansion stopped!",
            stop.name.c_str());
        break;
    case CKvExpansionStop::kTooManyReplacements:
        Log("*** Runtime error: CHFS_Interpreter::ExpandSymbols(): more than %u replacements at symbol "
            "'%s', expansion stopped!",
            kKvMaxReplacements, stop.name.c_str());
        break;
    case CKvExpansionStop::kTooLong:
        Log("*** Runtime error: CHFS_Interpreter::ExpandSymbols(): symbol '%s' makes the text longer than "
            "%u characters, expansion stopped!",
            stop.name.c_str(), static_cast<unsigned>(kKvMaxExpandedLength));
        break;
    case CKvExpansionStop::kNone:
        break;
    }
    return text;
}

std::string CHFS_Interpreter::ResolveVariableReference(const std::string& value, const std::string& callerTag)
{
    if (value.find("[Reg:") != std::string::npos)
        return GetRegVariable(value, callerTag);
    if (value.find("[FileInfo:") != std::string::npos)
        return GetFileInfoVariable(value);
    if (value.find("[INI:") != std::string::npos)
        return GetINIVariable(value);
    if (value.find("[ServiceStatus:") != std::string::npos)
        return GetServiceStatusVariable(value);
    return value;
}

int CHFS_Interpreter::InitVariables(const std::string& section)
{
    return LoadSymbolSection(section, 0, "CHFS_Interpreter::InitVariables()") < 0 ? -1 : 0;
}

int CHFS_Interpreter::LoadSymbolSection(const std::string& section, int tableKind, const std::string& callerTag)
{
    const DWORD bufSize = GetPlatformId() == VER_PLATFORM_WIN32_WINDOWS ? 32767 : 65536;
    std::unique_ptr<char[]> buf(new (std::nothrow) char[bufSize]);
    if (!buf) {
        Log("Memory alloc error! size=%u", static_cast<unsigned>(bufSize));
        return -1;
    }
    DWORD n = KvGetProfileSection(section.c_str(), buf.get(), bufSize, m_strScriptFile);
    Log("GetPrivateProfileSection('%s') size=%d", section.c_str(), static_cast<int>(n));

    // The platform never reports more than it copied: a section that did not
    // fit comes back cut, with bufsize-2 as its length. Such a length is
    // measured again in larger buffers, so a section that does fit (even
    // exactly) loads and one that does not is refused with its real size
    // instead of being loaded in part.
    if (bufSize >= 2 && n >= bufSize - 2) {
        DWORD size = bufSize;
        DWORD realSize = n;
        std::unique_ptr<char[]> bigger;
        while (size <= kKvMaxExpandedLength) {
            size *= 2;
            bigger.reset(new (std::nothrow) char[size]);
            if (!bigger) {
                Log("Memory alloc error! size=%u", static_cast<unsigned>(size));
                return -1;
            }
            realSize = KvGetProfileSection(section.c_str(), bigger.get(), size, m_strScriptFile);
            if (realSize < size - 2)
                break;
        }
        if (realSize + 1 > bufSize) {
            Log("Buffer overflow! bufsize=%d real_size=%d", static_cast<int>(bufSize), static_cast<int>(realSize));
            return -1;
        }
        buf = std::move(bigger);
        n = realSize;
    }

    KvForEachSectionLine(buf.get(), n, [&](const std::string& name, const std::string& raw) {
        std::string value = ResolveVariableReference(ExpandSymbols(raw), callerTag);
        if (tableKind == 2)
            SetPatchInfo(name, value);
        else
            SetSymbol(name, value);
    });
    return static_cast<int>(n);
}

namespace {

bool IsProfileBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// The record is read back through ReadItem, which trims blanks at the ends,
// takes off a pair of enclosing quotes and expands what is left. A value in
// the table is already what the script meant (a quoted section value is kept
// literal on purpose), so one that this would change is stored inside two
// pairs of double quotes: the reader takes off the outer pair and the
// expansion's quote rule the inner one, leaving the value untouched. An empty
// value is two double quotes; CR and LF, which no INI line can hold, are
// stored as their character symbols (so such a value comes back expanded).
// Anything else is stored as it is.
std::string StoredSymbolText(const std::string& value)
{
    if (value.empty())
        return "\"\"";
    if (value.find_first_of("\r\n") != std::string::npos) {
        std::string s;
        for (char c : value) {
            if (c == '\r')
                s += "%x0d%";
            else if (c == '\n')
                s += "%x0a%";
            else
                s += c;
        }
        return s;
    }
    char first = value.front(), last = value.back();
    bool changes = value.find('%') != std::string::npos || IsProfileBlank(first) || IsProfileBlank(last) ||
                   first == '"' || first == '\'' || last == '"' || last == '\'';
    // Beyond this length the read would cut the closing quotes off.
    if (changes && value.size() + 4 <= 4095)
        return "\"\"" + value + "\"\"";
    return value;
}

}  // namespace

std::string CHFS_Interpreter::SymbolsText() const
{
    std::string text = "[Symbols]\r\nTotalCount=" + std::to_string(m_scriptSymbols.Size()) + "\r\n";
    int n = 0;
    for (const SymbolEntry& e : m_scriptSymbols) {
        ++n;
        text += "Name." + std::to_string(n) + "=" + StoredSymbolText(e.first) + "\r\nValue." + std::to_string(n) +
                "=" + StoredSymbolText(e.second) + "\r\n";
    }
    return text;
}

int CHFS_Interpreter::SaveSymbols(const std::string& recordFile)
{
    const std::string section = "Symbols";
    // In one write, like the record's items, unless the file already holds a
    // Symbols section that only the per-key writer updates in place.
    if (!FileHasINISection(recordFile, section, true))
        return AppendINISections(recordFile, SymbolsText());
    // A write that fails is logged by the writer; the record must not be
    // called complete then.
    int failed = SetINIVariable(recordFile, section, "TotalCount", std::to_string(m_scriptSymbols.Size()));
    int n = 0;
    for (const SymbolEntry& e : m_scriptSymbols) {
        ++n;
        failed |= SetINIVariable(recordFile, section, "Name." + std::to_string(n), StoredSymbolText(e.first));
        failed |= SetINIVariable(recordFile, section, "Value." + std::to_string(n), StoredSymbolText(e.second));
    }
    return failed ? -1 : 0;
}

namespace {

// The highest n for which the section holds a key "Name.n" (key names match
// without regard to case, as the profile reader matches them).
long HighestNameIndex(const std::string& file, const std::string& section)
{
    std::vector<char> buf(65536);
    DWORD n = 0;
    for (;;) {
        n = KvGetProfileString(section.c_str(), nullptr, "", buf.data(), static_cast<DWORD>(buf.size()),
                                       file);
        if (n + 2 < buf.size() || buf.size() >= kKvMaxExpandedLength)
            break;
        buf.resize(buf.size() * 2);
    }
    long highest = 0;
    for (const char* p = buf.data(); p < buf.data() + n && *p; p += std::strlen(p) + 1) {
        std::string key(p);
        if (key.size() < 6 || _strnicmp(key.c_str(), "Name.", 5) != 0)
            continue;
        std::string digits = key.substr(5);
        if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        long i = std::strtol(digits.c_str(), nullptr, 10);
        if (std::to_string(i) == digits)
            highest = std::max(highest, i);
    }
    return highest;
}

}  // namespace

int CHFS_Interpreter::LoadSymbols(const std::string& recordFile)
{
    const std::string section = "Symbols";
    std::string total = ReadItem("TotalCount", section, true, recordFile);
    long count = std::strtol(total.c_str(), nullptr, 10);
    // Indexes above the last stored name would all be skipped: not visiting
    // them keeps a damaged count (say 2000000000) from stalling the run.
    if (count > 0)
        count = std::min(count, HighestNameIndex(recordFile, section));
    int result = 0;
    for (long i = 1; i <= count; ++i) {
        std::string name = ReadItem("Name." + std::to_string(i), section, true, recordFile);
        if (name == KORVEX_MISSING)
            continue;
        std::string value = ReadItem("Value." + std::to_string(i), section, true, recordFile);
        if (value == KORVEX_MISSING)
            value.clear();
        result = SetSymbol(name, value);
    }
    return result;
}
