#include "util/BootReplace.h"

#include <windows.h>

#include <vector>

#include "util/FileUtil.h"
#include "util/StrFormat.h"
#include "util/SystemLib.h"
#include "util/WinHandles.h"

namespace {

const char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";
const char kPendingValue[] = "PendingFileRenameOperations";

void LogLine(CKvLogSink* log, const std::string& text)
{
    if (log)
        log->LogText(text);
}

std::string Upper(std::string text)
{
    if (!text.empty())
        ::CharUpperBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// The path a pending-rename entry names: without the "\??\" of the native
// form and the "!" that marks a replacing destination.
std::string EntryPath(const std::string& entry)
{
    std::string p = entry;
    if (!p.empty() && p[0] == '!')
        p.erase(0, 1);
    if (p.compare(0, 4, "\\??\\") == 0)
        p.erase(0, 4);
    return p;
}

bool DeleteEvenReadOnly(const std::string& path)
{
    if (::DeleteFileA(path.c_str()))
        return true;
    DWORD attrs = ::GetFileAttributesA(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES)
        return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return ::DeleteFileA(path.c_str()) != FALSE;
}

// The list of pending renames, in pairs of source and destination; false
// when it cannot be read as such a list (then nothing of ours is in it).
bool ReadPending(HKEY key, std::vector<std::string>& entries)
{
    DWORD type = 0, size = 0;
    LONG r = ::RegQueryValueExA(key, kPendingValue, nullptr, &type, nullptr, &size);
    if (r != ERROR_SUCCESS || type != REG_MULTI_SZ)
        return false;
    std::vector<char> data(size + 2, '\0');
    r = ::RegQueryValueExA(key, kPendingValue, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    if (r != ERROR_SUCCESS)
        return false;
    // Each entry ends with its NUL; an empty destination (a deletion) is an
    // entry of its own, so empty texts are kept inside the list.
    size_t end = size;
    while (end > 0 && data[end - 1] == '\0')
        --end;
    size_t pos = 0;
    while (pos < end) {
        std::string s(data.data() + pos);
        entries.push_back(s);
        pos += s.size() + 1;
    }
    if (entries.size() % 2 == 1)
        entries.push_back(std::string());  // a deletion whose empty text ended the list
    return true;
}

}  // namespace

bool KvScheduleReplacement(CKvLogSink* log, const char* tag, const std::string& staged,
                           const std::string& destination)
{
    if (GetPlatformId() == VER_PLATFORM_WIN32_WINDOWS) {
        char shortStaged[MAX_PATH] = {0};
        char shortDest[MAX_PATH] = {0};
        ::GetShortPathNameA(staged.c_str(), shortStaged, sizeof shortStaged);
        ::GetShortPathNameA(destination.c_str(), shortDest, sizeof shortDest);
        if (::WritePrivateProfileStringA("rename", shortDest, shortStaged, "wininit.ini")) {
            LogLine(log, KvFormat("%s Copy (%s) to (%s) during next booting via wininit.ini", tag, staged.c_str(),
                                  destination.c_str()));
            return true;
        }
        LogLine(log, KvFormat("%s WritePrivateProfileString fail when move (%s) to (%s), err(%lu)", tag,
                              staged.c_str(), destination.c_str(), ::GetLastError()));
        return false;
    }
    if (::MoveFileExA(staged.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT)) {
        LogLine(log, KvFormat("%s Copy (%s) to (%s) during next booting via MoveFileEx", tag, staged.c_str(),
                              destination.c_str()));
        return true;
    }
    DWORD err = ::GetLastError();
    LogLine(log, KvFormat("%s MoveFileEx fail when move (%s) to (%s), err(%lu)", tag, staged.c_str(),
                          destination.c_str(), err));
    return false;
}

bool KvScheduleDeletion(CKvLogSink* log, const char* tag, const std::string& path)
{
    if (::MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        LogLine(log, KvFormat("%s Delete (%s) during next booting via MoveFileEx", tag, path.c_str()));
        return true;
    }
    LogLine(log, KvFormat("%s MoveFileEx fail when delete (%s) during next booting, err(%lu)", tag, path.c_str(),
                          ::GetLastError()));
    return false;
}

bool KvReplacementPending(const std::string& staged)
{
    CRegKey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.Put()) !=
        ERROR_SUCCESS) {
        key.Release();
        return false;
    }
    std::vector<std::string> entries;
    if (!ReadPending(key.Get(), entries))
        return false;
    const std::string want = Upper(staged);
    for (size_t i = 0; i + 1 < entries.size(); i += 2)
        if (Upper(EntryPath(entries[i])) == want)
            return true;
    return false;
}

int KvTakeBackReplacement(CKvLogSink* log, const std::string& staged)
{
    int result = 0;
    CRegKey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY,
                        key.Put()) == ERROR_SUCCESS) {
        std::vector<std::string> entries;
        if (ReadPending(key.Get(), entries)) {
            const std::string want = Upper(staged);
            std::string kept;
            size_t keptPairs = 0;
            for (size_t i = 0; i + 1 < entries.size(); i += 2) {
                if (Upper(EntryPath(entries[i])) == want) {
                    result = 1;
                    continue;
                }
                kept += entries[i];
                kept += '\0';
                kept += entries[i + 1];
                kept += '\0';
                ++keptPairs;
            }
            if (result == 1) {
                LONG r;
                if (keptPairs == 0) {
                    r = ::RegDeleteValueA(key.Get(), kPendingValue);
                } else {
                    kept += '\0';
                    r = ::RegSetValueExA(key.Get(), kPendingValue, 0, REG_MULTI_SZ,
                                         reinterpret_cast<const BYTE*>(kept.data()), static_cast<DWORD>(kept.size()));
                }
                if (r != ERROR_SUCCESS) {
                    LogLine(log, KvFormat("[Rollback] the replacement by (%s) at the next start can't be taken back, "
                                          "err(%ld)",
                                          staged.c_str(), static_cast<long>(r)));
                    return -1;
                }
                LogLine(log, KvFormat("[Rollback] the replacement by (%s) at the next start is taken back",
                                      staged.c_str()));
            }
        }
    } else {
        key.Release();
    }
    if (FileExists(staged) && !DeleteEvenReadOnly(staged)) {
        LogLine(log, KvFormat("[Rollback] the staged file (%s) can't be deleted, err(%lu)", staged.c_str(),
                              ::GetLastError()));
        // The file stays for the next start but nothing asks for it any more.
    }
    return result;
}
