// Whole runs of the installer on sample packages: the program finds the
// file sections through the step runner and its exit code is the run's.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "package.h"

namespace {

struct E2EPackage {
    kvtest::TempDir dir{"e2e"};
    std::string pkg = dir / "pkg";
    std::string prod = dir / "prod";
    std::string bak = dir / "bak";

    E2EPackage() { kvtest::CreateTree(pkg); }
    void Script(std::string s)
    {
        kvtest::Package::Replace(s, "{PROD}", prod);
        kvtest::Package::Replace(s, "{BAK}", bak);
        kvtest::Package::Replace(s, "{P}", pkg);
        kvtest::WriteFileBytes(pkg + "\\setup.ini", s);
    }
    kvtest::ProcessResult Run()
    {
        if (!kvtest::Exists(pkg + "\\Korvex.exe"))
            ::CopyFileA(kvtest::KorvexExe().c_str(), (pkg + "\\Korvex.exe").c_str(), FALSE);
        return kvtest::RunProcess("\"" + pkg + "\\Korvex.exe\" /S /G", pkg);
    }
};

const char* const kMain =
    "[ProductInstall.Main]\r\nStepCount=1\r\n"
    "Step1.Section=ProductInstall.CopyFileGroupTo.Files\r\nStep1.Description=Copy the files\r\n\r\n";

}  // namespace

TEST(EndToEnd, PackageReplacesTheProductFiles)
{
    E2EPackage p;
    p.Script(std::string(kMain) +
             "[ProductInstall.CopyFileGroupTo.Files]\r\nFileGroupCount=2\r\n\r\n"
             "[FileGroup1]\r\nDescription=Binaries\r\nTarget={PROD}\r\nBackup={BAK}\r\nFileCount=1\r\n"
             "File1=bin\\*.dll\r\nOnRollBackFile=KVHF_RollBackExtraAndExistenFile\r\n\r\n"
             "[FileGroup2]\r\nDescription=Config\r\nTarget={PROD}\r\nBackup={BAK}\r\nFileCount=1\r\n"
             "File1=app.cfg\r\nOnCopyFail=KVHF_CopyFailRemoveReadonly\r\n");
    kvtest::WriteFileBytes(p.pkg + "\\FileGroup1\\bin\\core.dll", "core 2");
    kvtest::WriteFileBytes(p.pkg + "\\FileGroup1\\bin\\extra.dll", "extra 2");
    kvtest::WriteFileBytes(p.pkg + "\\FileGroup2\\app.cfg", "cfg 2");
    kvtest::WriteFileBytes(p.prod + "\\bin\\core.dll", "core 1");
    kvtest::WriteFileBytes(p.prod + "\\app.cfg", "cfg 1");
    ::SetFileAttributesA((p.prod + "\\app.cfg").c_str(), FILE_ATTRIBUTE_READONLY);

    kvtest::ProcessResult r = p.Run();
    ASSERT_TRUE(r.started);
    EXPECT_EQ(kvtest::Signed(r.exitCode), 0) << r.output;
    EXPECT_EQ(kvtest::ReadFileOr(p.prod + "\\bin\\core.dll"), "core 2");
    EXPECT_EQ(kvtest::ReadFileOr(p.prod + "\\bin\\extra.dll"), "extra 2");
    EXPECT_EQ(kvtest::ReadFileOr(p.prod + "\\app.cfg"), "cfg 2");
    EXPECT_EQ(kvtest::ReadFileOr(p.bak + "\\bin\\core.dll"), "core 1");
    EXPECT_EQ(kvtest::ReadFileOr(p.bak + "\\app.cfg"), "cfg 1");
}

TEST(EndToEnd, FailedGroupRollsTheRunBack)
{
    E2EPackage p;
    p.Script(std::string(kMain) +
             "[ProductInstall.CopyFileGroupTo.Files]\r\nFileGroupCount=2\r\n\r\n"
             "[FileGroup1]\r\nDescription=Binaries\r\nTarget={PROD}\r\nBackup={BAK}\r\nFileCount=2\r\n"
             "File1=core.dll\r\nFile2=new\\*.dll\r\nOnRollBackFile=KVHF_RollBackExtraAndExistenFile\r\n\r\n"
             "[FileGroup2]\r\nDescription=Missing\r\nTarget={PROD}\r\nBackup={BAK}\r\nFileCount=1\r\n"
             "File1=absent\\*.cfg\r\n");
    kvtest::WriteFileBytes(p.pkg + "\\FileGroup1\\core.dll", "core 2");
    kvtest::WriteFileBytes(p.pkg + "\\FileGroup1\\new\\n.dll", "new");
    kvtest::WriteFileBytes(p.prod + "\\core.dll", "core 1");
    kvtest::SetWriteTime(p.prod + "\\core.dll", 2003);
    kvtest::FileState before = kvtest::StateOf(p.prod + "\\core.dll");

    kvtest::ProcessResult r = p.Run();
    ASSERT_TRUE(r.started);
    EXPECT_EQ(kvtest::Signed(r.exitCode), -2302) << r.output;
    EXPECT_TRUE(kvtest::StateOf(p.prod + "\\core.dll") == before);
    EXPECT_FALSE(kvtest::Exists(p.prod + "\\new\\n.dll"));
    EXPECT_FALSE(kvtest::Exists(p.prod + "\\new"));
}

TEST(EndToEnd, BackupAndTemplateStepsInOneRun)
{
    E2EPackage p;
    p.Script("[ProductInstall.Main]\r\nStepCount=2\r\n"
             "Step1.Section=ProductInstall.BackupFiles.Cfg\r\nStep1.Description=Save\r\n"
             "Step2.Section=ProductInstall.ReplaceSymbolsInFile.Cfg\r\nStep2.Description=Write\r\n\r\n"
             "[ProductInstall.BackupFiles.Cfg]\r\nFileCount=1\r\nBackup={BAK}\r\nFile1={PROD}\\app.cfg\r\n\r\n"
             "[ProductInstall.ReplaceSymbolsInFile.Cfg]\r\nFileCount=1\r\n"
             "File1.Source={PROD}\\app.cfg\r\nFile1.Output={PROD}\\app.cfg\r\n");
    kvtest::WriteFileBytes(p.prod + "\\app.cfg", "key=value\r\n");
    kvtest::ProcessResult r = p.Run();
    ASSERT_TRUE(r.started);
    EXPECT_EQ(kvtest::Signed(r.exitCode), 0) << r.output;
    // Rewritten in place, not emptied.
    EXPECT_EQ(kvtest::ReadFileOr(p.prod + "\\app.cfg"), "key=value\r\n");
    std::vector<std::string> copies;
    WIN32_FIND_DATAA fd;
    HANDLE h = ::FindFirstFileA((p.bak + "\\BAK*.tmp").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do
            copies.push_back(fd.cFileName);
        while (::FindNextFileA(h, &fd));
        ::FindClose(h);
    }
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(kvtest::ReadFileOr(p.bak + "\\" + copies[0]), "key=value\r\n");
}
