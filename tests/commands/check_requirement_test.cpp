// The CheckRequirement section: the four kinds of check, what the progress
// pane shows, and how the script's answers continue, retry or stop.
#include "../services/TestServices.h"
#include "CommandsFixture.h"
#include "interpreter/ProgramTexts.h"
#include "sections/CheckVersionSection.h"

namespace {

const char kSec[] = "ProductInstall.CheckRequirement.Pre";

struct Case {
    std::string keys;  // of check 1
    int exitCode;      // -2000: passed
    const char* logged;
};

class CheckRequirementTest : public CommandsTest {
protected:
    int Checks(const std::string& keys)
    {
        Script(std::string("[") + kSec + "]\r\n" + keys);
        cb.logLines.clear();
        cb.details.clear();
        cb.detailRollback.clear();
        section.reset(new CHFS_CheckVersionSection(interp.get()));
        return section->Run(kSec, list);
    }
    void Expect(const std::vector<Case>& cases)
    {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.keys);
            // Without event keys a failed check ends the section with its -1.
            EXPECT_EQ(c.exitCode == -2000 ? 0 : -1, Checks("CheckCount=1\r\n" + c.keys));
            EXPECT_EQ(c.exitCode, section->GetExitCode());
            if (c.logged[0]) {
                EXPECT_TRUE(Logged(c.logged)) << cb.LogText();
            }
        }
    }
    std::unique_ptr<CHFS_CheckVersionSection> section;
};

}  // namespace

TEST_F(CheckRequirementTest, NumbersCompareByMainPartThenSubPart)
{
    std::vector<Case> cases = {
        {"Check1.Number=5.0.2195\r\nCheck1.Number.Min=5.0.2195\r\nCheck1.Number.Max=5.2\r\n", -2000, ""},
        {"Check1.Number=5.0.2195\r\nCheck1.Number.Min=5.0.2600\r\nCheck1.Number.Max=5.2\r\n", -2200,
         "CheckNumberMin(Min='5.0.2600',value='5.0.2195') failed!"},
        // Only a minimum: no maximum applies.
        {"Check1.Number=99.1\r\nCheck1.Number.Min=5\r\n", -2000, ""},
        {"Check1.Number=10\r\nCheck1.Number.Max=9.9\r\n", -2201, "CheckNumberMax(Max='9.9',value='10') failed!"},
        // 5.0 and 5 are equal, 5.10 reads 5.1; the sub-part counts after the main part.
        {"Check1.Number=5\r\nCheck1.Number.Min=5.0\r\nCheck1.Number.Max=5.0\r\n", -2000, ""},
        {"Check1.Number=5.10\r\nCheck1.Number.Min=5.1\r\nCheck1.Number.Max=5.1\r\n", -2000, ""},
        {"Check1.Number=5.1.9\r\nCheck1.Number.Max=5.1.10\r\n", -2000, ""},
        {"Check1.Number=5.1.11\r\nCheck1.Number.Max=5.1.10\r\n", -2201, ""},
        {"Check1.Number=6.0.1\r\nCheck1.Number.Max=5.9.99999\r\n", -2201, ""},
        // Text that is no number reads as 0; so does hexadecimal or "inf".
        {"Check1.Number=abc\r\nCheck1.Number.Min=0\r\nCheck1.Number.Max=0.0.0\r\n", -2000, ""},
        {"Check1.Number=0x10\r\nCheck1.Number.Max=1\r\n", -2000, ""},
        {"Check1.Number=inf\r\nCheck1.Number.Max=1\r\n", -2000, ""},
        {"Check1.Number=-1\r\nCheck1.Number.Min=0\r\n", -2200, ""},
        // Number comes first: the string keys are not looked at.
        {"Check1.Number=1\r\nCheck1.String=x\r\nCheck1.String.List=y\r\n", -2000, ""},
    };
    Expect(cases);
}

TEST_F(CheckRequirementTest, StringMustBeAnExactListEntry)
{
    std::vector<Case> cases = {
        {"Check1.String=SP2\r\nCheck1.String.List=SP1,SP2,SP3\r\n", -2000, ""},
        {"Check1.String=SP\r\nCheck1.String.List=SP1,SP2,SP3\r\n", -2202,
         "CheckString(list=',SP1,SP2,SP3,',value=',SP,') failed!"},
        {"Check1.String=sp2\r\nCheck1.String.List=SP1,SP2,SP3\r\n", -2202, ""},
        {"Check1.String=b\r\nCheck1.String.List=a, b\r\n", -2202, ""},
        {"Check1.String=SP1,SP2\r\nCheck1.String.List=SP1,SP2,SP3\r\n", -2000, ""},
        {"Check1.String=\r\nCheck1.String.List=a,,b\r\n", -2000, ""},
    };
    Expect(cases);
}

TEST_F(CheckRequirementTest, DiskSpace)
{
    std::vector<Case> cases = {
        // No size: nothing is asked of the disk, even for a path that is none.
        {"Check1.DiskSpace=Q:\\no\\such\\disk\r\n", -2000, ""},
        {"Check1.DiskSpace=" + work + "\r\nCheck1.DiskSpace.SizeMB=1\r\n", -2000, ""},
        {"Check1.DiskSpace=" + work + "\r\nCheck1.DiskSpace.SizeMB=0\r\n", -2000, ""},
        {"Check1.DiskSpace=" + work + "\r\nCheck1.DiskSpace.SizeMB=2147483647\r\n", -2203,
         ""},
        // A negative size is never met.
        {"Check1.DiskSpace=" + work + "\r\nCheck1.DiskSpace.SizeMB=-1\r\n", -2203, ""},
        {"Check1.DiskSpace=" + work + "\\no\\such\\folder\r\nCheck1.DiskSpace.SizeMB=1\r\n", -2203,
         ""},
    };
    Expect(cases);
    EXPECT_TRUE(Logged("CheckDiskSpaceMB('" + work + "\\no\\such\\folder',1) failed!"));
    EXPECT_EQ(-2, section->CheckDiskSpaceMB(work + "\\no\\such\\folder", 0));
    EXPECT_EQ(1, section->CheckDiskSpaceMB(work, 0));
}

TEST_F(CheckRequirementTest, ProcessMustNotRun)
{
    kvsvc::CWaiters w(dir, "kvcr_proc.exe");
    ASSERT_TRUE(w.Start(60000));
    std::vector<Case> running = {
        {"Check1.ProcessStopped=KVCR_PROC.EXE\r\n", -2204, "CheckIfProcessStoppedOrAbsent('KVCR_PROC.EXE') not stopped"},
        {"Check1.ProcessStopped=kvcr_proc\r\n", -2000, ""},
        {"Check1.ProcessStopped=kvcr_none.exe\r\n", -2000, ""},
    };
    Expect(running);
    w.StopAll();
    ASSERT_TRUE(w.WaitEnded(0, 10000));
    Expect({{"Check1.ProcessStopped=kvcr_proc.exe\r\n", -2000, ""}});
}

TEST_F(CheckRequirementTest, RetryRunsTheCheckAgainAfterTheUserFixedIt)
{
    MakeInterpreter(false);
    kvsvc::CWaiters w(dir, "kvcr_retry.exe");
    ASSERT_TRUE(w.Start(60000));
    // The user ends the program, then presses Retry; a second question
    // would be answered Cancel.
    cb.onAsk = [&w] {
        w.StopAll();
        w.WaitEnded(0, 10000);
    };
    cb.answers = {IDRETRY, IDCANCEL};
    EXPECT_EQ(0, Checks("CheckCount=1\r\nCheck1.Description=Mail filter stopped\r\n"
                        "Check1.ProcessStopped=kvcr_retry.exe\r\n"
                        "Check1.Error.AskRetryCancel=Close the mail filter\r\n"
                        "Check1.Error.Retry=KVHF_RETRY\r\nCheck1.Error.Cancel=KVHF_USERBREAK\r\n"));
    EXPECT_EQ(1u, cb.messages.size());
    // The failure's code stays although the second try passed.
    EXPECT_EQ(-2204, section->GetExitCode());
    std::vector<std::string> expected = {"Mail filter stopped",
                                         " - kvcr_retry.exe (" + interp->Text(IDS_FAILURE) + ")\r\n",
                                         "Mail filter stopped", " - kvcr_retry.exe\r\n"};
    EXPECT_EQ(expected, cb.details);
    EXPECT_TRUE(Logged("EventHandler('Check1.Error.',OldRet=-1)"));
    EXPECT_TRUE(Logged("EventHandler('Check1.Success.',OldRet=0)"));
}

TEST_F(CheckRequirementTest, FailureMessagesAndAnswers)
{
    EXPECT_EQ(0, Checks("CheckCount=4\r\n"
                        "Check1.Description=One\r\nCheck1.String=a\r\nCheck1.String.List=b\r\n"
                        "Check1.Error.Action=KVHF_CONTINUE\r\n"
                        "Check2.Description=Two\r\nCheck2.String=a\r\nCheck2.String.List=b\r\n"
                        "Check2.CustomizedFailureMsg=\r\nCheck2.Error.Default=KVHF_CONTINUE\r\n"
                        "Check3.Description=Three\r\nCheck3.Number=1\r\nCheck3.Number.Max=0\r\n"
                        "Check3.CustomizedFailureMsg=Too new\r\nCheck3.Error.Action=KVHF_CONTINUE\r\n"
                        "Check4.Description=Four\r\nCheck4.String=b\r\nCheck4.String.List=b\r\n"));
    std::vector<std::string> expected = {"One",   " - a (" + interp->Text(IDS_FAILURE) + ")\r\n",
                                         "Two",   " - a\r\n",
                                         "Three", " - 1 (Too new)\r\n",
                                         "Four",  " - b\r\n"};
    EXPECT_EQ(expected, cb.details);
    EXPECT_EQ(-2201, section->GetExitCode());

    // A success answer that stops ends the section with it; a jump too.
    EXPECT_EQ(-300, Checks("CheckCount=2\r\nCheck1.String=b\r\nCheck1.String.List=b\r\n"
                           "Check1.Success.Action=KVHF_USERBREAK\r\nCheck2.Number=1\r\nCheck2.Number.Max=0\r\n"));
    EXPECT_EQ(-2000, section->GetExitCode());
    EXPECT_EQ(4, Checks("CheckCount=2\r\nCheck1.String=b\r\nCheck1.String.List=c\r\n"
                        "Check1.Error.Action=KVHF_GOTOSTEP(4)\r\nCheck2.Number=1\r\nCheck2.Number.Max=0\r\n"));
    EXPECT_EQ(-2202, section->GetExitCode());
}

TEST_F(CheckRequirementTest, CheckWithoutValueKeysIsAScriptError)
{
    EXPECT_EQ(-1, Checks("CheckCount=3\r\nCheck1.String=b\r\nCheck1.String.List=b\r\n"
                         "Check2.Description=Nothing\r\nCheck2.Error.Action=KVHF_CONTINUE\r\n"
                         "Check3.Number=1\r\nCheck3.Number.Max=0\r\n"));
    EXPECT_EQ(-2205, section->GetExitCode());
    EXPECT_TRUE(Logged("*** Syntax error : Check item 2 not found !"));
    EXPECT_FALSE(Logged("EventHandler('Check2."));
    EXPECT_FALSE(Logged("CheckNumberMax"));

    EXPECT_EQ(0, Checks("Check1.Number=1\r\nCheck1.Number.Max=0\r\n"));
    EXPECT_EQ(-2000, section->GetExitCode());
    EXPECT_EQ(0, section->Rollback(kSec, list));
}
