// Variable references: symbol values taken from the registry, INI files,
// file version data and service state.
#include "interpreter/Interpreter.h"
#include "util/Profile.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "util/FileUtil.h"
#include "util/ServiceControl.h"
#include "util/WinHandles.h"

namespace {

const char kTempIniSection[] = "Korvex_TempINI";
const DWORD kValueBufferSize = 4096;

// printf into a string of any length: the texts come from the script and the
// registry and have no useful upper bound.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    va_list copy;
    va_copy(copy, ap);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        std::vector<char> buf(static_cast<size_t>(n) + 1);
        std::vsnprintf(buf.data(), buf.size(), format, ap);
        out.assign(buf.data(), static_cast<size_t>(n));
    }
    va_end(ap);
    return out;
}

// A reference is written as the whole value starting with its '[': the
// description runs from the second character to the last ']'.
bool TakeDescription(const std::string& value, const char* marker, std::string& description)
{
    if (value.find(marker) == std::string::npos)
        return false;
    size_t close = value.rfind(']');
    if (close == std::string::npos)
        return false;
    description = close > 1 ? value.substr(1, close - 1) : std::string();
    return true;
}

bool EqualsNoCase(const std::string& a, const char* b)
{
    size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z')
            x = static_cast<unsigned char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = static_cast<unsigned char>(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return true;
}

struct CRootName {
    const char* name;
    HKEY root;
};
const CRootName kRoots[] = {
    {"HKCU", HKEY_CURRENT_USER},
    {"HKLM", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", HKEY_USERS},
    {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

}  // namespace

int CHFS_Interpreter::SpliteRegParameter(const std::string& description, DWORD& type, HKEY& root,
                                         std::string& key, std::string& valueName, int& b64BitView)
{
    const std::string& d = description;
    size_t start = d.find("Reg:");
    size_t c1 = start == std::string::npos ? std::string::npos : d.find(',', start + 4);
    size_t c2 = c1 == std::string::npos ? std::string::npos : d.find(',', c1 + 1);
    bool malformed = c2 == std::string::npos;
    std::string typeField, rootField;
    if (!malformed) {
        typeField = d.substr(start + 4, c1 - start - 4);
        rootField = d.substr(c1 + 1, c2 - c1 - 1);
        size_t c3 = d.find(',', c2 + 1);
        if (c3 == std::string::npos) {
            key = d.substr(c2 + 1);
            valueName.clear();
        } else {
            key = d.substr(c2 + 1, c3 - c2 - 1);
            size_t c4 = d.find(',', c3 + 1);
            if (c4 == std::string::npos) {
                valueName = d.substr(c3 + 1);
                malformed = valueName.empty();
            } else {
                valueName = d.substr(c3 + 1, c4 - c3 - 1);
                std::string flag = d.substr(c4 + 1);
                malformed = flag.empty();
                if (flag == "x64")
                    b64BitView = 1;
            }
        }
    }
    if (malformed) {
        Log("*** Syntax error: Incorrect registry description '%s'!", d.c_str());
        return -1;
    }

    if (typeField == "REG_DWORD") {
        type = REG_DWORD;
    } else if (typeField == "REG_SZ") {
        type = REG_SZ;
    } else {
        Log("*** Syntax error: Incorrect registry data type '%s'!", d.c_str());
        return -2;
    }

    for (const CRootName& r : kRoots) {
        if (EqualsNoCase(rootField, r.name)) {
            root = r.root;
            return 0;
        }
    }
    Log("*** Syntax error: Incorrect registry root_type '%s'!", rootField.c_str());
    return -3;
}

std::string CHFS_Interpreter::GetRegVariable(const std::string& value, const std::string& callerTag)
{
    std::string description;
    if (!TakeDescription(value, "[Reg:", description))
        return std::string();
    DWORD type = 0;
    HKEY root = nullptr;
    std::string key, valueName;
    int b64 = 0;
    if (SpliteRegParameter(description, type, root, key, valueName, b64) != 0) {
        WriteLog("Syntax error , Incorrect registry description!");
        return std::string();
    }
    std::string text = GetRegValue(type, root, key, valueName, b64,
                                   Format("%s => CHFS_Interpreter::GetRegVariable()", callerTag.c_str()));
    return text == KORVEX_MISSING ? std::string() : text;
}

std::string CHFS_Interpreter::GetRegValue(DWORD type, HKEY root, const std::string& key,
                                          const std::string& valueName, int b64BitView, const std::string& tag)
{
    REGSAM access = KEY_READ | (b64BitView ? KEY_WOW64_64KEY : 0);
    CRegKey handle;
    LONG ret = ::RegOpenKeyExA(root, key.c_str(), 0, access, handle.Put());
    if (ret != ERROR_SUCCESS) {
        DWORD err = ::GetLastError();
        handle.Release();  // a failed open leaves no key to close
        WriteLog(Format("%s => CHFS_Interpreter::GetRegValue(): RegOpenKeyEx key='%s' Failed! ret=%d,lasterror=%d",
                        tag.c_str(), key.c_str(), static_cast<int>(ret), static_cast<int>(err)));
        return KORVEX_MISSING;
    }
    WriteLog(Format("%s => CHFS_Interpreter::GetRegValue(): RegOpenKeyEx key='%s' Successful.", tag.c_str(),
                    key.c_str()));
    return QueryRegValue(handle.Get(), type, valueName,
                         Format("%s => CHFS_Interpreter::GetRegValue()", tag.c_str()));
}

std::string CHFS_Interpreter::QueryRegValue(HKEY key, DWORD type, const std::string& valueName,
                                            const std::string& tag)
{
    if (!key) {
        WriteLog(Format("%s => CHFS_Interpreter::GetRegValue(): invalid registry key argument, lasterror=%d",
                        tag.c_str(), static_cast<int>(::GetLastError())));
        return KORVEX_MISSING;
    }
    DWORD stored = 0;
    LONG ret;
    std::string text;
    if (type == REG_DWORD) {
        // Only four bytes are room for the integer: longer data (a QWORD, a
        // string) makes the query report ERROR_MORE_DATA and the read fail,
        // instead of being cut into a number that means nothing.
        DWORD number = 0;
        DWORD size = sizeof(number);
        ret = ::RegQueryValueExA(key, valueName.c_str(), nullptr, &stored, reinterpret_cast<BYTE*>(&number), &size);
        if (ret == ERROR_SUCCESS)
            text = Format("%d", static_cast<int>(number));
    } else {
        std::vector<char> buffer(kValueBufferSize + 1, 0);
        DWORD size = kValueBufferSize;
        ret = ::RegQueryValueExA(key, valueName.c_str(), nullptr, &stored, reinterpret_cast<BYTE*>(buffer.data()),
                                 &size);
        if (ret == ERROR_SUCCESS)
            text.assign(buffer.data(), strnlen(buffer.data(), size < kValueBufferSize ? size : kValueBufferSize));
    }
    if (ret != ERROR_SUCCESS) {
        WriteLog(Format("%s => CHFS_Interpreter::GetRegValue(): RegQueryValueEx Item ='%s' Failed! ret=%d,lasterror=%d",
                        tag.c_str(), valueName.c_str(), static_cast<int>(ret), static_cast<int>(::GetLastError())));
        return KORVEX_MISSING;
    }
    WriteLog(Format("%s => CHFS_Interpreter::GetRegValue(): RegQueryValueEx Successful for name='%s', type=%d, value='%s'",
                    tag.c_str(), valueName.c_str(), static_cast<int>(stored), text.c_str()));
    return text;
}

int CHFS_Interpreter::SpliteINIParameter(const std::string& description, std::string& file, std::string& section,
                                         std::string& key)
{
    size_t start = description.find("INI:");
    size_t c1 = start == std::string::npos ? std::string::npos : description.find(',', start + 4);
    size_t c2 = c1 == std::string::npos ? std::string::npos : description.find(',', c1 + 1);
    // An empty file name is missing too: the profile reader would fall back
    // on a file in the Windows folder.
    if (c2 == std::string::npos || c2 + 1 >= description.size() || c1 == start + 4) {
        Log("*** Syntax error: Incorrect INI description '%s'!", description.c_str());
        return -1;
    }
    file = description.substr(start + 4, c1 - start - 4);
    section = description.substr(c1 + 1, c2 - c1 - 1);
    key = description.substr(c2 + 1);
    return 0;
}

std::string CHFS_Interpreter::GetINIVariable(const std::string& value)
{
    std::string description;
    if (!TakeDescription(value, "[INI:", description))
        return std::string();
    std::string file, section, key;
    if (SpliteINIParameter(description, file, section, key) != 0) {
        WriteLog("Syntax error , Incorrect INI description!");
        return std::string();
    }

    std::string readFile = file;
    std::string readSection = section;
    std::string tempPath;
    bool canRead = true;
    if (section.empty()) {
        // The profile reader addresses keys only by section: the lines above
        // the first header are read from a copy that has a header of its own.
        readSection = kTempIniSection;
        canRead = CreateTempINI(file, tempPath) == 0 && !tempPath.empty();
        if (canRead)
            readFile = tempPath;
    }

    std::vector<char> buffer(kValueBufferSize, 0);
    int count = 0;
    DWORD err = 0;
    if (canRead) {
        count = static_cast<int>(KvGetProfileString(readSection.c_str(), key.c_str(), KORVEX_MISSING,
                                                            buffer.data(), kValueBufferSize, readFile));
        err = ::GetLastError();
    } else {
        // Without the copy there is no file to read: an empty name would make
        // the profile reader fall back on a file of the system's own.
        std::strcpy(buffer.data(), KORVEX_MISSING);
        count = static_cast<int>(std::strlen(KORVEX_MISSING));
        err = ::GetLastError();
    }
    std::string text(buffer.data());
    if (text == KORVEX_MISSING) {
        Log("*** Warning:  Item '%s' not found in Section '%s' ! (file:%s) lasterror=%d", key.c_str(),
            readSection.c_str(), readFile.c_str(), static_cast<int>(err));
        count = -1;
        text.clear();
    }
    if (count < 1) {
        WriteLog(Format("INI Query Value '%s' Failed! ret=%d , lasterror=%d", description.c_str(), count,
                        static_cast<int>(err)));
        text.clear();
    }
    if (!tempPath.empty())
        ::DeleteFileA(tempPath.c_str());
    return text;
}

int CHFS_Interpreter::SpliteFileInfoParameter(const std::string& description, std::string& path, std::string& kind)
{
    size_t start = description.find("FileInfo:");
    size_t comma = start == std::string::npos ? std::string::npos : description.find(',', start + 9);
    if (comma == std::string::npos || comma + 1 >= description.size()) {
        Log("*** Syntax error: Incorrect FileInfo description '%s'!", description.c_str());
        return -1;
    }
    path = description.substr(start + 9, comma - start - 9);
    kind = description.substr(comma + 1);
    return 0;
}

std::string CHFS_Interpreter::GetFileInfoVariable(const std::string& value)
{
    std::string description;
    if (!TakeDescription(value, "[FileInfo:", description))
        return std::string();
    std::string path, kind;
    if (SpliteFileInfoParameter(description, path, kind) != 0) {
        WriteLog("Syntax error , Incorrect FileInfo description!");
        return std::string();
    }

    std::string text;
    bool ok = false;
    if (kind == "FileSize") {
        DWORD size = 0;
        ok = GetFileSizeLow(path, size);
        if (ok)
            text = Format("%d", static_cast<int>(size));
    } else if (kind == "FileVersion" || kind == "MaintenanceVersion" || kind == "BuildVersion") {
        WORD version[4] = {0, 0, 0, 0};
        ok = GetFileVersionNumbers(path, version);
        if (ok) {
            if (kind == "FileVersion")
                text = Format("%d.%d", version[0], version[1]);
            else if (kind == "MaintenanceVersion")
                text = Format("%d", version[2]);
            else
                text = Format("%d", version[3]);
        }
    } else if (kind == "ProductVersion") {
        ok = GetFileVersionString(path, text);
    } else if (kind == "SpecialBuild") {
        ok = GetSpecialBuildString(path, text);
    }
    if (!ok) {
        WriteLog(Format("Query file info '%s' Failed! (lasterror=%d)", description.c_str(),
                        static_cast<int>(::GetLastError())));
        return std::string();
    }
    return text;
}

std::string CHFS_Interpreter::GetServiceStatusVariable(const std::string& value)
{
    static const char kMarker[] = "[ServiceStatus:";
    size_t start = value.find(kMarker);
    size_t close = value.rfind(']');
    if (start == std::string::npos || close == std::string::npos)
        return "0";
    size_t nameStart = start + sizeof(kMarker) - 1;
    if (close < nameStart)
        return "0";
    switch (SMQueryServiceStatus(value.substr(nameStart, close - nameStart).c_str())) {
    case 1:
        return "1";
    case 2:
        return "2";
    default:
        return "0";
    }
}
