#include "InterpFixture.h"

// The record path of the command line makes the interpreter read a script of
// the test's own instead of the one beside the program.
class ConstructionTest : public ::testing::Test {
protected:
    std::unique_ptr<CHFS_Interpreter> Make(const std::string& scriptText)
    {
        EXPECT_TRUE(kvtest::WriteFileBytes(script, scriptText));
        settings.m_strRecordFile = script;
        return std::unique_ptr<CHFS_Interpreter>(new CHFS_Interpreter(&cb, "setup.ini", settings));
    }
    CHFS_RunSettings settings;
    kvtest::TempDir dir{"ctor"};
    kvtest::CRecordingCallback cb;
    std::string script = dir / "pkg\\record.ini";
};

TEST_F(ConstructionTest, ScriptBesideTheProgramOrHotFix)
{
    CHFS_Interpreter interp(&cb, "no-such-script.ini");
    const std::string& module = interp.GetModuleDir();
    ASSERT_FALSE(module.empty());
    EXPECT_EQ(module.back(), '\\');
    EXPECT_EQ(interp.GetScriptFile(), module + "HotFix.ini");
    EXPECT_TRUE(cb.LogContains("*** Begin of debug log ***"));
    EXPECT_TRUE(cb.LogContains("Current Module Path = " + module));
    EXPECT_EQ(interp.m_strMainSection, "ProductInstall.Main");
    EXPECT_TRUE(interp.m_strRecordFile.empty());
    EXPECT_EQ(interp.m_bErrorShown, 0);
}

TEST_F(ConstructionTest, TextsReachTheCallbackUnchanged)
{
    const std::string readme = dir / "readme.txt";
    const std::string bytes = "line one\r\nline two\n\xb0\xb2\xd7\xb0\r\n";
    ASSERT_TRUE(kvtest::WriteFileBytes(readme, bytes));
    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "License.txt", "Licence\r\nterms"));

    char saved[MAX_PATH + 1] = {0};
    ::GetCurrentDirectoryA(MAX_PATH, saved);
    ASSERT_TRUE(::SetCurrentDirectoryA(dir.Path().c_str()));
    auto interp = Make("[ProductInstall.Main]\r\nMainDescription=The patch\r\nLicenseTitle=Terms\r\nReadmeFile=" +
                       readme + "\r\n");
    ::SetCurrentDirectoryA(saved);

    EXPECT_EQ(interp->GetScriptFile(), script);
    EXPECT_EQ(cb.description, "The patch");
    EXPECT_EQ(cb.licenseTitle, "Terms");
    EXPECT_EQ(cb.readme, bytes);
    EXPECT_EQ(cb.license, "Licence\r\nterms");
    EXPECT_FALSE(cb.LogContains("*** Begin of debug log ***"));
}

TEST_F(ConstructionTest, UnreadableTextsAreEmpty)
{
    auto interp = Make("[ProductInstall.Main]\r\nReadmeFile=" + (dir / "missing.txt") + "\r\n");
    EXPECT_EQ(cb.readme, "");
    EXPECT_EQ(cb.description, "(empty)");
}

TEST_F(ConstructionTest, InstallRecordFolderIsCreated)
{
    const std::string record = dir / "deep\\er\\rec.ini";
    auto interp = Make("[ProductInstall.Main]\r\nInstallRecordFile=" + record + "\r\n");
    EXPECT_EQ(interp->m_strRecordFile, record);
    EXPECT_TRUE(kvtest::Exists(dir / "deep\\er"));
    EXPECT_FALSE(kvtest::Exists(record));
}

TEST_F(ConstructionTest, RemovalRunUsesTheRemoveProcedure)
{
    settings.m_bUninstall = 1;
    auto interp = Make("[ProductInstall.Main]\r\nMainDescription=Install\r\nInstallRecordFile=C:\\x\\y.ini\r\n"
                       "[ProductRemove.Main]\r\nMainDescription=Remove\r\n");
    EXPECT_EQ(interp->m_strMainSection, "ProductRemove.Main");
    EXPECT_EQ(interp->m_strRecordFile, script);
    EXPECT_EQ(cb.description, "Remove");
}

TEST_F(ConstructionTest, MakeDir)
{
    auto interp = Make("");
    EXPECT_EQ(interp->MakeDir(dir.Path()), 0);
    EXPECT_FALSE(cb.LogContains("[Create dir"));
    EXPECT_EQ(interp->MakeDir(dir / "a\\b\\c"), 0);
    EXPECT_TRUE(kvtest::Exists(dir / "a\\b\\c"));
    EXPECT_TRUE(cb.LogContains("[Create dir : " + (dir / "a\\b\\c") + "]"));
    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "file", "x"));
    EXPECT_EQ(interp->MakeDir(dir / "file\\sub"), -1);
    EXPECT_TRUE(cb.LogContains("[Create dir fail: " + (dir / "file\\sub") + "]"));
}
