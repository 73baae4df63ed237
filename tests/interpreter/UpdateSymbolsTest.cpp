#include "InterpFixture.h"
#include "sections/UpdateSymbolsSection.h"

class UpdateSymbolsTest : public InterpTest {
protected:
    void SetUp() override
    {
        InterpTest::SetUp();
        section.reset(new CHFS_UpdateSymbolsSection(interp.get()));
        list.SetStep(4);
    }
    int Run(const std::string& lines)
    {
        WriteScript("[ProductInstall.UpdateSymbols.U]\r\n" + lines);
        return section->Run("ProductInstall.UpdateSymbols.U", list);
    }
    std::unique_ptr<CHFS_UpdateSymbolsSection> section;
    CHFS_ItemList list;
};

TEST_F(UpdateSymbolsTest, AssignsInOrderAndRollsBackToTheFirstValue)
{
    interp->SetSymbol("X", "orig");
    interp->SetSymbol("Y", "");
    EXPECT_EQ(Run("X=one\r\nnot a line\r\nX=two\r\nY=why\r\n"), 0);
    EXPECT_EQ(section->GetExitCode(), -2000);
    EXPECT_EQ(interp->GetSymbol("X"), "two");
    EXPECT_EQ(interp->GetSymbol("Y"), "why");
    ASSERT_EQ(list.Size(), 3u);
    EXPECT_EQ(list.Items()[0].nItemIndex, 1);
    EXPECT_EQ(list.Items()[0].strParam2, "orig");
    EXPECT_EQ(list.Items()[1].nItemIndex, 2);
    EXPECT_EQ(list.Items()[1].strParam2, "one");
    EXPECT_EQ(list.Items()[2].nStep, 4);
    EXPECT_TRUE(Logged("CHFS_UpdateSymbolsSection::Run(ProductInstall.UpdateSymbols.U)"));

    EXPECT_EQ(section->Rollback("ProductInstall.UpdateSymbols.U", list), 0);
    EXPECT_EQ(list.Size(), 0u);
    EXPECT_EQ(interp->GetSymbol("X"), "orig");
    EXPECT_EQ(interp->GetSymbol("Y"), "");
    EXPECT_TRUE(Logged("CHFS_UpdateSymbolsSection::Rollback(ProductInstall.UpdateSymbols.U)"));
}

TEST_F(UpdateSymbolsTest, UndefinedNameFailsOnlyAsTheLastLine)
{
    interp->SetSymbol("X", "orig");
    interp->SetGlobalSymbol("G", "global");
    EXPECT_EQ(Run("G=1\r\nX=set\r\n"), 0);
    EXPECT_EQ(section->GetExitCode(), -2901);
    EXPECT_EQ(interp->GetSymbol("X"), "set");
    EXPECT_EQ(interp->GetSymbol("G"), "global");
    EXPECT_EQ(list.Size(), 2u);

    EXPECT_EQ(Run("X=again\r\nUNDEFINED=1\r\n"), -300);
    EXPECT_EQ(section->GetExitCode(), -2901);
    EXPECT_EQ(list.Size(), 4u);
}

TEST_F(UpdateSymbolsTest, EmptySectionRecordsNothing)
{
    EXPECT_EQ(Run(""), 0);
    EXPECT_EQ(list.Size(), 0u);
    WriteScript("[Other]\r\nX=1\r\n");
    EXPECT_EQ(section->Run("ProductInstall.UpdateSymbols.Missing", list), 0);
    EXPECT_EQ(list.Size(), 0u);
}

TEST_F(UpdateSymbolsTest, FullRecordEndsTheSection)
{
    interp->SetSymbol("X", "orig");
    for (int i = 1; i < CHFS_ItemList::MAX_ITEMS; ++i)
        list.AddItem(i, "", "", "");
    EXPECT_EQ(Run("X=one\r\nX=two\r\n"), -300);
    EXPECT_EQ(section->GetExitCode(), -2999);
    EXPECT_EQ(interp->GetSymbol("X"), "one");
}

TEST_F(UpdateSymbolsTest, LinesBeyondTheBufferAreNotSeen)
{
    interp->SetSymbol("X", "orig");
    interp->SetSymbol("Z", "orig");
    std::string filler = "X=" + std::string(9000, 'v') + "\r\n";
    EXPECT_EQ(Run(filler + "Z=late\r\n"), 0);
    EXPECT_EQ(interp->GetSymbol("Z"), "orig");
}
