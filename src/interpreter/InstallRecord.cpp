// The install record: the undo items of a finished installation, kept as
// REC_%d sections of the record file so that a later removal run can replay
// them.
//
// A parameter is read back raw, never through symbol expansion: what the
// handlers stored is already the final text (a saved registry or INI value
// such as %TEMP%\old must come back as written, not as the current TEMP).
//
// Texts the profile format cannot carry unchanged (line breaks and other
// control bytes, blanks at either end, enclosing quotes, the missing-key
// marker itself, byte sequences the ANSI code page cannot convert and back)
// are stored behind a marker and escaped; everything else, 8-bit text such as
// Chinese paths included, is stored as it is, so that a person or any INI
// tool can read the record. Values without the marker read exactly as they
// always did, and records whose every 8-bit byte was escaped still load.
#include <windows.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "interpreter/Interpreter.h"
#include "util/Profile.h"
#include "interpreter/ItemList.h"
#include "util/StrFormat.h"

namespace {

const char kMarker[] = "~KVESC~";
const size_t kMarkerLen = sizeof(kMarker) - 1;

bool StartsWithMarker(const std::string& v) { return v.compare(0, kMarkerLen, kMarker) == 0; }

bool IsQuote(char c) { return c == '"' || c == '\''; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The profile functions hand 8-bit text through UTF-16 and back: what the
// ANSI code page cannot convert both ways (a lone lead byte of a double-byte
// code page, say) would not come back as it was.
bool RoundTripsThroughCodePage(const std::string& v)
{
    const int n = static_cast<int>(v.size());
    int wide = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, v.data(), n, nullptr, 0);
    if (wide <= 0)
        return false;
    std::wstring w(static_cast<size_t>(wide), L'\0');
    ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, v.data(), n, &w[0], wide);
    BOOL lossy = FALSE;
    int back = ::WideCharToMultiByte(CP_ACP, 0, w.data(), wide, nullptr, 0, nullptr, &lossy);
    if (back != n || lossy)
        return false;
    std::string again(static_cast<size_t>(back), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, w.data(), wide, &again[0], back, nullptr, nullptr);
    return again == v;
}

bool NeedsEscape(const std::string& v)
{
    if (v.empty())
        return false;
    if (v == KORVEX_MISSING || StartsWithMarker(v))
        return true;
    // The profile reader strips blanks at both ends and one pair of enclosing
    // quotes; a quote at either end alone is escaped too, since readers differ
    // in how they pair them.
    if (IsBlank(v.front()) || IsBlank(v.back()) || IsQuote(v.front()) || IsQuote(v.back()))
        return true;
    bool eightBit = false;
    for (unsigned char c : v) {
        if (c < 0x20 || c == 0x7F)
            return true;
        eightBit = eightBit || c >= 0x80;
    }
    return eightBit && !RoundTripsThroughCodePage(v);
}

std::string Escape(const std::string& v)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out(kMarker);
    out.reserve(kMarkerLen + v.size() * 2);
    for (unsigned char c : v) {
        // Everything the reader might touch becomes \xHH: blanks (the ends get
        // trimmed), quotes (the ends get stripped), control and 8-bit bytes
        // (line structure, code-page conversion); the backslash escapes itself.
        if (c > 0x20 && c < 0x7F && c != '"' && c != '\'' && c != '\\') {
            out += static_cast<char>(c);
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        }
    }
    return out;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// false when the text after the marker is not a valid escape sequence.
bool Unescape(const std::string& stored, std::string& value)
{
    value.clear();
    if (!StartsWithMarker(stored))
        return false;
    for (size_t i = kMarkerLen; i < stored.size(); ++i) {
        char c = stored[i];
        if (c != '\\') {
            value += c;
            continue;
        }
        if (i + 1 >= stored.size())
            return false;
        char n = stored[i + 1];
        if (n == '\\') {
            value += '\\';
            i += 1;
        } else if (n == 'x' && i + 3 < stored.size() && HexDigit(stored[i + 2]) >= 0 &&
                   HexDigit(stored[i + 3]) >= 0) {
            value += static_cast<char>(HexDigit(stored[i + 2]) * 16 + HexDigit(stored[i + 3]));
            i += 3;
        } else {
            return false;
        }
    }
    return true;
}

// The whole stored value, however long: the record must not cut what a
// handler saved. Returns false for a missing key.
bool ReadRaw(const std::string& file, const std::string& section, const std::string& key, std::string& value)
{
    // A default that no stored text can equal after the reader's trimming
    // tells a missing key from one stored as the marker text.
    static const char kAbsent[] = "\x01\x02kv-absent\x02\x01";
    std::string buf(4096, '\0');
    for (;;) {
        DWORD n = KvGetProfileString(section.c_str(), key.c_str(), kAbsent, &buf[0],
                                             static_cast<DWORD>(buf.size()), file);
        if (n + 1 < buf.size() || buf.size() >= (1u << 24)) {
            buf.resize(n);
            break;
        }
        buf.assign(buf.size() * 4, '\0');
    }
    if (buf == kAbsent)
        return false;
    value = buf;
    return true;
}

// A whole decimal number, as the record writes them; anything else (empty,
// trailing text, beyond 32 bits) is not.
bool ParseRecordNumber(const std::string& text, int& value)
{
    if (text.empty() || text.size() > 11)
        return false;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0' || v < INT_MIN || v > INT_MAX)
        return false;
    value = static_cast<int>(v);
    return true;
}

bool SectionPresent(const std::string& file, const std::string& section)
{
    char buf[16];
    return KvGetProfileSection(section.c_str(), buf, sizeof buf, file) > 0;
}

std::string RecSection(size_t i)
{
    char buf[32];
    snprintf(buf, sizeof buf, "REC_%u", static_cast<unsigned>(i));
    return buf;
}

}  // namespace

// An empty name means the script file, as it does for every script read; it
// is resolved here once so that the raw reads and writes below, which go past
// the script reader, address the same file.
static std::string RecordPath(CHFS_Interpreter* p, const std::string& file)
{
    return file.empty() ? p->GetScriptFile() : file;
}

std::string CHFS_ItemList::RecordSectionText(const CHFS_RecordItem& it, size_t number)
{
    static const char* const keys[3] = {"Param1", "Param2", "Param3"};
    std::string text = "[" + RecSection(number) + "]\r\nSectionIndex=" + std::to_string(it.nStep) +
                       "\r\nItemIndex=" + std::to_string(it.nItemIndex) + "\r\n";
    const std::string* params[3] = {&it.strParam1, &it.strParam2, &it.strParam3};
    for (int k = 0; k < 3; ++k) {
        const std::string& v = *params[k];
        // An empty value is no key at all, as the per-key writer leaves it.
        if (!v.empty())
            text += std::string(keys[k]) + "=" + (NeedsEscape(v) ? Escape(v) : v) + "\r\n";
    }
    return text;
}

int CHFS_ItemList::SaveRecord(CHFS_Interpreter* p, const std::string& recordFile)
{
    if (!p)
        return -1;
    const std::string file = RecordPath(p, recordFile);
    static const char* const keys[3] = {"Param1", "Param2", "Param3"};

    // One write per key rewrites the file every time: thousands of items took
    // minutes. The sections are appended in one write instead, unless the file
    // already holds REC_ sections (a script that is itself a record), which
    // only the per-key writer updates in place.
    if (!p->FileHasINISection(file, "REC_")) {
        std::string text = "[REC_0]\r\nTotalCount=" + std::to_string(m_items.size()) + "\r\n";
        for (size_t i = 0; i < m_items.size(); ++i)
            text += RecordSectionText(m_items[i], i + 1);
        if (p->AppendINISections(file, text) != 0) {
            p->Log("*** Runtime error: CHFS_ItemList::SaveRecord('%s') could not write every item!", file.c_str());
            return -2;
        }
        return 0;
    }

    int failed = 0;
    char num[32];
    snprintf(num, sizeof num, "%u", static_cast<unsigned>(m_items.size()));
    if (p->SetINIVariable(file, "REC_0", "TotalCount", num) != 0)
        failed = 1;
    for (size_t i = 0; i < m_items.size(); ++i) {
        const CHFS_RecordItem& it = m_items[i];
        std::string sec = RecSection(i + 1);
        snprintf(num, sizeof num, "%d", it.nStep);
        if (p->SetINIVariable(file, sec, "SectionIndex", num) != 0)
            failed = 1;
        snprintf(num, sizeof num, "%d", it.nItemIndex);
        if (p->SetINIVariable(file, sec, "ItemIndex", num) != 0)
            failed = 1;
        const std::string* params[3] = {&it.strParam1, &it.strParam2, &it.strParam3};
        for (int k = 0; k < 3; ++k) {
            const std::string& v = *params[k];
            if (p->SetINIVariable(file, sec, keys[k], NeedsEscape(v) ? Escape(v) : v) != 0)
                failed = 1;
        }
    }
    if (failed) {
        // The writer has logged each failed key; a record with holes would
        // restore wrong values later, so the caller must know.
        p->Log("*** Runtime error: CHFS_ItemList::SaveRecord('%s') could not write every item!", file.c_str());
        return -2;
    }
    return 0;
}

int CHFS_ItemList::LoadRecord(CHFS_Interpreter* p, const std::string& recordFile, bool journal)
{
    if (!p)
        return -1;
    const std::string file = RecordPath(p, recordFile);
    int total = 0;
    if (journal) {
        // A journal says how many entries it holds only by holding them.
        while (total < (1 << 20) && SectionPresent(file, RecSection(static_cast<size_t>(total) + 1)))
            ++total;
    } else {
        // A record whose count is missing or is no count at all cannot say
        // what it should undo: that is a damaged record, never an empty one.
        std::string count;
        if (!ReadRaw(file, "REC_0", "TotalCount", count) || !ParseRecordNumber(count, total) || total < 0 ||
            total > static_cast<int>(MAX_ITEMS)) {
            p->Log("*** Runtime error: CHFS_ItemList::LoadRecord('%s') [REC_0] TotalCount='%s' is no count of "
                   "items, nothing loaded!",
                   file.c_str(), count.c_str());
            return -2;
        }
    }
    // Items are decoded into a side list first: a record that turns out to be
    // damaged must load nothing rather than undo with half its data.
    std::vector<CHFS_RecordItem> loaded;
    // Journal notes stand only until the next entry: by then the section
    // that wrote them has recorded their content as items of its own.
    std::vector<CHFS_RecordItem> notes;
    size_t room = m_items.size() < MAX_ITEMS ? MAX_ITEMS - m_items.size() : 0;
    for (int i = 1; i <= total && loaded.size() < room; ++i) {
        std::string sec = RecSection(static_cast<size_t>(i));
        std::string pop;
        if (journal && ReadRaw(file, sec, "Pop", pop)) {
            notes.clear();
            if (!loaded.empty())
                loaded.pop_back();
            continue;
        }
        std::string note;
        const bool isNote = journal && ReadRaw(file, sec, "Note", note);
        if (!SectionPresent(file, sec)) {
            // The count promises more than the file holds: a record cut short
            // (a failed write, a damaged copy) is not replayed in part.
            p->Log("*** Runtime error: CHFS_ItemList::LoadRecord('%s') section '%s' of %d is missing, nothing "
                   "loaded!",
                   file.c_str(), sec.c_str(), total);
            return -2;
        }
        CHFS_RecordItem item;
        std::string step, index;
        if (!ReadRaw(file, sec, "SectionIndex", step) || !ParseRecordNumber(step, item.nStep) || item.nStep < 1 ||
            !ReadRaw(file, sec, "ItemIndex", index) || !ParseRecordNumber(index, item.nItemIndex)) {
            if (journal && i == total) {
                // The entry being written when the run was ended: the change
                // it announces had not begun.
                p->Log("CHFS_ItemList::LoadRecord('%s') the last entry '%s' was not written whole; ignored",
                       file.c_str(), sec.c_str());
                break;
            }
            p->Log("*** Runtime error: CHFS_ItemList::LoadRecord('%s') section '%s' names no step or item "
                   "(SectionIndex='%s', ItemIndex='%s'), nothing loaded!",
                   file.c_str(), sec.c_str(), step.c_str(), index.c_str());
            return -2;
        }
        std::string* params[3] = {&item.strParam1, &item.strParam2, &item.strParam3};
        static const char* keys[3] = {"Param1", "Param2", "Param3"};
        bool torn = false;
        for (int k = 0; k < 3 && !torn; ++k) {
            p->Log("Read item from file '%s'!", file.c_str());
            std::string raw;
            if (!ReadRaw(file, sec, keys[k], raw) || raw == KORVEX_MISSING)
                continue;  // missing reads as empty, as it always has
            if (StartsWithMarker(raw)) {
                if (!Unescape(raw, *params[k])) {
                    if (journal && i == total) {
                        torn = true;
                        break;
                    }
                    p->Log("*** Runtime error: CHFS_ItemList::LoadRecord('%s') damaged value of '%s' in section "
                           "'%s', nothing loaded!",
                           file.c_str(), keys[k], sec.c_str());
                    return -2;
                }
            } else {
                *params[k] = raw;
            }
        }
        if (torn)
            break;
        if (journal && !isNote)
            notes.clear();
        (isNote ? notes : loaded).push_back(item);
    }
    for (const CHFS_RecordItem& it : notes) {
        if (loaded.size() >= room)
            break;
        loaded.push_back(it);
    }
    for (const CHFS_RecordItem& it : loaded) {
        SetStep(it.nStep);
        AddItem(it.nItemIndex, it.strParam1, it.strParam2, it.strParam3);
    }
    return 0;
}
