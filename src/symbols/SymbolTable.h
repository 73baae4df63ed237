#pragma once
// One table of named 8-bit values, ordered byte-wise (unsigned characters),
// case-sensitive. Entries are added or replaced, never removed.
#include <bitset>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>

class CHFS_SymbolTable {
public:
    // std::less<> lets the expansion look names up straight from the text
    // (string_view) without building a string per candidate; both compare
    // through char_traits<char>, i.e. as unsigned bytes.
    typedef std::map<std::string, std::string, std::less<>> Map;

    void Set(const std::string& name, const std::string& value)
    {
        m_map[name] = value;
        // A name with a percent sign cannot be found by pairing the percent
        // signs of a text, so expansion searches for these few directly.
        if (name.find('%') != std::string::npos)
            m_percentNames.insert(name);
        else
            NotePlainName(name);
    }
    const std::string* Find(const std::string& name) const
    {
        Map::const_iterator it = m_map.find(name);
        return it == m_map.end() ? nullptr : &it->second;
    }
    // The stored entry (its key string is stable for the table's life).
    const Map::value_type* FindEntry(std::string_view name) const
    {
        Map::const_iterator it = m_map.find(name);
        return it == m_map.end() ? nullptr : &*it;
    }
    bool Contains(const std::string& name) const { return m_map.count(name) != 0; }
    size_t Size() const { return m_map.size(); }
    Map::const_iterator begin() const { return m_map.begin(); }
    Map::const_iterator end() const { return m_map.end(); }
    const std::set<std::string>& PercentNames() const { return m_percentNames; }
    // The longest name without a percent sign: no candidate "%...%" of the
    // text that is longer can be one of them.
    size_t MaxPlainLength() const { return m_maxPlainLength; }
    bool HasPlainNames() const { return m_map.size() > m_percentNames.size(); }
    // False when no name without a percent sign has this length (up to 1) or
    // starts with this character: most candidates of a text are no name, and
    // this spares them the look-up.
    bool MayBePlainName(size_t length, unsigned char first) const
    {
        return length == 0 ? m_hasEmptyName : m_plainFirst.test(first);
    }

private:
    void NotePlainName(const std::string& name)
    {
        if (name.size() > m_maxPlainLength)
            m_maxPlainLength = name.size();
        if (name.empty())
            m_hasEmptyName = true;
        else
            m_plainFirst.set(static_cast<unsigned char>(name[0]));
    }

    Map m_map;
    std::set<std::string> m_percentNames;
    size_t m_maxPlainLength = 0;
    bool m_hasEmptyName = false;
    std::bitset<256> m_plainFirst;
};
