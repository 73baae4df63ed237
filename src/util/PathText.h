#pragma once
// Path texts (no file system): splitting, joining, relative parts. Paths are
// ANSI code page strings; a trail byte of a double-byte character that equals
// the backslash code is no separator.
#include <string>
#include <vector>

std::string GetFolderPart(const std::string& path);
std::string GetFileNamePart(const std::string& path);
std::string JoinPath(const std::string& first, const std::string& second);
std::string JoinPath3(const std::string& first, const std::string& second, const std::string& third);
std::string GetRelativePath(const std::string& path, const std::string& base);
std::string RemoveServerPart(const std::string& folder);
std::string GetParentFolder(const std::string& folder);

// The double-byte rules of JoinPath and the path splitter under an explicit
// code page (CP_ACP for the functions above), so that they can be checked
// under a double-byte code page whatever the machine's own.
std::string JoinPathCP(unsigned codePage, const std::string& first, const std::string& second);
std::string GetFolderPartCP(unsigned codePage, const std::string& path);
std::string GetFileNamePartCP(unsigned codePage, const std::string& path);

// The pieces the folder-tree creator walks with.
namespace kvpath {

// The run-time splitter's view of a path: drive ("C:"), directory (with its
// trailing separator) and the rest (name and extension).
struct CSplitPath {
    std::string drive;
    std::string dir;
    std::string name;
};

CSplitPath SplitPath(unsigned codePage, const std::string& path);
std::vector<std::string> DirComponents(unsigned codePage, const std::string& dir);
bool EndsWithBackslash(unsigned codePage, const std::string& s);
bool IsUnc(const std::string& path);
std::string WalkRoot(const CSplitPath& sp);
std::string WithUncPrefix(const std::string& path);

}  // namespace kvpath
