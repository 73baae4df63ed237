#pragma once
// One table of named 8-bit values, ordered byte-wise (unsigned characters),
// case-sensitive. Entries are added or replaced, never removed.
#include <map>
#include <string>

class CHFS_SymbolTable {
public:
    typedef std::map<std::string, std::string> Map;  // std::less<std::string> compares as unsigned char

    void Set(const std::string& name, const std::string& value) { m_map[name] = value; }
    const std::string* Find(const std::string& name) const
    {
        Map::const_iterator it = m_map.find(name);
        return it == m_map.end() ? nullptr : &it->second;
    }
    bool Contains(const std::string& name) const { return m_map.count(name) != 0; }
    size_t Size() const { return m_map.size(); }
    Map::const_iterator begin() const { return m_map.begin(); }
    Map::const_iterator end() const { return m_map.end(); }

private:
    Map m_map;
};
