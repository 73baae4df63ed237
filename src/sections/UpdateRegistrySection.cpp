#include "sections/UpdateRegistrySection.h"

#include "interpreter/Interpreter.h"
#include "sections/ItemAnswer.h"
#include "sections/RegistryValue.h"
#include "sections/ScriptNumbers.h"
#include "util/WinHandles.h"

namespace {

const char kRunTag[] = "CHFS_UpdateRegistrySection::Run()";
const char kRollbackTag[] = "CHFS_UpdateRegistrySection::Rollback()";

int LastError() { return static_cast<int>(::GetLastError()); }

LONG WriteValue(HKEY key, const std::string& name, DWORD type, DWORD number, const std::string& text)
{
    if (type == REG_DWORD)
        return ::RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                                sizeof number);
    return ::RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>(text.size() + 1));
}

}  // namespace

int CHFS_UpdateRegistrySection::GetExitCode() { return m_nExitCode; }

int CHFS_UpdateRegistrySection::Run(const std::string& sectionName, CHFS_ItemList& list)
{
    m_nExitCode = -2000;
    SetSectionName(sectionName);
    m_pInterpreter->Log("CHFS_UpdateRegistrySection::Run(%s)", sectionName.c_str());
    int result = 0;
    const int count = ReadCount("RegCount", true);

    CRegKey key;
    int n = 1;
    while (n <= count) {
        m_pInterpreter->AppendDetail(ReadKey(RegItemKey(n, ".Description"), true) + "\r\n", 0);
        const std::string desc = ReadKey(RegItemKey(n, ".Key"), true);
        if (desc == KORVEX_MISSING) {
            ++n;
            continue;
        }
        const std::string data = ReadKey(RegItemKey(n, ".Value"), true);
        if (data == KORVEX_MISSING) {
            ++n;
            continue;
        }

        DWORD type = 0;
        HKEY root = nullptr;
        std::string path, name;
        int b64 = 0;
        int split = m_pInterpreter->SpliteRegParameter(desc, type, root, path, name, b64);
        if (split != 0) {
            m_nExitCode = split == -2 ? -3101 : -3100;
            result = -1;
            break;
        }
        key.Close();
        const REGSAM access = RegSectionAccess(b64);

        std::string previous = m_pInterpreter->GetRegValue(type, root, path, name, b64, kRunTag);
        std::string flags;
        if (previous == KORVEX_MISSING) {
            previous.clear();
            flags = "A";
        }

        bool created = false;
        LONG ret = ::RegOpenKeyExA(root, path.c_str(), 0, access, key.Put());
        if (ret != ERROR_SUCCESS) {
            key.Release();  // a failed open leaves no key to close
            m_nExitCode = -3102;
            m_pInterpreter->Log("CHFS_UpdateRegistrySection::Run(): RegOpenKeyEx subkey='%s' Failed! "
                                "ret=%d,lasterror=%d",
                                path.c_str(), static_cast<int>(ret), LastError());
            DWORD disposition = 0;
            ret = ::RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, access, nullptr, key.Put(), &disposition);
            if (ret != ERROR_SUCCESS) {
                key.Release();
                m_nExitCode = -3103;
                m_pInterpreter->Log("CHFS_UpdateRegistrySection::Run(): RegCreateKeyEx subkey='%s' Failed! "
                                    "ret=%d,lasterror=%d",
                                    path.c_str(), static_cast<int>(ret), LastError());
                ++n;
                continue;
            }
            m_pInterpreter->Log("CHFS_UpdateRegistrySection::Run(): RegCreateKeyEx Successful for subkey='%s'.",
                                path.c_str());
            // A key that was only hidden from the open (and is there after
            // all) is not ours to delete on rollback.
            created = disposition != REG_OPENED_EXISTING_KEY;
            if (created)
                flags += "K";
        } else {
            m_pInterpreter->Log("CHFS_UpdateRegistrySection::Run(): RegOpenKeyEx Successful for subkey='%s'",
                                path.c_str());
        }

        // What is stored decides (the key was not made just now, so flags
        // hold no "K"): the reader's "(empty)" may be a missing value or a
        // text of those letters.
        bool refused = false;
        if (!created) {
            DWORD storedType = 0;
            std::string bytes;
            LONG query = ReadStoredRegValue(key.Get(), name, storedType, bytes);
            if (query == ERROR_FILE_NOT_FOUND) {
                previous.clear();
                flags = "A";
            } else if (query == ERROR_SUCCESS && RegStoredValueRestorable(key.Get(), name, storedType, bytes, type)) {
                previous = RegValueText(type, bytes);
                flags.clear();
            } else {
                refused = true;
                m_pInterpreter->Log("CHFS_UpdateRegistrySection::Run(): name='%s' holds type=%d, len=%d, ret=%d, "
                                    "which can't be put back as type=%d; value not changed!",
                                    name.c_str(), static_cast<int>(storedType), static_cast<int>(bytes.size()),
                                    static_cast<int>(query), static_cast<int>(type));
            }
        }

        if (refused) {
            m_nExitCode = -3104;
            m_pInterpreter->Log("RegSetValueEx Failed! ret=%d [%s]", static_cast<int>(kRegNotRestorable),
                                desc.c_str());
            result = EventHandler(RegItemKey(n, ".Error."), -1);
            if (!FollowItemAnswer(result, n))
                break;
            continue;
        }

        if (list.AddItem(n, previous, flags, std::string()) != 0) {
            m_nExitCode = -3199;
            result = KVHF_USERBREAK;
            // Nothing records the key made for this item: it goes again now.
            if (created) {
                key.Close();
                m_pInterpreter->DeleteRegKey(root, path, access, kRunTag);
            }
            break;
        }

        ret = WriteValue(key.Get(), name, type, KvScriptDword(data), data);
        if (ret == ERROR_SUCCESS)
            m_pInterpreter->Log("CHFS_UpdateRegistrySection::Run(): RegSetValueEx Successful for name='%s', "
                                "type=%d, value='%s'",
                                name.c_str(), static_cast<int>(type), data.c_str());
        else
            m_pInterpreter->Log("CHFS_UpdateRegistrySection::Run(): RegSetValueEx Failed! for name='%s', type=%d, "
                                "value='%s', ret=%d,lasterror=%d",
                                name.c_str(), static_cast<int>(type), data.c_str(), static_cast<int>(ret),
                                LastError());

        if (ret != ERROR_SUCCESS) {
            m_nExitCode = -3104;
            m_pInterpreter->Log("RegSetValueEx Failed! ret=%d [%s]", static_cast<int>(ret), desc.c_str());
            result = EventHandler(RegItemKey(n, ".Error."), -1);
        } else {
            m_pInterpreter->Log("RegSetValueEx Success! ret=%d [%s]", 0, desc.c_str());
            result = EventHandler(RegItemKey(n, ".Success."), 0);
        }
        if (!FollowItemAnswer(result, n))
            break;
    }
    key.Close();
    return result;
}

int CHFS_UpdateRegistrySection::Rollback(const std::string& sectionName, CHFS_ItemList& list)
{
    SetSectionName(sectionName);
    m_pInterpreter->Log("CHFS_UpdateRegistrySection::Rollback(%s)", sectionName.c_str());
    int result = 0;
    int n = 0;
    std::string previous, flags;
    CRegKey key;
    while (result == 0 && list.PopItem(n, previous, flags) == 0) {
        m_pInterpreter->AppendDetail(ReadKey(RegItemKey(n, ".Description"), true) + "\r\n", 1);
        const std::string desc = ReadKey(RegItemKey(n, ".Key"), true);
        if (desc == KORVEX_MISSING)
            continue;
        DWORD type = 0;
        HKEY root = nullptr;
        std::string path, name;
        int b64 = 0;
        if (m_pInterpreter->SpliteRegParameter(desc, type, root, path, name, b64) != 0)
            continue;
        const REGSAM access = RegSectionAccess(b64);

        key.Close();
        LONG ret = ::RegOpenKeyExA(root, path.c_str(), 0, access, key.Put());
        if (ret != ERROR_SUCCESS) {
            key.Release();
            m_pInterpreter->Log("CHFS_UpdateRegistrySection::Rollback(): RegOpenKeyEx subkey='%s' Failed! "
                                "ret=%d,lasterror=%d",
                                path.c_str(), static_cast<int>(ret), LastError());
        } else {
            m_pInterpreter->Log("CHFS_UpdateRegistrySection::Rollback(): RegOpenKeyEx Successful for subkey='%s'",
                                path.c_str());
            if (flags.find('A') != std::string::npos) {
                ret = ::RegDeleteValueA(key.Get(), name.c_str());
                if (ret == ERROR_SUCCESS)
                    m_pInterpreter->Log("CHFS_UpdateRegistrySection::Rollback(): RegDeleteValue Successful for "
                                        "name='%s'",
                                        name.c_str());
                else
                    m_pInterpreter->Log("CHFS_UpdateRegistrySection::Rollback(): RegDeleteValue name='%s' Failed! "
                                        "ret=%d,lasterror=%d",
                                        name.c_str(), static_cast<int>(ret), LastError());
            } else {
                ret = WriteValue(key.Get(), name, type, RegDecimalDword(previous), previous);
                if (ret == ERROR_SUCCESS) {
                    m_pInterpreter->Log("CHFS_UpdateRegistrySection::Rollback(): RegSetValueEx Successful for "
                                        "name='%s', type=%d, value=%s'",
                                        name.c_str(), static_cast<int>(type), previous.c_str());
                } else {
                    m_pInterpreter->Log("CHFS_UpdateRegistrySection::Rollback(): RegSetValueEx name='%s', type=%d, "
                                        "value=%s' Failed! ret=%d,lasterror=%d",
                                        name.c_str(), static_cast<int>(type), previous.c_str(),
                                        static_cast<int>(ret), LastError());
                    result = -1;
                }
            }
            key.Close();
        }
        if (flags.find('K') != std::string::npos)
            m_pInterpreter->DeleteRegKey(root, path, access, kRollbackTag);
    }
    key.Close();
    return result;
}
