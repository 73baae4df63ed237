#pragma once
// A package folder with its script, a product folder and a backup folder,
// and an interpreter bound to them, for running file sections in-process.
#include <windows.h>

#include <string>

#include "TestSupport.h"
#include "interpreter/Interpreter.h"
#include "interpreter/ItemList.h"

namespace kvtest {

struct FileState {
    bool exists = false;
    std::string bytes;
    FILETIME written = {};
    DWORD attrs = 0;
    bool operator==(const FileState& o) const
    {
        return exists == o.exists && bytes == o.bytes && ::CompareFileTime(&written, &o.written) == 0 &&
               attrs == o.attrs;
    }
};

inline FileState StateOf(const std::string& path)
{
    FileState s;
    s.attrs = ::GetFileAttributesA(path.c_str());
    s.exists = s.attrs != INVALID_FILE_ATTRIBUTES;
    if (!s.exists)
        return s;
    ReadFileBytes(path, s.bytes);
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        ::GetFileTime(h, nullptr, nullptr, &s.written);
        ::CloseHandle(h);
    }
    return s;
}

inline void SetWriteTime(const std::string& path, WORD year, WORD month = 1)
{
    SYSTEMTIME st = {};
    st.wYear = year;
    st.wMonth = month;
    st.wDay = 2;
    st.wHour = 3;
    FILETIME ft;
    ::SystemTimeToFileTime(&st, &ft);
    DWORD attrs = ::GetFileAttributesA(path.c_str());
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        ::SetFileTime(h, &ft, &ft, &ft);
        ::CloseHandle(h);
    }
    ::SetFileAttributesA(path.c_str(), attrs);
}

inline std::string Fixture(const std::string& name) { return FixtureDir() + "\\" + name; }

inline bool CopyFixture(const std::string& name, const std::string& to)
{
    std::string bytes;
    return ReadFileBytes(Fixture(name), bytes) && WriteFileBytes(to, bytes);
}

class Package {
public:
    Package()
        : dir("pkg"), interp(&cb, "setup.ini", CHFS_RunSettings(), kvtest::ProgramTexts())
    {
        pkg = dir / "pkg\\";
        prod = dir / "prod";
        bak = dir / "bak";
        CreateTree(pkg);
        interp.m_strModuleDir = pkg;
        interp.m_strScriptFile = pkg + "setup.ini";
    }

    // The script, with "{P}", "{PROD}" and "{BAK}" standing for the folders.
    void Script(std::string text)
    {
        Replace(text, "{PROD}", prod);
        Replace(text, "{BAK}", bak);
        Replace(text, "{P}", pkg);
        Replace(text, "{DIR}", dir.Path());
        ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, interp.m_strScriptFile.c_str());
        WriteFileBytes(interp.m_strScriptFile, text);
    }
    void PackageFile(const std::string& rel, const std::string& bytes) { WriteFileBytes(pkg + rel, bytes); }
    std::string Prod(const std::string& rel) const { return rel.empty() ? prod : prod + "\\" + rel; }
    std::string Bak(const std::string& rel) const { return rel.empty() ? bak : bak + "\\" + rel; }

    static void Replace(std::string& s, const std::string& from, const std::string& to)
    {
        for (size_t pos = s.find(from); pos != std::string::npos; pos = s.find(from, pos + to.size()))
            s.replace(pos, from.size(), to);
    }

    TempDir dir;
    CRecordingCallback cb;
    CHFS_Interpreter interp;
    CHFS_ItemList list;
    std::string pkg, prod, bak;

private:
};

}  // namespace kvtest
