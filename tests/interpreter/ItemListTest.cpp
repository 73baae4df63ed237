#include <gtest/gtest.h>

#include "interpreter/ItemList.h"

TEST(ItemList, PopStopsAtTheStepBoundaryAndGetLastStepMovesOn)
{
    CHFS_ItemList list;
    ASSERT_EQ(list.SetStep(1), 0);
    ASSERT_EQ(list.AddItem(1, "a", "b", "c"), 0);
    ASSERT_EQ(list.SetStep(3), 0);
    ASSERT_EQ(list.AddItem(7, "x", "", ""), 0);
    ASSERT_EQ(list.AddItem(8, "y", "", ""), 0);

    int step = 0;
    ASSERT_EQ(list.GetLastStep(step), 0);
    EXPECT_EQ(step, 3);
    int index = 0;
    std::string p1, p2, p3;
    ASSERT_EQ(list.PopItem(index, p1), 0);
    EXPECT_EQ(index, 8);
    EXPECT_EQ(p1, "y");
    ASSERT_EQ(list.PopItem(index, p1, p2), 0);
    EXPECT_EQ(index, 7);
    // The step-1 item belongs to another handler.
    EXPECT_EQ(list.PopItem(index, p1, p2, p3), -1);
    EXPECT_EQ(list.Size(), 1u);

    ASSERT_EQ(list.GetLastStep(step), 0);
    EXPECT_EQ(step, 1);
    ASSERT_EQ(list.PopItem(index, p1, p2, p3), 0);
    EXPECT_EQ(p1, "a");
    EXPECT_EQ(p2, "b");
    EXPECT_EQ(p3, "c");
    EXPECT_EQ(list.GetLastStep(step), -1);
    EXPECT_EQ(list.PopItem(index), -1);
}

TEST(ItemList, RefusesItemsAndStepsAtTheLimit)
{
    CHFS_ItemList list;
    ASSERT_EQ(list.SetStep(2), 0);
    for (int i = 0; i < CHFS_ItemList::MAX_ITEMS; ++i)
        ASSERT_EQ(list.AddItem(i, "", "", ""), 0) << i;
    EXPECT_EQ(list.AddItem(0, "", "", ""), -1);
    EXPECT_EQ(list.SetStep(3), -1);
    EXPECT_EQ(list.GetStep(), 2);
    EXPECT_EQ(list.Size(), static_cast<size_t>(CHFS_ItemList::MAX_ITEMS));

    int index = 0;
    ASSERT_EQ(list.PopItem(index), 0);
    EXPECT_EQ(list.SetStep(3), 0);
    EXPECT_EQ(list.AddItem(1, "", "", ""), 0);
    EXPECT_EQ(list.AddItem(1, "", "", ""), -1);
}

namespace {

// What a journal is told, in order: "+" and the item's Param1, "-" for a pop.
struct CJournalTrace : CHFS_ItemJournal {
    std::string events;
    void Added(const CHFS_RecordItem& item) override { events += "+" + item.strParam1; }
    void Removed() override { events += "-"; }
    void Noted(const CHFS_RecordItem&) override {}
};

}  // namespace

// An item leaves the journal only once its undo has worked: when the next one
// is taken or the handler ends well. One whose undo failed stays in the
// journal and goes back into the list, for the next attempt.
TEST(ItemList, AnItemLeavesTheJournalOnlyOnceItIsUndone)
{
    CJournalTrace journal;
    CHFS_ItemList list;
    list.SetJournal(&journal);
    list.SetStep(1);
    list.AddItem(1, "a", "", "");
    list.AddItem(2, "b", "", "");
    list.AddItem(3, "c", "", "");
    int index = 0;
    ASSERT_EQ(list.PopItem(index), 0);
    EXPECT_EQ(journal.events, "+a+b+c");  // c taken, not yet undone
    ASSERT_EQ(list.PopItem(index), 0);
    EXPECT_EQ(journal.events, "+a+b+c-");  // c undone, b taken
    list.EndUndo(false);                   // b's undo failed
    EXPECT_EQ(journal.events, "+a+b+c-");
    ASSERT_EQ(list.Size(), 2u);
    EXPECT_EQ(list.Items().back().strParam1, "b");

    ASSERT_EQ(list.PopItem(index), 0);
    list.EndUndo(true);
    EXPECT_EQ(journal.events, "+a+b+c--");
    list.EndUndo(true);  // nothing taken since: nothing more to say
    EXPECT_EQ(journal.events, "+a+b+c--");
}
