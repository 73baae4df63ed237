#include "sections/UpdateINISection.h"

#include <cstdio>
#include <vector>

#include "interpreter/Interpreter.h"
#include "sections/ItemAnswer.h"
#include "sections/UndoSeal.h"
#include "util/FileUtil.h"
#include "util/Profile.h"
#include "util/StrFormat.h"
#include "util/UndoId.h"

// The flags of an item: "A" the key did not exist, "S" the section did not
// either, "F" nor did the file. What the write made, the rollback removes
// again once nothing else is in it.
namespace {

const char kTempSection[] = "Korvex_TempINI";
const DWORD kSectionBufferStart = 65536;
const DWORD kSectionBufferLimit = 16u * 1024u * 1024u;
// A file larger than this holds something; it is not read to find out.
const DWORD kEmptyFileLimit = 65536;

std::string ItemKey(int n, const char* suffix)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "Item%d%s", n, suffix);
    return buf;
}

bool HasFlag(const std::string& flags, char flag)
{
    return flags.find(flag) != std::string::npos;
}

// The key's value as the file stores it: the key reader would take off
// enclosing quotes, cut long values and expand %NAME%, and the rollback must
// write back what was there, not what it read as. Names compare as the
// profile functions compare them (without case, without the blanks around
// them). False when the key is missing (or the file cannot be read).
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

    const std::string wanted = KvTrimBlanks(key);
    for (size_t pos = 0; pos < n;) {
        std::string line(buffer.data() + pos);
        pos += line.size() + 1;
        size_t eq = line.find('=');
        std::string name = KvTrimBlanks(line.substr(0, eq));
        if (!name.empty() && ::lstrcmpiA(name.c_str(), wanted.c_str()) == 0) {
            value = eq == std::string::npos ? std::string() : KvTrimBlanks(line.substr(eq + 1));
            return true;
        }
    }
    return false;
}

std::string StoredState(CHFS_Interpreter& interp, const std::string& file, const std::string& section,
                        const std::string& key)
{
    std::string value;
    return ReadStoredValue(interp, file, section, key, value) ? UndoPresent(value) : std::string(kUndoAbsent);
}

bool HasLineBreakOrNul(const std::string& text)
{
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

// What a line of an INI file cannot carry and read back as it was written:
// a line break would start lines of its own (sections and keys nobody
// asked for), '=' in a key and ']' in a section would end the name early,
// and a NUL ends the text. Null when the item can be written.
const char* UnwritablePart(const std::string& file, const std::string& section, const std::string& key,
                           const std::string& value)
{
    if (HasLineBreakOrNul(file) || HasLineBreakOrNul(section) || HasLineBreakOrNul(key))
        return "a name holds a line break or a NUL";
    if (HasLineBreakOrNul(value))
        return "the value holds a line break or a NUL";
    if (key.find('=') != std::string::npos)
        return "the key name holds '='";
    if (section.find(']') != std::string::npos)
        return "the section name holds ']'";
    return nullptr;
}

// Whether the file holds nothing but blanks and line ends.
bool HoldsNothing(const std::string& file)
{
    CHandle h(::CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!h || !::GetFileSizeEx(h.Get(), &size) || size.QuadPart > kEmptyFileLimit)
        return false;
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!bytes.empty() && (!::ReadFile(h.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr) ||
                           got != bytes.size()))
        return false;
    return bytes.find_first_not_of(" \t\r\n") == std::string::npos;
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

        // Symbols, references and user input reach these texts: one of
        // them could add lines of its own to the file.
        if (const char* why = UnwritablePart(file, section, key, value)) {
            m_nExitCode = KV_EXIT_INI_UNWRITABLE;
            m_pInterpreter->Log("*** Syntax error: %s; it can't be written to an INI file and read back, the file "
                                "is not touched [%s]",
                                why, desc.c_str());
            result = EventHandler(ItemKey(n, ".Error."), -1);
            if (!FollowItemAnswer(result, n))
                break;
            continue;
        }

        std::string previous = m_pInterpreter->ReadINIValue(file, section, key);
        std::string flags;
        if (!ReadStoredValue(*m_pInterpreter, file, section, key, previous)) {
            previous.clear();
            flags = "A";
        }
        // A relative name is the profile functions' to place: only a file
        // known by its full path is known to be new.
        if (ProfileNameIsFullPath(file) && !FileExists(file))
            flags += section.empty() ? "F" : "SF";
        else if (!section.empty() && !m_pInterpreter->FileHasINISection(file, section, true))
            flags += "S";
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
    while (result == 0 && list.PopItem(n, previous, flags) == 0) {
        m_pInterpreter->AppendDetail(ReadKey(ItemKey(n, ".Description"), true) + "\r\n", 1);
        const std::string desc = ReadKey(ItemKey(n, ".Key"), true);
        m_pInterpreter->Log("strKey=%s", desc.c_str());
        if (desc == KORVEX_MISSING) {
            m_pInterpreter->Log("*** Runtime error: CHFS_UpdateINISection::Rollback('%s'): item %d names no INI "
                                "key; it can't be undone",
                                sectionName.c_str(), n);
            result = -1;
            break;
        }
        m_pInterpreter->Log("strKey=%s", desc.c_str());

        std::string file, section, key;
        int r = m_pInterpreter->SpliteINIParameter(desc, file, section, key);
        m_pInterpreter->Log("result of SpliteINIParameter=%d", r);
        if (r != 0) {
            result = -1;
            break;
        }
        result = UndoItem(desc, file, section, key, previous, flags);
    }
    return result;
}

int CHFS_UpdateINISection::UndoItem(const std::string& desc, const std::string& file, const std::string& section,
                                    const std::string& key, std::string previous, const std::string& flags)
{
    // The item is recorded before its write: when that write failed, the
    // key is still as it was and there is nothing to put back (the file may
    // be one that cannot be written at all).
    std::string current;
    const bool present = ReadStoredValue(*m_pInterpreter, file, section, key, current);
    const bool added = HasFlag(flags, 'A');
    if (added ? !present : present && current == KvTrimBlanks(previous)) {
        m_pInterpreter->Log("Key '%s' in section [%s] is as it was: nothing to put back [%s]", key.c_str(),
                            section.c_str(), desc.c_str());
    } else {
        // An empty write deletes the key; a key that was there empty is kept
        // with a single blank, which reads back as empty.
        if (previous.empty() && !added)
            previous = " ";
        int r = m_pInterpreter->SetINIVariable(file, section, key, previous);
        if (r != 0) {
            m_pInterpreter->Log("SetINIVariable Failed! ret=%d [%s]", r, desc.c_str());
            return -1;
        }
        m_pInterpreter->Log("SetINIVariable Success! ret=%d [%s]", 0, desc.c_str());
    }

    // What the write made goes once it is empty: a section or a file that
    // someone has put something into since is theirs.
    if (HasFlag(flags, 'S') && !section.empty() && m_pInterpreter->FileHasINISection(file, section, true)) {
        char probe[4] = {0};
        if (KvGetProfileSection(section.c_str(), probe, sizeof probe, file) == 0) {
            if (!KvWriteProfileString(section.c_str(), nullptr, nullptr, file)) {
                m_pInterpreter->Log("*** Runtime error: CHFS_UpdateINISection::Rollback(): the section [%s] it "
                                    "created in '%s' can't be removed, lasterror=%d",
                                    section.c_str(), file.c_str(), static_cast<int>(::GetLastError()));
                return -1;
            }
            m_pInterpreter->Log("Section [%s] created by the item is empty: removed [%s]", section.c_str(),
                                desc.c_str());
        }
    }
    if (HasFlag(flags, 'F') && ProfileNameIsFullPath(file) && FileExists(file) && HoldsNothing(file)) {
        if (!::DeleteFileA(file.c_str())) {
            m_pInterpreter->Log("*** Runtime error: CHFS_UpdateINISection::Rollback(): the file '%s' it created "
                                "can't be deleted, lasterror=%d",
                                file.c_str(), static_cast<int>(::GetLastError()));
            return -1;
        }
        m_pInterpreter->Log("File '%s' created by the item is empty: deleted [%s]", file.c_str(), desc.c_str());
    }
    return 0;
}

void CHFS_UpdateINISection::CheckUndo(const std::string& sectionName, const CHFS_RecordItem& item,
                                      std::vector<CHFS_UndoTarget>& targets)
{
    SetSectionName(sectionName);
    const std::string desc = ReadKey(ItemKey(item.nItemIndex, ".Key"), false);
    std::string file, section, key;
    if (desc == KORVEX_MISSING || m_pInterpreter->SpliteINIParameter(desc, file, section, key) != 0)
        return;
    std::string head, left;
    SplitSeal(item.strParam3, head, left);
    const std::string current = left.empty() ? std::string() : StoredState(*m_pInterpreter, file, section, key);
    const std::string previous =
        HasFlag(item.strParam2, 'A') ? std::string(kUndoAbsent) : UndoPresent(KvTrimBlanks(item.strParam1));
    targets.push_back(JudgeUndo(KvUndoIniId(file, section, key), desc, "value", current, left, previous));
}

void CHFS_UpdateINISection::SealItem(const std::string& sectionName, CHFS_RecordItem& item)
{
    SetSectionName(sectionName);
    const std::string desc = ReadKey(ItemKey(item.nItemIndex, ".Key"), false);
    std::string file, section, key;
    if (desc == KORVEX_MISSING || m_pInterpreter->SpliteINIParameter(desc, file, section, key) != 0)
        return;
    item.strParam3 = WithSeal(std::string(), StoredState(*m_pInterpreter, file, section, key));
}
