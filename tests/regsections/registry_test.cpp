// The UpdateRegistry and RemoveRegistry sections in-process, against the
// real registry of the Wine machine, in the program's own view and in the
// 64-bit view that "x64" names.
#include "JournalWitness.h"
#include "RegFixture.h"

#include <algorithm>

namespace {

INSTANTIATE_TEST_SUITE_P(Views, RegSectionTest, ::testing::ValuesIn(kViews),
                         [](const ::testing::TestParamInfo<ViewCase>& i) { return std::string(i.param.name); });

}  // namespace

TEST_P(RegSectionTest, DwordTextsAndANewKeyThatRollsBackToNothing)
{
    struct {
        const char* text;
        DWORD expected;
    } const cases[] = {{"0x1F", 31},          {"31", 31},  {"0X1F", 0},           {"-1", 0xFFFFFFFFu},
                       {"0xffffffff", 0xFFFFFFFFu}, {"abc", 0}, {"0x", 0}, {"4294967295", 0xFFFFFFFFu}};
    std::vector<std::string> items;
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        items.push_back(Desc("REG_DWORD", "\\New", "Level" + std::to_string(i + 1)) + "|" + cases[i].text);
    Items(kUpdate, items);
    kvtest::SnapshotState before = Snap();

    CHFS_UpdateRegistrySection sec(interp.get());
    EXPECT_EQ(0, sec.Run(kUpdate, list)) << cb.LogText();
    // The first item found no key: the failed open stays the exit code.
    EXPECT_EQ(-3102, sec.GetExitCode());
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        EXPECT_EQ("4:" + Dword(cases[i].expected), Get("\\New", "Level" + std::to_string(i + 1))) << cases[i].text;
    ASSERT_EQ(8u, list.Size());
    EXPECT_EQ((std::vector<std::string>{"1", "", "AK", ""}), Records()[0]);
    EXPECT_EQ((std::vector<std::string>{"2", "", "A", ""}), Records()[1]);
    EXPECT_TRUE(StampedLine("CHFS_UpdateRegistrySection::Run(): RegCreateKeyEx Successful for subkey='" +
                            Path("\\New") + "'."));
    EXPECT_TRUE(StampedLine("CHFS_UpdateRegistrySection::Run(): RegSetValueEx Successful for name='Level1', type=4, "
                            "value='0x1F'"));
    EXPECT_TRUE(StampedLine("RegSetValueEx Success! ret=0 [" + Desc("REG_DWORD", "\\New", "Level1") + "]"));

    EXPECT_EQ(0, sec.Rollback(kUpdate, list));
    EXPECT_EQ(0u, list.Size());
    EXPECT_FALSE(KeyThere("\\New"));
    EXPECT_EQ("", kvtest::DiffSnapshots(before, Snap()));
    EXPECT_TRUE(StampedLine("CHFS_UpdateRegistrySection::Rollback(): RegDeleteValue Successful for name='Level8'"));
    EXPECT_TRUE(Logged("CHFS_UpdateRegistrySection::Rollback() => CHFS_Interpreter::DeleteRegKey(): RegDeleteKeyExA "
                       "Successful."));
}

TEST_P(RegSectionTest, ExistingValuesComeBackWithTheDeclaredType)
{
    ASSERT_TRUE(Put("\\Old", "Text", REG_SZ, Sz("old %TEMP% text")));
    ASSERT_TRUE(Put("\\Old", "Num", REG_DWORD, Dword(0xFFFFFFFBu)));
    ASSERT_TRUE(Put("\\Old", "", REG_SZ, Sz("the default")));
    // Stored text that looks like the reader's missing-value marker.
    ASSERT_TRUE(Put("\\Old", "Marker", REG_SZ, Sz("(empty)")));
    Items(kUpdate, {Desc("REG_SZ", "\\Old", "Text") + "|new", Desc("REG_DWORD", "\\Old", "Num") + "|7",
                    Desc("REG_SZ", "\\Old", "") + "|new default", Desc("REG_SZ", "\\Old", "Marker") + "|set"});
    kvtest::SnapshotState before = Snap();

    CHFS_UpdateRegistrySection sec(interp.get());
    EXPECT_EQ(0, sec.Run(kUpdate, list)) << cb.LogText();
    EXPECT_EQ(-2000, sec.GetExitCode());
    EXPECT_EQ("1:" + Sz("new"), Get("\\Old", "Text"));
    EXPECT_EQ("4:" + Dword(7), Get("\\Old", "Num"));
    EXPECT_EQ("1:" + Sz("new default"), Get("\\Old", ""));
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"1", "old %TEMP% text", "", ""},
                                                     {"2", "-5", "", ""},
                                                     {"3", "the default", "", ""},
                                                     {"4", "(empty)", "", ""}}),
              Records());

    EXPECT_EQ(0, sec.Rollback(kUpdate, list));
    EXPECT_EQ("", kvtest::DiffSnapshots(before, Snap())) << cb.LogText();
    EXPECT_TRUE(StampedLine("CHFS_UpdateRegistrySection::Rollback(): RegSetValueEx Successful for name='Num', type=4, "
                            "value=-5'"));
}

TEST_P(RegSectionTest, ItemsWithoutKeyOrValueAreSkipped)
{
    Items(kUpdate, {Desc("REG_SZ", "", "NoValue") + "|", "|orphan value", Desc("REG_SZ", "", "Third") + "|3"});
    CHFS_UpdateRegistrySection sec(interp.get());
    EXPECT_EQ(0, sec.Run(kUpdate, list));
    EXPECT_EQ("missing", Get("", "NoValue"));
    EXPECT_EQ("1:" + Sz("3"), Get("", "Third"));
    ASSERT_EQ(1u, list.Size());
    EXPECT_EQ("3", Records()[0][0]);
    EXPECT_FALSE(Logged("EventHandler('Reg1."));
    EXPECT_FALSE(Logged("EventHandler('Reg2."));
}

TEST_P(RegSectionTest, ValuesTheRecordCannotCarryAreLeftAlone)
{
    ASSERT_TRUE(Put("", "Expand", REG_EXPAND_SZ, Sz("%SystemRoot%\\x")));
    ASSERT_TRUE(Put("", "Text", REG_SZ, Sz("hello")));
    ASSERT_TRUE(Put("", "Tail", REG_SZ, std::string("ab\0cd\0", 6)));
    const std::string cont = "Reg1.Error.Action=KVHF_CONTINUE\r\nReg2.Error.Action=KVHF_CONTINUE\r\n"
                             "Reg3.Error.Action=KVHF_CONTINUE\r\n";
    Items(kUpdate, {Desc("REG_SZ", "", "Expand") + "|plain", Desc("REG_DWORD", "", "Text") + "|5",
                    Desc("REG_SZ", "", "Tail") + "|x|" + cont});
    kvtest::SnapshotState before = Snap();
    CHFS_UpdateRegistrySection sec(interp.get());
    EXPECT_EQ(0, sec.Run(kUpdate, list));
    EXPECT_EQ(-3104, sec.GetExitCode());
    EXPECT_EQ(0u, list.Size());
    EXPECT_EQ("", kvtest::DiffSnapshots(before, Snap()));
    EXPECT_EQ(3u, kvtest::CountOf(cb.LogText(), "RegSetValueEx Failed! ret=1630 ["));
}

TEST_P(RegSectionTest, DescriptionErrorsEndTheSection)
{
    struct {
        std::string desc;
        int exitCode;
    } const cases[] = {{"Reg:REG_BINARY,HKLM,SOFTWARE\\X,Y", -3101},
                       {"Reg:REG_SZ,HKXX,SOFTWARE\\X,Y", -3100},
                       {"Reg:REG_SZ,HKLM,SOFTWARE\\X,", -3100},
                       {"Reg:REG_SZ,HKLM", -3100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.desc);
        Items(kUpdate, {Desc("REG_SZ", "", "First") + "|1", c.desc + "|2", Desc("REG_SZ", "", "Third") + "|3"});
        CHFS_UpdateRegistrySection sec(interp.get());
        EXPECT_EQ(-1, sec.Run(kUpdate, list));
        EXPECT_EQ(c.exitCode, sec.GetExitCode());
        EXPECT_EQ(1u, list.Size());
        EXPECT_EQ("missing", Get("", "Third"));
        EXPECT_EQ(0, sec.Rollback(kUpdate, list));
        EXPECT_EQ("missing", Get("", "First"));
    }
}

TEST_P(RegSectionTest, ItemAnswersAndAFullRecord)
{
    // An uninstall answer stays the result while later items have no event.
    Items(kUpdate, {Desc("REG_SZ", "", "A") + "|1|Reg1.Success.Action=KVHF_UNINSTALL\r\n", "|x"});
    CHFS_UpdateRegistrySection sec(interp.get());
    EXPECT_EQ(KVHF_UNINSTALL, sec.Run(kUpdate, list));
    // A break ends the section before the next item.
    Items(kUpdate, {Desc("REG_SZ", "", "A") + "|1|Reg1.Success.Action=KVHF_USERBREAK\r\n",
                    Desc("REG_SZ", "", "B") + "|2"});
    EXPECT_EQ(KVHF_USERBREAK, sec.Run(kUpdate, list));
    EXPECT_EQ("missing", Get("", "B"));
    EXPECT_EQ(0, sec.Rollback(kUpdate, list));
    EXPECT_EQ("missing", Get("", "A"));

    // With no room for its record nothing is changed, not even the key that
    // had to be made for the value.
    FillList();
    Items(kUpdate, {Desc("REG_SZ", "\\Made", "V") + "|1"});
    EXPECT_EQ(KVHF_USERBREAK, sec.Run(kUpdate, list));
    EXPECT_EQ(-3199, sec.GetExitCode());
    EXPECT_FALSE(KeyThere("\\Made"));
}

TEST_P(RegSectionTest, RemovingWhatIsAbsentSucceedsWithoutRecord)
{
    Items(kRemove, {Desc("REG_SZ", "", "Nope") + "|", Desc("REG_SZ", "\\Absent", "") + "|"});
    CHFS_RemoveRegistrySection sec(interp.get());
    EXPECT_EQ(0, sec.Run(kRemove, list));
    EXPECT_EQ(0u, list.Size());
    EXPECT_TRUE(Logged("EventHandler('Reg1.Success.',OldRet=0)"));
    EXPECT_TRUE(Logged("EventHandler('Reg2.Success.',OldRet=0)"));
    EXPECT_TRUE(RawLine("RegDeleteValue/Key Success! ret=0 [" + Desc("REG_SZ", "\\Absent", "") + "]"));
}

TEST_P(RegSectionTest, OneValueAndAWholeKeyComeBack)
{
    ASSERT_TRUE(Put("", "Text", REG_SZ, Sz("  \"quoted\" %TEMP% ")));
    ASSERT_TRUE(Put("", "Num", REG_DWORD, Dword(0x80000000u)));
    ASSERT_TRUE(Put("\\Whole", "A", REG_SZ, Sz("a, with comma")));
    ASSERT_TRUE(Put("\\Whole", "B", REG_DWORD, Dword(0xFFFFFFFFu)));
    ASSERT_TRUE(Put("\\Whole", "", REG_SZ, Sz("the default")));
    ASSERT_TRUE(Put("\\Whole", "Empty", REG_SZ, Sz("")));
    ASSERT_TRUE(Put("\\Whole", "Marker", REG_SZ, Sz("(empty)")));
    Items(kRemove, {Desc("REG_SZ", "", "Text") + "|", Desc("REG_DWORD", "", "Num") + "|",
                    Desc("REG_SZ", "\\Whole", "") + "|"});
    kvtest::SnapshotState before = Snap();

    CHFS_RemoveRegistrySection sec(interp.get());
    EXPECT_EQ(0, sec.Run(kRemove, list)) << cb.LogText();
    EXPECT_EQ("missing", Get("", "Text"));
    EXPECT_EQ("missing", Get("", "Num"));
    EXPECT_FALSE(KeyThere("\\Whole"));
    std::vector<std::vector<std::string>> rec = Records();
    ASSERT_EQ(8u, rec.size());
    EXPECT_EQ((std::vector<std::string>{"1", "Text", "  \"quoted\" %TEMP% ", ""}), rec[0]);
    EXPECT_EQ((std::vector<std::string>{"2", "Num", "-2147483648", ""}), rec[1]);
    std::vector<std::vector<std::string>> values(rec.begin() + 2, rec.end() - 1);
    std::sort(values.begin(), values.end());
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"3", "", "the default", "REG_SZ"},
                                                     {"3", "A", "a, with comma", "REG_SZ"},
                                                     {"3", "B", "-1", "REG_DWORD"},
                                                     {"3", "Empty", "", "REG_SZ"},
                                                     {"3", "Marker", "(empty)", "REG_SZ"}}),
              values);
    EXPECT_EQ((std::vector<std::string>{"3", "", "", ""}), rec.back());
    EXPECT_TRUE(RawLine("CHFS_RemoveRegistrySection::Run(): RegDeleteValue Successful for name='Text'"));
    EXPECT_TRUE(RawLine("CHFS_RemoveRegistrySection::Run(): RegOpenKeyEx Successful for subkey='" + Path("\\Whole") +
                        "'"));

    // The key comes back first, then its values, the default one included.
    EXPECT_EQ(0, sec.Rollback(kRemove, list));
    EXPECT_EQ(0u, list.Size());
    EXPECT_EQ("", kvtest::DiffSnapshots(before, Snap())) << cb.LogText();
    EXPECT_TRUE(StampedLine("CHFS_RemoveRegistrySection::Rollback(): RegCreateKeyEx Successful for subkey='" +
                            Path("\\Whole") + "'"));
    EXPECT_TRUE(StampedLine("CHFS_RemoveRegistrySection::Rollback(): RegSetValueEx Successful for name='B', type=4, "
                            "value='-1'"));
}

TEST_P(RegSectionTest, KeyWithSubkeysIsRefusedAndItsRecordedValuesStay)
{
    ASSERT_TRUE(Put("\\Parent", "P", REG_SZ, Sz("p")));
    ASSERT_TRUE(Put("\\Parent", "Q", REG_DWORD, Dword(9)));
    ASSERT_TRUE(Put("\\Parent\\Child", "C", REG_SZ, Sz("c")));
    Items(kRemove, {Desc("REG_SZ", "\\Parent", "") + "|"});
    kvtest::SnapshotState before = Snap();
    CHFS_RemoveRegistrySection sec(interp.get());
    EXPECT_EQ(-1, sec.Run(kRemove, list)) << cb.LogText();
    EXPECT_EQ(-2403, sec.GetExitCode());
    EXPECT_EQ("", kvtest::DiffSnapshots(before, Snap()));
    // Both values are in the list, no key entry: the rollback writes them
    // again into the key that is still there.
    ASSERT_EQ(2u, list.Size());
    EXPECT_EQ(0, sec.Rollback(kRemove, list));
    EXPECT_EQ(0u, list.Size());
    EXPECT_EQ("", kvtest::DiffSnapshots(before, Snap()));
    EXPECT_TRUE(StampedLine("CHFS_RemoveRegistrySection::Rollback(): RegSetValueEx Successful for name='Q', type=4, "
                            "value='9'"));
}

TEST_P(RegSectionTest, TypesTheRecordCannotCarryKeepTheirKey)
{
    struct {
        const char* name;
        DWORD type;
        std::string bytes;
    } const cases[] = {{"Expand", REG_EXPAND_SZ, Sz("%SystemRoot%\\kv")},
                       {"Multi", REG_MULTI_SZ, std::string("one\0two\0\0", 9)},
                       {"Binary", REG_BINARY, std::string("\x01\x00\x02", 3)},
                       {"Quad", REG_QWORD, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)},
                       {"Long", REG_SZ, Sz(std::string(5000, 'x'))}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Clean();
        ASSERT_TRUE(Put("\\Odd", "Plain", REG_SZ, Sz("plain")));
        ASSERT_TRUE(Put("\\Odd", c.name, c.type, c.bytes));
        // The one value too, named with the type it is not.
        Items(kRemove, {Desc("REG_SZ", "\\Odd", "") + "||Reg1.Error.Action=KVHF_CONTINUE\r\n",
                        Desc("REG_SZ", "\\Odd", c.name) + "||Reg2.Error.Action=KVHF_CONTINUE\r\n"});
        kvtest::SnapshotState before = Snap();
        CHFS_RemoveRegistrySection sec(interp.get());
        EXPECT_EQ(0, sec.Run(kRemove, list));
        EXPECT_EQ(-2403, sec.GetExitCode());
        EXPECT_EQ(0u, list.Size());
        EXPECT_EQ("", kvtest::DiffSnapshots(before, Snap()));
        EXPECT_TRUE(RawLine("RegDeleteValue/Key Failed! ret=1630 [" + Desc("REG_SZ", "\\Odd", "") + "]"));
        cb.logLines.clear();
    }

    // A character the system code page lacks would come back as another.
    if (::GetACP() == CP_UTF8)
        return;
    Clean();
    ASSERT_TRUE(Put("\\Odd", "Plain", REG_SZ, Sz("plain")));
    HKEY k = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, Path("\\Odd").c_str(), 0, KEY_ALL_ACCESS | View(), &k));
    const wchar_t gothic[] = L"a\xD800\xDF48";
    LONG set = ::RegSetValueExW(k, L"Wide", 0, REG_SZ, reinterpret_cast<const BYTE*>(gothic), sizeof gothic);
    ::RegCloseKey(k);
    ASSERT_EQ(ERROR_SUCCESS, set);
    Items(kRemove, {Desc("REG_SZ", "\\Odd", "") + "||Reg1.Error.Action=KVHF_CONTINUE\r\n",
                    Desc("REG_SZ", "\\Odd", "Wide") + "|"});
    kvtest::SnapshotState before = Snap();
    CHFS_RemoveRegistrySection sec(interp.get());
    EXPECT_EQ(-1, sec.Run(kRemove, list));
    EXPECT_EQ(0u, list.Size());
    EXPECT_EQ("", kvtest::DiffSnapshots(before, Snap()));

    // Nor can a value whose name the code page lacks: the 8-bit functions
    // find nothing by it, which must not pass for a key already removed.
    kvtest::RegDeleteValueOf(HKEY_LOCAL_MACHINE, Path("\\Odd"), "Wide", View());
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, Path("\\Odd").c_str(), 0, KEY_ALL_ACCESS | View(), &k));
    set = ::RegSetValueExW(k, gothic, 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), sizeof L"x");
    ::RegCloseKey(k);
    ASSERT_EQ(ERROR_SUCCESS, set);
    Items(kRemove, {Desc("REG_SZ", "\\Odd", "") + "|"});
    before = Snap();
    EXPECT_EQ(-1, sec.Run(kRemove, list));
    EXPECT_EQ(-2403, sec.GetExitCode());
    EXPECT_EQ(0u, list.Size());
    EXPECT_TRUE(KeyThere("\\Odd"));
    EXPECT_EQ("", kvtest::DiffSnapshots(before, Snap()));
    EXPECT_TRUE(RawLine("RegDeleteValue/Key Failed! ret=1113 [" + Desc("REG_SZ", "\\Odd", "") + "]"));
}

TEST_P(RegSectionTest, RemoveSyntaxErrorsAndAFullRecord)
{
    Items(kRemove, {"|"});
    CHFS_RemoveRegistrySection sec(interp.get());
    EXPECT_EQ(-1, sec.Run(kRemove, list));
    EXPECT_EQ(-2400, sec.GetExitCode());
    EXPECT_TRUE(RawLine("Syntax error , incorrect registry description!"));
    Items(kRemove, {"Reg:REG_MULTI_SZ,HKLM,SOFTWARE\\X,Y|"});
    EXPECT_EQ(-1, sec.Run(kRemove, list));
    EXPECT_EQ(-2401, sec.GetExitCode());

    // Without room in the record nothing is deleted.
    ASSERT_TRUE(Put("\\Full", "V", REG_SZ, Sz("v")));
    kvtest::SnapshotState before = Snap();
    FillList();
    for (const std::string& name : {std::string("V"), std::string()}) {
        Items(kRemove, {Desc("REG_SZ", "\\Full", name) + "|"});
        EXPECT_EQ(KVHF_USERBREAK, sec.Run(kRemove, list));
        EXPECT_EQ(-2499, sec.GetExitCode());
        EXPECT_EQ("", kvtest::DiffSnapshots(before, Snap()));
    }
}

// Each view only: a 32-bit program without "x64" writes where 32-bit
// programs look, with it where 64-bit ones do; the 64-bit build writes to
// the 64-bit view either way.
TEST(RegSectionViews, EachWriteLandsInTheViewItNames)
{
    kvtest::RegDeleteTree(HKEY_LOCAL_MACHINE, kBase, KEY_WOW64_64KEY);
    kvtest::RegDeleteTree(HKEY_LOCAL_MACHINE, kBase, KEY_WOW64_32KEY);
    kvtest::TempDir dir("regview");
    kvtest::CRecordingCallback cb;
    CHFS_Interpreter interp(&cb, "setup.ini");
    interp.m_strScriptFile = dir / "setup.ini";
    ASSERT_TRUE(kvtest::WriteFileBytes(interp.m_strScriptFile,
                                       std::string("[") + kUpdate + "]\r\nRegCount=2\r\nReg1.Key=Reg:REG_SZ,HKLM," +
                                           kBase + ",Own\r\nReg1.Value=own\r\nReg2.Key=Reg:REG_SZ,HKLM," + kBase +
                                           ",Wide,x64\r\nReg2.Value=wide\r\n"));
    CHFS_ItemList list;
    CHFS_UpdateRegistrySection sec(&interp);
    EXPECT_EQ(0, sec.Run(kUpdate, list));
    std::string v;
    EXPECT_TRUE(kvtest::RegReadString(HKEY_LOCAL_MACHINE, kBase, "Own", v, kvtest::kProgramView));
    EXPECT_FALSE(kvtest::RegReadString(HKEY_LOCAL_MACHINE, kBase, "Own", v, kvtest::kOtherView));
    EXPECT_TRUE(kvtest::RegReadString(HKEY_LOCAL_MACHINE, kBase, "Wide", v, KEY_WOW64_64KEY));
    EXPECT_FALSE(kvtest::RegReadString(HKEY_LOCAL_MACHINE, kBase, "Wide", v, KEY_WOW64_32KEY));
    EXPECT_EQ(0, sec.Rollback(kUpdate, list));
    kvtest::RegDeleteTree(HKEY_LOCAL_MACHINE, kBase, KEY_WOW64_64KEY);
    kvtest::RegDeleteTree(HKEY_LOCAL_MACHINE, kBase, KEY_WOW64_32KEY);
}

TEST_P(RegSectionTest, WhatIsDeletedIsInTheJournalBeforeItGoes)
{
    struct {
        const char* name;
        const char* sub;
        const char* value;  // "": the whole key
    } cases[] = {{"a value", "", "Gone"}, {"an empty key", "\\Empty", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (*c.value)
            ASSERT_TRUE(Put(c.sub, c.value, REG_SZ, Sz("old")));
        else {
            HKEY made = nullptr;
            ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, Path(c.sub).c_str(), 0, nullptr, 0,
                                                       KEY_WRITE | View(), nullptr, &made, nullptr));
            ::RegCloseKey(made);
        }
        Items(kRemove, {Desc("REG_SZ", c.sub, c.value) + "|"});
        kvtest::CJournalWitness witness;
        witness.unchanged = [&]() { return *c.value ? Get(c.sub, c.value) != "missing" : KeyThere(c.sub); };
        CHFS_ItemList journaled;
        journaled.SetStep(3);
        journaled.SetJournal(&witness);
        CHFS_RemoveRegistrySection sec(interp.get());
        EXPECT_EQ(0, sec.Run(kRemove, journaled)) << cb.LogText();
        EXPECT_FALSE(witness.unchanged());
        EXPECT_TRUE(witness.journaledBeforeChange);
        journaled.SetJournal(nullptr);
    }
}
