#include "InterpFixture.h"
#include "interpreter/MainSection.h"

// Steps are UpdateSymbols sections: each assignment records one item, and an
// assignment to an undefined name fails the step with -300.
class MainSectionTest : public InterpTest {
protected:
    void SetUp() override
    {
        InterpTest::SetUp();
        interp->SetSymbol("A", "a0");
        interp->SetSymbol("B", "b0");
        interp->SetSymbol("C", "c0");
        main.reset(new CHFS_MainSection(interp.get()));
    }
    int Run(const std::string& text, const std::string& procedure = "ProductInstall.Main")
    {
        WriteScript(text);
        return main->Run(procedure, list);
    }
    std::unique_ptr<CHFS_MainSection> main;
    CHFS_ItemList list;
};

const char kSteps[] =
    "[ProductInstall.UpdateSymbols.SetA]\r\nA=a1\r\n"
    "[ProductInstall.UpdateSymbols.SetB]\r\nB=b1\r\n"
    "[ProductInstall.UpdateSymbols.SetC]\r\nC=c1\r\n"
    "[ProductInstall.UpdateSymbols.Bad]\r\nNOSUCH=1\r\n";

TEST_F(MainSectionTest, TypeNameRule)
{
    std::string t;
    EXPECT_TRUE(CHFS_MainSection::GetTypeName("ProductInstall.Run.Group1", "ProductInstall.", t));
    EXPECT_EQ(t, "ProductInstall.Run");
    EXPECT_TRUE(CHFS_MainSection::GetTypeName("ProductInstall.UpdateSymbols", "ProductInstall.", t));
    EXPECT_EQ(t, "ProductInstall.UpdateSymbols");
    EXPECT_FALSE(CHFS_MainSection::GetTypeName("productinstall.Run.X", "ProductInstall.", t));
    EXPECT_FALSE(CHFS_MainSection::GetTypeName("ProductRemove.Run.X", "ProductInstall.", t));
    EXPECT_TRUE(CHFS_MainSection::GetTypeName("ProductInstall.", "ProductInstall.", t));
    EXPECT_EQ(t, "ProductInstall.");

    EXPECT_NE(main->FindHandler("ProductInstall.UpdateSymbols"), nullptr);
    EXPECT_NE(main->FindHandler("ProductRemove.Rollback"), nullptr);
    EXPECT_EQ(main->FindHandler("ProductInstall.Rollback"), nullptr);
    EXPECT_EQ(main->FindHandler("ProductInstall.updatesymbols"), nullptr);
    EXPECT_NE(main->FindHandler("ProductInstall.UpdateSymbols"), main->FindHandler("ProductRemove.UpdateSymbols"));
}

TEST_F(MainSectionTest, StepCountMissingOrZero)
{
    EXPECT_EQ(Run(std::string(kSteps) + "[ProductInstall.Main]\r\nStep1.Section=ProductInstall.UpdateSymbols.SetA\r\n"),
              -1);
    EXPECT_EQ(main->GetExitCode(), -2001);
    EXPECT_EQ(Run(std::string(kSteps) +
                  "[ProductInstall.Main]\r\nStepCount=0\r\nStep1.Section=ProductInstall.UpdateSymbols.SetA\r\n"),
              -1);
    EXPECT_EQ(main->GetExitCode(), -2000);
    EXPECT_EQ(list.Size(), 0u);
    EXPECT_EQ(interp->GetSymbol("A"), "a0");
    EXPECT_EQ(main->Run("ProductInstallMain", list), -1);
    EXPECT_TRUE(Logged("*** Syntax error: Session name ['ProductInstallMain'] incorrect. "));
}

TEST_F(MainSectionTest, RunsStepsWithProgressAndDescriptions)
{
    EXPECT_EQ(Run(std::string(kSteps) +
                  "[ProductInstall.Main]\r\nStepCount=2\r\n"
                  "Step1.Section=ProductInstall.UpdateSymbols.SetA\r\nStep1.Description=First\r\n"
                  "Step2.Section=ProductInstall.UpdateSymbols.SetB\r\nStep2.Description=Second\r\n"),
              0);
    EXPECT_EQ(main->GetExitCode(), -2000);
    EXPECT_EQ(interp->GetSymbol("A"), "a1");
    EXPECT_EQ(interp->GetSymbol("B"), "b1");
    ASSERT_EQ(list.Size(), 2u);
    EXPECT_EQ(list.Items()[0].nStep, 1);
    EXPECT_EQ(list.Items()[1].nStep, 2);
    ASSERT_EQ(cb.progress.size(), 2u);
    EXPECT_EQ(cb.progress[0], std::make_pair(1, 3));
    EXPECT_EQ(cb.progress[1], std::make_pair(2, 3));
    ASSERT_EQ(cb.tasks.size(), 2u);
    EXPECT_EQ(cb.tasks[1], std::make_pair(std::string("Second"), 0));
    EXPECT_TRUE(Logged("@@@ Session name ['ProductInstall.UpdateSymbols.SetB'] return code = 0 "));
}

// A broken step must fail the run even when the steps before it succeeded.
TEST_F(MainSectionTest, StepOutsideTheDomainOrWithoutHandlerFails)
{
    const std::string head = std::string(kSteps) +
                             "[ProductInstall.Main]\r\nStepCount=3\r\n"
                             "Step1.Section=ProductInstall.UpdateSymbols.SetA\r\n"
                             "Step3.Section=ProductInstall.UpdateSymbols.SetC\r\n";
    EXPECT_EQ(Run(head + "Step2.Section=ProductRemove.UpdateSymbols.SetB\r\n"), -1);
    EXPECT_EQ(main->GetExitCode(), -2004);
    EXPECT_TRUE(Logged("*** Syntax error: Session name ['ProductRemove.UpdateSymbols.SetB'] not supported in this "
                       "function domain! "));
    EXPECT_EQ(interp->GetSymbol("C"), "c0");
    EXPECT_EQ(list.Size(), 1u);

    EXPECT_EQ(Run(head + "Step2.Section=ProductInstall.NoSuchType.X\r\n"), -1);
    EXPECT_EQ(main->GetExitCode(), -2004);
    EXPECT_TRUE(Logged("*** Syntax error: Session name ['ProductInstall.NoSuchType.X'] not supported! "));

    EXPECT_EQ(Run(head + "Step2.Section=productinstall.UpdateSymbols.SetB\r\n"), -1);
    EXPECT_EQ(main->GetExitCode(), -2004);
}

TEST_F(MainSectionTest, MissingStepSectionIsSkipped)
{
    EXPECT_EQ(Run(std::string(kSteps) +
                  "[ProductInstall.Main]\r\nStepCount=3\r\n"
                  "Step1.Section=ProductInstall.UpdateSymbols.SetA\r\n"
                  "Step3.Section=ProductInstall.UpdateSymbols.SetC\r\n"),
              0);
    EXPECT_TRUE(Logged("*** Syntax error: Session name ['Step2.Section'] not found, skip and continue. "));
    EXPECT_EQ(interp->GetSymbol("C"), "c1");
    EXPECT_EQ(main->GetExitCode(), -2000);
    EXPECT_EQ(Run(std::string(kSteps) +
                  "[ProductInstall.Main]\r\nStepCount=2\r\nStep1.Section=ProductInstall.UpdateSymbols.SetA\r\n"),
              0);
    EXPECT_EQ(main->GetExitCode(), -2003);
}

TEST_F(MainSectionTest, FailureStopsWithTheHandlersExitCode)
{
    EXPECT_EQ(Run(std::string(kSteps) +
                  "[ProductInstall.Main]\r\nStepCount=3\r\n"
                  "Step1.Section=ProductInstall.UpdateSymbols.SetA\r\n"
                  "Step2.Section=ProductInstall.UpdateSymbols.Bad\r\n"
                  "Step3.Section=ProductInstall.UpdateSymbols.SetC\r\n"),
              -300);
    EXPECT_EQ(main->GetExitCode(), -2901);
    EXPECT_EQ(interp->GetSymbol("C"), "c0");
    EXPECT_TRUE(Logged("EventHandler return code = -300 "));
}

TEST_F(MainSectionTest, EventAnswersSteerTheWalk)
{
    // Error handler: continue past the failure; success handler: jump over step 3.
    EXPECT_EQ(Run(std::string(kSteps) +
                  "[ProductInstall.Main]\r\nStepCount=4\r\n"
                  "Step1.Section=ProductInstall.UpdateSymbols.Bad\r\nStep1.Error.Action=KVHF_CONTINUE\r\n"
                  "Step2.Section=ProductInstall.UpdateSymbols.SetA\r\nStep2.Success.Action=KVHF_GOTOSTEP(4)\r\n"
                  "Step3.Section=ProductInstall.UpdateSymbols.SetB\r\n"
                  "Step4.Section=ProductInstall.UpdateSymbols.SetC\r\n"),
              0);
    EXPECT_EQ(interp->GetSymbol("A"), "a1");
    EXPECT_EQ(interp->GetSymbol("B"), "b0");
    EXPECT_EQ(interp->GetSymbol("C"), "c1");

    // A jump to step 0 from the error handler ends the run with 0.
    EXPECT_EQ(Run(std::string(kSteps) +
                  "[ProductInstall.Main]\r\nStepCount=2\r\n"
                  "Step1.Section=ProductInstall.UpdateSymbols.Bad\r\nStep1.Error.Action=KVHF_GOTOSTEP(0)\r\n"
                  "Step2.Section=ProductInstall.UpdateSymbols.SetB\r\n"),
              0);
    EXPECT_EQ(interp->GetSymbol("B"), "b0");

    // A jump beyond the count ends the loop.
    EXPECT_EQ(Run(std::string(kSteps) +
                  "[ProductInstall.Main]\r\nStepCount=2\r\n"
                  "Step1.Section=ProductInstall.UpdateSymbols.Bad\r\nStep1.Error.Action=KVHF_GOTOSTEP(9)\r\n"
                  "Step2.Section=ProductInstall.UpdateSymbols.SetB\r\n"),
              0);
    EXPECT_EQ(interp->GetSymbol("B"), "b0");
}

TEST_F(MainSectionTest, SuccessHandlerBreakOnlyCountsOnTheLastStep)
{
    const std::string body = std::string(kSteps) +
                             "[ProductInstall.Main]\r\nStepCount=2\r\n"
                             "Step1.Section=ProductInstall.UpdateSymbols.SetA\r\nStep1.Success.Action=KVHF_USERBREAK\r\n"
                             "Step2.Section=ProductInstall.UpdateSymbols.SetB\r\n";
    EXPECT_EQ(Run(body), 0);
    EXPECT_EQ(interp->GetSymbol("B"), "b1");
    EXPECT_EQ(Run(body + "Step2.Success.Action=KVHF_USERBREAK\r\n"), -300);
    EXPECT_EQ(Run(body + "Step2.Success.Action=kvhf_continue\r\n"), -1);
}

TEST_F(MainSectionTest, EndlessRetryEndsAtTheItemLimit)
{
    EXPECT_EQ(Run(std::string(kSteps) +
                  "[ProductInstall.Main]\r\nStepCount=1\r\n"
                  "Step1.Section=ProductInstall.UpdateSymbols.Bad\r\nStep1.Error.Action=KVHF_RETRY\r\n"),
              -1);
    EXPECT_EQ(main->GetExitCode(), -2002);
    EXPECT_EQ(list.Size(), static_cast<size_t>(CHFS_ItemList::MAX_ITEMS));
    ASSERT_FALSE(cb.details.empty());
    EXPECT_EQ(cb.details.back(),
              "*** Runtime error: Found dead loop in your script file (Need less than 4096 steps) ! \r\n");
}

// Loops whose turns record nothing never fill the list: a retry of a step
// that changes nothing, or a jump back over such steps, ends after 1000 idle
// turns with the dead-loop code, where it ran for ever before.
TEST_F(MainSectionTest, EndlessLoopThatRecordsNothingEnds)
{
    const std::string empty = "[ProductInstall.UpdateSymbols.Empty]\r\n";
    for (const char* tail : {"Step1.Success.Action=KVHF_RETRY\r\nStep2.Section=ProductInstall.UpdateSymbols.SetA\r\n",
                             "Step2.Section=ProductInstall.UpdateSymbols.Empty\r\n"
                             "Step2.Success.Action=KVHF_GOTOSTEP(1)\r\n"}) {
        cb.details.clear();
        EXPECT_EQ(Run(std::string(kSteps) + empty + "[ProductInstall.Main]\r\nStepCount=2\r\n"
                      "Step1.Section=ProductInstall.UpdateSymbols.Empty\r\n" + tail),
                  -1);
        EXPECT_EQ(main->GetExitCode(), -2002);
        EXPECT_EQ(list.Size(), 0u);
        ASSERT_FALSE(cb.details.empty());
        EXPECT_NE(cb.details.back().find("Found dead loop in your script file (step 1 run again 1000 times"),
                  std::string::npos)
            << cb.details.back();
    }
    // A loop that does record still ends at the full list.
    EXPECT_EQ(Run(std::string(kSteps) + empty + "[ProductInstall.Main]\r\nStepCount=2\r\n"
                  "Step1.Section=ProductInstall.UpdateSymbols.Empty\r\n"
                  "Step2.Section=ProductInstall.UpdateSymbols.SetA\r\nStep2.Success.Action=KVHF_GOTOSTEP(1)\r\n"),
              -1);
    EXPECT_EQ(list.Size(), static_cast<size_t>(CHFS_ItemList::MAX_ITEMS));
}

TEST_F(MainSectionTest, RollbackWalksStepsNewestFirst)
{
    EXPECT_EQ(main->Rollback("ProductInstall.Main", list), 0);
    EXPECT_TRUE(cb.tasks.empty());

    ASSERT_EQ(Run(std::string(kSteps) +
                  "[ProductInstall.Main]\r\nStepCount=3\r\n"
                  "Step1.Section=ProductInstall.UpdateSymbols.SetA\r\nStep1.Description=One\r\n"
                  "Step2.Section=ProductInstall.UpdateSymbols.SetB\r\nStep2.Description=Two\r\n"
                  "Step3.Section=ProductInstall.UpdateSymbols.SetA\r\nStep3.Description=Three\r\n"),
              0);
    interp->UpdateSymbol("A", "changed");
    cb.tasks.clear();
    cb.progress.clear();
    EXPECT_EQ(main->Rollback("ProductInstall.Main", list), 0);
    EXPECT_EQ(list.Size(), 0u);
    EXPECT_EQ(interp->GetSymbol("A"), "a0");
    EXPECT_EQ(interp->GetSymbol("B"), "b0");
    ASSERT_EQ(cb.tasks.size(), 3u);
    EXPECT_EQ(cb.tasks[0], std::make_pair(std::string("Three"), 1));
    EXPECT_EQ(cb.tasks[2], std::make_pair(std::string("One"), 1));
    ASSERT_EQ(cb.progress.size(), 3u);
    EXPECT_EQ(cb.progress[0], std::make_pair(3, 3));
    EXPECT_EQ(cb.progress[2], std::make_pair(1, 3));
}

// Items the walk cannot hand to a handler are changes that stay undone: the
// walk fails there, keeping them and every older item, instead of reporting
// a rollback that did not happen as a success.
TEST_F(MainSectionTest, RollbackFailsAtItemsNoHandlerCanTake)
{
    const struct {
        const char* name;
        const char* procedure;
        const char* steps;
        size_t left;
        const char* logged;
    } cases[] = {
        {"step names no section", "ProductInstall.Main",
         "[ProductInstall.Main]\r\nStepCount=3\r\nStep1.Section=ProductInstall.UpdateSymbols.SetA\r\n", 3,
         "*** Syntax error: Session name ['Step2.Section'] not found, skip and continue. "},
        {"step of the other procedure", "ProductInstall.Main",
         "[ProductInstall.Main]\r\nStepCount=2\r\nStep1.Section=ProductInstall.UpdateSymbols.SetA\r\n"
         "Step2.Section=ProductRemove.UpdateSymbols.SetB\r\n",
         3, "not supported in this function domain"},
        {"handler that takes nothing", "ProductInstall.Main",
         "[ProductInstall.Main]\r\nStepCount=2\r\nStep1.Section=ProductInstall.UpdateSymbols.SetA\r\n"
         "Step2.Section=ProductInstall.CheckRequirement.X\r\n",
         3, "that it can't roll back"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        cb.logLines.clear();
        WriteScript(std::string(kSteps) + c.steps);
        interp->UpdateSymbol("A", "a1");
        CHFS_ItemList items;
        items.SetStep(1);
        items.AddItem(1, "A", "a0", "");
        items.SetStep(2);
        items.AddItem(1, "B", "lost", "");
        items.AddItem(2, "B", "lost", "");
        EXPECT_EQ(main->Rollback(c.procedure, items), -1);
        EXPECT_EQ(items.Size(), c.left);
        EXPECT_EQ(interp->GetSymbol("A"), "a1");  // older items are not undone past the gap
        EXPECT_TRUE(Logged(c.logged)) << cb.LogText();
    }
}

