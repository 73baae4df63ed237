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
