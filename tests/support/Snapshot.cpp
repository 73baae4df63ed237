#include "Snapshot.h"

#include <winsvc.h>

#include <cstdio>
#include <set>

namespace kvtest {

namespace {

std::string Printable(const std::string& s, size_t limit)
{
    std::string out;
    for (size_t i = 0; i < s.size() && i < limit; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    if (s.size() > limit)
        out += "...";
    return out;
}

std::string Fnv64(const std::string& s)
{
    unsigned long long h = 1469598103934665603ULL;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    char buf[24];
    snprintf(buf, sizeof buf, "%016llx", h);
    return buf;
}

std::string TimeText(const FILETIME& ft)
{
    SYSTEMTIME st;
    if (!::FileTimeToSystemTime(&ft, &st))
        return "?";
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    char buf[64];
    snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u.%07llu", st.wYear, st.wMonth, st.wDay, st.wHour,
             st.wMinute, st.wSecond, u.QuadPart % 10000000ULL);
    return buf;
}

std::string Lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

void CaptureFile(const std::string& path, const WIN32_FIND_DATAA& fd, SnapshotState& out)
{
    // Folder times move whenever their content changes, so only the
    // attributes of a folder count; files keep everything but the access time.
    char buf[256];
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        snprintf(buf, sizeof buf, "dir attr=0x%lx", static_cast<unsigned long>(fd.dwFileAttributes));
        out["file:" + path] = buf;
        return;
    }
    std::string bytes;
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    std::string content;
    if (h == INVALID_HANDLE_VALUE) {
        content = "unreadable";
    } else {
        char chunk[65536];
        DWORD got = 0;
        while (::ReadFile(h, chunk, sizeof chunk, &got, nullptr) && got > 0)
            bytes.append(chunk, got);
        ::CloseHandle(h);
        content = "fnv=" + Fnv64(bytes) + " text='" + Printable(bytes, 48) + "'";
    }
    unsigned long long size = (static_cast<unsigned long long>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
    snprintf(buf, sizeof buf, "file size=%llu attr=0x%lx created=", size,
             static_cast<unsigned long>(fd.dwFileAttributes));
    out["file:" + path] = std::string(buf) + TimeText(fd.ftCreationTime) + " written=" +
                          TimeText(fd.ftLastWriteTime) + " " + content;
}

void CaptureTree(const std::string& folder, SnapshotState& out)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = ::FindFirstFileA((folder + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    std::vector<std::string> subfolders;
    do {
        std::string n = fd.cFileName;
        if (n == "." || n == "..")
            continue;
        std::string path = folder + "\\" + n;
        CaptureFile(path, fd, out);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            subfolders.push_back(path);
    } while (::FindNextFileA(h, &fd));
    ::FindClose(h);
    for (const std::string& s : subfolders)
        CaptureTree(s, out);
}

const char* RootName(HKEY root)
{
    if (root == HKEY_LOCAL_MACHINE)
        return "HKLM";
    if (root == HKEY_CURRENT_USER)
        return "HKCU";
    if (root == HKEY_CLASSES_ROOT)
        return "HKCR";
    if (root == HKEY_USERS)
        return "HKU";
    return "HK?";
}

void CaptureKey(HKEY root, const std::string& subkey, REGSAM view, const std::string& label, SnapshotState& out)
{
    HKEY k = nullptr;
    if (::RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ | view, &k) != ERROR_SUCCESS)
        return;
    out["reg:" + label] = "key";
    std::vector<std::string> subkeys;
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD nameLen = sizeof name;
        if (::RegEnumKeyExA(k, i, name, &nameLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        subkeys.push_back(std::string(name, nameLen));
    }
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD nameLen = sizeof name;
        DWORD type = 0, dataLen = 0;
        LONG rc = ::RegEnumValueA(k, i, name, &nameLen, nullptr, &type, nullptr, &dataLen);
        if (rc != ERROR_SUCCESS)
            break;
        std::string valueName(name, nameLen);
        std::string data(dataLen, '\0');
        DWORD got = dataLen;
        if (::RegQueryValueExA(k, valueName.c_str(), nullptr, &type,
                               reinterpret_cast<BYTE*>(data.empty() ? nullptr : &data[0]), &got) == ERROR_SUCCESS)
            data.resize(got);
        char buf[48];
        snprintf(buf, sizeof buf, "type=%lu data='", static_cast<unsigned long>(type));
        out["reg:" + label + "\\\\" + Lower(valueName)] = buf + Printable(data, 512) + "'";
    }
    ::RegCloseKey(k);
    for (const std::string& s : subkeys)
        CaptureKey(root, subkey + "\\" + s, view, label + "\\" + Lower(s), out);
}

}  // namespace

void CFolderSource::Capture(SnapshotState& out) const
{
    WIN32_FIND_DATAA fd;
    HANDLE h = ::FindFirstFileA(m_folder.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) {
        out["file:" + m_folder] = "missing";
        return;
    }
    ::FindClose(h);
    CaptureFile(m_folder, fd, out);
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        CaptureTree(m_folder, out);
}

void CRegKeySource::Capture(SnapshotState& out) const
{
    const char* view = m_view == KEY_WOW64_64KEY ? "64:" : "32:";
    CaptureKey(m_root, m_subkey, m_view, view + std::string(RootName(m_root)) + "\\" + Lower(m_subkey), out);
}

void CIniSource::Capture(SnapshotState& out) const
{
    if (::GetFileAttributesA(m_file.c_str()) == INVALID_FILE_ATTRIBUTES)
        return;
    std::string names(65536, '\0');
    DWORD n = ::GetPrivateProfileSectionNamesA(&names[0], static_cast<DWORD>(names.size()), m_file.c_str());
    names.resize(n);
    for (size_t pos = 0; pos < names.size();) {
        std::string sec = names.c_str() + pos;
        pos += sec.size() + 1;
        if (sec.empty())
            continue;
        std::string lines(65536, '\0');
        DWORD m = ::GetPrivateProfileSectionA(sec.c_str(), &lines[0], static_cast<DWORD>(lines.size()),
                                              m_file.c_str());
        lines.resize(m);
        out["ini:" + m_file + "[" + Lower(sec) + "]"] = "section";
        for (size_t p = 0; p < lines.size();) {
            std::string line = lines.c_str() + p;
            p += line.size() + 1;
            size_t eq = line.find('=');
            std::string key = eq == std::string::npos ? line : line.substr(0, eq);
            std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
            out["ini:" + m_file + "[" + Lower(sec) + "]" + Lower(key)] = "'" + Printable(value, 512) + "'";
        }
    }
}

void CServiceSource::Capture(SnapshotState& out) const
{
    const std::string base = "service:" + Lower(m_name);
    SC_HANDLE scm = ::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE svc = scm ? ::OpenServiceA(scm, m_name.c_str(), SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG) : nullptr;
    if (!svc) {
        out[base] = "missing";
        if (scm)
            ::CloseServiceHandle(scm);
        return;
    }
    SERVICE_STATUS st = {};
    std::string state = "unknown";
    if (::QueryServiceStatus(svc, &st)) {
        switch (st.dwCurrentState) {
        case SERVICE_RUNNING:
        case SERVICE_START_PENDING:
        case SERVICE_CONTINUE_PENDING:
            state = "running";
            break;
        case SERVICE_STOPPED:
        case SERVICE_STOP_PENDING:
            state = "stopped";
            break;
        default:
            state = "paused";
        }
    }
    out[base] = "present";
    out[base + "|state"] = state;
    std::vector<BYTE> buf(8192);
    DWORD needed = 0;
    if (::QueryServiceConfigA(svc, reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buf.data()),
                              static_cast<DWORD>(buf.size()), &needed)) {
        const QUERY_SERVICE_CONFIGA* cfg = reinterpret_cast<const QUERY_SERVICE_CONFIGA*>(buf.data());
        out[base + "|start"] = std::to_string(cfg->dwStartType);
        out[base + "|image"] = cfg->lpBinaryPathName ? cfg->lpBinaryPathName : "";
    }
    ::CloseServiceHandle(svc);
    ::CloseServiceHandle(scm);
}

CSnapshot& CSnapshot::AddFolder(const std::string& folder)
{
    return Add(std::unique_ptr<CSnapshotSource>(new CFolderSource(folder)));
}

CSnapshot& CSnapshot::AddRegKey(HKEY root, const std::string& subkey, REGSAM view)
{
    return Add(std::unique_ptr<CSnapshotSource>(new CRegKeySource(root, subkey, view)));
}

CSnapshot& CSnapshot::AddIni(const std::string& file)
{
    return Add(std::unique_ptr<CSnapshotSource>(new CIniSource(file)));
}

CSnapshot& CSnapshot::AddService(const std::string& name)
{
    return Add(std::unique_ptr<CSnapshotSource>(new CServiceSource(name)));
}

CSnapshot& CSnapshot::Add(std::unique_ptr<CSnapshotSource> source)
{
    m_sources.push_back(std::move(source));
    return *this;
}

SnapshotState CSnapshot::Capture() const
{
    SnapshotState s;
    for (const auto& src : m_sources)
        src->Capture(s);
    return s;
}

std::string DiffSnapshots(const SnapshotState& before, const SnapshotState& after, const SnapshotTolerance& tolerate)
{
    std::set<std::string> all;
    for (const auto& e : before)
        all.insert(e.first);
    for (const auto& e : after)
        all.insert(e.first);
    std::string out;
    for (const std::string& loc : all) {
        auto b = before.find(loc);
        auto a = after.find(loc);
        const std::string* pb = b == before.end() ? nullptr : &b->second;
        const std::string* pa = a == after.end() ? nullptr : &a->second;
        if (pb && pa && *pb == *pa)
            continue;
        if (tolerate && tolerate(loc, pb, pa))
            continue;
        if (!pb)
            out += "+ " + loc + "\n    now:    " + *pa + "\n";
        else if (!pa)
            out += "- " + loc + "\n    was:    " + *pb + "\n";
        else
            out += "~ " + loc + "\n    was:    " + *pb + "\n    now:    " + *pa + "\n";
    }
    return out;
}

SnapshotTolerance TolerateNewFoldersUnder(const std::string& root)
{
    std::string self = "file:" + root;
    std::string prefix = self + "\\";
    return [self, prefix](const std::string& loc, const std::string* before, const std::string* after) {
        if (!after || after->compare(0, 4, "dir ") != 0)
            return false;
        if (loc == self)
            return !before || *before == "missing";
        return !before && loc.compare(0, prefix.size(), prefix) == 0;
    };
}

SnapshotTolerance TolerateIniKeys(const std::string& file, const std::string& section,
                                  const std::vector<std::string>& keys)
{
    std::set<std::string> locs;
    locs.insert("ini:" + file + "[" + Lower(section) + "]");
    for (const std::string& k : keys)
        locs.insert("ini:" + file + "[" + Lower(section) + "]" + Lower(k));
    return [locs](const std::string& loc, const std::string*, const std::string*) { return locs.count(loc) > 0; };
}

SnapshotTolerance AnyOf(std::vector<SnapshotTolerance> list)
{
    return [list](const std::string& loc, const std::string* b, const std::string* a) {
        for (const auto& t : list)
            if (t && t(loc, b, a))
                return true;
        return false;
    };
}

bool RegKeyExists(HKEY root, const std::string& subkey, REGSAM view)
{
    HKEY k = nullptr;
    if (::RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ | view, &k) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(k);
    return true;
}

bool RegReadValue(HKEY root, const std::string& subkey, const std::string& name, DWORD& type, std::string& data,
                  REGSAM view)
{
    HKEY k = nullptr;
    if (::RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ | view, &k) != ERROR_SUCCESS)
        return false;
    DWORD len = 0;
    LONG rc = ::RegQueryValueExA(k, name.c_str(), nullptr, &type, nullptr, &len);
    if (rc == ERROR_SUCCESS) {
        data.assign(len, '\0');
        rc = ::RegQueryValueExA(k, name.c_str(), nullptr, &type,
                                reinterpret_cast<BYTE*>(data.empty() ? nullptr : &data[0]), &len);
        data.resize(len);
    }
    ::RegCloseKey(k);
    return rc == ERROR_SUCCESS;
}

bool RegReadString(HKEY root, const std::string& subkey, const std::string& name, std::string& value, REGSAM view)
{
    DWORD type = 0;
    std::string data;
    if (!RegReadValue(root, subkey, name, type, data, view) || (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    value = data.substr(0, data.find('\0'));
    return true;
}

bool RegWriteValue(HKEY root, const std::string& subkey, const std::string& name, DWORD type, const void* data,
                   DWORD size, REGSAM view)
{
    HKEY k = nullptr;
    if (::RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &k, nullptr) !=
        ERROR_SUCCESS)
        return false;
    LONG rc = ::RegSetValueExA(k, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    ::RegCloseKey(k);
    return rc == ERROR_SUCCESS;
}

bool RegWriteString(HKEY root, const std::string& subkey, const std::string& name, const std::string& value,
                    REGSAM view)
{
    return RegWriteValue(root, subkey, name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1), view);
}

bool RegDeleteValueOf(HKEY root, const std::string& subkey, const std::string& name, REGSAM view)
{
    HKEY k = nullptr;
    if (::RegOpenKeyExA(root, subkey.c_str(), 0, KEY_ALL_ACCESS | view, &k) != ERROR_SUCCESS)
        return false;
    LONG rc = ::RegDeleteValueA(k, name.c_str());
    ::RegCloseKey(k);
    return rc == ERROR_SUCCESS;
}

void RegDeleteTree(HKEY root, const std::string& subkey, REGSAM view)
{
    HKEY k = nullptr;
    if (::RegOpenKeyExA(root, subkey.c_str(), 0, KEY_ALL_ACCESS | view, &k) != ERROR_SUCCESS)
        return;
    std::vector<std::string> subkeys;
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD nameLen = sizeof name;
        if (::RegEnumKeyExA(k, i, name, &nameLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        subkeys.push_back(std::string(name, nameLen));
    }
    ::RegCloseKey(k);
    for (const std::string& s : subkeys)
        RegDeleteTree(root, subkey + "\\" + s, view);
    // RegDeleteKeyExA exists from Vista on, which every test machine has.
    ::RegDeleteKeyExA(root, subkey.c_str(), view, 0);
}

CRegValueGuard::CRegValueGuard(HKEY root, const std::string& subkey, const std::string& name, REGSAM view)
    : m_root(root), m_subkey(subkey), m_name(name), m_view(view)
{
    m_had = RegReadString(root, subkey, name, m_old, view);
}

CRegValueGuard::~CRegValueGuard()
{
    if (m_had)
        RegWriteString(m_root, m_subkey, m_name, m_old, m_view);
    else
        RegDeleteValueOf(m_root, m_subkey, m_name, m_view);
}

const char kKorvexKey[] = "SOFTWARE\\Norlane\\Korvex";

void SetPatchDBPath(const std::string& dbFile)
{
    if (dbFile.empty())
        RegDeleteValueOf(HKEY_LOCAL_MACHINE, kKorvexKey, "KorvexDBPath", kProgramView);
    else
        RegWriteString(HKEY_LOCAL_MACHINE, kKorvexKey, "KorvexDBPath", dbFile, kProgramView);
}

CPatchDBRedirect::CPatchDBRedirect(const std::string& dbFile)
    : m_guard(HKEY_LOCAL_MACHINE, kKorvexKey, "KorvexDBPath", kProgramView)
{
    SetPatchDBPath(dbFile);
}

}  // namespace kvtest
