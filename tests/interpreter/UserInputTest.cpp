#include <deque>
#include <tuple>

#include "InterpFixture.h"
#include "interpreter/MainSection.h"
#include "sections/UserInputSection.h"

namespace {

// Answers the two questions from a queue (1 answered, -1 cancelled, 0 not
// asked) and records what was asked; the detail lines keep both forms.
class CAskingCallback : public kvtest::CRecordingCallback {
public:
    struct Asked {
        bool folder;
        std::wstring caption;
        std::string prompt, initial;
        int min, max;
    };
    int AskFolder(const CHFS_UIText& caption, const std::string& prompt, const std::string& initial,
                  std::string& answer) override
    {
        asked.push_back({true, caption.Shown(), prompt, initial, 0, 0});
        return Next(answer);
    }
    int AskText(const CHFS_UIText& caption, const std::string& prompt, const std::string& initial, int min, int max,
                std::string& answer) override
    {
        asked.push_back({false, caption.Shown(), prompt, initial, min, max});
        return Next(answer);
    }
    int AppendDetailW(const CHFS_UIText& text, int rollback) override
    {
        shown.push_back(text.Shown());
        return CRecordingCallback::AppendDetailW(text, rollback);
    }
    std::deque<std::pair<int, std::string>> replies;
    std::vector<Asked> asked;
    std::vector<std::wstring> shown;

private:
    int Next(std::string& answer)
    {
        if (replies.empty())
            return -1;
        auto r = replies.front();
        replies.pop_front();
        answer = r.second;
        return r.first;
    }
};

class UserInputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        interp.reset(new CHFS_Interpreter(&cb, "setup.ini", CHFS_RunSettings(), kvtest::ProgramTexts()));
        interp->m_strScriptFile = dir / "script.ini";
        section.reset(new CHFS_UserInputSection(interp.get()));
        list.SetStep(2);
    }
    int Run(const std::string& keys)
    {
        EXPECT_TRUE(kvtest::WriteFileBytes(interp->m_strScriptFile, "[ProductInstall.GetUserInput.A]\r\n" + keys));
        return section->Run("ProductInstall.GetUserInput.A", list);
    }
    bool Logged(const std::string& s) const { return cb.LogContains(s); }

    kvtest::TempDir dir{"input"};
    CAskingCallback cb;
    std::unique_ptr<CHFS_Interpreter> interp;
    std::unique_ptr<CHFS_UserInputSection> section;
    CHFS_ItemList list;
};

const char kTwoItems[] =
    "InputCount=3\r\n"
    "Input1.Description=Folder?\r\nInput1.Type=KVHF_INPUT_FOLDER_SELECT\r\nInput1.RefSymbol=DIR\r\nInput1.Max=80\r\n"
    "Input2.Description=Skipped, no type\r\nInput2.RefSymbol=DIR\r\nInput2.Min=5\r\n"
    "Input3.Description=Name?\r\nInput3.Type=KVHF_INPUT_EDITBOX\r\nInput3.RefSymbol=NEWNAME\r\n";

}  // namespace

// Bounds carry over from earlier items, even skipped ones; both answers are
// recorded with the old values and rolled back, the later item first.
TEST_F(UserInputTest, AnswersAreKeptRecordedAndRolledBack)
{
    interp->SetSymbol("DIR", "C:\\Old");
    cb.replies = {{1, "C:\\New"}, {1, "Zhang"}};
    EXPECT_EQ(Run(kTwoItems), 0);
    EXPECT_EQ(section->GetExitCode(), -2000);

    ASSERT_EQ(cb.asked.size(), 2u);
    EXPECT_TRUE(cb.asked[0].folder);
    EXPECT_EQ(cb.asked[0].caption, L"Halvern\x5b89\x88c5\x8f6f\x4ef6\x5305");
    EXPECT_EQ(cb.asked[0].prompt, "Folder?");
    EXPECT_EQ(cb.asked[0].initial, "C:\\Old");
    EXPECT_FALSE(cb.asked[1].folder);
    EXPECT_EQ(cb.asked[1].initial, "") << "an undefined symbol offers nothing";
    EXPECT_EQ(cb.asked[1].min, 5);
    EXPECT_EQ(cb.asked[1].max, 80);

    EXPECT_EQ(interp->GetSymbol("DIR"), "C:\\New");
    EXPECT_EQ(interp->GetSymbol("NEWNAME"), "Zhang");
    ASSERT_EQ(list.Size(), 2u);
    EXPECT_EQ(std::make_tuple(list.Items()[0].nStep, list.Items()[0].nItemIndex, list.Items()[0].strParam1),
              std::make_tuple(2, 1, std::string("C:\\Old")));
    EXPECT_EQ(std::make_tuple(list.Items()[1].nItemIndex, list.Items()[1].strParam1), std::make_tuple(3, std::string()));
    EXPECT_EQ(cb.details, (std::vector<std::string>{" - C:\\New\r\n", " - Zhang\r\n"}));
    EXPECT_TRUE(Logged("CHFS_UserInputSection::Run('ProductInstall.GetUserInput.A') "));
    EXPECT_TRUE(Logged("1.GetUserInput(Type='KVHF_INPUT_FOLDER_SELECT',variable='DIR')"));
    EXPECT_TRUE(Logged("User Select folder = 'C:\\New'"));
    EXPECT_TRUE(Logged("User Input = 'Zhang'"));

    // A later change to the same symbol: the rollback still ends at the start.
    interp->SetSymbol("DIR", "C:\\Later");
    cb.logLines.clear();
    EXPECT_EQ(section->Rollback("ProductInstall.GetUserInput.A", list), 0);
    EXPECT_EQ(list.Size(), 0u);
    EXPECT_EQ(interp->GetSymbol("DIR"), "C:\\Old");
    EXPECT_EQ(interp->GetSymbol("NEWNAME"), "");
    const std::string log = cb.LogText();
    EXPECT_LT(log.find("'NEWNAME'=''"), log.find("'DIR'='C:\\Old'")) << log;
    EXPECT_TRUE(Logged("CHFS_UserInputSection::Rollback('ProductInstall.GetUserInput.A') "));
}

TEST_F(UserInputTest, CancelFailsTheItemWithTheWordForFailureAndRetryAsksAgain)
{
    interp->SetSymbol("DIR", "C:\\Old");
    // Cancelled twice, then answered; the symbol keeps its value meanwhile.
    cb.replies = {{-1, ""}, {-1, ""}, {1, "C:\\Picked"}};
    EXPECT_EQ(Run("InputCount=1\r\nInput1.Description=Folder?\r\nInput1.Type=KVHF_INPUT_FOLDER_SELECT\r\n"
                  "Input1.RefSymbol=DIR\r\nInput1.Error.Action=KVHF_RETRY\r\n"),
              0);
    EXPECT_EQ(cb.asked.size(), 3u);
    EXPECT_EQ(interp->GetSymbol("DIR"), "C:\\Picked");
    EXPECT_EQ(kvtest::CountOf(cb.LogText(), "1.GetUserInput(Type='KVHF_INPUT_FOLDER_SELECT',variable='DIR') failed!"),
              2u);
    // The failure word is the program's own: whole in what the window gets.
    ASSERT_GE(cb.shown.size(), 1u);
    EXPECT_EQ(cb.shown[0], L" - Folder? (\x5931\x8d25)\r\n");
    EXPECT_EQ(cb.details[0], " - Folder? (" + interp->Text(IDS_FAILURE) + ")\r\n");

    // Without a handler a cancel ends the section with the failure.
    cb.replies = {{-1, ""}};
    EXPECT_EQ(Run("InputCount=2\r\nInput1.Description=N\r\nInput1.Type=KVHF_INPUT_EDITBOX\r\nInput1.RefSymbol=DIR\r\n"
                  "Input2.Description=Never\r\nInput2.Type=KVHF_INPUT_EDITBOX\r\nInput2.RefSymbol=DIR\r\n"),
              -1);
    EXPECT_EQ(cb.asked.size(), 4u);
    EXPECT_EQ(interp->GetSymbol("DIR"), "C:\\Picked");
}

TEST_F(UserInputTest, OtherTypesAndMissingKeysAskNothing)
{
    interp->SetSymbol("X", "keep");
    EXPECT_EQ(Run("InputCount=3\r\n"
                  "Input1.Description=Lower case\r\nInput1.Type=kvhf_input_editbox\r\nInput1.RefSymbol=X\r\n"
                  "Input1.Success.Action=KVHF_GOTOSTEP(0)\r\n"
                  "Input2.Type=KVHF_INPUT_EDITBOX\r\n"
                  "Input3.RefSymbol=X\r\n"),
              0);
    EXPECT_TRUE(cb.asked.empty());
    EXPECT_EQ(interp->GetSymbol("X"), "keep");
    EXPECT_EQ(list.Size(), 0u);
    EXPECT_EQ(cb.details, (std::vector<std::string>{" - \r\n"}));
    EXPECT_TRUE(Logged("EventHandler('Input1.Success.',OldRet=0)"));
}

TEST_F(UserInputTest, SilentRunKeepsDefaultsAndCannotLoopForEver)
{
    interp->Settings().m_bSilent = 1;
    interp->SetSymbol("DIR", "C:\\Default");
    EXPECT_EQ(Run("InputCount=2\r\nInput1.Type=KVHF_INPUT_FOLDER_SELECT\r\nInput1.RefSymbol=DIR\r\n"
                  "Input2.Type=KVHF_INPUT_EDITBOX\r\nInput2.RefSymbol=NAME\r\n"),
              0);
    EXPECT_TRUE(cb.asked.empty());
    EXPECT_EQ(list.Size(), 0u);
    EXPECT_TRUE(Logged("In the silent mode, use Default value to continue installation.[DIR=C:\\Default]"));
    EXPECT_TRUE(Logged("In the silent mode, use Default value to continue installation.[NAME=]"));

    // Asked to do the same again while nobody answers: it would never end.
    EXPECT_EQ(Run("InputCount=1\r\nInput1.Type=KVHF_INPUT_EDITBOX\r\nInput1.RefSymbol=DIR\r\n"
                  "Input1.Success.Action=KVHF_RETRY\r\n"),
              -1);
    EXPECT_TRUE(Logged("*** Runtime error: Input1 repeated 4096 times without a question, stopped. "));
    EXPECT_EQ(interp->GetSymbol("DIR"), "C:\\Default");
}

TEST_F(UserInputTest, CountBeyondTheBoundIsCutLikeEveryCount)
{
    interp->Settings().m_bSilent = 1;
    // Unbounded, two billion items of reads would keep the run going for hours.
    EXPECT_EQ(Run("InputCount=2147483647\r\nInput1.Type=KVHF_INPUT_EDITBOX\r\nInput1.RefSymbol=DIR\r\n"), 0);
    EXPECT_TRUE(Logged("*** Syntax error: InputCount='2147483647' in section"));
    EXPECT_TRUE(Logged("is beyond 4096, 4096 is taken!"));
}

TEST_F(UserInputTest, AFullRecordEndsTheSectionAndLeavesTheSymbol)
{
    interp->SetSymbol("DIR", "C:\\Old");
    for (int i = 0; i < CHFS_ItemList::MAX_ITEMS; ++i)
        list.AddItem(i, "", "", "");
    cb.replies = {{1, "C:\\New"}};
    EXPECT_EQ(Run("InputCount=1\r\nInput1.Type=KVHF_INPUT_FOLDER_SELECT\r\nInput1.RefSymbol=DIR\r\n"), -300);
    EXPECT_EQ(section->GetExitCode(), -2000);
    // Nothing could undo it, so it is not kept.
    EXPECT_EQ(interp->GetSymbol("DIR"), "C:\\Old");
}

TEST_F(UserInputTest, TheFactoryKnowsBothTypeNames)
{
    ASSERT_TRUE(kvtest::WriteFileBytes(interp->m_strScriptFile,
                                       "[ProductRemove.Main]\r\nStepCount=1\r\nStep1.Section=ProductRemove.GetUserInput.A\r\n"
                                       "[ProductRemove.GetUserInput.A]\r\nInputCount=1\r\nInput1.Type=KVHF_INPUT_EDITBOX\r\n"
                                       "Input1.RefSymbol=NAME\r\n"));
    cb.replies = {{1, "removed by"}};
    CHFS_MainSection main(interp.get());
    CHFS_ItemList items;
    EXPECT_EQ(main.Run("ProductRemove.Main", items), 0);
    EXPECT_EQ(interp->GetSymbol("NAME"), "removed by");
    EXPECT_NE(main.FindHandler("ProductInstall.GetUserInput"), nullptr);
}
