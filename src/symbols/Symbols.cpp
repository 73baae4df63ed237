// The three symbol tables, %NAME% expansion, symbol sections of the script
// and the Symbols section of the install record.
#include "interpreter/Interpreter.h"
#include "util/Profile.h"
#include "symbols/Builtins.h"

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

// Backstops for expansions that are finite but absurd (exponential fan-out of
// values). No real script comes near them; they keep a bad script from
// exhausting memory or hanging the run.
const size_t kMaxExpandedLength = 16u * 1024u * 1024u;
const unsigned kMaxReplacements = 1000000u;

struct CMatch {
    size_t pos = std::string::npos;
    const SymbolEntry* entry = nullptr;
};

// The first name in table order whose pattern %name% occurs anywhere in the
// text, with the position of its first occurrence.
//
// A pattern of a name without '%' is a '%' followed by the name and the very
// next '%'; so pairing every '%' of the text with the next one yields every
// occurrence of every such name in one pass, and the smallest name that the
// table holds, at its leftmost pairing, is exactly what trying the names one
// by one in table order would find. Names holding '%' (rare) are searched
// for directly, in order, only while they could still come first.
CMatch FindFirstMatch(const std::string& text, const CHFS_SymbolTable& table)
{
    CMatch m;
    if (table.Size() == 0)
        return m;
    size_t i = text.find('%');
    while (i != std::string::npos) {
        size_t j = text.find('%', i + 1);
        if (j == std::string::npos)
            break;
        std::string_view candidate(text.data() + i + 1, j - i - 1);
        if (!m.entry || candidate < std::string_view(m.entry->first)) {
            if (const SymbolEntry* e = table.FindEntry(candidate)) {
                m.entry = e;
                m.pos = i;
            }
        }
        i = j;
    }
    for (const std::string& name : table.PercentNames()) {
        if (m.entry && !(name < m.entry->first))
            break;
        size_t p = text.find("%" + name + "%");
        if (p != std::string::npos) {
            m.entry = table.FindEntry(name);
            m.pos = p;
            break;
        }
    }
    return m;
}

// How often each defined name occurs as a candidate (a '%', the text up to
// the next '%', that '%'), per table. The first key is the table-order-first
// name that occurs, so a replacement only has to recount the few candidates
// around the spliced value instead of rescanning the whole text: a long value
// with hundreds of references stays linear per replacement. Only valid while
// no name holds a '%'.
class CCandidateCounts {
public:
    CCandidateCounts(const CHFS_SymbolTable& global, const CHFS_SymbolTable& script)
        : m_global(global), m_script(script)
    {
    }
    // Counts (sign +1) or uncounts (-1) the candidates whose both '%' lie in
    // [from, to].
    void Count(const std::string& text, size_t from, size_t to, int sign)
    {
        size_t i = text.find('%', from);
        while (i != std::string::npos && i < to) {
            size_t j = text.find('%', i + 1);
            if (j == std::string::npos || j > to)
                break;
            std::string_view name(text.data() + i + 1, j - i - 1);
            if (const SymbolEntry* e = m_global.FindEntry(name))
                Bump(Key{0, e}, sign);
            if (const SymbolEntry* e = m_script.FindEntry(name))
                Bump(Key{1, e}, sign);
            i = j;
        }
    }
    const SymbolEntry* First() const { return m_counts.empty() ? nullptr : m_counts.begin()->first.entry; }

private:
    struct Key {
        int table;
        const SymbolEntry* entry;
        bool operator<(const Key& o) const
        {
            return table != o.table ? table < o.table : entry->first < o.entry->first;
        }
    };
    void Bump(const Key& k, int sign)
    {
        int& n = m_counts[k];
        n += sign;
        if (n <= 0)
            m_counts.erase(k);
    }

    const CHFS_SymbolTable& m_global;
    const CHFS_SymbolTable& m_script;
    std::map<Key, int> m_counts;
};

// Which names each piece of the text was produced by. Every character carries
// the set of names whose expansion (directly or through others) put it there;
// the text given to the expansion has the empty set.
class CProvenance {
public:
    explicit CProvenance(size_t length) : m_origin(length, 0) { Intern(std::vector<std::string_view>()); }

    // True when every character of [from, to) was produced by expanding
    // name. Otherwise newSet is the id of "name plus the names of the
    // shallowest character that name did not produce".
    bool Produces(size_t from, size_t to, std::string_view name, uint32_t& newSet)
    {
        const std::vector<std::string_view>* best = nullptr;
        uint32_t last = UINT32_MAX;
        for (size_t k = from; k < to; ++k) {
            uint32_t o = m_origin[k];
            if (o == last)
                continue;
            last = o;
            const std::vector<std::string_view>& names = m_sets[o];
            if (std::find(names.begin(), names.end(), name) != names.end())
                continue;
            if (!best || names.size() < best->size())
                best = &names;
            if (best->empty())
                break;
        }
        if (!best)
            return true;
        if (best->empty()) {
            // The usual case: text nobody produced yet.
            std::map<std::string_view, uint32_t>::iterator it = m_single.find(name);
            if (it == m_single.end())
                it = m_single.emplace(name, Intern(std::vector<std::string_view>(1, name))).first;
            newSet = it->second;
            return false;
        }
        std::vector<std::string_view> names = *best;
        names.push_back(name);
        std::sort(names.begin(), names.end());
        newSet = Intern(names);
        return false;
    }
    void Replace(size_t pos, size_t removed, size_t inserted, uint32_t set)
    {
        size_t common = std::min(removed, inserted);
        std::fill(m_origin.begin() + pos, m_origin.begin() + pos + common, set);
        if (removed > inserted)
            m_origin.erase(m_origin.begin() + pos + common, m_origin.begin() + pos + removed);
        else if (inserted > removed)
            m_origin.insert(m_origin.begin() + pos + common, inserted - removed, set);
    }
    void Erase(size_t pos) { m_origin.erase(m_origin.begin() + pos); }

private:
    uint32_t Intern(const std::vector<std::string_view>& names)
    {
        std::map<std::vector<std::string_view>, uint32_t>::iterator it = m_ids.find(names);
        if (it != m_ids.end())
            return it->second;
        uint32_t id = static_cast<uint32_t>(m_sets.size());
        m_sets.push_back(names);
        m_ids.emplace(names, id);
        return id;
    }

    std::vector<uint32_t> m_origin;
    std::vector<std::vector<std::string_view>> m_sets;
    std::map<std::vector<std::string_view>, uint32_t> m_ids;
    std::map<std::string_view, uint32_t> m_single;
};

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

// One replacement per iteration, then start over on the new text, so values
// may hold names that expand in later iterations.
//
// Self-reference: every character carries the names whose expansion put it
// there. A replacement of %N% is refused when every character of that
// pattern, percent signs included, was produced by expanding N (directly or
// through other names): the value of N, expanded, holds %N% again. The
// expansion then stops, logs N and returns the text as it stands. An allowed
// replacement consumes at least one character that N did not produce and
// gives its value that character's names plus N; as no character can carry
// more names than the tables hold, every expansion ends. Chains of any
// length, a name used any number of times, or a pattern that a value merely
// completes ("100%" before "NAME%" of the text) are never cut. The length and
// replacement limits above only catch absurd but finite fan-out.
std::string CHFS_Interpreter::ExpandSymbols(const std::string& input)
{
    std::string text = input;
    CProvenance provenance(text.size());
    unsigned replacements = 0;
    bool counted = m_globalSymbols.PercentNames().empty() && m_scriptSymbols.PercentNames().empty();
    CCandidateCounts counts(m_globalSymbols, m_scriptSymbols);
    if (counted)
        counts.Count(text, 0, std::string::npos, +1);
    for (;;) {
        if (text.size() > 2 && text.front() == '"' && text.back() == '"')
            return text.substr(1, text.size() - 2);

        CMatch m;
        if (counted) {
            m.entry = counts.First();
            if (m.entry)
                m.pos = text.find("%" + m.entry->first + "%");
        } else {
            m = FindFirstMatch(text, m_globalSymbols);
            if (!m.entry)
                m = FindFirstMatch(text, m_scriptSymbols);
        }
        if (!m.entry || m.pos == std::string::npos)
            return text;

        const std::string& name = m.entry->first;
        const std::string& value = m.entry->second;
        size_t p = m.pos;
        size_t patternLength = name.size() + 2;

        uint32_t set = 0;
        if (provenance.Produces(p, p + patternLength, name, set)) {
            Log("*** Runtime error: CHFS_Interpreter::ExpandSymbols(): symbol '%s' refers to itself, "
                "expansion stopped!",
                name.c_str());
            return text;
        }
        if (++replacements > kMaxReplacements) {
            Log("*** Runtime error: CHFS_Interpreter::ExpandSymbols(): more than %u replacements at symbol "
                "'%s', expansion stopped!",
                kMaxReplacements, name.c_str());
            return text;
        }
        if (text.size() - patternLength + value.size() > kMaxExpandedLength) {
            Log("*** Runtime error: CHFS_Interpreter::ExpandSymbols(): symbol '%s' makes the text longer than "
                "%u characters, expansion stopped!",
                name.c_str(), static_cast<unsigned>(kMaxExpandedLength));
            return text;
        }

        // The candidates that the splice can change: from the '%' before the
        // pattern to the first '%' after it.
        size_t before = p > 0 ? text.rfind('%', p - 1) : std::string::npos;
        size_t after = text.find('%', p + patternLength);
        size_t from = before == std::string::npos ? p : before;
        size_t oldSize = text.size();
        if (counted)
            counts.Count(text, from, after == std::string::npos ? std::string::npos : after, -1);

        text.replace(p, patternLength, value);
        provenance.Replace(p, patternLength, value.size(), set);

        // Seam: a value ending in '\' before a '\' of the text gives one '\',
        // unless that second '\' is the last character of the text.
        size_t q = p + value.size();
        if (q > 0 && q + 1 < text.size() && text[q] == '\\' && text[q - 1] == '\\') {
            text.erase(q, 1);
            provenance.Erase(q);
        }
        if (counted)
            counts.Count(text, from, after == std::string::npos ? std::string::npos : after + text.size() - oldSize,
                         +1);
    }
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
        while (size <= kMaxExpandedLength) {
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

    const char* p = buf.get();
    const char* end = p + n;
    while (p < end && *p) {
        std::string line(p);
        p += line.size() + 1;
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string name = line.substr(0, eq);
        std::string value = ExpandSymbols(line.substr(eq + 1));
        value = ResolveVariableReference(value, callerTag);
        if (tableKind == 2)
            SetPatchInfo(name, value);
        else
            SetSymbol(name, value);
    }
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

int CHFS_Interpreter::SaveSymbols(const std::string& recordFile)
{
    const std::string section = "Symbols";
    // In one write, like the record's items, unless the file already holds a
    // Symbols section that only the per-key writer updates in place.
    if (!FileHasINISection(recordFile, section, true)) {
        std::string text = "[" + section + "]\r\nTotalCount=" + std::to_string(m_scriptSymbols.Size()) + "\r\n";
        int n = 0;
        for (const SymbolEntry& e : m_scriptSymbols) {
            ++n;
            text += "Name." + std::to_string(n) + "=" + StoredSymbolText(e.first) + "\r\nValue." +
                    std::to_string(n) + "=" + StoredSymbolText(e.second) + "\r\n";
        }
        return AppendINISections(recordFile, text);
    }
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
        if (n + 2 < buf.size() || buf.size() >= kMaxExpandedLength)
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
