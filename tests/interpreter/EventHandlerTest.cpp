#include "InterpFixture.h"
#include "interpreter/Section.h"

class EventHandlerTest : public InterpTest {
protected:
    void SetUp() override
    {
        InterpTest::SetUp();
        section.reset(new CHFS_Section(interp.get()));
        section->SetSectionName("Evt");
    }
    // The keys of one prefix, below a section header.
    int Handle(const std::string& keys, int old)
    {
        WriteScript("[Evt]\r\n" + keys);
        return section->EventHandler("S1.", old);
    }
    std::unique_ptr<CHFS_Section> section;
};

TEST_F(EventHandlerTest, ParseActionTable)
{
    EXPECT_EQ(section->ParseAction("KVHF_CONTINUE"), -100);
    EXPECT_EQ(section->ParseAction("KVHF_RETRY"), -200);
    EXPECT_EQ(section->ParseAction("KVHF_USERBREAK"), -300);
    EXPECT_EQ(section->ParseAction("KVHF_UNINSTALL"), -400);
    EXPECT_EQ(section->ParseAction("KVHF_GOTOSTEP(5)"), 5);
    EXPECT_EQ(section->ParseAction("KVHF_GOTOSTEP(7"), 7);
    EXPECT_EQ(section->ParseAction("KVHF_GOTOSTEP(12x)"), 12);
    EXPECT_EQ(section->ParseAction("KVHF_GOTOSTEP()"), 0);
    EXPECT_EQ(section->ParseAction("KVHF_GOTOSTEP(-3)"), 0);
    EXPECT_EQ(section->ParseAction("KVHF_GOTOSTEP(99999999999999999999)"), 2147483647);
    EXPECT_FALSE(Logged("Action not found"));

    EXPECT_EQ(section->ParseAction("kvhf_continue"), -1);
    EXPECT_TRUE(Logged("!Error! Action not found. 'kvhf_continue'"));
    EXPECT_EQ(section->ParseAction("KVHF_CONTINUE "), -1);
    EXPECT_EQ(section->ParseAction("(empty)"), -1);
    EXPECT_EQ(section->ParseAction("%s%n"), -1);
    EXPECT_TRUE(Logged("!Error! Action not found. '%s%n'"));
}

TEST_F(EventHandlerTest, ActionWinsWithoutAsking)
{
    EXPECT_EQ(Handle("S1.Action=KVHF_RETRY\r\nS1.AskYesNo=Sure?\r\nS1.Yes=KVHF_CONTINUE\r\n", -1), -200);
    EXPECT_TRUE(cb.messages.empty());
    EXPECT_TRUE(Logged("EventHandler('S1.',OldRet=-1)"));
    EXPECT_TRUE(Logged("Return=KVHF_RETRY"));
}

TEST_F(EventHandlerTest, NoKeysKeepTheOldResult)
{
    EXPECT_EQ(Handle("Other=1\r\n", -7), -7);
    EXPECT_EQ(Handle("", 0), 0);
    EXPECT_TRUE(cb.messages.empty());
}

TEST_F(EventHandlerTest, SilentRunUsesDefaultAndNeverAsks)
{
    Settings().m_bSilent = 1;
    EXPECT_EQ(Handle("S1.AskYesNo=Go on?\r\nS1.Yes=KVHF_CONTINUE\r\nS1.No=KVHF_CONTINUE\r\n", -1), -1);
    EXPECT_TRUE(Logged("In the silent mode, use Default action to continue installation.[S1.Default]"));
    EXPECT_EQ(Handle("S1.AskYesNo=Go on?\r\nS1.Default=KVHF_GOTOSTEP(4)\r\n", -1), 4);
    EXPECT_EQ(Handle("S1.Default=bogus\r\n", 0), -1);
    EXPECT_TRUE(cb.messages.empty());
}

TEST_F(EventHandlerTest, AskYesNoFocusAndAnswers)
{
    const std::string keys = "S1.AskYesNo=Go on?\r\nS1.Yes=KVHF_CONTINUE\r\nS1.No=KVHF_USERBREAK\r\n";
    cb.answers = {IDYES};
    EXPECT_EQ(Handle(keys, -1), -100);
    ASSERT_EQ(cb.messages.size(), 1u);
    EXPECT_EQ(cb.messages[0].first, "Go on?");
    EXPECT_EQ(cb.messages[0].second, 4u);
    EXPECT_TRUE(Logged("AskYesNo=Go on?"));
    EXPECT_TRUE(Logged("After Ask user, user choose YES to continue installation."));

    cb.answers = {IDNO};
    EXPECT_EQ(Handle(keys + "S1.AskFocus=no\r\n", -1), -300);
    EXPECT_EQ(cb.messages.back().second, 260u);
    EXPECT_TRUE(Logged("AskFocus=no"));

    // A suppressed box is not a Yes.
    EXPECT_EQ(Handle(keys + "S1.AskFocus=yes\r\n", -1), -300);
    EXPECT_EQ(cb.messages.back().second, 4u);
}

TEST_F(EventHandlerTest, MissingAnswerKeyIsAFailure)
{
    cb.answers = {IDNO};
    EXPECT_EQ(Handle("S1.AskYesNo=Go on?\r\nS1.Yes=KVHF_CONTINUE\r\n", 0), -1);
    EXPECT_TRUE(Logged("!Error! Action not found. '(empty)'"));
}

TEST_F(EventHandlerTest, QuestionKindsInTheirOrder)
{
    // The first present question decides; later ones are not shown.
    cb.answers = {IDYES};
    EXPECT_EQ(Handle("S1.AskOK=Note\r\nS1.AskYesNoExclamation=Warn\r\nS1.Yes=KVHF_GOTOSTEP(2)\r\n", -1), 2);
    ASSERT_EQ(cb.messages.size(), 1u);
    EXPECT_EQ(cb.messages[0].first, "Warn");
    EXPECT_EQ(cb.messages[0].second, 52u);

    cb.answers = {IDRETRY};
    EXPECT_EQ(Handle("S1.AskRetryCancel=Again?\r\nS1.Retry=KVHF_RETRY\r\nS1.Cancel=KVHF_USERBREAK\r\n", -1), -200);
    EXPECT_EQ(cb.messages.back().second, 5u);
    EXPECT_TRUE(Logged("After Ask user, user choose RETRY to retry failed task."));
    cb.answers = {IDCANCEL};
    EXPECT_EQ(Handle("S1.AskRetryCancel=Again?\r\nS1.Retry=KVHF_RETRY\r\nS1.Cancel=KVHF_USERBREAK\r\n", -1), -300);
}

TEST_F(EventHandlerTest, AskYesNoCancelKeepsOldWithoutAButton)
{
    const std::string keys =
        "S1.AskYesNoCancel=Which?\r\nS1.Yes=KVHF_GOTOSTEP(1)\r\nS1.No=KVHF_GOTOSTEP(2)\r\nS1.Cancel=KVHF_GOTOSTEP(3)\r\n";
    cb.answers = {IDYES, IDNO, IDCANCEL};
    EXPECT_EQ(Handle(keys, -5), 1);
    EXPECT_EQ(Handle(keys, -5), 2);
    EXPECT_EQ(Handle(keys, -5), 3);
    EXPECT_EQ(cb.messages.back().second, 3u);
    EXPECT_EQ(Handle(keys, -5), -5);
}

TEST_F(EventHandlerTest, AskOKIconFollowsTheOldResult)
{
    EXPECT_EQ(Handle("S1.AskOK=Done\r\nS1.OK=KVHF_CONTINUE\r\n", 0), -100);
    EXPECT_EQ(cb.messages.back().second, 64u);
    EXPECT_EQ(Handle("S1.AskOK=Broken\r\nS1.OK=KVHF_CONTINUE\r\n", -1), -100);
    EXPECT_EQ(cb.messages.back().second, 16u);
    EXPECT_TRUE(Logged("After show message to user, user choose OK to continue installation."));
}

TEST_F(EventHandlerTest, ScriptTextIsNeverAFormat)
{
    cb.answers = {IDYES};
    EXPECT_EQ(Handle("S1.AskYesNo=%s%s%n\r\nS1.Yes=KVHF_CONTINUE\r\n", 0), -100);
    EXPECT_EQ(cb.messages.back().first, "%s%s%n");
    EXPECT_TRUE(Logged("AskYesNo=%s%s%n"));
}

// A retry answered for ever by an item that never succeeds and records
// nothing would hang the run; after so many retries in a row the answer is
// the item's own result. Any other answer starts the count afresh.
TEST_F(EventHandlerTest, RetriesInARowEnd)
{
    WriteScript("[Evt]\r\nS1.Action=KVHF_RETRY\r\nS2.Action=KVHF_CONTINUE\r\n");
    for (int i = 0; i < CHFS_Section::MAX_RETRIES_IN_A_ROW - 1; ++i)
        ASSERT_EQ(section->EventHandler("S1.", -1), -200) << i;
    EXPECT_EQ(section->EventHandler("S2.", -1), -100);
    for (int i = 0; i < CHFS_Section::MAX_RETRIES_IN_A_ROW; ++i)
        ASSERT_EQ(section->EventHandler("S1.", -1), -200) << i;
    EXPECT_FALSE(Logged("no more retries"));
    EXPECT_EQ(section->EventHandler("S1.", -5), -5);
    EXPECT_TRUE(Logged("*** Runtime error: 'S1.' answered KVHF_RETRY more than 5000 times in a row, no more retries!"));
    EXPECT_EQ(section->EventHandler("S1.", -1), -200);
}
