#include "sections/RegistryValue.h"
#include "sections/ScriptNumbers.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "interpreter/Interpreter.h"
#include "sections/UndoSeal.h"
#include "util/CodePageText.h"
#include "util/Sha256.h"
#include "util/StrFormat.h"
#include "util/UndoId.h"
#include "util/WinHandles.h"

namespace {

// The value reader of the variable references takes at most this many bytes.
const size_t kReaderBufferSize = 4096;

}  // namespace

REGSAM RegSectionAccess(int b64BitView)
{
    return KEY_ALL_ACCESS | (b64BitView ? KEY_WOW64_64KEY : 0);
}

std::string RegItemKey(int n, const char* suffix)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "Reg%d%s", n, suffix);
    return buf;
}

namespace {

// Queries a value into a buffer that grows as the value asks; a value that
// grows between two calls only makes another round.
template <typename Query>
LONG QueryGrowing(Query query, std::string& bytes)
{
    std::vector<BYTE> buffer(kReaderBufferSize);
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD size = static_cast<DWORD>(buffer.size());
        LONG ret = query(buffer.data(), &size);
        if (ret == ERROR_SUCCESS) {
            bytes.assign(reinterpret_cast<const char*>(buffer.data()), size);
            return ret;
        }
        if (ret != ERROR_MORE_DATA)
            return ret;
        buffer.resize(size > buffer.size() ? size : buffer.size() * 2);
    }
    return ERROR_MORE_DATA;
}

}  // namespace

LONG ReadStoredRegValue(HKEY key, const std::string& name, DWORD& type, std::string& bytes)
{
    return QueryGrowing(
        [&](BYTE* data, DWORD* size) { return ::RegQueryValueExA(key, name.c_str(), nullptr, &type, data, size); },
        bytes);
}

bool RegValueRestorable(DWORD storedType, const std::string& bytes, DWORD asType)
{
    if (storedType != asType)
        return false;
    if (asType == REG_DWORD)
        return bytes.size() == sizeof(DWORD);
    if (asType != REG_SZ)
        return false;
    size_t nul = bytes.find('\0');
    size_t length = nul == std::string::npos ? bytes.size() : nul;
    if (length + 1 > kReaderBufferSize)
        return false;
    for (size_t i = length; i < bytes.size(); ++i)
        if (bytes[i] != '\0')
            return false;
    return true;
}

namespace {

bool TextFitsCodePage(HKEY key, const std::string& name)
{
    if (::GetACP() == CP_UTF8)
        return true;
    int wideLength = ::MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, nullptr, 0);
    if (wideLength <= 0)
        return false;
    std::vector<wchar_t> wideName(static_cast<size_t>(wideLength));
    ::MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, wideName.data(), wideLength);
    DWORD size = 0;
    if (::RegQueryValueExW(key, wideName.data(), nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return false;
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = size;
    if (::RegQueryValueExW(key, wideName.data(), nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()), &got) !=
        ERROR_SUCCESS)
        return false;
    int length = static_cast<int>(wcsnlen(text.data(), got / sizeof(wchar_t)));
    if (length == 0)
        return true;
    BOOL lost = FALSE;
    if (::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), length, nullptr, 0, nullptr, &lost) <= 0)
        return false;
    return !lost;
}

}  // namespace

bool RegStoredValueRestorable(HKEY key, const std::string& name, DWORD storedType, const std::string& bytes,
                              DWORD asType)
{
    if (!RegValueRestorable(storedType, bytes, asType))
        return false;
    return asType != REG_SZ || TextFitsCodePage(key, name);
}

std::string RegValueText(DWORD type, const std::string& bytes)
{
    if (type == REG_DWORD) {
        DWORD number = 0;
        std::memcpy(&number, bytes.data(), bytes.size() < sizeof number ? bytes.size() : sizeof number);
        return KvFormat("%d", static_cast<int>(number));
    }
    return bytes.substr(0, bytes.find('\0'));
}

DWORD RegDecimalDword(const std::string& text) { return KvDecimalDword(text); }

bool ReadRegItemPlace(CHFS_Section& section, CHFS_Interpreter& interp, int n, CRegItemPlace& place)
{
    place.desc = section.ReadKey(RegItemKey(n, ".Key"), false);
    if (place.desc == KORVEX_MISSING)
        return false;
    return interp.SpliteRegParameter(place.desc, place.type, place.root, place.path, place.name, place.b64) == 0;
}

namespace {

REGSAM ReadAccess(int b64) { return KEY_QUERY_VALUE | (b64 ? KEY_WOW64_64KEY : 0); }

std::string TypeName(DWORD type)
{
    if (type == REG_SZ)
        return "REG_SZ";
    if (type == REG_DWORD)
        return "REG_DWORD";
    return KvFormat("type %lu", static_cast<unsigned long>(type));
}

// A string as stored, in UTF-16, as the code page's text when it converts
// both ways and holds nothing after its terminating NUL.
bool NarrowString(const std::string& raw, std::string& text)
{
    if (raw.size() % sizeof(wchar_t) != 0)
        return false;
    std::wstring wide(raw.size() / sizeof(wchar_t), L'\0');
    if (!raw.empty())
        memcpy(&wide[0], raw.data(), raw.size());
    size_t nul = wide.find(L'\0');
    if (nul != std::wstring::npos) {
        if (wide.find_first_not_of(L'\0', nul) != std::wstring::npos)
            return false;
        wide.resize(nul);
    }
    text = KvNarrow(CP_ACP, wide);
    return KvWiden(CP_ACP, text) == wide;
}

std::string ContentOf(DWORD type, const std::string& raw)
{
    if (type == REG_DWORD && raw.size() == sizeof(DWORD))
        return "REG_DWORD:" + RegValueText(REG_DWORD, raw);
    std::string text;
    if (type == REG_SZ && NarrowString(raw, text))
        return "REG_SZ:" + text;
    return TypeName(type) + "#" + CKvSha256::HexOf(raw.data(), raw.size());
}

}  // namespace

LONG RegValueState(HKEY root, const std::string& path, const std::string& name, int b64, std::string& state)
{
    state.clear();
    CRegKey key;
    LONG ret = ::RegOpenKeyExA(root, path.c_str(), 0, ReadAccess(b64), key.Put());
    if (ret != ERROR_SUCCESS) {
        key.Release();
        if (ret == ERROR_FILE_NOT_FOUND)
            state = kUndoAbsent;
        return ret == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : ret;
    }
    // The name as the 8-bit functions would take it; one the code page
    // cannot convert names no value those functions could reach.
    const std::wstring wideName = KvWiden(CP_ACP, name);
    if (!name.empty() && wideName.empty())
        return ERROR_NO_UNICODE_TRANSLATION;
    DWORD type = 0;
    std::string raw;
    ret = QueryGrowing(
        [&](BYTE* data, DWORD* size) {
            return ::RegQueryValueExW(key.Get(), wideName.c_str(), nullptr, &type, data, size);
        },
        raw);
    if (ret == ERROR_FILE_NOT_FOUND) {
        state = kUndoAbsent;
        return ERROR_SUCCESS;
    }
    if (ret == ERROR_SUCCESS)
        state = UndoPresent(ContentOf(type, raw));
    return ret;
}

std::string RegKeyPresentState()
{
    return UndoPresent("key");
}

LONG RegKeyState(HKEY root, const std::string& path, int b64, std::string& state)
{
    CRegKey key;
    LONG ret = ::RegOpenKeyExA(root, path.c_str(), 0, ReadAccess(b64), key.Put());
    if (ret != ERROR_SUCCESS)
        key.Release();
    if (ret == ERROR_FILE_NOT_FOUND) {
        state = kUndoAbsent;
        return ERROR_SUCCESS;
    }
    state = ret == ERROR_SUCCESS ? RegKeyPresentState() : std::string();
    return ret;
}

std::string RegStateOfText(DWORD type, const std::string& text)
{
    if (type == REG_DWORD) {
        DWORD number = RegDecimalDword(text);
        return UndoPresent("REG_DWORD:" + RegValueText(REG_DWORD, std::string(reinterpret_cast<const char*>(&number),
                                                                               sizeof number)));
    }
    return UndoPresent("REG_SZ:" + text);
}

CHFS_UndoTarget RegValueUndo(const CRegItemPlace& place, const std::string& name, const std::string& left,
                             const std::string& previous)
{
    const std::string id = KvUndoRegId(place.root, place.path, place.b64, name, false);
    const std::string shown = name == place.name ? place.desc : place.desc + " (value '" + name + "')";
    if (left.empty())
        return JudgeUndo(id, shown, "value", std::string(), left, previous);
    std::string current;
    LONG ret = RegValueState(place.root, place.path, name, place.b64, current);
    if (ret != ERROR_SUCCESS)
        return UnreadableUndo(id, shown, "value", ret);
    return JudgeUndo(id, shown, "value", current, left, previous);
}

CHFS_UndoTarget RegKeyUndo(const CRegItemPlace& place, const std::string& left)
{
    const std::string id = KvUndoRegId(place.root, place.path, place.b64, std::string(), true);
    if (left.empty())
        return JudgeUndo(id, place.desc, "key", std::string(), left, RegKeyPresentState());
    std::string current;
    LONG ret = RegKeyState(place.root, place.path, place.b64, current);
    if (ret != ERROR_SUCCESS)
        return UnreadableUndo(id, place.desc, "key", ret);
    return JudgeUndo(id, place.desc, "key", current, left, RegKeyPresentState());
}

std::string RegParentPath(const std::string& path)
{
    std::string p = path;
    while (!p.empty() && p.back() == '\\')
        p.pop_back();
    size_t slash = p.rfind('\\');
    if (slash == std::string::npos)
        return std::string();
    p.resize(slash);
    while (!p.empty() && p.back() == '\\')
        p.pop_back();
    return p;
}

int RegMissingLevels(HKEY root, const std::string& path, int b64)
{
    int levels = 0;
    for (std::string p = path; !p.empty(); p = RegParentPath(p)) {
        CRegKey key;
        LONG ret = ::RegOpenKeyExA(root, p.c_str(), 0, ReadAccess(b64), key.Put());
        if (ret != ERROR_SUCCESS)
            key.Release();
        // A level that is there, or that cannot be looked into, is not made.
        if (ret != ERROR_FILE_NOT_FOUND)
            break;
        ++levels;
    }
    return levels;
}
