// STUB(issue 5): replaced by the file utilities.
#include "util/FileUtil.h"

bool FileExists(const std::string& p) { return ::GetFileAttributesA(p.c_str()) != INVALID_FILE_ATTRIBUTES; }
std::string GetFolderPart(const std::string& p) { size_t i = p.find_last_of("\\:"); return i == std::string::npos ? std::string() : p.substr(0, i + 1); }
std::string GetFileNamePart(const std::string& p) { size_t i = p.find_last_of("\\:"); return i == std::string::npos ? p : p.substr(i + 1); }
std::string JoinPath(const std::string& a, const std::string& b) { if (a.empty()) return b; if (b.empty()) return a; return a.back() == '\\' ? a + (b[0] == '\\' ? b.substr(1) : b) : a + (b[0] == '\\' ? b : "\\" + b); }
std::string JoinPath3(const std::string& a, const std::string& b, const std::string& c) { return JoinPath(JoinPath(a, b), c); }
std::string GetRelativePath(const std::string& p, const std::string&) { return p; }
std::string RemoveServerPart(const std::string& f) { return f; }
std::string GetParentFolder(const std::string& f) { return f; }
bool CreateDirectoryTree(const std::string& p, bool isFile) { std::string d = isFile ? GetFolderPart(p) : p; if (FileExists(d)) return true; std::string cur; for (size_t i = 0; i < d.size(); ++i) { cur += d[i]; if (d[i] == '\\' && i > 2) ::CreateDirectoryA(cur.c_str(), nullptr); } ::CreateDirectoryA(d.c_str(), nullptr); return FileExists(d); }
int FindFiles(std::vector<std::string>&, const std::string&, const std::string&, bool) { return 0; }
int CopyFileKeepTime(const std::string& s, const std::string& d, CHFS_Interpreter*) { return ::CopyFileA(s.c_str(), d.c_str(), FALSE) ? 0 : -140; }
bool GetFileVersionNumbers(const std::string&, WORD*) { return false; }
bool GetFileVersionString(const std::string&, std::string&) { return false; }
bool GetSpecialBuildString(const std::string&, std::string&) { return false; }
bool GetFileSizeLow(const std::string&, DWORD&) { return false; }
