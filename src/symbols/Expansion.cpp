// %NAME% expansion with a cost close to linear in the size of the result.
//
// Each iteration needs three things: the table-order-first name whose pattern
// occurs anywhere, its leftmost occurrence, and the splice. Done the obvious
// way each costs the length of the text, so a template with a hundred
// thousand references, or a chain of symbols that doubles at every level,
// costs the square of its size. Here:
// - occurrence counts per name are kept up to date around each splice, so
//   the first name is the first key of an ordered map;
// - each name keeps a lower bound for its first occurrence (a splice at p can
//   only create occurrences that start at p - pattern length + 1 or later),
//   so the search resumes where the last one of that name ended;
// - text and provenance live in a gap buffer, so splices that walk left to
//   right (the usual order) move nothing but the gap.
// The result is exactly that of the obvious loop; the tests compare both.
#include "symbols/Expansion.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

namespace {

typedef CHFS_SymbolTable::Map::value_type SymbolEntry;
const size_t npos = std::string::npos;

// The text being expanded and, per character, the id of the set of names
// whose expansion put it there (CProvenanceSets). Both share one gap, which sits
// where the last splice ended.
class CSpliceText {
public:
    explicit CSpliceText(const std::string& s)
        : m_chars(s.begin(), s.end()), m_origin(s.size(), 0), m_gapStart(s.size()), m_gapEnd(s.size())
    {
    }

    size_t Size() const { return m_chars.size() - GapLength(); }
    char At(size_t i) const { return m_chars[Physical(i)]; }
    uint32_t Origin(size_t i) const { return m_origin[Physical(i)]; }

    // First c in [from, to), or npos.
    size_t FindChar(char c, size_t from, size_t to) const
    {
        to = std::min(to, Size());
        if (from >= to)
            return npos;
        if (from < m_gapStart) {
            size_t end = std::min(to, m_gapStart);
            if (const void* hit = std::memchr(m_chars.data() + from, c, end - from))
                return static_cast<size_t>(static_cast<const char*>(hit) - m_chars.data());
            from = end;
            if (from >= to)
                return npos;
        }
        if (const void* hit = std::memchr(m_chars.data() + from + GapLength(), c, to - from))
            return static_cast<size_t>(static_cast<const char*>(hit) - m_chars.data()) - GapLength();
        return npos;
    }

    bool MatchesAt(const std::string& pattern, size_t pos) const
    {
        if (pos > Size() || pattern.size() > Size() - pos)
            return false;
        for (size_t k = 0; k < pattern.size(); ++k)
            if (At(pos + k) != pattern[k])
                return false;
        return true;
    }

    // First occurrence at or after from. The gap is brought in front of from
    // so that the rest of the text is one piece.
    size_t Find(const std::string& pattern, size_t from)
    {
        size_t n = Size();
        if (from > n)
            return npos;
        if (from < m_gapStart)
            MoveGap(from);
        std::string_view rest(m_chars.data() + Physical(from), n - from);
        size_t r = rest.find(pattern);
        return r == npos ? npos : from + r;
    }

    // Replaces [pos, pos + removed) by value, every new character of origin
    // origin; the gap then follows the value.
    void Splice(size_t pos, size_t removed, const std::string& value, uint32_t origin)
    {
        MoveGap(pos);
        m_gapEnd += removed;
        Reserve(value.size());
        std::copy(value.begin(), value.end(), m_chars.begin() + static_cast<std::ptrdiff_t>(m_gapStart));
        std::fill(m_origin.begin() + static_cast<std::ptrdiff_t>(m_gapStart),
                  m_origin.begin() + static_cast<std::ptrdiff_t>(m_gapStart + value.size()), origin);
        m_gapStart += value.size();
    }

    // Removes the character right after the last splice.
    void EraseAfterSplice() { ++m_gapEnd; }

    std::string Str() const
    {
        std::string s;
        s.reserve(Size());
        s.append(m_chars.data(), m_gapStart);
        s.append(m_chars.data() + m_gapEnd, m_chars.size() - m_gapEnd);
        return s;
    }

private:
    size_t GapLength() const { return m_gapEnd - m_gapStart; }
    size_t Physical(size_t i) const { return i < m_gapStart ? i : i + GapLength(); }

    void MoveGap(size_t pos)
    {
        if (pos < m_gapStart) {
            size_t k = m_gapStart - pos;
            std::memmove(m_chars.data() + m_gapEnd - k, m_chars.data() + pos, k);
            std::memmove(m_origin.data() + m_gapEnd - k, m_origin.data() + pos, k * sizeof(uint32_t));
            m_gapStart = pos;
            m_gapEnd -= k;
        } else if (pos > m_gapStart) {
            size_t k = pos - m_gapStart;
            std::memmove(m_chars.data() + m_gapStart, m_chars.data() + m_gapEnd, k);
            std::memmove(m_origin.data() + m_gapStart, m_origin.data() + m_gapEnd, k * sizeof(uint32_t));
            m_gapStart += k;
            m_gapEnd += k;
        }
    }

    void Reserve(size_t need)
    {
        if (GapLength() >= need)
            return;
        size_t size = Size();
        size_t tail = m_chars.size() - m_gapEnd;
        size_t capacity = size + need + size / 2 + 64;
        std::vector<char> chars(capacity);
        std::vector<uint32_t> origin(capacity);
        std::copy(m_chars.begin(), m_chars.begin() + static_cast<std::ptrdiff_t>(m_gapStart), chars.begin());
        std::copy(m_origin.begin(), m_origin.begin() + static_cast<std::ptrdiff_t>(m_gapStart), origin.begin());
        std::copy(m_chars.end() - static_cast<std::ptrdiff_t>(tail), m_chars.end(),
                  chars.end() - static_cast<std::ptrdiff_t>(tail));
        std::copy(m_origin.end() - static_cast<std::ptrdiff_t>(tail), m_origin.end(),
                  origin.end() - static_cast<std::ptrdiff_t>(tail));
        m_chars.swap(chars);
        m_origin.swap(origin);
        m_gapEnd = capacity - tail;
    }

    std::vector<char> m_chars;
    std::vector<uint32_t> m_origin;
    size_t m_gapStart;
    size_t m_gapEnd;
};

// The sets of names that characters carry, interned by id: every character
// carries the names whose expansion (directly or through others) put it
// there; the text given to the expansion has the empty set, id 0.
class CProvenanceSets {
public:
    CProvenanceSets() { Intern(std::vector<std::string_view>()); }

    // True when every character of [from, to) was produced by expanding
    // name. newSet is the set the replacing value gets: name plus the names
    // of the shallowest character that name did not produce (or, when there
    // is none, the shallowest character's set, which holds name already).
    bool Produces(const CSpliceText& text, size_t from, size_t to, std::string_view name, uint32_t& newSet)
    {
        const std::vector<std::string_view>* best = nullptr;
        uint32_t shallowestId = 0;
        size_t shallowest = SIZE_MAX;
        uint32_t last = UINT32_MAX;
        for (size_t k = from; k < to; ++k) {
            uint32_t o = text.Origin(k);
            if (o == last)
                continue;
            last = o;
            const std::vector<std::string_view>& names = m_sets[o];
            if (std::find(names.begin(), names.end(), name) != names.end()) {
                if (names.size() < shallowest) {
                    shallowest = names.size();
                    shallowestId = o;
                }
                continue;
            }
            if (!best || names.size() < best->size())
                best = &names;
            if (best->empty())
                break;
        }
        if (!best) {
            newSet = shallowestId;
            return true;
        }
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

    std::vector<std::vector<std::string_view>> m_sets;
    std::map<std::vector<std::string_view>, uint32_t> m_ids;
    std::map<std::string_view, uint32_t> m_single;
};

// How often the pattern of each defined name occurs in the text, per table;
// the first key is the table-order-first name that occurs.
//
// A name without '%' occurs at i when the candidate opened by the '%' at i
// (the text up to the very next '%') is that name, so such names are counted
// by pairing each '%' with the next one; a candidate longer than the longest
// such name is none of them, which bounds every look to the left and right
// of a splice. The few names that hold '%' are matched directly.
class COccurrences {
public:
    COccurrences(const CHFS_SymbolTable& global, const CHFS_SymbolTable& script)
        : m_global(global), m_script(script), m_hasPlain(global.HasPlainNames() || script.HasPlainNames()),
          m_maxPlain(std::max(global.MaxPlainLength(), script.MaxPlainLength()))
    {
        AddPercentNames(0, global);
        AddPercentNames(1, script);
    }

    void CountAll(const CSpliceText& text)
    {
        CountPlain(text, 0, text.Size(), +1);
        for (const CPercentName& m : m_percent)
            CountPercent(text, m, 0, text.Size(), +1);
    }

    // Before [p, p + removed) is replaced (and, with seam, the character
    // after it removed): takes out every occurrence the splice can change.
    void BeforeSplice(const CSpliceText& text, size_t p, size_t removed, bool seam)
    {
        CountPlain(text, PlainStart(p), p + removed, -1);
        for (const CPercentName& m : m_percent)
            CountPercent(text, m, PercentStart(p, m), p + removed + (seam ? 1 : 0), -1);
    }

    // After the splice put inserted characters at p: counts what is there now.
    void AfterSplice(const CSpliceText& text, size_t p, size_t inserted)
    {
        CountPlain(text, PlainStart(p), p + inserted, +1);
        for (const CPercentName& m : m_percent)
            CountPercent(text, m, PercentStart(p, m), p + inserted, +1);
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
    struct CPercentName {
        Key key;
        std::string pattern;
    };

    void AddPercentNames(int table, const CHFS_SymbolTable& t)
    {
        for (const std::string& name : t.PercentNames())
            m_percent.push_back(CPercentName{Key{table, t.FindEntry(name)}, "%" + name + "%"});
    }

    // No candidate opened before this can reach p and still be a name.
    size_t PlainStart(size_t p) const { return p > m_maxPlain + 1 ? p - m_maxPlain - 1 : 0; }
    static size_t PercentStart(size_t p, const CPercentName& m)
    {
        return p + 1 > m.pattern.size() ? p + 1 - m.pattern.size() : 0;
    }

    // Candidates opened by a '%' in [lo, hi).
    void CountPlain(const CSpliceText& text, size_t lo, size_t hi, int sign)
    {
        if (!m_hasPlain)
            return;
        size_t n = text.Size();
        hi = std::min(hi, n);
        size_t i = text.FindChar('%', lo, hi);
        while (i != npos) {
            // Far enough for the closing '%' of a name and for the next
            // opening inside the window.
            size_t reach = std::min(n, std::max(hi, i + m_maxPlain + 2));
            size_t j = text.FindChar('%', i + 1, reach);
            if (j == npos)
                break;
            size_t length = j - i - 1;
            unsigned char first = length > 0 ? static_cast<unsigned char>(text.At(i + 1)) : 0;
            if (length <= m_maxPlain &&
                (m_global.MayBePlainName(length, first) || m_script.MayBePlainName(length, first))) {
                m_scratch.clear();
                for (size_t k = i + 1; k < j; ++k)
                    m_scratch += text.At(k);
                if (const SymbolEntry* e = m_global.FindEntry(m_scratch))
                    Bump(Key{0, e}, sign);
                if (const SymbolEntry* e = m_script.FindEntry(m_scratch))
                    Bump(Key{1, e}, sign);
            }
            if (j >= hi)
                break;
            i = j;
        }
    }

    // Occurrences of one name with '%' that start in [lo, hi).
    void CountPercent(const CSpliceText& text, const CPercentName& m, size_t lo, size_t hi, int sign)
    {
        for (size_t r = text.FindChar('%', lo, hi); r != npos; r = text.FindChar('%', r + 1, hi))
            if (text.MatchesAt(m.pattern, r))
                Bump(m.key, sign);
    }

    void Bump(const Key& k, int sign)
    {
        int& n = m_counts[k];
        n += sign;
        if (n <= 0)
            m_counts.erase(k);
    }

    const CHFS_SymbolTable& m_global;
    const CHFS_SymbolTable& m_script;
    bool m_hasPlain;
    size_t m_maxPlain;
    std::vector<CPercentName> m_percent;
    std::map<Key, int> m_counts;
    std::string m_scratch;
};

// A lower bound, per name, for the position of its first occurrence. A name
// found at p has no occurrence before p; a later splice at s can create one
// only where the pattern overlaps s, so the bound falls to s - length + 1 at
// the lowest. The splice positions are kept as a stack of suffix minima, so
// a name catches up on all splices since its own last search in one look.
class CLeftmostBounds {
public:
    size_t LowerBound(const SymbolEntry* e, size_t patternLength)
    {
        CBound& b = m_bounds[e];
        std::vector<std::pair<size_t, size_t>>::const_iterator it =
            std::lower_bound(m_minima.begin(), m_minima.end(), b.since,
                             [](const std::pair<size_t, size_t>& m, size_t t) { return m.first < t; });
        if (it != m_minima.end()) {
            size_t low = it->second + 1 > patternLength ? it->second + 1 - patternLength : 0;
            b.pos = std::min(b.pos, low);
        }
        b.since = m_time;
        return b.pos;
    }
    // e was found first at pos, which the next splice replaces.
    void Found(const SymbolEntry* e, size_t pos) { m_bounds[e] = CBound{pos, m_time}; }
    void Spliced(size_t pos)
    {
        while (!m_minima.empty() && m_minima.back().second >= pos)
            m_minima.pop_back();
        m_minima.emplace_back(m_time, pos);
        ++m_time;
    }

private:
    struct CBound {
        size_t pos = 0;
        size_t since = 0;  // the bound holds for the text after this many splices
    };
    std::map<const SymbolEntry*, CBound> m_bounds;
    std::vector<std::pair<size_t, size_t>> m_minima;  // (splice number, position), both ascending
    size_t m_time = 0;
};

bool FullyQuoted(const std::string& t) { return t.size() > 2 && t.front() == '"' && t.back() == '"'; }

}  // namespace

// Self-reference: every character carries the names whose expansion put it
// there. A replacement of %N% whose pattern, percent signs included, was
// produced by expanding N (directly or through other names) means that the
// value of N, expanded, holds %N% again: almost always a cycle. Almost: the
// text around can still end it (a name that the growing text comes to spell,
// and that comes first, can consume a percent sign of the pattern), so the
// expansion goes on for kKvCycleLookahead more replacements. If it ends within
// them, that is the result, exactly as without the guard; if not, the text
// as it stood at the suspected replacement is the result and N is named as
// referring to itself. Chains of any length, a name used any number of
// times, or a pattern that a value merely completes ("100%" before "NAME%"
// of the text) never raise the suspicion. The length and replacement limits
// catch absurd but finite fan-out.
std::string KvExpandSymbols(const std::string& input, const CHFS_SymbolTable& global,
                            const CHFS_SymbolTable& script, CKvExpansionStop& stop,
                            const CKvExpansionLimits& limits)
{
    stop = CKvExpansionStop();
    // Every pattern holds a '%': without one only the quote rule can apply.
    if (input.find('%') == npos || (global.Size() == 0 && script.Size() == 0))
        return FullyQuoted(input) ? input.substr(1, input.size() - 2) : input;

    CSpliceText text(input);
    CProvenanceSets provenance;
    // The text at the first suspected self-reference, while looking ahead.
    bool suspected = false;
    std::string atSuspicion;
    std::string suspectedName;
    unsigned sinceSuspicion = 0;
    COccurrences occurrences(global, script);
    occurrences.CountAll(text);
    CLeftmostBounds bounds;
    unsigned replacements = 0;
    for (;;) {
        size_t n = text.Size();
        if (n > 2 && text.At(0) == '"' && text.At(n - 1) == '"')
            return text.Str().substr(1, n - 2);

        const SymbolEntry* e = occurrences.First();
        if (!e)
            return text.Str();
        const std::string& name = e->first;
        const std::string& value = e->second;
        const std::string pattern = "%" + name + "%";
        size_t p = text.Find(pattern, bounds.LowerBound(e, pattern.size()));
        if (p == npos)
            p = text.Find(pattern, 0);
        if (p == npos)
            return text.Str();

        uint32_t set = 0;
        if (provenance.Produces(text, p, p + pattern.size(), name, set) && !suspected) {
            suspected = true;
            atSuspicion = text.Str();
            suspectedName = name;
        }
        CKvExpansionStop::Kind limit = CKvExpansionStop::kNone;
        if (suspected && ++sinceSuspicion > limits.cycleLookahead)
            limit = CKvExpansionStop::kSelfReference;
        else if (++replacements > limits.maxReplacements)
            limit = CKvExpansionStop::kTooManyReplacements;
        else if (n - pattern.size() + value.size() > limits.maxLength)
            limit = CKvExpansionStop::kTooLong;
        if (limit != CKvExpansionStop::kNone) {
            // While a cycle is suspected, whatever ends the look ahead
            // confirms it.
            if (suspected) {
                stop.kind = CKvExpansionStop::kSelfReference;
                stop.name = suspectedName;
                return atSuspicion;
            }
            stop.kind = limit;
            stop.name = name;
            return text.Str();
        }

        // Seam: a value ending in '\' before a '\' of the text gives one '\',
        // unless that second '\' is the last character of the text. Decided
        // on the text before the splice: q is where the value ends after it.
        size_t newSize = n - pattern.size() + value.size();
        size_t q = p + value.size();
        bool seam = false;
        if (q > 0 && q + 1 < newSize) {
            char left = value.empty() ? text.At(p - 1) : value.back();
            seam = left == '\\' && text.At(p + pattern.size()) == '\\';
        }

        occurrences.BeforeSplice(text, p, pattern.size(), seam);
        bounds.Found(e, p);
        text.Splice(p, pattern.size(), value, set);
        if (seam)
            text.EraseAfterSplice();
        bounds.Spliced(p);
        occurrences.AfterSplice(text, p, value.size());
    }
}
