#include "util/PackageManifest.h"

#include <map>
#include <set>

#include "util/FileFingerprint.h"
#include "util/FileUtil.h"
#include "util/WinHandles.h"

const char kKvManifestName[] = "package.sha256";
const char kKvManifestHeader[] = "; Korvex package manifest 1";

namespace {

// A manifest holds a line per file: anything far beyond what a package can
// hold is no manifest.
const DWORD kMaxManifestBytes = 64u * 1024u * 1024u;
// Folders nested deeper than this below a file group are not followed (a
// link that loops would otherwise be walked for ever).
const int kMaxDepth = 64;

// Letters folded for comparing names the way the file system does; the
// trail byte of a double-byte character stays as it is.
std::string FoldedPath(const std::string& path)
{
    std::string out;
    for (size_t i = 0; i < path.size(); ++i) {
        char c = path[i];
        if (::IsDBCSLeadByte(static_cast<BYTE>(c)) && i + 1 < path.size()) {
            out += c;
            out += path[++i];
            continue;
        }
        out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : (c == '/' ? '\\' : c);
    }
    return out;
}

bool IsHex(const std::string& text)
{
    if (text.size() != 64)
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    return true;
}

// A relative path that stays inside the package: no drive, no root, no "."
// or ".." and no empty names, no control characters.
bool IsPackagePath(const std::string& path)
{
    if (path.empty() || path.find(':') != std::string::npos)
        return false;
    size_t start = 0;
    for (;;) {
        size_t end = path.find_first_of("\\/", start);
        const std::string name = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (name.empty() || name == "." || name == ".." || name.back() == '.' || name.back() == ' ')
            return false;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    for (char c : path)
        if (static_cast<unsigned char>(c) < 0x20)
            return false;
    return true;
}

bool IsFileGroupName(const char* name)
{
    static const char kStem[] = "filegroup";
    size_t i = 0;
    for (; kStem[i]; ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != kStem[i])
            return false;
    }
    if (name[i] < '0' || name[i] > '9')
        return false;
    for (; name[i]; ++i)
        if (name[i] < '0' || name[i] > '9')
            return false;
    return true;
}

bool ListFolder(const std::string& packageDir, const std::string& relative, int depth,
                std::vector<std::string>& files, DWORD& error)
{
    if (depth > kMaxDepth) {
        error = ERROR_CANT_RESOLVE_FILENAME;
        return false;
    }
    WIN32_FIND_DATAA data;
    CFindHandle find(::FindFirstFileA(JoinPath3(packageDir, relative, "*").c_str(), &data));
    if (!find) {
        error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND;
    }
    do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..")
            continue;
        const std::string path = relative + "\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!ListFolder(packageDir, path, depth + 1, files, error))
                return false;
        } else {
            files.push_back(path);
        }
    } while (::FindNextFileA(find.Get(), &data));
    error = ::GetLastError();
    if (error != ERROR_NO_MORE_FILES)
        return false;
    error = 0;
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& text, DWORD& error)
{
    CHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = ::GetLastError();
        return false;
    }
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr)) {
            error = ::GetLastError();
            return false;
        }
        if (got == 0)
            return true;
        if (text.size() + got > kMaxManifestBytes) {
            error = ERROR_FILE_TOO_LARGE;
            return false;
        }
        text.append(buffer, got);
    }
}

}  // namespace

bool KvSamePackagePath(const std::string& a, const std::string& b) { return FoldedPath(a) == FoldedPath(b); }

int KvReadManifest(const std::string& packageDir, std::vector<CKvManifestEntry>& entries, std::string& why)
{
    entries.clear();
    const std::string path = JoinPath(packageDir, kKvManifestName);
    if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        DWORD err = ::GetLastError();
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
            return KVSEAL_NONE;
    }
    std::string text;
    DWORD error = 0;
    if (!ReadWholeFile(path, text, error)) {
        why = "cannot be read (error " + std::to_string(error) + ")";
        return KVSEAL_DAMAGED;
    }
    std::set<std::string> seen;
    bool header = false;
    size_t lineNumber = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? text.size() : end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!header) {
            if (line != kKvManifestHeader) {
                why = "does not begin with the line '" + std::string(kKvManifestHeader) + "'";
                return KVSEAL_DAMAGED;
            }
            header = true;
            continue;
        }
        if (line.empty() || line[0] == ';')
            continue;
        const std::string where = "line " + std::to_string(lineNumber);
        if (line.size() < 67 || !IsHex(line.substr(0, 64)) || line.compare(64, 2, "  ") != 0) {
            why = where + " is no '<SHA-256>  <path>' line";
            return KVSEAL_DAMAGED;
        }
        CKvManifestEntry e;
        e.strPath = line.substr(66);
        for (char& c : e.strPath)
            if (c == '/')
                c = '\\';
        if (!IsPackagePath(e.strPath)) {
            why = where + " names a path that leaves the package folder: '" + e.strPath + "'";
            return KVSEAL_DAMAGED;
        }
        if (!seen.insert(FoldedPath(e.strPath)).second) {
            why = where + " lists '" + e.strPath + "' a second time";
            return KVSEAL_DAMAGED;
        }
        e.strHash = line.substr(0, 64);
        for (char& c : e.strHash)
            if (c >= 'A' && c <= 'F')
                c = static_cast<char>(c - 'A' + 'a');
        entries.push_back(e);
    }
    if (!header) {
        why = "is empty";
        return KVSEAL_DAMAGED;
    }
    return KVSEAL_OK;
}

std::string KvManifestText(const std::vector<CKvManifestEntry>& entries)
{
    std::string text = std::string(kKvManifestHeader) + "\r\n" +
                       "; SHA-256 and path of every file the package installs or runs. Korvex refuses the\r\n"
                       "; package when a listed file is missing or differs, or a file-group folder holds\r\n"
                       "; a file that is not listed. Written by checkpkg --seal.\r\n";
    for (const CKvManifestEntry& e : entries)
        text += e.strHash + "  " + e.strPath + "\r\n";
    return text;
}

bool KvWriteManifest(const std::string& packageDir, const std::vector<CKvManifestEntry>& entries, DWORD& error)
{
    error = 0;
    const std::string path = JoinPath(packageDir, kKvManifestName);
    const std::string temporary = path + ".new";
    const std::string text = KvManifestText(entries);
    {
        CHandle file(::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
        if (!file) {
            error = ::GetLastError();
            return false;
        }
        DWORD written = 0;
        if (!::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written != text.size() || !::FlushFileBuffers(file.Get())) {
            error = ::GetLastError();
            if (error == 0)
                error = ERROR_WRITE_FAULT;
            file.Close();
            ::DeleteFileA(temporary.c_str());
            return false;
        }
    }
    if (!::MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = ::GetLastError();
        ::DeleteFileA(temporary.c_str());
        return false;
    }
    return true;
}

bool KvFileGroupFiles(const std::string& packageDir, std::vector<std::string>& files, DWORD& error)
{
    files.clear();
    error = 0;
    WIN32_FIND_DATAA data;
    CFindHandle find(::FindFirstFileA(JoinPath(packageDir, "*").c_str(), &data));
    if (!find) {
        error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND;
    }
    std::vector<std::string> groups;
    do {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsFileGroupName(data.cFileName))
            groups.push_back(data.cFileName);
    } while (::FindNextFileA(find.Get(), &data));
    for (const std::string& group : groups) {
        std::vector<std::string> found;
        if (!ListFolder(packageDir, group, 0, found, error))
            return false;
        files.insert(files.end(), found.begin(), found.end());
    }
    return true;
}

int KvVerifyPackage(const std::string& packageDir, const std::string& scriptName,
                    std::vector<CKvSealProblem>& problems, size_t maxProblems)
{
    problems.clear();
    std::vector<CKvManifestEntry> entries;
    std::string why;
    const int read = KvReadManifest(packageDir, entries, why);
    if (read == KVSEAL_NONE)
        return KVSEAL_NONE;
    auto add = [&](const std::string& path, const std::string& what) {
        if (problems.size() < maxProblems)
            problems.push_back(CKvSealProblem{path, what});
    };
    if (read != KVSEAL_OK) {
        add(std::string(), std::string("the manifest '") + kKvManifestName + "' " + why);
        return KVSEAL_DAMAGED;
    }

    std::map<std::string, const CKvManifestEntry*> listed;
    for (const CKvManifestEntry& e : entries)
        listed[FoldedPath(e.strPath)] = &e;
    if (!listed.count(FoldedPath(scriptName)))
        add(scriptName, "is not listed in the manifest");

    // Extra files first: listing is cheap, and a file that came along on
    // the way is the likelier damage.
    std::vector<std::string> groupFiles;
    DWORD error = 0;
    if (!KvFileGroupFiles(packageDir, groupFiles, error))
        add(std::string(), "the file-group folders cannot be listed (error " + std::to_string(error) + ")");
    for (const std::string& file : groupFiles)
        if (!listed.count(FoldedPath(file)))
            add(file, "is not listed in the manifest");

    if (problems.size() >= maxProblems)
        return KVSEAL_DAMAGED;
    std::vector<std::string> paths;
    paths.reserve(entries.size());
    for (const CKvManifestEntry& e : entries)
        paths.push_back(JoinPath(packageDir, e.strPath));
    std::vector<CKvFingerprintResult> results;
    KvFingerprintFiles(paths, results);
    for (size_t i = 0; i < entries.size(); ++i) {
        const CKvManifestEntry& e = entries[i];
        const CKvFingerprintResult& r = results[i];
        if (!r.bRead)
            add(e.strPath, "cannot be read (error " + std::to_string(r.nError) + ")");
        else if (!r.print.bPresent)
            add(e.strPath, "is missing");
        else if (r.print.strHash != e.strHash)
            add(e.strPath, "differs from the manifest");
    }
    return problems.empty() ? KVSEAL_OK : KVSEAL_DAMAGED;
}
