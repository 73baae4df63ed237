// What undoing a registry item would meet (as the patch left it, put back
// already, changed since), and rollbacks that hold: a second replay, the keys
// an item created, and undo that cannot be done reported as a failure.
#include "RegFixture.h"

#include <functional>
#include <map>

#include "UndoCheck.h"

namespace {

const int L = CHFS_UndoTarget::AS_LEFT;
const int R = CHFS_UndoTarget::RESTORED;
const int C = CHFS_UndoTarget::CHANGED;

class RegUndoTest : public RegSectionTest {
protected:
    // The view the case does not name.
    REGSAM OtherView() const { return View() == KEY_WOW64_64KEY ? KEY_WOW64_32KEY : KEY_WOW64_64KEY; }
    // A key whose children can only be volatile: nothing lasting can be
    // created below it.
    bool MakeVolatile(const std::string& sub) const
    {
        HKEY k = nullptr;
        LONG ret = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, Path(sub).c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                     KEY_ALL_ACCESS | View(), nullptr, &k, nullptr);
        if (ret == ERROR_SUCCESS)
            ::RegCloseKey(k);
        return ret == ERROR_SUCCESS;
    }
    // A change of the machine after the install, and the states CheckUndo
    // must then give for the items, oldest first.
    struct Case {
        const char* name;
        std::function<void()> change;
        std::vector<int> states;
        const char* why;  // part of the changed items' whys
    };
    void Expect(CHFS_Section& sec, const char* section, const std::function<void()>& asLeft,
                const std::vector<Case>& cases)
    {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            asLeft();
            c.change();
            std::string why;
            EXPECT_EQ(c.states, kvtest::UndoStates(sec, section, list, &why));
            EXPECT_NE(std::string::npos, why.find(c.why)) << why;
        }
        asLeft();
    }
};

INSTANTIATE_TEST_SUITE_P(Views, RegUndoTest, ::testing::ValuesIn(kViews),
                         [](const ::testing::TestParamInfo<ViewCase>& i) { return std::string(i.param.name); });

}  // namespace

TEST_P(RegUndoTest, UpdateRegistryItemsKnowWhatThePatchLeft)
{
    ASSERT_TRUE(Put("\\U", "Num", REG_DWORD, Dword(5)));
    ASSERT_TRUE(Put("\\U", "Text", REG_SZ, Sz("old")));
    Items(kUpdate, {Desc("REG_DWORD", "\\U", "Num") + "|7", Desc("REG_SZ", "\\U", "Text") + "|new",
                    Desc("REG_SZ", "\\U", "Added") + "|added"});
    CHFS_UpdateRegistrySection sec(interp.get());
    ASSERT_EQ(0, sec.Run(kUpdate, list)) << cb.LogText();
    // Unsealed (a journal, a record of an earlier version): not checked.
    ASSERT_TRUE(Put("\\U", "Num", REG_DWORD, Dword(99)));
    EXPECT_EQ((std::vector<int>{L, L, L}), kvtest::UndoStates(sec, kUpdate, list));

    // A later step of the same install changed a value again: the seal
    // says what the install left in the end.
    ASSERT_TRUE(Put("\\U", "Num", REG_DWORD, Dword(7)));
    ASSERT_TRUE(Put("\\U", "Text", REG_SZ, Sz("later")));
    kvtest::SealAll(sec, kUpdate, list);
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"1", "5", "", "left:=REG_DWORD:7"},
                                                     {"2", "old", "", "left:=REG_SZ:later"},
                                                     {"3", "", "A", "left:=REG_SZ:added"}}),
              Records());

    auto asLeft = [&] {
        Put("\\U", "Num", REG_DWORD, Dword(7));
        Put("\\U", "Text", REG_SZ, Sz("later"));
        Put("\\U", "Added", REG_SZ, Sz("added"));
        kvtest::RegDeleteTree(HKEY_LOCAL_MACHINE, Path("\\U"), OtherView());
    };
    Expect(sec, kUpdate, asLeft,
           {{"as left", [] {}, {L, L, L}, ""},
            {"put back by an earlier removal",
             [&] {
                 Put("\\U", "Num", REG_DWORD, Dword(5));
                 Put("\\U", "Text", REG_SZ, Sz("old"));
                 kvtest::RegDeleteValueOf(HKEY_LOCAL_MACHINE, Path("\\U"), "Added", View());
             },
             {R, R, R},
             ""},
            {"changed since",
             [&] {
                 Put("\\U", "Num", REG_DWORD, Dword(8));
                 Put("\\U", "Added", REG_SZ, Sz("theirs"));
             },
             {C, L, C},
             "value is 'REG_DWORD:8', the patch left 'REG_DWORD:7'"},
            {"the same digits as another type",
             [&] { Put("\\U", "Num", REG_SZ, Sz("7")); },
             {C, L, L},
             "value is 'REG_SZ:7', the patch left 'REG_DWORD:7'"},
            {"deleted since", [&] { kvtest::RegDeleteTree(HKEY_LOCAL_MACHINE, Path("\\U"), View()); }, {C, C, R},
             "value is absent, the patch left 'REG_SZ:later'"},
            {"changed in the other view only",
             [&] {
                 kvtest::RegWriteValue(HKEY_LOCAL_MACHINE, Path("\\U"), "Num", REG_SZ, "x", 2, OtherView());
             },
             {L, L, L},
             ""}});
}

TEST_P(RegUndoTest, RemoveRegistryItemsKnowWhatThePatchLeftAndStillRollBack)
{
    ASSERT_TRUE(Put("", "Text", REG_SZ, Sz("text")));
    ASSERT_TRUE(Put("\\Whole", "A", REG_SZ, Sz("a")));
    ASSERT_TRUE(Put("\\Whole", "B", REG_DWORD, Dword(9)));
    Items(kRemove, {Desc("REG_SZ", "", "Text") + "|", Desc("REG_SZ", "\\Whole", "") + "|"});
    kvtest::SnapshotState before = Snap();
    CHFS_RemoveRegistrySection sec(interp.get());
    ASSERT_EQ(0, sec.Run(kRemove, list)) << cb.LogText();
    kvtest::SealAll(sec, kRemove, list);
    // Name to item: Param1 is the value's name, empty for the key's own entry.
    std::map<std::string, std::vector<std::string>> items;
    for (const std::vector<std::string>& r : Records())
        items[r[1]] = r;
    ASSERT_EQ(4u, items.size());
    EXPECT_EQ((std::vector<std::string>{"1", "Text", "text", "left:-"}), items["Text"]);
    EXPECT_EQ((std::vector<std::string>{"2", "A", "a", "REG_SZ left:-"}), items["A"]);
    EXPECT_EQ((std::vector<std::string>{"2", "B", "9", "REG_DWORD left:-"}), items["B"]);
    EXPECT_EQ((std::vector<std::string>{"2", "", "", "left:-"}), items[""]);

    // The states in the order of the record, from a state per name.
    auto states = [&](std::map<std::string, int> byName) {
        std::vector<int> v;
        for (const std::vector<std::string>& r : Records())
            v.push_back(byName[r[1]]);
        return v;
    };
    auto asLeft = [&] {
        kvtest::RegDeleteValueOf(HKEY_LOCAL_MACHINE, Path(""), "Text", View());
        kvtest::RegDeleteTree(HKEY_LOCAL_MACHINE, Path("\\Whole"), View());
    };
    Expect(sec, kRemove, asLeft,
           {{"as left", [] {}, states({{"Text", L}, {"A", L}, {"B", L}, {"", L}}), ""},
            {"put back by an earlier removal",
             [&] {
                 Put("", "Text", REG_SZ, Sz("text"));
                 Put("\\Whole", "A", REG_SZ, Sz("a"));
                 Put("\\Whole", "B", REG_DWORD, Dword(9));
             },
             states({{"Text", R}, {"A", R}, {"B", R}, {"", R}}),
             ""},
            {"written again since",
             [&] {
                 Put("", "Text", REG_SZ, Sz("theirs"));
                 Put("\\Whole", "B", REG_SZ, Sz("9"));
             },
             states({{"Text", C}, {"A", L}, {"B", C}, {"", R}}),
             "value is 'REG_SZ:9', the patch left absent"}});

    // The seal is no type: the key comes back with its values, each with
    // the type it had, and no default value is made up.
    EXPECT_EQ(0, sec.Rollback(kRemove, list)) << cb.LogText();
    EXPECT_EQ("", kvtest::DiffSnapshots(before, Snap())) << cb.LogText();
}

TEST_P(RegUndoTest, SecondReplayOfTheSameItemsChangesNothingMore)
{
    ASSERT_TRUE(Put("", "Text", REG_SZ, Sz("text")));
    ASSERT_TRUE(Put("\\Whole", "A", REG_DWORD, Dword(1)));
    ASSERT_TRUE(Put("", "Num", REG_DWORD, Dword(3)));
    Script(ItemsText(kUpdate, {Desc("REG_DWORD", "", "Num") + "|4", Desc("REG_SZ", "\\Made\\Deeper", "New") + "|n"}) +
           ItemsText(kRemove, {Desc("REG_SZ", "", "Text") + "|", Desc("REG_SZ", "\\Whole", "") + "|"}));
    kvtest::SnapshotState before = Snap();
    CHFS_UpdateRegistrySection update(interp.get());
    CHFS_RemoveRegistrySection remove(interp.get());
    ASSERT_EQ(0, update.Run(kUpdate, list));
    list.SetStep(4);
    ASSERT_EQ(0, remove.Run(kRemove, list));
    const std::vector<CHFS_RecordItem> items = list.Items();

    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        if (round == 2)
            kvtest::Replay(list, items);
        int step = 0;
        list.GetLastStep(step);
        EXPECT_EQ(0, remove.Rollback(kRemove, list)) << cb.LogText();
        list.GetLastStep(step);
        EXPECT_EQ(0, update.Rollback(kUpdate, list)) << cb.LogText();
        EXPECT_EQ(0u, list.Size());
        EXPECT_EQ("", kvtest::DiffSnapshots(before, Snap()));
    }
}

TEST_P(RegUndoTest, KeysAnItemCreatedGoDeepestFirstWhileEmpty)
{
    Items(kUpdate, {Desc("REG_SZ", "\\Deep\\L2\\L3", "V") + "|v"});
    kvtest::SnapshotState before = Snap();
    CHFS_UpdateRegistrySection sec(interp.get());
    ASSERT_EQ(0, sec.Run(kUpdate, list));
    EXPECT_EQ((std::vector<std::string>{"1", "", "AK3", ""}), Records()[0]);
    const std::vector<CHFS_RecordItem> items = list.Items();
    EXPECT_EQ(0, sec.Rollback(kUpdate, list)) << cb.LogText();
    EXPECT_EQ("", kvtest::DiffSnapshots(before, Snap()));

    // What someone put into a created key since is theirs: that key and the
    // keys above it stay.
    ASSERT_EQ(0, sec.Run(kUpdate, list));
    ASSERT_TRUE(Put("\\Deep", "Theirs", REG_SZ, Sz("t")));
    EXPECT_EQ(0, sec.Rollback(kUpdate, list)) << cb.LogText();
    EXPECT_FALSE(KeyThere("\\Deep\\L2"));
    EXPECT_EQ("1:" + Sz("t"), Get("\\Deep", "Theirs"));

}

TEST_P(RegUndoTest, UndoThatCannotBeDoneFailsAtOnceAndKeepsTheOlderItems)
{
    ASSERT_TRUE(MakeVolatile("\\Vol"));
    // A value to delete whose key is gone is as it was.
    Items(kUpdate, {Desc("REG_SZ", "\\Gone", "V") + "|v", Desc("REG_SZ", "\\Vol\\Sub", "V") + "|v"});
    CHFS_UpdateRegistrySection update(interp.get());
    list.AddItem(1, "", "A", "");
    EXPECT_EQ(0, update.Rollback(kUpdate, list));
    // A value to write back whose key cannot be made again is not.
    list.AddItem(1, "", "A", "");
    list.AddItem(2, "previous", "", "");
    EXPECT_EQ(-1, update.Rollback(kUpdate, list));
    EXPECT_EQ(1u, list.Size());
    EXPECT_TRUE(Logged("CHFS_UpdateRegistrySection::Rollback(): RegCreateKeyEx subkey='" + Path("\\Vol\\Sub") +
                       "' Failed!"));

    // Nor is a deleted key that cannot be made again.
    int index = 0;
    list.PopItem(index);
    Items(kRemove, {Desc("REG_SZ", "", "Text") + "|", Desc("REG_SZ", "\\Vol\\Sub", "") + "|"});
    CHFS_RemoveRegistrySection remove(interp.get());
    list.AddItem(1, "Text", "t", "");
    list.AddItem(2, "", "", "left:-");
    EXPECT_EQ(-1, remove.Rollback(kRemove, list));
    EXPECT_EQ(1u, list.Size());
    EXPECT_EQ("missing", Get("", "Text"));

    // A key that can be neither opened nor made fails its item: the change
    // was not made, and nothing is recorded for it.
    CHFS_ItemList fresh;
    fresh.SetStep(3);
    Items(kUpdate, {Desc("REG_SZ", "\\Vol\\Sub", "V") + "|v|Reg1.Error.Action=KVHF_CONTINUE\r\n",
                    Desc("REG_SZ", "", "After") + "|a"});
    EXPECT_EQ(0, update.Run(kUpdate, fresh));
    EXPECT_EQ(-3103, update.GetExitCode());
    EXPECT_TRUE(Logged("EventHandler('Reg1.Error.',OldRet=-1)"));
    EXPECT_EQ(1u, fresh.Size());
    EXPECT_EQ("1:" + Sz("a"), Get("", "After"));
}
