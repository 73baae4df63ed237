#include "interpreter/Interpreter.h"
#include "symbols/RegWrite.h"
#include "util/Profile.h"

#include "util/StrFormat.h"
#include "util/FileUtil.h"
#include "util/SystemLib.h"
#include "util/WinHandles.h"

namespace {

const char kKorvexKey[] = "SOFTWARE\\Norlane\\Korvex";
const char kDBPathValue[] = "KorvexDBPath";
const char kDefaultDBPath[] = "C:\\Program Files\\Norlane\\Korvex\\KorvexDB.ini";
const char kRemoteKey[] = "SOFTWARE\\Norlane\\RemoteInstall";

int LastError()
{
    return static_cast<int>(::GetLastError());
}

}  // namespace

int CHFS_Interpreter::GetPatchDBFileName(std::string& path)
{
    CRegKey key;
    LONG ret = KvCreateKey(HKEY_LOCAL_MACHINE, kKorvexKey, key);
    if (ret != ERROR_SUCCESS) {
        Log("CHFS_Interpreter::GetPatchDBFileName(): RegCreateKeyEx:HKLM key='%s' Failed! ret=%d,lasterror=%d",
            kKorvexKey, static_cast<int>(ret), LastError());
        return -1;
    }
    Log("CHFS_Interpreter::GetPatchDBFileName(): RegCreateKeyEx:HKLM key='%s' Successful.", kKorvexKey);

    char buffer[1024 + 1] = {0};
    DWORD size = 1024;
    DWORD type = 0;
    ret = ::RegQueryValueExA(key.Get(), kDBPathValue, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    std::string value;
    if (ret == ERROR_SUCCESS) {
        // The stored text need not end in a NUL; the value ends where it does.
        value.assign(buffer, size > 1024 ? 1024 : size);
        size_t nul = value.find('\0');
        if (nul != std::string::npos)
            value.resize(nul);
    }
    if (ret != ERROR_SUCCESS || value.empty()) {
        Log("CHFS_Interpreter::GetPatchDBFileName(): RegQueryValueEx name='%s' Failed or the value is empty! "
            "ret=%d,lasterror=%d",
            kDBPathValue, static_cast<int>(ret), LastError());
        value = kDefaultDBPath;
        LONG set = KvSetString(key.Get(), kDBPathValue, value);
        if (set == ERROR_SUCCESS)
            Log("CHFS_Interpreter::GetPatchDBFileName(): RegSetValueEx name='%s' Successful. value='%s'",
                kDBPathValue, value.c_str());
        else
            Log("CHFS_Interpreter::GetPatchDBFileName(): RegSetValueEx name='%s' Failed for value='%s'! "
                "ret=%d,lasterror=%d",
                kDBPathValue, value.c_str(), static_cast<int>(set), LastError());
    } else {
        Log("CHFS_Interpreter::GetPatchDBFileName(): RegQueryValueEx name='%s' Successful. value='%s'", kDBPathValue,
            value.c_str());
    }
    key.Close();
    path = value;

    size_t slash = path.find_last_of('\\');
    if (slash != std::string::npos && slash > 0 && MakeDir(path.substr(0, slash)) != 0)
        return -1;
    return 0;
}

int CHFS_Interpreter::UpdatePatchDB(const std::string& section, const std::string& key, const std::string& value)
{
    std::string file;
    if (GetPatchDBFileName(file) != 0) {
        Log("Update Patch DB: Get DB file error");
        return -1;
    }
    Log("Update Patch DB: Write %s='%s':len=%d in section [%s]!", key.c_str(), value.c_str(),
        static_cast<int>(value.size()), section.c_str());
    if (KvWriteProfileString(section.c_str(), key.c_str(), value.empty() ? nullptr : value.c_str(),
                                     file)) {
        Log("Update Patch DB: Write Success! ");
        return 0;
    }
    WriteLog(KvFormat("Write Patch DB '%s', Value %s=%s in section '%s' Failed! lasterror=%d", file.c_str(),
                      key.c_str(), value.c_str(), section.c_str(), LastError()));
    return -1;
}

int CHFS_Interpreter::UpdateProgressForRemote(const std::string& text)
{
    CRegKey key;
    LONG ret = KvCreateKey(HKEY_LOCAL_MACHINE, kRemoteKey, key);
    if (ret != ERROR_SUCCESS) {
        WriteLog(KvFormat("CHFS_Interpreter::UpdateProgressForRemote(): RegCreateKeyEx:HKLM key='%s' Failed! "
                          "ret=%d,lasterror=%d",
                          kRemoteKey, static_cast<int>(ret), LastError()));
        return ret;
    }
    WriteLog(KvFormat("CHFS_Interpreter::UpdateProgressForRemote(): RegCreateKeyEx:HKLM Successful for key='%s'",
                      kRemoteKey));
    ret = KvSetString(key.Get(), "StatusMsg", text);
    if (ret == ERROR_SUCCESS)
        WriteLog(KvFormat("CHFS_Interpreter::UpdateProgressForRemote(): RegSetValueEx Successful for "
                          "name='StatusMsg', value='%s'",
                          text.c_str()));
    else
        WriteLog(KvFormat("CHFS_Interpreter::UpdateProgressForRemote(): RegSetValueEx Failed! name='StatusMsg', "
                          "value='%s', ret=%d,lasterror=%d",
                          text.c_str(), static_cast<int>(ret), LastError()));
    return ret;
}

LONG CHFS_Interpreter::DeleteRegKey(HKEY root, const std::string& subkey, REGSAM access, const std::string& tag)
{
    typedef LONG(WINAPI * RegDeleteKeyExAFn)(HKEY, LPCSTR, REGSAM, DWORD);
    const char* t = tag.c_str();

    // Looked up at run time: older systems have no call that takes a view.
    HMODULE advapi = LoadSystemLibrary("Advapi32.dll");
    if (!advapi) {
        Log("%s => CHFS_Interpreter::DeleteRegKey(): LoadLibrary Failed! name='Advapi32.dll', lasterror=%d", t,
            LastError());
    } else {
        Log("%s => CHFS_Interpreter::DeleteRegKey(): LoadLibrary Successful for name='Advapi32.dll'", t);
        RegDeleteKeyExAFn deleteEx =
            reinterpret_cast<RegDeleteKeyExAFn>(reinterpret_cast<void*>(::GetProcAddress(advapi, "RegDeleteKeyExA")));
        if (!deleteEx) {
            Log("%s => CHFS_Interpreter::DeleteRegKey(): GetProcAddress Failed! name='RegDeleteKeyExA'", t);
        } else {
            Log("%s => CHFS_Interpreter::DeleteRegKey(): GetProcAddress Successful for name='RegDeleteKeyExA'", t);
            LONG ret = deleteEx(root, subkey.c_str(), access, 0);
            if (ret == ERROR_SUCCESS)
                Log("%s => CHFS_Interpreter::DeleteRegKey(): RegDeleteKeyExA Successful.", t);
            else
                Log("%s => CHFS_Interpreter::DeleteRegKey(): RegDeleteKeyExA Failed! ret=%d,lasterror=%d", t,
                    static_cast<int>(ret), LastError());
            return ret;
        }
    }

    LONG ret = ::RegDeleteKeyA(root, subkey.c_str());
    if (ret == ERROR_SUCCESS)
        Log("%s => RegDeleteKey Successful for subkey='%s'", t, subkey.c_str());
    else
        Log("%s => RegDeleteKey subkey='%s' Failed! ret=%d,lasterror=%d", t, subkey.c_str(), static_cast<int>(ret),
            LastError());
    return ret;
}
