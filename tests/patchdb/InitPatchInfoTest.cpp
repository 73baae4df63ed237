#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "Snapshot.h"
#include "TestSupport.h"
#include "interpreter/Interpreter.h"

namespace {

void WriteDBPath(const std::string* value) { kvtest::SetPatchDBPath(value ? *value : std::string()); }

}  // namespace

class InitPatchInfoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        db = dir / "db\\KorvexDB.ini";
        WriteDBPath(&db);
        interp.reset(new CHFS_Interpreter(&cb, "setup.ini"));
        interp->m_strScriptFile = dir / "setup.ini";
    }
    void TearDown() override
    {
        interp.reset();
    }
    int Init(const std::string& keys)
    {
        EXPECT_TRUE(kvtest::WriteFileBytes(interp->m_strScriptFile, "[PatchInformation]\r\n" + keys));
        return interp->InitPatchInfo("PatchInformation");
    }
    std::string DB(const std::string& key)
    {
        char buf[256] = {0};
        ::GetPrivateProfileStringA("KvInitPatch", key.c_str(), "(none)", buf, sizeof buf, db.c_str());
        return buf;
    }
    static std::string Keys(const std::string& version, const std::string& timeout)
    {
        return "KorvexVersion=" + version +
               "\r\nPatchID=KvInitPatch\r\nProductName=P\r\nLanguage=EN\r\nProductVersion=1\r\nBuildNumber=2\r\n"
               "Platform=x86\r\nPatchDescription=D\r\nTimeOutSecond=" + timeout + "\r\n";
    }

    kvtest::TempDir dir{"initpi"};
    kvtest::CRecordingCallback cb;
    std::unique_ptr<CHFS_Interpreter> interp;
    kvtest::CRegValueGuard dbPath{HKEY_LOCAL_MACHINE, kvtest::kKorvexKey, "KorvexDBPath", kvtest::kProgramView};
    std::string db;
};

TEST_F(InitPatchInfoTest, EmptyOrMissingSectionIsVersionOne)
{
    ASSERT_TRUE(kvtest::WriteFileBytes(interp->m_strScriptFile, "[Other]\r\nX=1\r\n"));
    EXPECT_EQ(interp->InitPatchInfo("PatchInformation"), 0);
    EXPECT_EQ(interp->m_strVersion, "1.0");
    EXPECT_EQ(Init(""), 0);
    EXPECT_EQ(interp->m_strVersion, "1.0");
    EXPECT_FALSE(kvtest::Exists(db));
}

TEST_F(InitPatchInfoTest, VersionMustBeTwoPointZero)
{
    EXPECT_EQ(Init(Keys("2.1", "600")), -1);
    EXPECT_TRUE(cb.LogContains("KorvexVersion info error in PatchInformation section"));
    EXPECT_EQ(Init(Keys("", "600")), -1);
    EXPECT_FALSE(kvtest::Exists(db));
}

TEST_F(InitPatchInfoTest, EveryIdentityKeyIsRequired)
{
    EXPECT_EQ(Init(Keys("2.0", "")), -1);
    EXPECT_TRUE(cb.LogContains("PatchInformation section error"));
    EXPECT_EQ(Init("KorvexVersion=2.0\r\nPatchID=KvInitPatch\r\n"), -1);
    EXPECT_FALSE(kvtest::Exists(db));
}

TEST_F(InitPatchInfoTest, StartsTheDatabaseRecord)
{
    EXPECT_EQ(Init(Keys("2.0", "600")), 0);
    EXPECT_EQ(interp->m_strVersion, "2.0");
    EXPECT_EQ(DB("TimeOutSecond"), "600");
    EXPECT_EQ(DB("ResultCode"), "1");
    EXPECT_EQ(DB("Progress"), "0");
    std::string stamp = DB("TimeStamp");
    ASSERT_EQ(stamp.size(), 19u) << stamp;
    EXPECT_EQ(stamp[10], ':');
    const std::string log = cb.LogText();
    size_t t = log.find("Write TimeOutSecond='600'"), r = log.find("Write ResultCode='1'"),
           p = log.find("Write Progress='0'"), s = log.find("Write TimeStamp='");
    ASSERT_NE(s, std::string::npos);
    EXPECT_LT(t, r);
    EXPECT_LT(r, p);
    EXPECT_LT(p, s);
}

TEST_F(InitPatchInfoTest, UnwritableDatabaseStopsTheStart)
{
    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "blocker", "x"));
    std::string bad = dir / "blocker\\db.ini";
    WriteDBPath(&bad);
    EXPECT_EQ(Init(Keys("2.0", "600")), -1);
    EXPECT_TRUE(cb.LogContains("[Create dir fail: " + (dir / "blocker") + "]"));
}
