#include "util/FileFingerprint.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <system_error>
#include <thread>
#include <vector>

#include "util/FileUtil.h"
#include "util/Sha256.h"
#include "util/SystemLib.h"
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

void KvFingerprintFiles(const std::vector<std::string>& paths, std::vector<CKvFingerprintResult>& results)
{
    results.assign(paths.size(), CKvFingerprintResult());
    std::atomic<size_t> next(0);
    auto work = [&]() {
        for (size_t i; (i = next.fetch_add(1)) < paths.size();) {
            CKvFingerprintResult& r = results[i];
            r.bRead = KvFingerprintFile(paths[i], r.print, &r.nError);
        }
    };
    // Two or three more threads are what the disk and the processors can
    // feed; more only wait on each other.
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    size_t helpers = std::min<size_t>(info.dwNumberOfProcessors > 1 ? info.dwNumberOfProcessors : 1, 4) - 1;
    helpers = std::min(helpers, paths.size() / 16);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < helpers; ++t) {
        try {
            threads.emplace_back([&]() {
                DisableFsRedirectionOnThisThread();
                work();
            });
        } catch (const std::system_error&) {
            break;  // fewer helpers: the calling thread does the rest
        }
    }
    work();
    for (std::thread& t : threads)
        t.join();
}
