#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "TestSupport.h"
#include "interpreter/Interpreter.h"

namespace {

const char kKorvexKey[] = "SOFTWARE\\Norlane\\Korvex";

std::string ReadDBPath(bool& had)
{
    had = false;
    HKEY h = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKorvexKey, 0, KEY_READ, &h) != ERROR_SUCCESS)
        return std::string();
    char buf[2048] = {0};
    DWORD size = sizeof buf - 1;
    had = ::RegQueryValueExA(h, "KorvexDBPath", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size) ==
          ERROR_SUCCESS;
    ::RegCloseKey(h);
    return buf;
}

void WriteDBPath(const std::string* value)
{
    HKEY h = nullptr;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKorvexKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr) !=
        ERROR_SUCCESS)
        return;
    if (value)
        ::RegSetValueExA(h, "KorvexDBPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(value->c_str()),
                         static_cast<DWORD>(value->size() + 1));
    else
        ::RegDeleteValueA(h, "KorvexDBPath");
    ::RegCloseKey(h);
}

}  // namespace

class InitPatchInfoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved = ReadDBPath(hadSaved);
        db = dir / "db\\KorvexDB.ini";
        WriteDBPath(&db);
        interp.reset(new CHFS_Interpreter(&cb, "setup.ini"));
        interp->m_strScriptFile = dir / "setup.ini";
    }
    void TearDown() override
    {
        interp.reset();
        WriteDBPath(hadSaved ? &saved : nullptr);
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
    std::string db, saved;
    bool hadSaved = false;
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
