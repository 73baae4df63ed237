// The UpdateINI section in-process: each item's key set, and everything put
// back as the file stored it.
#include "RegFixture.h"

#include "UndoCheck.h"
#include "sections/UpdateINISection.h"

namespace {

const char kSec[] = "ProductInstall.UpdateINI.T";

class UpdateIniTest : public SectionFixture, public ::testing::Test {
protected:
    std::string Ini() const { return dir / "app.ini"; }
    // "Key|Value" per item; an empty part leaves that key out.
    void Items(const std::vector<std::string>& items, const std::string& extra = std::string())
    {
        std::string s = std::string("[") + kSec + "]\r\nItemCount=" + std::to_string(items.size()) + "\r\n";
        for (size_t i = 0; i < items.size(); ++i) {
            std::string n = "Item" + std::to_string(i + 1);
            size_t bar = items[i].find('|');
            s += n + ".Description=item " + std::to_string(i + 1) + "\r\n";
            if (bar > 0)
                s += n + ".Key=" + items[i].substr(0, bar) + "\r\n";
            if (bar + 1 < items[i].size())
                s += n + ".Value=" + items[i].substr(bar + 1) + "\r\n";
        }
        Script(s + extra);
    }
    std::string Read(const char* section, const char* key) const
    {
        char buf[256] = {0};
        ::GetPrivateProfileStringA(section, key, "gone", buf, sizeof buf, Ini().c_str());
        return buf;
    }
    kvtest::SnapshotState Snap() const
    {
        kvtest::CSnapshot s;
        s.AddIni(Ini());
        return s.Capture();
    }
};

}  // namespace

TEST_F(UpdateIniTest, EveryKindOfKeyIsSetAndPutBackAsStored)
{
    interp->SetGlobalSymbol("WINDIR", "C:\\WINDOWS");
    const std::string original = "top=1\r\n[Main]\r\nPort=80\r\nEmpty=\r\nLiteral=%WINDIR%\\keep\r\n"
                                 "Quoted=\"a b\"\r\n";
    ASSERT_TRUE(kvtest::WriteFileBytes(Ini(), original));
    const std::string f = "INI:" + Ini();
    Items({f + ",Main,New|n", f + ",Main,Port|8080", f + ",Main,Empty|x", f + ",Main,Literal|changed",
           f + ",Main,Quoted|q", f + ",,top|2", f + ",Main,NoValue|", "|no key"});
    kvtest::SnapshotState before = Snap();

    CHFS_UpdateINISection sec(interp.get());
    EXPECT_EQ(0, sec.Run(kSec, list)) << cb.LogText();
    EXPECT_EQ(-2000, sec.GetExitCode());
    EXPECT_EQ("n", Read("Main", "New"));
    EXPECT_EQ("8080", Read("Main", "Port"));
    EXPECT_EQ("x", Read("Main", "Empty"));
    EXPECT_EQ("(empty)", Read("Main", "NoValue"));
    EXPECT_EQ(0u, kvtest::ReadFileOr(Ini()).find("top=2\r\n"));
    // What was stored, not what it reads as: unexpanded, quotes kept.
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"1", "", "A", ""},
                                                     {"2", "80", "", ""},
                                                     {"3", "", "", ""},
                                                     {"4", "%WINDIR%\\keep", "", ""},
                                                     {"5", "\"a b\"", "", ""},
                                                     {"6", "1", "", ""},
                                                     {"7", "", "A", ""}}),
              Records());
    EXPECT_TRUE(Logged("iINICount=8"));
    EXPECT_TRUE(Logged("SetINIVariable Success! ret=0 [" + f + ",Main,Port]"));
    EXPECT_FALSE(Logged("EventHandler('Item8."));

    EXPECT_EQ(0, sec.Rollback(kSec, list));
    EXPECT_EQ(0u, list.Size());
    EXPECT_EQ("", kvtest::DiffSnapshots(before, Snap())) << kvtest::ReadFileOr(Ini());
    // The key that was there empty is there again, empty.
    EXPECT_EQ("", Read("Main", "Empty"));
    EXPECT_EQ("gone", Read("Main", "New"));
    EXPECT_EQ(0u, kvtest::ReadFileOr(Ini()).find("top=1\r\n"));
}

TEST_F(UpdateIniTest, MalformedItemAfterASuccessEndsTheSection)
{
    ASSERT_TRUE(kvtest::WriteFileBytes(Ini(), "[Main]\r\nPort=80\r\n"));
    const std::string f = "INI:" + Ini();
    Items({f + ",Main,Port|81", f + ",Main|bad", f + ",Main,Port|82"});
    CHFS_UpdateINISection sec(interp.get());
    EXPECT_EQ(-1, sec.Run(kSec, list));
    EXPECT_EQ(-3000, sec.GetExitCode());
    EXPECT_EQ("81", Read("Main", "Port"));
    EXPECT_TRUE(Logged("*** Syntax error: Incorrect INI description '" + f + ",Main'!"));
    EXPECT_TRUE(Logged("result of SpliteINIParameter=-1"));
    EXPECT_EQ(0, sec.Rollback(kSec, list));
    EXPECT_EQ("80", Read("Main", "Port"));
}

TEST_F(UpdateIniTest, WriteWithoutAFreshBackupFailsAndIsUndone)
{
    // The old backup is a folder and cannot make room for a fresh one.
    ASSERT_TRUE(kvtest::WriteFileBytes(Ini(), "top=1\r\n[Main]\r\nPort=80\r\n"));
    ASSERT_TRUE(kvtest::CreateTree(Ini() + ".bak"));
    const std::string f = "INI:" + Ini();
    Items({f + ",,top|2"});
    CHFS_UpdateINISection sec(interp.get());
    EXPECT_EQ(-1, sec.Run(kSec, list));
    EXPECT_EQ(-3002, sec.GetExitCode());
    EXPECT_EQ("top=1\r\n[Main]\r\nPort=80\r\n", kvtest::ReadFileOr(Ini()));
    EXPECT_TRUE(Logged("SetINIVariable Failed! ret=-2 [" + f + ",,top]"));
    ASSERT_EQ(1u, list.Size());
    // The write never happened: the rollback finds the key as it was and
    // has nothing to write (it could not write either).
    EXPECT_EQ(0, sec.Rollback(kSec, list));
    EXPECT_EQ("top=1\r\n[Main]\r\nPort=80\r\n", kvtest::ReadFileOr(Ini()));
    EXPECT_TRUE(Logged("nothing to put back [" + f + ",,top]"));
}

TEST_F(UpdateIniTest, FullRecordWritesNothing)
{
    ASSERT_TRUE(kvtest::WriteFileBytes(Ini(), "[Main]\r\nPort=80\r\n"));
    Items({"INI:" + Ini() + ",Main,Port|81"});
    FillList();
    CHFS_UpdateINISection sec(interp.get());
    EXPECT_EQ(KVHF_USERBREAK, sec.Run(kSec, list));
    EXPECT_EQ(-3099, sec.GetExitCode());
    EXPECT_EQ("80", Read("Main", "Port"));
}

namespace {

const int L = CHFS_UndoTarget::AS_LEFT;
const int R = CHFS_UndoTarget::RESTORED;
const int C = CHFS_UndoTarget::CHANGED;

void Write(const std::string& file, const char* section, const char* key, const char* value)
{
    ::WritePrivateProfileStringA(section, key, value, file.c_str());
}

}  // namespace

TEST_F(UpdateIniTest, ItemsKnowWhatThePatchLeftAndKeyNamesLoseTheirBlanks)
{
    // "Port = 80" is the key Port, as the profile functions read it: it
    // existed, and the rollback must put 80 back, not delete it.
    ASSERT_TRUE(kvtest::WriteFileBytes(Ini(), "[Main]\r\nPort = 80\r\n"));
    const std::string f = "INI:" + Ini();
    Items({f + ",Main,Port|8080", f + ",Main,New|n"});
    kvtest::SnapshotState before = Snap();
    CHFS_UpdateINISection sec(interp.get());
    ASSERT_EQ(0, sec.Run(kSec, list)) << cb.LogText();
    EXPECT_EQ((std::vector<int>{L, L}), kvtest::UndoStates(sec, kSec, list));  // not sealed: not checked

    // A later step of the same install set Port again.
    Write(Ini(), "Main", "Port", "9000");
    kvtest::SealAll(sec, kSec, list);
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"1", "80", "", "left:=9000"}, {"2", "", "A", "left:=n"}}),
              Records());

    struct {
        const char* name;
        const char* port;  // null: deleted
        const char* added;
        std::vector<int> states;
        const char* why;
    } const cases[] = {{"as left", "9000", "n", {L, L}, ""},
                       {"put back by an earlier removal", "80", nullptr, {R, R}, ""},
                       {"changed since", "1", "theirs", {C, C}, "value is '1', the patch left '9000'"},
                       {"deleted since", nullptr, "n", {C, L}, "value is absent, the patch left '9000'"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Write(Ini(), "Main", "Port", c.port);
        Write(Ini(), "Main", "New", c.added);
        std::string why;
        EXPECT_EQ(c.states, kvtest::UndoStates(sec, kSec, list, &why));
        EXPECT_NE(std::string::npos, why.find(c.why)) << why;
    }

    Write(Ini(), "Main", "Port", "9000");
    EXPECT_EQ(0, sec.Rollback(kSec, list)) << cb.LogText();
    EXPECT_EQ("", kvtest::DiffSnapshots(before, Snap())) << kvtest::ReadFileOr(Ini());
}

TEST_F(UpdateIniTest, WhatTheFormatCannotCarryBackFailsBeforeTheFileIsTouched)
{
    const std::string original = "[Main]\r\nPort=80\r\n";
    interp->SetGlobalSymbol("LINES", "1\r\n[Injected]\r\nk=v");
    interp->SetGlobalSymbol("BREAK", "Po\nrt");
    interp->SetGlobalSymbol("NUL", std::string("1\0" "2", 3));
    const std::string f = "INI:" + Ini();
    struct {
        std::string item;
        const char* why;
    } const cases[] = {{f + ",Main,Port|%LINES%", "the value holds a line break or a NUL"},
                       {f + ",Main,Port|%NUL%", "the value holds a line break or a NUL"},
                       {f + ",Main,%BREAK%|1", "a name holds a line break or a NUL"},
                       {f + ",Main,Po=rt|1", "the key name holds '='"},
                       {f + ",Ma]in,Port|1", "the section name holds ']'"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item);
        ASSERT_TRUE(kvtest::WriteFileBytes(Ini(), original));
        Items({c.item, f + ",Main,After|a"}, "Item1.Error.Action=KVHF_CONTINUE\r\n");
        cb.logLines.clear();
        CHFS_UpdateINISection sec(interp.get());
        EXPECT_EQ(0, sec.Run(kSec, list));
        EXPECT_EQ(KV_EXIT_INI_UNWRITABLE, sec.GetExitCode());
        EXPECT_TRUE(Logged(std::string("*** Syntax error: ") + c.why)) << cb.LogText();
        EXPECT_TRUE(Logged("EventHandler('Item1.Error.',OldRet=-1)"));
        // Only the next item's key was written, and only it was recorded.
        ASSERT_EQ(1u, list.Size());
        EXPECT_EQ("2", Records()[0][0]);
        EXPECT_EQ(0, sec.Rollback(kSec, list));
        EXPECT_EQ(original, kvtest::ReadFileOr(Ini()));
    }
}

TEST_F(UpdateIniTest, FilesAndSectionsAnItemMadeGoWithItsRollbackWhenEmpty)
{
    const std::string original = "[Main]\r\nPort=80\r\n";
    ASSERT_TRUE(kvtest::WriteFileBytes(Ini(), original));
    const std::string made = dir / "made.ini";
    Items({"INI:" + made + ",Main,K|1", "INI:" + made + ",Other,J|2", "INI:" + Ini() + ",NewSec,K|3",
           "INI:" + Ini() + ",Main,Port|81"});
    CHFS_UpdateINISection sec(interp.get());
    ASSERT_EQ(0, sec.Run(kSec, list)) << cb.LogText();
    EXPECT_EQ("ASF", Records()[0][2]);
    EXPECT_EQ("AS", Records()[1][2]);
    EXPECT_EQ("AS", Records()[2][2]);
    EXPECT_EQ("", Records()[3][2]);
    const std::vector<CHFS_RecordItem> items = list.Items();

    // A second replay (a removal tried again) finds everything as it was.
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        if (round == 2)
            kvtest::Replay(list, items);
        EXPECT_EQ(0, sec.Rollback(kSec, list)) << cb.LogText();
        EXPECT_FALSE(kvtest::Exists(made));
        EXPECT_EQ(std::string::npos, kvtest::ReadFileOr(Ini()).find("NewSec")) << kvtest::ReadFileOr(Ini());
        EXPECT_EQ("80", Read("Main", "Port"));
    }

    // What someone put in since stays, and with it its section and file.
    ASSERT_EQ(0, sec.Run(kSec, list));
    Write(made, "Other", "Theirs", "t");
    EXPECT_EQ(0, sec.Rollback(kSec, list)) << cb.LogText();
    char buf[32] = {0};
    ::GetPrivateProfileStringA("Other", "Theirs", "", buf, sizeof buf, made.c_str());
    EXPECT_STREQ("t", buf);
    ::GetPrivateProfileStringA("Other", "J", "gone", buf, sizeof buf, made.c_str());
    EXPECT_STREQ("gone", buf);
    EXPECT_EQ(std::string::npos, kvtest::ReadFileOr(made).find("[Main]")) << kvtest::ReadFileOr(made);
}

TEST_F(UpdateIniTest, KeyThatCannotBePutBackFailsAtOnceAndKeepsTheOlderItems)
{
    ASSERT_TRUE(kvtest::WriteFileBytes(Ini(), "[Main]\r\nPort=80\r\n"));
    Items({"INI:" + Ini() + ",Main,Port|81", "INI:" + Ini() + ",Main,New|n"});
    CHFS_UpdateINISection sec(interp.get());
    ASSERT_EQ(0, sec.Run(kSec, list));
    ASSERT_TRUE(::SetFileAttributesA(Ini().c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(-1, sec.Rollback(kSec, list));
    ::SetFileAttributesA(Ini().c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(1u, list.Size());
    EXPECT_TRUE(Logged("SetINIVariable Failed! ret=-1 [INI:" + Ini() + ",Main,New]"));
    EXPECT_EQ(0, sec.Rollback(kSec, list));
    EXPECT_EQ("80", Read("Main", "Port"));
}
