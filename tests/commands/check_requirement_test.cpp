// The CheckRequirement section: the four kinds of check, what the progress
// pane shows, and how the script's answers continue, retry or stop.
#include "../services/TestServices.h"
#include "CommandsFixture.h"
#include "interpreter/ProgramTexts.h"
#include "sections/CheckVersionSection.h"

namespace {

const char kSec[] = "ProductInstall.CheckRequirement.Pre";

class CheckRequirementTest : public CommandsTest {
protected:
    int Checks(const std::string& keys)
    {
        Script(std::string("[") + kSec + "]\r\n" + keys);
        cb.logLines.clear();
        cb.details.clear();
        section.reset(new CHFS_CheckVersionSection(interp.get()));
        return section->Run(kSec, list);
    }
    std::string Failed(const std::string& value) const
    {
        return " - " + value + " (" + interp->Text(IDS_FAILURE) + ")\r\n";
    }
    std::unique_ptr<CHFS_CheckVersionSection> section;
};

}  // namespace

TEST_F(CheckRequirementTest, EachKindOfCheck)
{
    kvsvc::CWaiters w(dir, "kvcr_proc.exe");
    ASSERT_TRUE(w.Start(60000));
    const std::string disk = "Check1.DiskSpace=" + work + "\r\nCheck1.DiskSpace.SizeMB=";
    struct Case {
        std::string keys;  // of check 1
        int exitCode;      // -2000: passed
        const char* logged;
    } cases[] = {
        {"Number=5.0.2195\r\nCheck1.Number.Min=5.0.2195\r\nCheck1.Number.Max=5.2", -2000, ""},
        {"Number=5.0.2195\r\nCheck1.Number.Min=5.0.2600\r\nCheck1.Number.Max=5.2", -2200,
         "CheckNumberMin(Min='5.0.2600',value='5.0.2195') failed!"},
        {"Number=99\r\nCheck1.Number.Min=5", -2000, ""},
        {"Number=10\r\nCheck1.Number.Max=9.9", -2201, "CheckNumberMax(Max='9.9',value='10') failed!"},
        {"Number=5.10\r\nCheck1.Number.Min=5.1\r\nCheck1.Number.Max=5", -2201, ""},
        {"Number=5.1.11\r\nCheck1.Number.Max=5.1.10", -2201, ""},
        // No number reads as 0, hexadecimal and "inf" included.
        {"Number=0x10\r\nCheck1.Number.Max=0.0.0", -2000, ""},
        {"Number=inf\r\nCheck1.Number.Max=0", -2000, ""},
        {"Number=1\r\nCheck1.String=x\r\nCheck1.String.List=y", -2000, ""},
        {"String=SP2\r\nCheck1.String.List=SP1,SP2,SP3", -2000, ""},
        {"String=SP\r\nCheck1.String.List=SP1,SP2,SP3", -2202, "CheckString(list=',SP1,SP2,SP3,',value=',SP,') failed!"},
        {"String=sp2\r\nCheck1.String.List=SP1,SP2,SP3", -2202, ""},
        {"String=b\r\nCheck1.String.List=a, b", -2202, ""},
        // No size: the disk is not asked, even for a path that is none.
        {"DiskSpace=Q:\\no\\such\\disk", -2000, ""},
        {disk.substr(7) + "1", -2000, ""},
        {disk.substr(7) + "2147483647", -2203, ""},
        {disk.substr(7) + "-1", -2203, ""},
        {"DiskSpace=" + work + "\\none\r\nCheck1.DiskSpace.SizeMB=1", -2203, "\\none',1) failed!"},
        {"ProcessStopped=KVCR_PROC.EXE", -2204, "CheckIfProcessStoppedOrAbsent('KVCR_PROC.EXE') not stopped"},
        {"ProcessStopped=kvcr_proc", -2000, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        // Without event keys a failed check ends the section with its -1.
        EXPECT_EQ(c.exitCode == -2000 ? 0 : -1, Checks("CheckCount=1\r\nCheck1." + c.keys + "\r\n"));
        EXPECT_EQ(c.exitCode, section->GetExitCode());
        EXPECT_TRUE(Logged(c.logged)) << cb.LogText();
    }
}

TEST_F(CheckRequirementTest, RetryRunsTheCheckAgainAfterTheUserFixedIt)
{
    MakeInterpreter(false);
    kvsvc::CWaiters w(dir, "kvcr_retry.exe");
    ASSERT_TRUE(w.Start(60000));
    // The user ends the program, then presses Retry.
    cb.onAsk = [&w] {
        w.StopAll();
        w.WaitEnded(0, 10000);
    };
    cb.answers = {IDRETRY, IDCANCEL};
    EXPECT_EQ(0, Checks("CheckCount=1\r\nCheck1.Description=Filter stopped\r\nCheck1.ProcessStopped=kvcr_retry.exe\r\n"
                        "Check1.Error.AskRetryCancel=Close the filter\r\n"
                        "Check1.Error.Retry=KVHF_RETRY\r\nCheck1.Error.Cancel=KVHF_USERBREAK\r\n"));
    EXPECT_EQ(1u, cb.messages.size());
    // The failure's code stays although the second try passed.
    EXPECT_EQ(-2204, section->GetExitCode());
    std::vector<std::string> shown = {"Filter stopped", Failed("kvcr_retry.exe"), "Filter stopped",
                                      " - kvcr_retry.exe\r\n"};
    EXPECT_EQ(shown, cb.details);
}

TEST_F(CheckRequirementTest, FailureMessagesAnswersAndScriptErrors)
{
    EXPECT_EQ(0, Checks("CheckCount=3\r\nCheck1.String=a\r\nCheck1.String.List=b\r\nCheck1.Error.Action=KVHF_CONTINUE\r\n"
                        "Check2.String=a\r\nCheck2.String.List=b\r\nCheck2.CustomizedFailureMsg=\r\n"
                        "Check2.Error.Default=KVHF_CONTINUE\r\nCheck3.Number=1\r\nCheck3.Number.Max=0\r\n"
                        "Check3.CustomizedFailureMsg=Too new\r\nCheck3.Error.Action=KVHF_CONTINUE\r\n"));
    std::vector<std::string> shown = {"(empty)", Failed("a"), "(empty)", " - a\r\n", "(empty)", " - 1 (Too new)\r\n"};
    EXPECT_EQ(shown, cb.details);
    EXPECT_EQ(-2201, section->GetExitCode());

    EXPECT_EQ(4, Checks("CheckCount=2\r\nCheck1.String=b\r\nCheck1.String.List=c\r\n"
                        "Check1.Error.Action=KVHF_GOTOSTEP(4)\r\nCheck2.Number=1\r\nCheck2.Number.Max=0\r\n"));
    EXPECT_EQ(-2202, section->GetExitCode());

    // A check without value keys ends the section at once, without its handler.
    EXPECT_EQ(-1, Checks("CheckCount=3\r\nCheck1.String=b\r\nCheck1.String.List=b\r\n"
                         "Check2.Error.Action=KVHF_CONTINUE\r\nCheck3.Number=1\r\nCheck3.Number.Max=0\r\n"));
    EXPECT_EQ(-2205, section->GetExitCode());
    EXPECT_TRUE(Logged("*** Syntax error : Check item 2 not found !"));
    EXPECT_FALSE(Logged("EventHandler('Check2.") || Logged("CheckNumberMax"));
    EXPECT_EQ(0, Checks("Check1.Number=1\r\nCheck1.Number.Max=0\r\n"));
}
