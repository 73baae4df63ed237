#include "RunnerFixture.h"

namespace kvrun {

namespace {

const char kLogPath[] = "C:\\Korvex.log";

std::string TempLogPath()
{
    char buf[MAX_PATH + 1] = {0};
    ::GetTempPathA(MAX_PATH, buf);
    return std::string(buf) + "Korvex.log";
}

int g_patchCounter = 0;

}  // namespace

bool ReadRegString(const std::string& key, const char* name, std::string& value)
{
    return kvtest::RegReadString(HKEY_LOCAL_MACHINE, key, name, value, kvtest::kProgramView);
}

void WriteRegString(const std::string& key, const char* name, const std::string* value)
{
    if (value)
        kvtest::RegWriteString(HKEY_LOCAL_MACHINE, key, name, *value, kvtest::kProgramView);
    else
        kvtest::RegDeleteValueOf(HKEY_LOCAL_MACHINE, key, name, kvtest::kProgramView);
}

bool RegKeyExists(const std::string& key) { return kvtest::RegKeyExists(HKEY_LOCAL_MACHINE, key, kvtest::kProgramView); }

void RunnerTest::SetUp()
{
    exe = pkg / "Korvex.exe";
    ASSERT_TRUE(::CopyFileA(kvtest::KorvexExe().c_str(), exe.c_str(), FALSE)) << kvtest::KorvexExe();
    db = pkg / "db\\KorvexDB.ini";
    WriteRegString(kKorvexKey, "KorvexDBPath", &db);
    patchId = "KvRunner-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++g_patchCounter);
}

void RunnerTest::TearDown()
{
    kvtest::RegDeleteTree(HKEY_LOCAL_MACHINE, kUninstallRoot + patchId, kvtest::kProgramView);
    ::DeleteFileA(kLogPath);
    ::DeleteFileA(TempLogPath().c_str());
}

std::string RunnerTest::PatchInfo(const std::string& version, const std::string& timeout) const
{
    return "[PatchInformation]\r\nKorvexVersion=" + version + "\r\nPatchID=" + patchId +
           "\r\nProductName=Prod\r\nLanguage=EN\r\nProductVersion=1.0\r\nBuildNumber=100\r\nPlatform=x86\r\n"
           "PatchDescription=Runner test patch\r\nTimeOutSecond=" + timeout + "\r\nUninstallString=" +
           (pkg / "files\\x.dat") + "\r\n";
}

void RunnerTest::Script(const std::string& text)
{
    ASSERT_TRUE(kvtest::WriteFileBytes(pkg / "setup.ini", text));
}

kvtest::ProcessResult RunnerTest::Run(const std::string& args)
{
    ::DeleteFileA(kLogPath);
    ::DeleteFileA(TempLogPath().c_str());
    kvtest::ProcessResult r = kvtest::RunProcess("\"" + exe + "\" " + args, pkg.Path());
    EXPECT_TRUE(r.started);
    EXPECT_FALSE(r.timedOut);
    return r;
}

std::string RunnerTest::LogText() const
{
    std::string text;
    if (kvtest::ReadFileBytes(kLogPath, text))
        return text;
    return kvtest::ReadFileOr(TempLogPath());
}

std::string RunnerTest::DB(const std::string& key) const
{
    char buf[1024] = {0};
    ::GetPrivateProfileStringA(patchId.c_str(), key.c_str(), "(none)", buf, sizeof buf, db.c_str());
    return buf;
}

}  // namespace kvrun
