#pragma once
// The manifest of a sealed package: the SHA-256 of every file the package
// installs or runs, so that a copy altered or cut short on its way is
// refused before it changes anything.
//
// "package.sha256" in the package folder, plain 8-bit text, CR LF lines:
//   ; Korvex package manifest 1
//   <64 hexadecimal digits><two blanks><path relative to the package folder>
// Lines that begin with ';' and empty lines are comments. Paths use '\'
// and never leave the package folder; each file is listed once.
#include <windows.h>

#include <string>
#include <vector>

extern const char kKvManifestName[];
extern const char kKvManifestHeader[];

struct CKvManifestEntry {
    std::string strPath;  // relative to the package folder
    std::string strHash;  // 64 lower-case hexadecimal digits
};

enum { KVSEAL_NONE = 1, KVSEAL_OK = 0, KVSEAL_DAMAGED = -1 };

// Reads the package's manifest: KVSEAL_NONE when there is none, KVSEAL_OK,
// or KVSEAL_DAMAGED with why (a line that is not understood, a path that
// leaves the folder, a file listed twice, a manifest that cannot be read).
int KvReadManifest(const std::string& packageDir, std::vector<CKvManifestEntry>& entries, std::string& why);
// The manifest text of the entries (in the order given).
std::string KvManifestText(const std::vector<CKvManifestEntry>& entries);
// Writes the manifest: to a file beside it, then moved into its place, so
// that a manifest is whole or not there at all. false with the system error.
bool KvWriteManifest(const std::string& packageDir, const std::vector<CKvManifestEntry>& entries, DWORD& error);

// The files below the package's file-group folders ("FileGroup" and a
// number, any case), relative to the package folder; false (with the
// system error) when a folder cannot be listed.
bool KvFileGroupFiles(const std::string& packageDir, std::vector<std::string>& files, DWORD& error);
// Whether two relative paths name the same file (letters in any case).
bool KvSamePackagePath(const std::string& a, const std::string& b);

struct CKvSealProblem {
    std::string strPath;  // relative to the package folder; empty: the manifest itself
    std::string strWhat;  // "is missing", "differs from the manifest", ...
};

// Checks a package against its manifest: KVSEAL_NONE (no manifest, nothing
// is checked), KVSEAL_OK, or KVSEAL_DAMAGED with the problems (at most
// maxProblems): a listed file missing, unreadable or different, a file in a
// file-group folder that is not listed, the script not listed, a damaged
// manifest. scriptName: the script the package runs ("setup.ini").
int KvVerifyPackage(const std::string& packageDir, const std::string& scriptName,
                    std::vector<CKvSealProblem>& problems, size_t maxProblems = 50);
