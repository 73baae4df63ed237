#pragma once
// Test helpers around files in use and replacement at the next start.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace kvtest {

// Holds a file open without sharing through the fixture program, the way a
// running product holds its files, until destroyed.
class CLocker {
public:
    // shareRead: others may still read the file (a running program's own
    // files are held like that); otherwise nobody may even read it.
    explicit CLocker(const std::string& file, bool shareRead = false)
    {
        char name[96];
        snprintf(name, sizeof name, "kvlock-%lu-%lu", ::GetCurrentProcessId(), ::GetTickCount());
        m_name = name;
        m_stop = ::CreateEventA(nullptr, TRUE, FALSE, (m_name + ".stop").c_str());
        m_ready = ::CreateEventA(nullptr, TRUE, FALSE, (m_name + ".ready").c_str());
        std::string cmd = "\"" + kvtest::FixtureDir() + "\\kvlock.exe\" \"" + file + "\" " + m_name + " 60" + (shareRead ? " read" : "");
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        std::vector<char> line(cmd.begin(), cmd.end());
        line.push_back('\0');
        if (::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &m_pi)) {
            HANDLE both[2] = {m_ready, m_pi.hProcess};
            m_locked = ::WaitForMultipleObjects(2, both, FALSE, 20000) == WAIT_OBJECT_0;
        }
    }
    ~CLocker() { Stop(); }
    bool Locked() const { return m_locked; }
    void Stop()
    {
        if (m_pi.hProcess) {
            ::SetEvent(m_stop);
            if (::WaitForSingleObject(m_pi.hProcess, 20000) != WAIT_OBJECT_0)
                ::TerminateProcess(m_pi.hProcess, 9);
            ::CloseHandle(m_pi.hProcess);
            ::CloseHandle(m_pi.hThread);
            m_pi = PROCESS_INFORMATION();
        }
        if (m_stop)
            ::CloseHandle(m_stop);
        if (m_ready)
            ::CloseHandle(m_ready);
        m_stop = m_ready = nullptr;
    }

private:
    std::string m_name;
    HANDLE m_stop = nullptr;
    HANDLE m_ready = nullptr;
    PROCESS_INFORMATION m_pi = {};
    bool m_locked = false;
};

static const char* const kSessionManager = "System\\CurrentControlSet\\Control\\Session Manager";

inline std::string PendingRenames()
{
    HKEY key;
    // The system keeps the renames in the 64-bit view (the key is shared anyway).
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS)
        return std::string();
    DWORD type = 0, size = 0;
    std::string data;
    if (::RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        size > 0) {
        data.resize(size);
        ::RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type,
                           reinterpret_cast<BYTE*>(&data[0]), &size);
        data.resize(size);
    }
    ::RegCloseKey(key);
    for (char& c : data)
        if (c == '\0')
            c = '\n';
    return data;
}

// Drops the pending renames that mention folder, so that a failed test
// leaves no request behind for the next start of the machine.
inline void ForgetPendingRenamesIn(const std::string& folder)
{
    HKEY key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY,
                        &key) !=
        ERROR_SUCCESS)
        return;
    std::string text = PendingRenames();
    std::vector<std::string> entries;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        entries.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    std::string kept;
    for (size_t i = 0; i + 1 < entries.size(); i += 2) {
        if (entries[i].empty())
            continue;
        if (entries[i].find(folder) != std::string::npos || entries[i + 1].find(folder) != std::string::npos)
            continue;
        kept += entries[i] + '\0' + entries[i + 1] + '\0';
    }
    if (kept.empty())
        ::RegDeleteValueA(key, "PendingFileRenameOperations");
    else {
        kept += '\0';
        ::RegSetValueExA(key, "PendingFileRenameOperations", 0, REG_MULTI_SZ,
                         reinterpret_cast<const BYTE*>(kept.data()), static_cast<DWORD>(kept.size()));
    }
    ::RegCloseKey(key);
}

}  // namespace kvtest
