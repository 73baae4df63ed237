#include "symbols/RefSplit.h"

#include <cstring>

const char* const kKvRegRootNames[kKvRegRootCount] = {"HKCU", "HKLM", "HKEY_USERS", "HKEY_CURRENT_CONFIG"};

namespace {

bool EqualsNoCase(const std::string& a, const char* b)
{
    size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z')
            x = static_cast<unsigned char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = static_cast<unsigned char>(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return true;
}

}  // namespace

int KvSplitRegDescription(const std::string& d, CKvRegDescription& out)
{
    size_t start = d.find("Reg:");
    size_t c1 = start == std::string::npos ? std::string::npos : d.find(',', start + 4);
    size_t c2 = c1 == std::string::npos ? std::string::npos : d.find(',', c1 + 1);
    if (c2 == std::string::npos)
        return -1;
    out.typeField = d.substr(start + 4, c1 - start - 4);
    out.rootField = d.substr(c1 + 1, c2 - c1 - 1);
    size_t c3 = d.find(',', c2 + 1);
    if (c3 == std::string::npos) {
        out.key = d.substr(c2 + 1);
        out.valueName.clear();
    } else {
        out.key = d.substr(c2 + 1, c3 - c2 - 1);
        size_t c4 = d.find(',', c3 + 1);
        if (c4 == std::string::npos) {
            out.valueName = d.substr(c3 + 1);
            if (out.valueName.empty())
                return -1;
        } else {
            out.valueName = d.substr(c3 + 1, c4 - c3 - 1);
            std::string flag = d.substr(c4 + 1);
            if (flag.empty())
                return -1;
            if (flag == "x64")
                out.x64 = true;
        }
    }

    if (out.typeField == "REG_DWORD")
        out.type = kKvRegDword;
    else if (out.typeField == "REG_SZ")
        out.type = kKvRegSz;
    else
        return -2;

    for (int i = 0; i < kKvRegRootCount; ++i) {
        if (EqualsNoCase(out.rootField, kKvRegRootNames[i])) {
            out.rootIndex = i;
            return 0;
        }
    }
    return -3;
}

int KvSplitINIDescription(const std::string& description, std::string& file, std::string& section,
                          std::string& key)
{
    size_t start = description.find("INI:");
    size_t c1 = start == std::string::npos ? std::string::npos : description.find(',', start + 4);
    size_t c2 = c1 == std::string::npos ? std::string::npos : description.find(',', c1 + 1);
    // An empty file name is missing too: the profile reader would fall back
    // on a file in the Windows folder.
    if (c2 == std::string::npos || c2 + 1 >= description.size() || c1 == start + 4)
        return -1;
    file = description.substr(start + 4, c1 - start - 4);
    section = description.substr(c1 + 1, c2 - c1 - 1);
    key = description.substr(c2 + 1);
    return 0;
}

int KvSplitFileInfoDescription(const std::string& description, std::string& path, std::string& kind)
{
    size_t start = description.find("FileInfo:");
    size_t comma = start == std::string::npos ? std::string::npos : description.find(',', start + 9);
    if (comma == std::string::npos || comma + 1 >= description.size())
        return -1;
    path = description.substr(start + 9, comma - start - 9);
    kind = description.substr(comma + 1);
    return 0;
}

bool KvTakeDescription(const std::string& value, const char* marker, std::string& description)
{
    if (value.find(marker) == std::string::npos)
        return false;
    size_t close = value.rfind(']');
    if (close == std::string::npos)
        return false;
    description = close > 1 ? value.substr(1, close - 1) : std::string();
    return true;
}

bool KvServiceStatusName(const std::string& value, std::string& name)
{
    static const char kMarker[] = "[ServiceStatus:";
    size_t start = value.find(kMarker);
    size_t close = value.rfind(']');
    if (start == std::string::npos || close == std::string::npos)
        return false;
    size_t nameStart = start + sizeof(kMarker) - 1;
    if (close < nameStart)
        return false;
    name = value.substr(nameStart, close - nameStart);
    return true;
}
