#pragma once
// What a file holds, in a few bytes: its size and the SHA-256 of its
// content. The undo data of a change keeps the fingerprint of what the
// change found and of what it left, so that a later rollback or removal can
// tell whether the file is still as the patch left it, is already put back,
// or was changed since by someone else.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct CKvFingerprint {
    bool bPresent = false;  // false: the file does not exist
    uint64_t nSize = 0;
    std::string strHash;    // 64 hex digits

    // "<size>:<hash>", or "-" for a file that does not exist; "" for no
    // fingerprint at all (not known).
    std::string Text() const;
    // false for a text that is no fingerprint; "" parses as not known (false).
    static bool Parse(const std::string& text, CKvFingerprint& out);
    bool operator==(const CKvFingerprint& o) const
    {
        return bPresent == o.bPresent && (!bPresent || (nSize == o.nSize && strHash == o.strHash));
    }
    bool operator!=(const CKvFingerprint& o) const { return !(*this == o); }
};

// Reads the file (shared for reading and writing, so a file another program
// holds open for writing can still be looked at) and fingerprints it. A file
// that does not exist gives true with bPresent false; false when it exists
// but cannot be read (*pError: the system error).
bool KvFingerprintFile(const std::string& path, CKvFingerprint& out, DWORD* pError = nullptr);

// One file's result in KvFingerprintFiles.
struct CKvFingerprintResult {
    bool bRead = false;  // KvFingerprintFile's result
    DWORD nError = 0;
    CKvFingerprint print;
};
// KvFingerprintFile of every path, results in the order of paths. Reading
// and hashing a package's files is most of the time a seal or its check
// takes, and each file's is independent, so a few threads share the work
// (each with file-system redirection off, as the installer's own threads).
void KvFingerprintFiles(const std::vector<std::string>& paths, std::vector<CKvFingerprintResult>& results);
