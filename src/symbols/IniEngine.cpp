// Reading and writing INI keys through the platform's profile functions, with
// a temporary copy for keys that stand before the first section header.
#include "interpreter/Interpreter.h"
#include "util/WinHandles.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

const char kTempSection[] = "Korvex_TempINI";
const DWORD kChunk = 4096;

// Raw log lines carry script text; they are built without a fixed buffer.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatText(const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    va_list copy;
    va_copy(copy, ap);
    int n = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        std::vector<char> buf(static_cast<size_t>(n) + 1);
        vsnprintf(buf.data(), buf.size(), format, ap);
        out.assign(buf.data(), static_cast<size_t>(n));
    }
    va_end(ap);
    return out;
}

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
    char buf[4096];
    buf[0] = '\0';
    DWORD n = ::GetPrivateProfileStringA(section.c_str(), key.c_str(), KORVEX_MISSING, buf, sizeof buf,
                                         path.c_str());
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
            WriteLog(FormatText("Write INI '%s', Value %s=%s in section '%s' Failed! "
                                "(no temporary copy, CreateTempINI ret=%d) lasterror=%d",
                                file.c_str(), key.c_str(), value.c_str(), targetSection.c_str(), r,
                                static_cast<int>(::GetLastError())));
            return -1;
        }
        target = tempPath;
    }

    Log("Update INI: Write %s='%s':len=%d in section [%s]!", key.c_str(), value.c_str(),
        static_cast<int>(value.size()), targetSection.c_str());
    BOOL ok = ::WritePrivateProfileStringA(targetSection.c_str(), key.c_str(),
                                           value.empty() ? nullptr : value.c_str(), target.c_str());
    int result = 0;
    if (ok) {
        Log("Update INI: Write Success! ");
    } else {
        WriteLog(FormatText("Write INI '%s', Value %s=%s in section '%s' Failed! lasterror=%d", target.c_str(),
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
            WriteLog(FormatText("Can't apply INI change from '%s' to '%s' iRet = %d", tempPath.c_str(),
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
    char name[MAX_PATH + 1] = {0};
    if (!::GetTempFileNameA(folder, "TMP", 0, name))
        return -2;
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
    // then put an older file's backup in place of the target.
    if (!::MoveFileA(target.c_str(), backup.c_str())) {
        WriteLog(FormatText("CHFS_Interpreter::ApplyTempINI(): MoveFile '%s' to '%s' Failed! lasterror=%d",
                            target.c_str(), backup.c_str(), static_cast<int>(::GetLastError())));
        return -1;
    }

    CHandle out(::CreateFileA(target.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) {
        copy.Close();
        ::MoveFileA(backup.c_str(), target.c_str());
        return -2;
    }

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
    if (!ok) {
        // A part-written file is worse than the old one: put the old one back.
        ::DeleteFileA(target.c_str());
        ::MoveFileA(backup.c_str(), target.c_str());
        return -2;
    }
    return 0;
}
