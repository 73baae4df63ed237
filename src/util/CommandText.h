#pragma once
// The character rules of the command policy, shared by its two halves (the
// line as a whole, util/CommandPolicy.cpp; the commands in it,
// util/CommandReader.cpp). Internal to them.
#include <cstddef>
#include <functional>
#include <string>

namespace kvcmd {

template <size_t N>
bool InList(const char* const (&list)[N], const std::string& word)
{
    for (const char* name : list)
        if (word == name)
            return true;
    return false;
}

inline char UpperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Lead bytes taken into account: a trail byte that equals an ASCII special
// character is part of its double-byte character.
class CChars {
public:
    CChars(const std::string& s, const std::function<bool(unsigned char)>& lead) : m_s(s), m_lead(lead) {}
    size_t Len(size_t i) const
    {
        return (m_lead && i + 1 < m_s.size() && m_lead(static_cast<unsigned char>(m_s[i]))) ? 2 : 1;
    }
    std::string Upper() const
    {
        std::string out;
        for (size_t i = 0; i < m_s.size();) {
            size_t n = Len(i);
            out += n == 1 ? UpperChar(m_s[i]) : m_s[i];
            if (n == 2)
                out += m_s[i + 1];
            i += n;
        }
        return out;
    }
    size_t Count(char c) const
    {
        size_t count = 0;
        for (size_t i = 0; i < m_s.size(); i += Len(i))
            if (m_s[i] == c)
                ++count;
        return count;
    }

private:
    const std::string& m_s;
    const std::function<bool(unsigned char)>& m_lead;
};

inline bool HasAnyOf(const std::string& text, const char* set, const std::function<bool(unsigned char)>& lead)
{
    CChars chars(text, lead);
    for (const char* c = set; *c; ++c)
        if (chars.Count(*c) > 0)
            return true;
    return false;
}

inline bool IsDelimiter(char c)
{
    return c == ' ' || c == '\t' || c == ',' || c == ';' || c == '=' || c == '\x0B' || c == '\x0C' || c == '\xFF';
}
inline bool IsSeparator(char c) { return c == '&' || c == '|' || c == '\r' || c == '\n'; }
inline bool IsWordChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

// The name a command word can stand for: its leading letters and digits,
// upper case. The interpreter may end a command name at any other
// character ("echo.", "dir/w"), so this is what the lists are held against.
inline std::string HeadOf(const std::string& word)
{
    std::string head;
    for (char c : word) {
        if (!IsWordChar(c))
            break;
        head += UpperChar(c);
    }
    return head;
}

// The file name of a path word (after its last '\', '/' or ':').
inline std::string BaseOf(const std::string& word, const std::function<bool(unsigned char)>& lead)
{
    CChars chars(word, lead);
    size_t start = 0;
    for (size_t i = 0; i < word.size(); i += chars.Len(i))
        if (chars.Len(i) == 1 && (word[i] == '\\' || word[i] == '/' || word[i] == ':'))
            start = i + 1;
    return word.substr(start);
}

}  // namespace kvcmd
