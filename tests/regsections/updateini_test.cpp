// The UpdateINI section in-process: each item's key set, and everything put
// back as the file stored it.
#include "RegFixture.h"

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
