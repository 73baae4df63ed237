#include "sections/UpdateRegistrySection.h"

#include "interpreter/Interpreter.h"
#include "sections/ItemAnswer.h"
#include "sections/RegistryValue.h"
#include "sections/ScriptNumbers.h"
#include "sections/UndoSeal.h"
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

// The flag of the keys an item created: "K" for one level, as it always
// was, "K<n>" for n levels (the key and parents the create made with it).
std::string CreatedFlag(int levels)
{
    if (levels <= 0)
        return std::string();
    return levels == 1 ? "K" : "K" + std::to_string(levels);
}

int CreatedLevels(const std::string& flags)
{
    size_t k = flags.find('K');
    if (k == std::string::npos)
        return 0;
    int levels = 0;
    for (size_t i = k + 1; i < flags.size() && flags[i] >= '0' && flags[i] <= '9' && levels < 1000; ++i)
        levels = levels * 10 + (flags[i] - '0');
    return levels == 0 ? 1 : levels;
}

// Deletes the levels of path that an item created, deepest first, each only
// while it is empty: what someone put into one since is theirs, and so are
// the keys above it. Nothing above the path is reached, whatever an edited
// record says. 0, or -1 (logged) when one could not be looked into
// or deleted.
int DeleteCreatedKeys(CHFS_Interpreter& interp, HKEY root, const std::string& path, int levels, int b64,
                      const char* tag)
{
    std::string p = path;
    for (int i = 0; i < levels && !p.empty(); ++i, p = RegParentPath(p)) {
        CRegKey key;
        LONG ret = ::RegOpenKeyExA(root, p.c_str(), 0, KEY_QUERY_VALUE | (b64 ? KEY_WOW64_64KEY : 0), key.Put());
        if (ret == ERROR_FILE_NOT_FOUND) {
            key.Release();
            continue;
        }
        DWORD subkeys = 0, values = 0;
        if (ret == ERROR_SUCCESS)
            ret = ::RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                     nullptr, nullptr, nullptr, nullptr);
        else
            key.Release();
        key.Close();
        if (ret != ERROR_SUCCESS) {
            interp.Log("*** Runtime error: %s: RegQueryInfoKey subkey='%s' Failed! ret=%d; the key it created "
                       "can't be removed",
                       tag, p.c_str(), static_cast<int>(ret));
            return -1;
        }
        if (subkeys != 0 || values != 0) {
            interp.Log("%s: subkey='%s' holds %lu subkey(s) and %lu value(s) put there since: kept, with the keys "
                       "above it",
                       tag, p.c_str(), static_cast<unsigned long>(subkeys), static_cast<unsigned long>(values));
            return 0;
        }
        ret = interp.DeleteRegKey(root, p, RegSectionAccess(b64), tag);
        if (ret != ERROR_SUCCESS && ret != ERROR_FILE_NOT_FOUND)
            return -1;
    }
    return 0;
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
        int levels = 0;
        LONG ret = ::RegOpenKeyExA(root, path.c_str(), 0, access, key.Put());
        if (ret != ERROR_SUCCESS) {
            key.Release();  // a failed open leaves no key to close
            m_nExitCode = -3102;
            m_pInterpreter->Log("CHFS_UpdateRegistrySection::Run(): RegOpenKeyEx subkey='%s' Failed! "
                                "ret=%d,lasterror=%d",
                                path.c_str(), static_cast<int>(ret), LastError());
            // Counted before the create: the levels it makes are the ones
            // the rollback removes. A run ended before the item is added
            // leaves them noted in the journal, so they are removed then too.
            levels = RegMissingLevels(root, path, b64);
            if (levels > 0)
                list.NoteInJournal(n, previous, flags + CreatedFlag(levels), std::string());
            DWORD disposition = 0;
            ret = ::RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, access, nullptr, key.Put(), &disposition);
            if (ret != ERROR_SUCCESS) {
                key.Release();
                m_nExitCode = -3103;
                m_pInterpreter->Log("CHFS_UpdateRegistrySection::Run(): RegCreateKeyEx subkey='%s' Failed! "
                                    "ret=%d,lasterror=%d",
                                    path.c_str(), static_cast<int>(ret), LastError());
                // A create that failed part-way may have made parents.
                DeleteCreatedKeys(*m_pInterpreter, root, path, levels, b64, kRunTag);
                // The value the patch needs is not there: a failure, not a
                // silent skip.
                result = EventHandler(RegItemKey(n, ".Error."), -1);
                if (!FollowItemAnswer(result, n))
                    break;
                continue;
            }
            m_pInterpreter->Log("CHFS_UpdateRegistrySection::Run(): RegCreateKeyEx Successful for subkey='%s'.",
                                path.c_str());
            // A key that was only hidden from the open (and is there after
            // all) is not ours to delete on rollback.
            created = disposition != REG_OPENED_EXISTING_KEY;
            if (created) {
                levels = levels > 0 ? levels : 1;
                flags += CreatedFlag(levels);
            }
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
                DeleteCreatedKeys(*m_pInterpreter, root, path, levels, b64, kRunTag);
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
    while (result == 0 && list.PopItem(n, previous, flags) == 0) {
        m_pInterpreter->AppendDetail(ReadKey(RegItemKey(n, ".Description"), true) + "\r\n", 1);
        CRegItemPlace place;
        if (!ReadRegItemPlace(*this, *m_pInterpreter, n, place)) {
            m_pInterpreter->Log("*** Runtime error: CHFS_UpdateRegistrySection::Rollback('%s'): item %d names no "
                                "registry value; it can't be undone",
                                sectionName.c_str(), n);
            result = -1;
            break;
        }
        result = UndoItem(place, previous, flags);
    }
    return result;
}

int CHFS_UpdateRegistrySection::UndoItem(const CRegItemPlace& place, const std::string& previous,
                                         const std::string& flags)
{
    const std::string& path = place.path;
    const std::string& name = place.name;
    const REGSAM access = RegSectionAccess(place.b64);
    const bool added = flags.find('A') != std::string::npos;

    CRegKey key;
    LONG ret = ::RegOpenKeyExA(place.root, path.c_str(), 0, access, key.Put());
    if (ret != ERROR_SUCCESS) {
        key.Release();
        m_pInterpreter->Log("CHFS_UpdateRegistrySection::Rollback(): RegOpenKeyEx subkey='%s' Failed! "
                            "ret=%d,lasterror=%d",
                            path.c_str(), static_cast<int>(ret), LastError());
        // A key that is gone holds no value to delete; one to write back
        // needs its key again. Anything else keeps the change in place.
        if (ret != ERROR_FILE_NOT_FOUND)
            return -1;
        if (!added) {
            ret = ::RegCreateKeyExA(place.root, path.c_str(), 0, nullptr, 0, access, nullptr, key.Put(), nullptr);
            if (ret != ERROR_SUCCESS) {
                key.Release();
                m_pInterpreter->Log("CHFS_UpdateRegistrySection::Rollback(): RegCreateKeyEx subkey='%s' Failed! "
                                    "ret=%d,lasterror=%d",
                                    path.c_str(), static_cast<int>(ret), LastError());
                return -1;
            }
            m_pInterpreter->Log("CHFS_UpdateRegistrySection::Rollback(): RegCreateKeyEx Successful for "
                                "subkey='%s'",
                                path.c_str());
        }
    } else {
        m_pInterpreter->Log("CHFS_UpdateRegistrySection::Rollback(): RegOpenKeyEx Successful for subkey='%s'",
                            path.c_str());
    }

    if (key && added) {
        ret = ::RegDeleteValueA(key.Get(), name.c_str());
        if (ret == ERROR_SUCCESS || ret == ERROR_FILE_NOT_FOUND) {
            m_pInterpreter->Log("CHFS_UpdateRegistrySection::Rollback(): RegDeleteValue Successful for name='%s'",
                                name.c_str());
        } else {
            m_pInterpreter->Log("CHFS_UpdateRegistrySection::Rollback(): RegDeleteValue name='%s' Failed! "
                                "ret=%d,lasterror=%d",
                                name.c_str(), static_cast<int>(ret), LastError());
            return -1;
        }
    } else if (key) {
        ret = WriteValue(key.Get(), name, place.type, RegDecimalDword(previous), previous);
        if (ret != ERROR_SUCCESS) {
            m_pInterpreter->Log("CHFS_UpdateRegistrySection::Rollback(): RegSetValueEx name='%s', type=%d, "
                                "value=%s' Failed! ret=%d,lasterror=%d",
                                name.c_str(), static_cast<int>(place.type), previous.c_str(),
                                static_cast<int>(ret), LastError());
            return -1;
        }
        m_pInterpreter->Log("CHFS_UpdateRegistrySection::Rollback(): RegSetValueEx Successful for name='%s', "
                            "type=%d, value=%s'",
                            name.c_str(), static_cast<int>(place.type), previous.c_str());
    }
    key.Close();
    return DeleteCreatedKeys(*m_pInterpreter, place.root, path, CreatedLevels(flags), place.b64,
                             kRollbackTag);
}

void CHFS_UpdateRegistrySection::CheckUndo(const std::string& sectionName, const CHFS_RecordItem& item,
                                           std::vector<CHFS_UndoTarget>& targets)
{
    SetSectionName(sectionName);
    CRegItemPlace place;
    if (!ReadRegItemPlace(*this, *m_pInterpreter, item.nItemIndex, place))
        return;
    std::string head, left;
    SplitSeal(item.strParam3, head, left);
    const bool added = item.strParam2.find('A') != std::string::npos;
    targets.push_back(RegValueUndo(place, place.name, left,
                                   added ? std::string(kUndoAbsent) : RegStateOfText(place.type, item.strParam1)));
}

void CHFS_UpdateRegistrySection::SealItem(const std::string& sectionName, CHFS_RecordItem& item)
{
    SetSectionName(sectionName);
    CRegItemPlace place;
    if (!ReadRegItemPlace(*this, *m_pInterpreter, item.nItemIndex, place))
        return;
    std::string state;
    LONG ret = RegValueState(place.root, place.path, place.name, place.b64, state);
    if (ret != ERROR_SUCCESS) {
        m_pInterpreter->Log("CHFS_UpdateRegistrySection::SealItem(): name='%s' of subkey='%s' can't be read, "
                            "ret=%d; its removal will not be checked",
                            place.name.c_str(), place.path.c_str(), static_cast<int>(ret));
        return;
    }
    item.strParam3 = WithSeal(std::string(), state);
}
