#pragma once
// What the parts of the package checker share (Checker.cpp, CheckerItems.cpp,
// CheckerSymbols.cpp, CheckerCommands.cpp, CheckerValues.cpp,
// CheckerSeal.cpp): small text helpers and the keyword lists. Internal.
#include <windows.h>

#include <string>
#include <vector>

namespace kvcheck {
namespace detail {

inline constexpr char kInstall[] = "ProductInstall.Main";
inline constexpr char kRemove[] = "ProductRemove.Main";
inline constexpr char kInstallSymbols[] = "ProductInstall.Symbols";
inline constexpr char kRemoveSymbols[] = "ProductRemove.Symbols";
inline constexpr char kPatchInfo[] = "PatchInformation";

inline std::string DomainOf(const std::string& procedure)
{
    return procedure.substr(0, procedure.find('.') + 1);
}

// The type word of a section value: the text between its first and its
// second dot, whatever the case of the procedure word.
inline std::string TypeWordOf(const std::string& value)
{
    size_t dot = value.find('.');
    if (dot == std::string::npos)
        return std::string();
    size_t next = value.find('.', dot + 1);
    return value.substr(dot + 1, next == std::string::npos ? std::string::npos : next - dot - 1);
}

inline bool IsFolder(const std::string& path)
{
    DWORD a = ::GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

inline std::string Join(const std::vector<std::string>& words)
{
    std::string out;
    for (const std::string& w : words)
        out += (out.empty() ? "" : ", ") + w;
    return out;
}

inline long long NumberOf(const std::string& digits)
{
    // Leading zeros and absurd lengths are judged by the caller; anything
    // this long is beyond every count.
    return digits.size() > 12 ? (1LL << 40) : std::stoll(digits);
}

extern const std::vector<std::string> kCopyNewFile;
extern const std::vector<std::string> kRollBackFile;
extern const std::vector<std::string> kCopyFail;
extern const std::vector<std::string> kCommandTypes;
extern const std::vector<std::string> kInputTypes;
extern const std::vector<std::string> kFileInfoKinds;
extern const std::vector<std::string> kRegTypes;

}  // namespace detail
}  // namespace kvcheck
