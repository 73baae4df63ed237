#pragma once
// One table of named 8-bit values, ordered byte-wise (unsigned characters),
// case-sensitive. Entries are added or replaced, never removed.
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

private:
    Map m_map;
    std::set<std::string> m_percentNames;
};
