#include "sections/RegistryValue.h"
#include "sections/ScriptNumbers.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "util/StrFormat.h"

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

LONG ReadStoredRegValue(HKEY key, const std::string& name, DWORD& type, std::string& bytes)
{
    std::vector<BYTE> buffer(kReaderBufferSize);
    // A value that grows between two calls only makes another round.
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD size = static_cast<DWORD>(buffer.size());
        LONG ret = ::RegQueryValueExA(key, name.c_str(), nullptr, &type, buffer.data(), &size);
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
