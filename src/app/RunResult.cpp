#include "app/RunResult.h"

#include <nlohmann/json.hpp>

#include "util/CodePageText.h"
#include "util/FileUtil.h"
#include "util/StrFormat.h"

std::string KvIsoUtcTime(const SYSTEMTIME& utc)
{
    return KvFormat("%04u-%02u-%02uT%02u:%02u:%02uZ", static_cast<unsigned>(utc.wYear),
                    static_cast<unsigned>(utc.wMonth), static_cast<unsigned>(utc.wDay),
                    static_cast<unsigned>(utc.wHour), static_cast<unsigned>(utc.wMinute),
                    static_cast<unsigned>(utc.wSecond));
}

std::string KvRunResultJson(const CKvRunResult& result)
{
    const CHFS_RunOutcome& o = result.outcome;
    nlohmann::ordered_json doc;
    doc["patchId"] = KvAnsiToUtf8(result.strPatchId);
    doc["action"] = o.m_bRemoval ? "remove" : "install";
    doc["exitCode"] = o.m_nExitCode;
    doc["conventionalExitCode"] = o.m_nConventionalCode;
    doc["success"] = o.m_bSuccess;
    doc["rebootRequired"] = o.m_bRebootRequired;
    doc["failedStep"] = o.m_nFailedStep > 0 ? nlohmann::ordered_json(o.m_nFailedStep) : nlohmann::ordered_json();
    doc["failedSection"] = o.m_strFailedSection.empty() ? nlohmann::ordered_json()
                                                         : nlohmann::ordered_json(KvAnsiToUtf8(o.m_strFailedSection));
    doc["startTime"] = KvIsoUtcTime(result.startTime);
    doc["endTime"] = KvIsoUtcTime(result.endTime);
    doc["log"] = result.bHasLog ? nlohmann::ordered_json(KvAnsiToUtf8(result.strLogPath)) : nlohmann::ordered_json();
    doc["korvexVersion"] = result.strVersion;
    // A byte the code page could not map must not cost the whole document.
    return doc.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string KvProgramVersion()
{
    char path[MAX_PATH + 1] = {0};
    DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    WORD v[4] = {0, 0, 0, 0};
    if (n == 0 || n >= MAX_PATH || !GetFileVersionNumbers(std::string(path, n), v))
        return std::string();
    return KvFormat("%u.%u.%u.%u", v[0], v[1], v[2], v[3]);
}
