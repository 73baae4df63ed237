#include "sections/UpdateINISection.h"

#include <cstdio>
#include <vector>

#include "interpreter/Interpreter.h"
#include "sections/ItemAnswer.h"
#include "util/Profile.h"

namespace {

const char kTempSection[] = "Korvex_TempINI";
const DWORD kSectionBufferStart = 65536;
const DWORD kSectionBufferLimit = 16u * 1024u * 1024u;

std::string ItemKey(int n, const char* suffix)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "Item%d%s", n, suffix);
    return buf;
}

// The key's value as the file stores it: the key reader would take off
// enclosing quotes, cut long values and expand %NAME%, and the rollback must
// write back what was there, not what it read as. False when the key is
// missing (or the file cannot be read).
bool ReadStoredValue(CHFS_Interpreter& interp, const std::string& file, const std::string& section,
                     const std::string& key, std::string& value)
{
    std::string source = file;
    std::string sourceSection = section;
    std::string tempPath;
    if (section.empty()) {
        if (interp.CreateTempINI(file, tempPath) != 0 || tempPath.empty())
            return false;
        source = tempPath;
        sourceSection = kTempSection;
    }
    std::vector<char> buffer(kSectionBufferStart);
    DWORD n = 0;
    for (;;) {
        n = KvGetProfileSection(sourceSection.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()), source);
        // A full buffer is reported as its size less two.
        if (n + 2 < buffer.size() || buffer.size() >= kSectionBufferLimit)
            break;
        buffer.assign(buffer.size() * 4, '\0');
    }
    if (!tempPath.empty())
        ::DeleteFileA(tempPath.c_str());

    for (size_t pos = 0; pos < n;) {
        std::string line(buffer.data() + pos);
        pos += line.size() + 1;
        size_t eq = line.find('=');
        std::string name = line.substr(0, eq);
        if (!name.empty() && ::lstrcmpiA(name.c_str(), key.c_str()) == 0) {
            value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
            return true;
        }
    }
    return false;
}

}  // namespace

int CHFS_UpdateINISection::GetExitCode() { return m_nExitCode; }

int CHFS_UpdateINISection::Run(const std::string& sectionName, CHFS_ItemList& list)
{
    m_nExitCode = -2000;
    SetSectionName(sectionName);
    m_pInterpreter->Log("CHFS_UpdateINISection::Run(%s)", sectionName.c_str());
    int result = 0;
    const int count = ReadCount("ItemCount", true);
    m_pInterpreter->Log("iINICount=%d", count);

    int n = 1;
    while (n <= count) {
        m_pInterpreter->AppendDetail(ReadKey(ItemKey(n, ".Description"), true) + "\r\n", 0);
        const std::string desc = ReadKey(ItemKey(n, ".Key"), true);
        m_pInterpreter->Log("strKey=%s", desc.c_str());
        if (desc == KORVEX_MISSING) {
            ++n;
            continue;
        }
        // A missing value is written as the marker text itself.
        const std::string value = ReadKey(ItemKey(n, ".Value"), true);
        m_pInterpreter->Log("strKey=%s", desc.c_str());

        std::string file, section, key;
        int r = m_pInterpreter->SpliteINIParameter(desc, file, section, key);
        m_pInterpreter->Log("result of SpliteINIParameter=%d", r);
        if (r != 0) {
            m_nExitCode = -3000;
            result = -1;
            break;
        }

        std::string previous = m_pInterpreter->ReadINIValue(file, section, key);
        std::string flags;
        if (!ReadStoredValue(*m_pInterpreter, file, section, key, previous)) {
            previous.clear();
            flags = "A";
        }
        // Recorded before the write: a write that fails half-way is undone too.
        if (list.AddItem(n, previous, flags, std::string()) != 0) {
            m_nExitCode = -3099;
            result = KVHF_USERBREAK;
            break;
        }

        r = m_pInterpreter->SetINIVariable(file, section, key, value);
        if (r != 0) {
            m_nExitCode = r == -2 ? -3002 : -3001;
            m_pInterpreter->Log("SetINIVariable Failed! ret=%d [%s]", r, desc.c_str());
            result = EventHandler(ItemKey(n, ".Error."), -1);
        } else {
            m_pInterpreter->Log("SetINIVariable Success! ret=%d [%s]", 0, desc.c_str());
            result = EventHandler(ItemKey(n, ".Success."), 0);
        }
        if (!FollowItemAnswer(result, n))
            break;
    }
    return result;
}

int CHFS_UpdateINISection::Rollback(const std::string& sectionName, CHFS_ItemList& list)
{
    SetSectionName(sectionName);
    m_pInterpreter->Log("CHFS_UpdateINISection::Rollback(%s)", sectionName.c_str());
    int result = 0;
    int n = 0;
    std::string previous, flags;
    while (list.PopItem(n, previous, flags) == 0) {
        m_pInterpreter->AppendDetail(ReadKey(ItemKey(n, ".Description"), true) + "\r\n", 1);
        const std::string desc = ReadKey(ItemKey(n, ".Key"), true);
        m_pInterpreter->Log("strKey=%s", desc.c_str());
        if (desc == KORVEX_MISSING)
            continue;
        m_pInterpreter->Log("strKey=%s", desc.c_str());

        std::string file, section, key;
        int r = m_pInterpreter->SpliteINIParameter(desc, file, section, key);
        m_pInterpreter->Log("result of SpliteINIParameter=%d", r);
        if (r != 0) {
            result = -1;
            break;
        }
        // The item is recorded before its write: when that write failed, the
        // key is still as it was and there is nothing to put back (the file
        // may be one that cannot be written at all).
        std::string current;
        const bool present = ReadStoredValue(*m_pInterpreter, file, section, key, current);
        const bool added = flags.find('A') != std::string::npos;
        if (added ? !present : present && current == previous) {
            m_pInterpreter->Log("Key '%s' in section [%s] is as it was: nothing to put back [%s]", key.c_str(),
                                section.c_str(), desc.c_str());
            continue;
        }
        // An empty write deletes the key; a key that was there empty is kept
        // with a single blank, which reads back as empty.
        if (previous.empty() && flags.find('A') == std::string::npos)
            previous = " ";
        r = m_pInterpreter->SetINIVariable(file, section, key, previous);
        if (r != 0) {
            m_pInterpreter->Log("SetINIVariable Failed! ret=%d [%s]", r, desc.c_str());
            result = -1;
            break;
        }
        m_pInterpreter->Log("SetINIVariable Success! ret=%d [%s]", 0, desc.c_str());
    }
    return result;
}
