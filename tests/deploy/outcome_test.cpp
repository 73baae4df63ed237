// The conventional code of each way a run can end, and the result document
// for what the end-to-end runs do not reach (no log, 8-bit texts).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/RunResult.h"
#include "interpreter/Section.h"
#include "util/CodePageText.h"

TEST(ConventionalExitCode, EachEndHasItsCode)
{
    struct Case {
        bool succeeded;
        int result;
        int exitCode;
        bool reboot;
        int expected;
    } cases[] = {
        {true, 0, 0, false, 0},
        {true, 3, 0, true, 3010},
        {false, KVHF_USERBREAK, -2200, false, 1602},   // a check answered with a break
        {false, KVHF_USERBREAK, -2000, false, 1602},   // a section without a code of its own
        {false, KVHF_USERBREAK, -2199, false, 1603},   // the item list was full
        {false, KVHF_USERBREAK, -3099, true, 1603},
        {false, KVHF_UNINSTALL, -2302, false, 1603},
        {false, -1, -2302, true, 1603},                // a failure is no restart, however staged
        {false, 0, 0, false, 1603},                    // an install switched to its removal
        {false, -1, -2008, false, 1603},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KvConventionalExitCode(c.succeeded, c.result, c.exitCode, c.reboot), c.expected)
            << c.result << " " << c.exitCode;
}

TEST(RunResultDocument, MissingPartsAreNullAndTextsAreUtf8)
{
    CKvRunResult r;
    r.strPatchId = "KB-caf\xE9";
    r.outcome.m_nExitCode = -2006;
    r.outcome.m_nConventionalCode = 1602;
    r.outcome.m_bRemoval = true;
    r.startTime.wYear = 2026;
    r.startTime.wMonth = 3;
    r.startTime.wDay = 7;
    r.startTime.wHour = 9;
    r.startTime.wMinute = 5;
    r.startTime.wSecond = 3;
    r.endTime = r.startTime;
    r.strLogPath = "C:\\never used.log";
    nlohmann::json j = nlohmann::json::parse(KvRunResultJson(r));
    EXPECT_EQ(j["patchId"], KvAnsiToUtf8("KB-caf\xE9"));
    EXPECT_EQ(j["action"], "remove");
    EXPECT_EQ(j["success"], false);
    EXPECT_TRUE(j["failedStep"].is_null());
    EXPECT_TRUE(j["failedSection"].is_null());
    EXPECT_TRUE(j["log"].is_null()) << "/M writes none";
    EXPECT_EQ(j["startTime"], "2026-03-07T09:05:03Z");

    // The procedure itself failed (no usable StepCount): no step, a section.
    r.outcome.m_strFailedSection = "ProductInstall.Main";
    r.bHasLog = true;
    j = nlohmann::json::parse(KvRunResultJson(r));
    EXPECT_TRUE(j["failedStep"].is_null());
    EXPECT_EQ(j["failedSection"], "ProductInstall.Main");
    EXPECT_EQ(j["log"], "C:\\never used.log");
}
