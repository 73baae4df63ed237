// Variable references: symbol values taken from the registry, INI files,
// file version data and service state.
#include "interpreter/Interpreter.h"
#include "util/Profile.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "symbols/RefSplit.h"
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

// The interpreter's root table, in the order of kKvRegRootNames.
const HKEY kRoots[kKvRegRootCount] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_CONFIG};
static_assert(kKvRegSz == REG_SZ && kKvRegDword == REG_DWORD, "the registry's own type codes");

}  // namespace

int CHFS_Interpreter::SpliteRegParameter(const std::string& description, DWORD& type, HKEY& root,
                                         std::string& key, std::string& valueName, int& b64BitView)
{
    CKvRegDescription d;
    int r = KvSplitRegDescription(description, d);
    key = d.key;
    valueName = d.valueName;
    if (r == -1) {
        Log("*** Syntax error: Incorrect registry description '%s'!", description.c_str());
        return -1;
    }
    if (d.x64)
        b64BitView = 1;
    if (r == -2) {
        Log("*** Syntax error: Incorrect registry data type '%s'!", description.c_str());
        return -2;
    }
    if (r == -3) {
        Log("*** Syntax error: Incorrect registry root_type '%s'!", d.rootField.c_str());
        return -3;
    }
    type = d.type;
    root = kRoots[d.rootIndex];
    return 0;
}

std::string CHFS_Interpreter::GetRegVariable(const std::string& value, const std::string& callerTag)
{
    std::string description;
    if (!KvTakeDescription(value, "[Reg:", description))
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
    if (KvSplitINIDescription(description, file, section, key) != 0) {
        Log("*** Syntax error: Incorrect INI description '%s'!", description.c_str());
        return -1;
    }
    return 0;
}

std::string CHFS_Interpreter::GetINIVariable(const std::string& value)
{
    std::string description;
    if (!KvTakeDescription(value, "[INI:", description))
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
    if (KvSplitFileInfoDescription(description, path, kind) != 0) {
        Log("*** Syntax error: Incorrect FileInfo description '%s'!", description.c_str());
        return -1;
    }
    return 0;
}

std::string CHFS_Interpreter::GetFileInfoVariable(const std::string& value)
{
    std::string description;
    if (!KvTakeDescription(value, "[FileInfo:", description))
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
    std::string name;
    if (!KvServiceStatusName(value, name))
        return "0";
    switch (SMQueryServiceStatus(name.c_str())) {
    case 1:
        return "1";
    case 2:
        return "2";
    default:
        return "0";
    }
}
