#include "sections/RemoveRegistrySection.h"

#include <vector>

#include "interpreter/Interpreter.h"
#include "sections/ItemAnswer.h"
#include "sections/RegistryValue.h"
#include "sections/UndoSeal.h"
#include "util/CodePageText.h"
#include "util/StrFormat.h"
#include "util/WinHandles.h"

namespace {

const char kRunTag[] = "CHFS_RemoveRegistrySection::Run()";
const DWORD kNameBufferSize = 16383;

int LastError() { return static_cast<int>(::GetLastError()); }

struct CFoundValue {
    std::string name;
    DWORD type;
};

// Every value of an open key with its stored type. Returns ERROR_SUCCESS when
// the list is complete, otherwise the enumeration's error; a name the code
// page cannot carry (the 8-bit functions would reach no value by it, or
// another one) gives ERROR_NO_UNICODE_TRANSLATION with that name in badName.
LONG ListValues(HKEY key, std::vector<CFoundValue>& values, std::string& badName)
{
    std::vector<wchar_t> name(kNameBufferSize + 1);
    for (DWORD i = 0;; ++i) {
        DWORD length = kNameBufferSize + 1;
        DWORD type = 0;
        LONG ret = ::RegEnumValueW(key, i, name.data(), &length, nullptr, &type, nullptr, nullptr);
        if (ret == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (ret != ERROR_SUCCESS)
            return ret;
        const std::wstring wide(name.data(), length);
        std::string narrow = KvNarrow(CP_ACP, wide);
        if (KvWiden(CP_ACP, narrow) != wide) {
            badName = narrow;
            return ERROR_NO_UNICODE_TRANSLATION;
        }
        values.push_back(CFoundValue{narrow, type});
    }
}

// What an item of this section names: the key's own entry (no name and no
// type), a value of a deleted key (its type, before the seal), or one value
// (its name). name and type are those its rollback writes back with.
struct CRemovedThing {
    CRegItemPlace place;
    std::string typeName, left;
    std::string name;
    DWORD type = 0;
    bool isKey = false;
};

bool ReadRemovedThing(CHFS_Section& section, CHFS_Interpreter& interp, const CHFS_RecordItem& item,
                      CRemovedThing& thing)
{
    if (!ReadRegItemPlace(section, interp, item.nItemIndex, thing.place))
        return false;
    SplitSeal(item.strParam3, thing.typeName, thing.left);
    thing.type = thing.place.type;
    if (!thing.typeName.empty())
        thing.type = thing.typeName == "REG_DWORD" ? REG_DWORD : REG_SZ;
    thing.name = item.strParam1.empty() ? thing.place.name : item.strParam1;
    thing.isKey = thing.name.empty() && thing.typeName.empty();
    return true;
}

}  // namespace

int CHFS_RemoveRegistrySection::GetExitCode() { return m_nExitCode; }

int CHFS_RemoveRegistrySection::Run(const std::string& sectionName, CHFS_ItemList& list)
{
    m_nExitCode = -2000;
    SetSectionName(sectionName);
    int result = 0;
    const int count = ReadCount("RegCount", true);

    CRegKey key;
    int n = 1;
    while (n <= count) {
        m_pInterpreter->AppendDetail(ReadKey(RegItemKey(n, ".Description"), true) + "\r\n", 0);
        const std::string desc = ReadKey(RegItemKey(n, ".Key"), true);
        DWORD type = 0;
        HKEY root = nullptr;
        std::string path, name;
        int b64 = 0;
        int split = m_pInterpreter->SpliteRegParameter(desc, type, root, path, name, b64);
        if (split != 0) {
            m_pInterpreter->WriteLog("Syntax error , incorrect registry description!");
            m_nExitCode = split == -2 ? -2401 : -2400;
            result = -1;
            break;
        }
        key.Close();
        const REGSAM access = RegSectionAccess(b64);
        LONG status = -1;
        bool full = false;

        LONG ret = ::RegOpenKeyExA(root, path.c_str(), 0, access, key.Put());
        if (ret != ERROR_SUCCESS) {
            key.Release();  // a failed open leaves no key to close
            m_nExitCode = -2402;
            m_pInterpreter->WriteLog(KvFormat("CHFS_RemoveRegistrySection::Run(): RegOpenKeyEx subkey='%s' Failed! "
                                              "ret=%d,lasterror=%d",
                                              path.c_str(), static_cast<int>(ret), LastError()));
            status = ret;
        } else if (name.empty()) {
            m_pInterpreter->WriteLog(
                KvFormat("CHFS_RemoveRegistrySection::Run(): RegOpenKeyEx Successful for subkey='%s'", path.c_str()));
            // Everything the rollback will need is checked before anything is
            // recorded or deleted: a value it could not write back exactly,
            // or a list it could not get complete, keeps the key as it is.
            std::vector<CFoundValue> values;
            std::string badName;
            status = ListValues(key.Get(), values, badName);
            if (status != ERROR_SUCCESS) {
                m_pInterpreter->WriteLog(KvFormat("CHFS_RemoveRegistrySection::Run(): RegEnumValue of subkey='%s' "
                                                  "Failed! ret=%d, name='%s'; key not deleted!",
                                                  path.c_str(), static_cast<int>(status), badName.c_str()));
            }
            for (size_t i = 0; status == ERROR_SUCCESS && i < values.size(); ++i) {
                DWORD storedType = 0;
                std::string bytes;
                LONG query = ReadStoredRegValue(key.Get(), values[i].name, storedType, bytes);
                if (query != ERROR_SUCCESS ||
                    !RegStoredValueRestorable(key.Get(), values[i].name, storedType, bytes, storedType)) {
                    // A value listed but not found by its name is not
                    // absent: it cannot be read back, and "not found" would
                    // pass for a key already removed.
                    status = query != ERROR_SUCCESS && query != ERROR_FILE_NOT_FOUND ? query : kRegNotRestorable;
                    m_pInterpreter->WriteLog(KvFormat("CHFS_RemoveRegistrySection::Run(): name='%s' of subkey='%s' "
                                                      "holds type=%d, len=%d, ret=%d, which can't be written back "
                                                      "exactly; key not deleted!",
                                                      values[i].name.c_str(), path.c_str(),
                                                      static_cast<int>(storedType), static_cast<int>(bytes.size()),
                                                      static_cast<int>(query)));
                }
            }
            // The values and the key's own entry must all fit, or none is made.
            if (status == ERROR_SUCCESS && list.Size() + values.size() + 1 > CHFS_ItemList::MAX_ITEMS)
                full = true;

            if (status == ERROR_SUCCESS && !full) {
                for (size_t i = 0; i < values.size(); ++i) {
                    m_pInterpreter->WriteLog(KvFormat("CHFS_RemoveRegistrySection::Run(): RegEnumValue index=%d => "
                                                      "'%s'",
                                                      static_cast<int>(i), values[i].name.c_str()));
                    std::string data =
                        m_pInterpreter->QueryRegValue(key.Get(), values[i].type, values[i].name, kRunTag);
                    list.AddItem(n, values[i].name, data, values[i].type == REG_DWORD ? "REG_DWORD" : "REG_SZ");
                }
                key.Close();
                // The key's own entry is in the journal before the key goes: a
                // run ended in the middle of the delete brings it back, empty
                // or not.
                list.NoteInJournal(n, std::string(), std::string(), std::string());
                status = m_pInterpreter->DeleteRegKey(root, path, access, kRunTag);
                if (status == ERROR_SUCCESS && list.AddItem(n, std::string(), std::string(), std::string()) != 0)
                    full = true;
            }
        } else {
            m_pInterpreter->WriteLog(
                KvFormat("CHFS_RemoveRegistrySection::Run(): RegOpenKeyEx Successful for subkey='%s'", path.c_str()));
            std::string previous = m_pInterpreter->GetRegValue(type, root, path, name, b64, kRunTag);
            DWORD storedType = 0;
            std::string bytes;
            LONG query = ReadStoredRegValue(key.Get(), name, storedType, bytes);
            const bool absent = query == ERROR_FILE_NOT_FOUND;
            if (!absent &&
                (query != ERROR_SUCCESS || !RegStoredValueRestorable(key.Get(), name, storedType, bytes, type))) {
                status = query != ERROR_SUCCESS ? query : kRegNotRestorable;
                m_pInterpreter->WriteLog(KvFormat("CHFS_RemoveRegistrySection::Run(): name='%s' holds type=%d, "
                                                  "len=%d, ret=%d, which can't be written back as type=%d; "
                                                  "value not deleted!",
                                                  name.c_str(), static_cast<int>(storedType),
                                                  static_cast<int>(bytes.size()), static_cast<int>(query),
                                                  static_cast<int>(type)));
            } else if (!absent && list.Size() >= CHFS_ItemList::MAX_ITEMS) {
                // Deleted but not recorded would be lost for good.
                full = true;
            } else {
                if (!absent) {
                    previous = RegValueText(type, bytes);
                    // In the journal before it goes: a run ended between the
                    // delete and its record would lose the value for good.
                    list.NoteInJournal(n, name, previous, std::string());
                }
                status = ::RegDeleteValueA(key.Get(), name.c_str());
                if (status != ERROR_SUCCESS) {
                    m_nExitCode = -2403;
                    m_pInterpreter->WriteLog(KvFormat("CHFS_RemoveRegistrySection::Run(): RegDeleteValue name='%s' "
                                                      "Failed! ret=%d,lasterror=%d",
                                                      name.c_str(), static_cast<int>(status), LastError()));
                } else {
                    m_pInterpreter->WriteLog(KvFormat("CHFS_RemoveRegistrySection::Run(): RegDeleteValue Successful "
                                                      "for name='%s'",
                                                      name.c_str()));
                    if (list.AddItem(n, name, previous, std::string()) != 0)
                        full = true;
                }
            }
        }

        if (full) {
            m_nExitCode = -2499;
            result = KVHF_USERBREAK;
            break;
        }
        if (status == ERROR_FILE_NOT_FOUND)
            status = ERROR_SUCCESS;
        if (status != ERROR_SUCCESS) {
            m_nExitCode = -2403;
            m_pInterpreter->WriteLog(
                KvFormat("RegDeleteValue/Key Failed! ret=%d [%s]", static_cast<int>(status), desc.c_str()));
            result = EventHandler(RegItemKey(n, ".Error."), -1);
        } else {
            m_pInterpreter->WriteLog(KvFormat("RegDeleteValue/Key Success! ret=%d [%s]", 0, desc.c_str()));
            result = EventHandler(RegItemKey(n, ".Success."), 0);
        }
        if (!FollowItemAnswer(result, n))
            break;
    }
    key.Close();
    return result;
}

int CHFS_RemoveRegistrySection::Rollback(const std::string& sectionName, CHFS_ItemList& list)
{
    SetSectionName(sectionName);
    m_pInterpreter->Log("CHFS_RemoveRegistrySection::Rollback(%s)", sectionName.c_str());
    int result = 0;
    CHFS_RecordItem item;
    CRegKey key;
    while (list.PopItem(item.nItemIndex, item.strParam1, item.strParam2, item.strParam3) == 0) {
        m_pInterpreter->AppendDetail(ReadKey(RegItemKey(item.nItemIndex, ".Description"), true) + "\r\n", 1);
        CRemovedThing thing;
        if (!ReadRemovedThing(*this, *m_pInterpreter, item, thing)) {
            m_pInterpreter->Log("*** Runtime error: CHFS_RemoveRegistrySection::Rollback('%s'): item %d names no "
                                "registry value or key; it can't be undone",
                                sectionName.c_str(), item.nItemIndex);
            result = -1;
            break;
        }
        const CRegItemPlace& place = thing.place;
        const std::string& path = place.path;
        const std::string& name = thing.name;
        const std::string& data = item.strParam2;
        const REGSAM access = RegSectionAccess(place.b64);

        key.Close();
        LONG ret = ::RegOpenKeyExA(place.root, path.c_str(), 0, access, key.Put());
        if (ret != ERROR_SUCCESS) {
            key.Release();
            m_pInterpreter->Log("CHFS_RemoveRegistrySection::Rollback(): RegOpenKeyEx subkey='%s' Failed! "
                                "ret=%d,lasterror=%d",
                                path.c_str(), static_cast<int>(ret), LastError());
            ret = ::RegCreateKeyExA(place.root, path.c_str(), 0, nullptr, 0, access, nullptr, key.Put(), nullptr);
            if (ret != ERROR_SUCCESS) {
                key.Release();
                m_pInterpreter->Log("CHFS_RemoveRegistrySection::Rollback(): RegCreateKeyEx subkey='%s' Failed! "
                                    "ret=%d,lasterror=%d",
                                    path.c_str(), static_cast<int>(ret), LastError());
                // Neither the key nor a value of it comes back.
                result = -1;
                break;
            }
            m_pInterpreter->Log("CHFS_RemoveRegistrySection::Rollback(): RegCreateKeyEx Successful for subkey='%s'",
                                path.c_str());
        } else {
            m_pInterpreter->Log("CHFS_RemoveRegistrySection::Rollback(): RegOpenKeyEx Successful for subkey='%s'",
                                path.c_str());
        }
        // The key's default value belongs to the key as much as its named
        // values do: only the key's own entry writes nothing.
        if (thing.isKey)
            continue;

        DWORD number = RegDecimalDword(data);
        if (thing.type == REG_DWORD)
            ret = ::RegSetValueExA(key.Get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                                   sizeof number);
        else
            ret = ::RegSetValueExA(key.Get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                   static_cast<DWORD>(data.size() + 1));
        if (ret == ERROR_SUCCESS) {
            m_pInterpreter->Log("CHFS_RemoveRegistrySection::Rollback(): RegSetValueEx Successful for name='%s', "
                                "type=%d, value='%s'",
                                name.c_str(), static_cast<int>(thing.type), data.c_str());
        } else {
            m_pInterpreter->Log("CHFS_RemoveRegistrySection::Rollback(): RegSetValueEx name='%s', type=%d, "
                                "value='%s' Failed! ret=%d,lasterror=%d",
                                name.c_str(), static_cast<int>(thing.type), data.c_str(), static_cast<int>(ret),
                                LastError());
            result = -1;
            break;
        }
    }
    key.Close();
    return result;
}

void CHFS_RemoveRegistrySection::CheckUndo(const std::string& sectionName, const CHFS_RecordItem& item,
                                           std::vector<CHFS_UndoTarget>& targets)
{
    SetSectionName(sectionName);
    CRemovedThing thing;
    if (!ReadRemovedThing(*this, *m_pInterpreter, item, thing))
        return;
    if (thing.isKey)
        targets.push_back(RegKeyUndo(thing.place, thing.left));
    else
        targets.push_back(
            RegValueUndo(thing.place, thing.name, thing.left, RegStateOfText(thing.type, item.strParam2)));
}

void CHFS_RemoveRegistrySection::SealItem(const std::string& sectionName, CHFS_RecordItem& item)
{
    SetSectionName(sectionName);
    CRemovedThing thing;
    if (!ReadRemovedThing(*this, *m_pInterpreter, item, thing))
        return;
    const CRegItemPlace& place = thing.place;
    std::string state;
    LONG ret = thing.isKey ? RegKeyState(place.root, place.path, place.b64, state)
                           : RegValueState(place.root, place.path, thing.name, place.b64, state);
    if (ret != ERROR_SUCCESS) {
        m_pInterpreter->Log("CHFS_RemoveRegistrySection::SealItem(): '%s' of subkey='%s' can't be read, ret=%d; "
                            "its removal will not be checked",
                            thing.name.c_str(), place.path.c_str(), static_cast<int>(ret));
        return;
    }
    item.strParam3 = WithSeal(thing.typeName, state);
}
