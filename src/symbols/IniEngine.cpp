// Reading and writing INI keys through the platform's profile functions, with
// a temporary copy for keys that stand before the first section header.
#include "interpreter/Interpreter.h"
#include "util/FileUtil.h"
#include "util/Profile.h"
#include "util/StrFormat.h"
#include "util/WinHandles.h"
#include <cstring>

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

const char kTempSection[] = "Korvex_TempINI";
const DWORD kChunk = 4096;

std::string TempHeader()
{
    return std::string("[") + kTempSection + "]\r\n";
}

bool WriteAll(HANDLE h, const char* data, DWORD size)
{
    while (size > 0) {
        DWORD written = 0;
        if (!::WriteFile(h, data, size, &written, nullptr) || written == 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

}  // namespace

std::string CHFS_Interpreter::ReadItem(const std::string& key, const std::string& section, bool warn,
                                       const std::string& file)
{
    std::string path = m_strScriptFile;
    if (!file.empty()) {
        Log("Read item from file '%s'!", file.c_str());
        path = file;
    }
    if (!ProfileNameFits(path))
        Log("*** Runtime error: CHFS_Interpreter::ReadItem(): INI file name '%s' is longer than the path limit, "
            "lasterror=%d",
            path.c_str(), static_cast<int>(ERROR_FILENAME_EXCED_RANGE));
    char buf[4096];
    buf[0] = '\0';
    DWORD n = KvGetProfileString(section.c_str(), key.c_str(), KORVEX_MISSING, buf, sizeof buf, path);
    buf[sizeof buf - 1] = '\0';
    std::string text(buf);
    if (warn && text == KORVEX_MISSING)
        Log("*** Warning:  Item '%s' not found in Section '%s' !", key.c_str(), section.c_str());
    std::string result = n > 0 ? ExpandSymbols(text) : std::string();

    if (m_settings.m_bTrace && m_pCallback && m_pCallback->HasMainWindow() && result != KORVEX_MISSING) {
        std::string caption = "Korvex Trace Window - [" + section + "]";
        std::string body = "[" + section + "]\t\t\t\t\t\r\n" + key + "=" + result;
        if (::MessageBoxA(nullptr, body.c_str(), caption.c_str(), MB_ICONERROR | MB_OKCANCEL) == IDCANCEL)
            m_settings.m_bTrace = 0;
    }
    return result;
}

int CHFS_Interpreter::SetINIVariable(const std::string& file, const std::string& section, const std::string& key,
                                     const std::string& value)
{
    std::string target = file;
    std::string targetSection = section;
    std::string tempPath;
    const bool viaCopy = section.empty();
    if (viaCopy) {
        targetSection = kTempSection;
        int r = CreateTempINI(file, tempPath);
        if (r != 0) {
            // Without a copy there is nothing to write to: writing to an empty
            // file name would reach some other file of the system.
            Log("Update INI: Write %s='%s':len=%d in section [%s]!", key.c_str(), value.c_str(),
                static_cast<int>(value.size()), targetSection.c_str());
            WriteLog(KvFormat("Write INI '%s', Value %s=%s in section '%s' Failed! "
                                "(no temporary copy, CreateTempINI ret=%d) lasterror=%d",
                                file.c_str(), key.c_str(), value.c_str(), targetSection.c_str(), r,
                                static_cast<int>(::GetLastError())));
            return -1;
        }
        target = tempPath;
    }

    Log("Update INI: Write %s='%s':len=%d in section [%s]!", key.c_str(), value.c_str(),
        static_cast<int>(value.size()), targetSection.c_str());
    BOOL ok = KvWriteProfileString(targetSection.c_str(), key.c_str(),
                                           value.empty() ? nullptr : value.c_str(), target);
    int result = 0;
    if (ok) {
        Log("Update INI: Write Success! ");
    } else {
        WriteLog(KvFormat("Write INI '%s', Value %s=%s in section '%s' Failed! lasterror=%d", target.c_str(),
                            key.c_str(), value.c_str(), targetSection.c_str(),
                            static_cast<int>(::GetLastError())));
        result = -1;
    }

    if (viaCopy) {
        // A failed write leaves the copy as it was: copying it back would only
        // turn the failure into a reported success.
        if (result != 0)
            return result;
        int r = ApplyTempINI(tempPath, file);
        if (r != 0) {
            WriteLog(KvFormat("Can't apply INI change from '%s' to '%s' iRet = %d", tempPath.c_str(),
                                file.c_str(), r));
            return -2;
        }
        result = 0;
    }
    return result;
}

std::string CHFS_Interpreter::ReadINIValue(const std::string& file, const std::string& section,
                                           const std::string& key)
{
    std::string source = file;
    std::string sourceSection = section;
    std::string tempPath;
    const bool viaCopy = section.empty();
    std::string value;
    if (viaCopy) {
        sourceSection = kTempSection;
        int r = CreateTempINI(file, tempPath);
        if (r != 0) {
            // An empty file name would make ReadItem read the script instead.
            Log("CHFS_Interpreter::ReadINIValue(): no temporary copy of '%s', CreateTempINI ret=%d", file.c_str(),
                r);
            value = KORVEX_MISSING;
            Log("Reading INI: Read %s='%s':len=%d in section [%s]!", key.c_str(), value.c_str(),
                static_cast<int>(value.size()), sourceSection.c_str());
            return value;
        }
        source = tempPath;
    }
    value = ReadItem(key, sourceSection, false, source);
    Log("Reading INI: Read %s='%s':len=%d in section [%s]!", key.c_str(), value.c_str(),
        static_cast<int>(value.size()), sourceSection.c_str());
    if (viaCopy)
        ::DeleteFileA(tempPath.c_str());
    return value;
}

int CHFS_Interpreter::CreateTempINI(const std::string& file, std::string& tempPath)
{
    CHandle source(::CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                 nullptr));
    if (!source)
        return -1;

    char folder[4096] = {0};
    DWORD n = ::GetTempPathA(sizeof folder, folder);
    if (n == 0 || n >= sizeof folder)
        return -2;
    // A temporary folder near the path limit gives no usable name.
    std::string tempName;
    if (!MakeTempFileName(folder, "TMP", tempName))
        return -2;
    const char* name = tempName.c_str();
    CHandle copy(::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!copy) {
        ::DeleteFileA(name);
        return -2;
    }

    // A copy that is not complete must not be used: written back, it would
    // cut the file short.
    std::string header = TempHeader();
    bool ok = WriteAll(copy.Get(), header.data(), static_cast<DWORD>(header.size()));
    std::vector<char> chunk(kChunk);
    while (ok) {
        DWORD got = 0;
        if (!::ReadFile(source.Get(), chunk.data(), kChunk, &got, nullptr)) {
            ok = false;
            break;
        }
        if (got > 0 && !WriteAll(copy.Get(), chunk.data(), got))
            ok = false;
        if (got < kChunk)
            break;
    }
    copy.Close();
    if (!ok) {
        ::DeleteFileA(name);
        return -2;
    }
    tempPath = name;
    return 0;
}

int CHFS_Interpreter::ApplyTempINI(const std::string& tempPath, const std::string& target)
{
    CHandle copy(::CreateFileA(tempPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
    if (!copy)
        return -1;

    std::string backup = target + ".bak";
    if (::GetFileAttributesA(backup.c_str()) != INVALID_FILE_ATTRIBUTES) {
        ::SetFileAttributesA(backup.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(backup.c_str());
    }
    // Without a fresh backup nothing may be written: a failed write would
    // then put an older file's backup in place of the target. The backup is
    // a copy and the new content is written whole beside the target and put
    // in its place in one step: a run ended at any moment leaves the file
    // whole, old or new, never missing or cut short (its undo needs it).
    if (!::CopyFileA(target.c_str(), backup.c_str(), TRUE)) {
        WriteLog(KvFormat("CHFS_Interpreter::ApplyTempINI(): CopyFile '%s' to '%s' Failed! lasterror=%d",
                          target.c_str(), backup.c_str(), static_cast<int>(::GetLastError())));
        return -1;
    }
    const std::string fresh = target + ".new";
    ::SetFileAttributesA(fresh.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(fresh.c_str());
    CHandle out(::CreateFileA(fresh.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out)
        return -2;

    // Only the copy's own header is taken off: a later chunk that happens to
    // start with the same bytes belongs to the file.
    const std::string header = TempHeader();
    std::vector<char> chunk(kChunk);
    bool first = true;
    bool ok = true;
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(copy.Get(), chunk.data(), kChunk, &got, nullptr)) {
            ok = false;
            break;
        }
        DWORD skip = 0;
        if (first && got >= header.size() && std::string(chunk.data(), header.size()) == header)
            skip = static_cast<DWORD>(header.size());
        first = false;
        if (got > skip && !WriteAll(out.Get(), chunk.data() + skip, got - skip)) {
            ok = false;
            break;
        }
        if (got < kChunk)
            break;
    }
    out.Close();
    if (ok) {
        // The new file takes the place of a read-only one as it always did.
        DWORD attrs = ::GetFileAttributesA(target.c_str());
        if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY))
            ::SetFileAttributesA(target.c_str(), attrs & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
        ok = ::MoveFileExA(fresh.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    }
    if (!ok) {
        // A part-written file is worse than the old one, which stays.
        ::DeleteFileA(fresh.c_str());
        return -2;
    }
    return 0;
}

bool CHFS_Interpreter::FileHasINISection(const std::string& file, const std::string& name, bool exact)
{
    std::vector<char> names(65536);
    DWORD n = 0;
    for (;;) {
        n = KvGetProfileSectionNames(names.data(), static_cast<DWORD>(names.size()), file);
        if (n + 2 < names.size() || names.size() >= (1u << 24))
            break;
        names.resize(names.size() * 4);
    }
    for (const char* p = names.data(); p < names.data() + n && *p; p += std::strlen(p) + 1) {
        const size_t len = std::strlen(p);
        if (exact ? _stricmp(p, name.c_str()) == 0
                  : len >= name.size() && _strnicmp(p, name.c_str(), name.size()) == 0)
            return true;
    }
    return false;
}

int CHFS_Interpreter::AppendINISections(const std::string& file, const std::string& text)
{
    Log("Update INI: Write %u bytes of sections in one pass to '%s'!", static_cast<unsigned>(text.size()),
        file.c_str());
    CHandle h(::CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    bool ok = static_cast<bool>(h);
    if (ok) {
        // A last line without its line end would swallow the first header.
        // (Written ahead of the text rather than put in front of a copy of
        // it: a record's text can be megabytes.)
        LARGE_INTEGER size = {};
        const char* lineEnd = "";
        if (::GetFileSizeEx(h.Get(), &size) && size.QuadPart > 0) {
            LARGE_INTEGER back;
            back.QuadPart = -1;
            char last = 0;
            DWORD got = 0;
            if (::SetFilePointerEx(h.Get(), back, nullptr, FILE_END) && ::ReadFile(h.Get(), &last, 1, &got, nullptr) &&
                got == 1 && last != '\n')
                lineEnd = "\r\n";
        }
        LARGE_INTEGER zero = {};
        DWORD written = 0;
        ok = ::SetFilePointerEx(h.Get(), zero, nullptr, FILE_END) &&
             (!*lineEnd || (::WriteFile(h.Get(), lineEnd, 2, &written, nullptr) && written == 2)) &&
             ::WriteFile(h.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
             written == text.size() && ::FlushFileBuffers(h.Get());
    }
    if (!ok) {
        WriteLog(KvFormat("Write INI '%s' sections Failed! lasterror=%d", file.c_str(),
                          static_cast<int>(::GetLastError())));
        return -1;
    }
    Log("Update INI: Write Success! ");
    return 0;
}
