// Path texts: splitting, joining and the relative parts of paths, with the
// double-byte characters of the ANSI code page respected. Only the lead-byte
// test comes from the platform, so the native fuzzing build compiles this
// file as it is, with a stand-in for that one call.
#include "util/PathText.h"

#include <windows.h>

namespace {

// The path functions ask for every byte of every path whether it starts a
// double-byte character; for the ANSI code page the answers are kept.
struct CLeadTable {
    bool lead[256];
    CLeadTable()
    {
        for (int i = 0; i < 256; ++i)
            lead[i] = ::IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(i)) != FALSE;
    }
};

bool IsLead(unsigned codePage, char c)
{
    if (codePage == CP_ACP) {
        static const CLeadTable table;
        return table.lead[static_cast<BYTE>(c)];
    }
    return ::IsDBCSLeadByteEx(codePage, static_cast<BYTE>(c)) != FALSE;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Byte offsets at which the characters of s start, scanning from the start:
// a trail byte can have any value, including that of the backslash, so the
// only safe way to know what the last character is is to walk from the front.
struct CLastChar {
    size_t offset = std::string::npos;  // start of the last character
    bool doubleByte = false;
};

CLastChar LastChar(unsigned codePage, const std::string& s)
{
    CLastChar last;
    size_t i = 0;
    while (i < s.size()) {
        last.offset = i;
        if (IsLead(codePage, s[i]) && i + 1 < s.size()) {
            last.doubleByte = true;
            i += 2;
        } else {
            last.doubleByte = false;
            i += 1;
        }
    }
    return last;
}

}  // namespace

namespace kvpath {

bool EndsWithBackslash(unsigned codePage, const std::string& s)
{
    CLastChar last = LastChar(codePage, s);
    return last.offset != std::string::npos && !last.doubleByte && s[last.offset] == '\\';
}

CSplitPath SplitPath(unsigned codePage, const std::string& path)
{
    CSplitPath sp;
    size_t start = 0;
    if (path.size() >= 2 && path[1] == ':' && !IsLead(codePage, path[0])) {
        sp.drive = path.substr(0, 2);
        start = 2;
    }
    size_t lastSep = std::string::npos;
    for (size_t i = start; i < path.size();) {
        if (IsLead(codePage, path[i]) && i + 1 < path.size()) {
            i += 2;
            continue;
        }
        if (IsSeparator(path[i]))
            lastSep = i;
        ++i;
    }
    if (lastSep == std::string::npos) {
        sp.name = path.substr(start);
    } else {
        sp.dir = path.substr(start, lastSep + 1 - start);
        sp.name = path.substr(lastSep + 1);
    }
    return sp;
}

std::vector<std::string> DirComponents(unsigned codePage, const std::string& dir)
{
    std::vector<std::string> parts;
    std::string cur;
    for (size_t i = 0; i < dir.size();) {
        if (IsLead(codePage, dir[i]) && i + 1 < dir.size()) {
            cur.append(dir, i, 2);
            i += 2;
            continue;
        }
        if (IsSeparator(dir[i])) {
            if (!cur.empty())
                parts.push_back(cur);
            cur.clear();
        } else {
            cur += dir[i];
        }
        ++i;
    }
    if (!cur.empty())
        parts.push_back(cur);
    return parts;
}

bool IsUnc(const std::string& path) { return path.size() >= 2 && path[0] == '\\' && path[1] == '\\'; }

// Where a walk down a folder starts: "\\" for a UNC folder, the drive and
// its root for a rooted folder, the drive alone (or nothing) for a relative
// one. Starting a rooted folder at its bare drive would turn "C:\a" into the
// drive-relative "C:a" (the current folder of C:), and a rooted folder
// without a drive into a folder below the current one.
std::string WalkRoot(const CSplitPath& sp)
{
    if (sp.drive.empty() && IsUnc(sp.dir))
        return "\\\\";
    if (!sp.dir.empty() && IsSeparator(sp.dir[0]))
        return sp.drive + "\\";
    return sp.drive;
}

std::string ParentFolderCP(unsigned codePage, const std::string& folder)
{
    CSplitPath sp = SplitPath(codePage, folder);
    std::vector<std::string> parts = DirComponents(codePage, sp.dir);
    std::string result = WalkRoot(sp);
    for (size_t i = 0; i + 1 < parts.size(); ++i)
        result = JoinPathCP(codePage, result, parts[i]);
    return result;
}

std::string WithUncPrefix(const std::string& path)
{
    return IsUnc(path) ? path : "\\\\" + path;
}

}  // namespace kvpath

using namespace kvpath;

std::string GetFolderPartCP(unsigned codePage, const std::string& path)
{
    CSplitPath sp = SplitPath(codePage, path);
    return sp.drive + sp.dir;
}

std::string GetFileNamePartCP(unsigned codePage, const std::string& path)
{
    return SplitPath(codePage, path).name;
}

std::string GetFolderPart(const std::string& path) { return GetFolderPartCP(CP_ACP, path); }
std::string GetFileNamePart(const std::string& path) { return GetFileNamePartCP(CP_ACP, path); }

std::string JoinPathCP(unsigned codePage, const std::string& first, const std::string& second)
{
    if (first.empty())
        return second;
    std::string result = first;
    CLastChar last = LastChar(codePage, first);
    bool secondLead = !second.empty() && IsLead(codePage, second[0]);
    bool secondBackslash = !second.empty() && second[0] == '\\';
    size_t skip = 0;
    if (last.doubleByte) {
        if (secondLead || (!second.empty() && !secondBackslash))
            result += '\\';
    } else if (secondLead) {
        if (!EndsWithBackslash(codePage, first))
            result += '\\';
    } else if (EndsWithBackslash(codePage, first)) {
        if (secondBackslash)
            skip = 1;
    } else if (!second.empty() && !secondBackslash) {
        result += '\\';
    }
    result.append(second, skip, std::string::npos);
    return result;
}

std::string JoinPath(const std::string& first, const std::string& second)
{
    return JoinPathCP(CP_ACP, first, second);
}

std::string JoinPath3(const std::string& first, const std::string& second, const std::string& third)
{
    return JoinPath(JoinPath(first, second), third);
}

std::string GetRelativePath(const std::string& path, const std::string& base)
{
    std::string b = base;
    if (EndsWithBackslash(CP_ACP, b))
        b.erase(b.size() - 1);
    if (!b.empty() && b.size() < path.size() && path.find(b) != std::string::npos)
        return path.substr(b.size() + 1);
    return path;
}

std::string RemoveServerPart(const std::string& folder)
{
    size_t pos = folder.find("\\\\");
    if (pos == std::string::npos)
        return folder;
    size_t next = folder.find('\\', pos + 2);
    if (next == std::string::npos)
        return folder;
    std::string head = pos >= 2 ? folder.substr(0, pos - 1) : std::string();
    return head + folder.substr(next + 1);
}

std::string GetParentFolder(const std::string& folder) { return ParentFolderCP(CP_ACP, folder); }
