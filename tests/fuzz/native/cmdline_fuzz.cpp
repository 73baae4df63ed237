// The command line: arguments separated by NUL bytes, through the same
// letter rules the application object uses.
#include <cstdint>
#include <vector>

#include "FuzzCheck.h"
#include "app/SwitchLetters.h"

namespace {

struct CFlags {
    int m_bZenta = 0;
    int m_bSilent = 0;
    int m_bTrace = 0;
    int m_bUninstall = 0;
    std::string m_strRecordFile;
    int m_bKeepRecord = 0;
    int m_bPrintErrorCode = 0;
    int m_bExitCode = 0;
    int m_bNoLog = 0;
    int m_bRemoteProgress = 0;
    int m_bAllowSecondInstance = 0;
    std::string m_strLogFile;
    std::string m_strResultFile;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> args(1, "Korvex.exe");
    std::string cur;
    for (size_t i = 0; i < size && args.size() < 64; ++i) {
        if (data[i] == 0) {
            args.push_back(cur);
            cur.clear();
        } else {
            cur += static_cast<char>(data[i]);
        }
    }
    args.push_back(cur);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);

    CFlags flags;
    bool silentSeen = false;
    KvForEachArgument(static_cast<int>(args.size()), argv.data(), [&](const char* param, bool, bool) {
        bool silentBefore = flags.m_bSilent != 0;
        int printBefore = flags.m_bPrintErrorCode, exitBefore = flags.m_bExitCode;
        KvApplySwitchLetter(flags, param);
        if (!silentBefore) {
            KV_FUZZ_CHECK(flags.m_bPrintErrorCode == printBefore && flags.m_bExitCode == exitBefore,
                          "/E and /G count only after /S or /C");
        }
        silentSeen = silentSeen || flags.m_bSilent;
    });
    KV_FUZZ_CHECK(flags.m_bUninstall || flags.m_strRecordFile.empty(), "a record file without /U");
    KV_FUZZ_CHECK(silentSeen || (!flags.m_bExitCode && !flags.m_bPrintErrorCode), "/G or /E without /S");
    return 0;
}
