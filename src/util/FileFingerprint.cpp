#include "util/FileFingerprint.h"

#include <cstdlib>
#include <vector>

#include "util/FileUtil.h"
#include "util/Sha256.h"
#include "util/WinHandles.h"

std::string CKvFingerprint::Text() const
{
    if (!bPresent)
        return "-";
    return std::to_string(static_cast<unsigned long long>(nSize)) + ":" + strHash;
}

bool CKvFingerprint::Parse(const std::string& text, CKvFingerprint& out)
{
    out = CKvFingerprint();
    if (text == "-")
        return true;
    size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || text.size() - colon - 1 != 64)
        return false;
    for (size_t i = 0; i < colon; ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    for (size_t i = colon + 1; i < text.size(); ++i) {
        char c = text[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    out.bPresent = true;
    out.nSize = std::strtoull(text.c_str(), nullptr, 10);
    out.strHash = text.substr(colon + 1);
    return true;
}

bool KvFingerprintFile(const std::string& path, CKvFingerprint& out, DWORD* pError)
{
    out = CKvFingerprint();
    if (pError)
        *pError = 0;
    if (!PathFitsLimit(path)) {
        if (pError)
            *pError = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    CHandle h(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!h) {
        DWORD err = ::GetLastError();
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
            return true;
        if (pError)
            *pError = err;
        return false;
    }
    std::vector<BYTE> buffer(KV_COPY_BLOCK);
    CKvSha256 sha;
    uint64_t size = 0;
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(h.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            if (pError)
                *pError = ::GetLastError();
            return false;
        }
        // Only a read that returns nothing is the end: a short read is not.
        if (got == 0)
            break;
        sha.Update(buffer.data(), got);
        size += got;
    }
    out.bPresent = true;
    out.nSize = size;
    out.strHash = sha.FinalHex();
    return true;
}
