// checkpkg.exe as a patch author runs it: the demo package is clean, exit
// codes 0/1/2, one line per finding, a JSON report that parses, and nothing
// on the machine changes.
#include <gtest/gtest.h>

#include <map>

#include <nlohmann/json.hpp>

#include "Snapshot.h"
#include "TestSupport.h"
#include "checker_support.h"
#include "interpreter/Interpreter.h"

namespace {

kvtest::ProcessResult CheckPkg(const std::string& args)
{
    return kvtest::RunProcess("\"" + kvtest::CheckPkgExe() + "\" " + args);
}

// The report as parsed JSON; a report that does not parse fails the test.
nlohmann::json Report(const std::string& path)
{
    std::string text;
    EXPECT_TRUE(kvtest::ReadFileBytes(path, text)) << path;
    nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << text;
    return j;
}

}  // namespace

TEST(CheckPkg, DemoPackageIsClean)
{
    kvtest::TempDir out("chkout");
    // Laid out as the demo lays it out: the built installer goes into the
    // file group that keeps it in the patch's folder.
    const std::string demo = out / "demo";
    ASSERT_TRUE(kvtest::CopyTree(kvtest::SourceDir() + "\\examples\\demo", demo));
    ASSERT_TRUE(kvtest::CreateTree(demo + "\\FileGroup2"));
    ASSERT_TRUE(::CopyFileA(kvtest::KorvexExe().c_str(), (demo + "\\FileGroup2\\Korvex.exe").c_str(), FALSE));
    kvtest::ProcessResult r = CheckPkg("\"" + demo + "\" --json \"" + (out / "demo.json") + "\"");
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_NE(r.output.find("no findings"), std::string::npos) << r.output;

    nlohmann::json j = Report(out / "demo.json");
    EXPECT_EQ(j["exitCode"], 0);
    EXPECT_EQ(j["count"], 0);
    EXPECT_TRUE(j["findings"].is_array() && j["findings"].empty());
    EXPECT_EQ(j["script"], demo + "\\setup.ini");
}

TEST(CheckPkg, FindingsArePrintedAndReported)
{
    kvtest::TempDir dir("chkpkg");
    // A byte beyond ASCII in the script reaches the report as UTF-8.
    kvtest::WriteFileBytes(dir / "pkg\\HotFix.ini",
                           kvtest::WithCrLf("[ProductInstall.Main]\nStepCount=2\n"
                                            "Step1.Section=ProductInstall.Caf\xE9\n"
                                            "Step2.Section=ProductInstall.BackupFiles.B\n"
                                            "Step2.Error.Action=kvhf_retry\n"));
    kvtest::ProcessResult r = CheckPkg("--json \"" + (dir / "r.json") + "\" \"" + (dir / "pkg") + "\"");
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 1u) << r.output;
    EXPECT_NE(r.output.find("[ProductInstall.Main] Step1.Section: unknown-type: "), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("[ProductInstall.Main] Step2.Section: missing-section: "), std::string::npos);
    EXPECT_NE(r.output.find("[ProductInstall.Main] Step2.Error.Action: wrong-case: "), std::string::npos);
    EXPECT_NE(r.output.find("HotFix.ini: 3 finding(s)"), std::string::npos) << r.output;

    nlohmann::json j = Report(dir / "r.json");
    EXPECT_EQ(j["exitCode"], 1);
    EXPECT_EQ(j["count"], 3);
    std::map<std::string, nlohmann::json> byKey;
    for (const nlohmann::json& f : j["findings"]) {
        EXPECT_EQ(f["section"], "ProductInstall.Main");
        byKey[f["key"].get<std::string>()] = f;
    }
    ASSERT_EQ(byKey.size(), 3u) << j.dump(1);
    EXPECT_EQ(byKey["Step1.Section"]["kind"], "unknown-type");
    EXPECT_EQ(byKey["Step2.Section"]["kind"], "missing-section");
    EXPECT_EQ(byKey["Step2.Error.Action"]["kind"], "wrong-case");
    std::string message = byKey["Step1.Section"]["message"];
    // What the byte means depends on the code page: in 1252 it is an e acute.
    const std::string meant = ::GetACP() == 1252 ? "ProductInstall.Caf\xC3\xA9" : kvcheck::AnsiToUtf8("ProductInstall.Caf\xE9");
    EXPECT_NE(message.find(meant), std::string::npos) << message;
}

TEST(CheckPkg, UnreadablePackagesAndBadCommandLinesGiveTwo)
{
    kvtest::TempDir dir("chkbad");
    kvtest::CreateTree(dir / "empty");
    kvtest::CreateTree(dir / "folder\\setup.ini");
    struct {
        const char* name;
        std::string args;
        const char* says;
    } cases[] = {
        {"no folder", "\"" + (dir / "nowhere") + "\"", "does not exist"},
        {"no script", "\"" + (dir / "empty") + "\"", "neither setup.ini nor HotFix.ini"},
        {"script is a folder", "\"" + (dir / "folder") + "\"", "is a folder"},
        {"no package named", "", "usage"},
        {"two packages", "\"" + (dir / "empty") + "\" \"" + (dir / "folder") + "\"", "unexpected argument"},
        {"report without a name", "\"" + (dir / "empty") + "\" --json", "needs a file name"},
    };
    for (const auto& c : cases) {
        kvtest::ProcessResult r = CheckPkg(c.args);
        ASSERT_TRUE(r.started) << c.name;
        EXPECT_EQ(r.exitCode, 2u) << c.name << "\n" << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << c.name << "\n" << r.output;
    }

    kvtest::ProcessResult r = CheckPkg("\"" + (dir / "empty") + "\" --json \"" + (dir / "r.json") + "\"");
    EXPECT_EQ(r.exitCode, 2u);
    nlohmann::json j = Report(dir / "r.json");
    EXPECT_EQ(j["exitCode"], 2);
    EXPECT_NE(j["error"].get<std::string>().find("neither setup.ini nor HotFix.ini"), std::string::npos);

    // A report that cannot be written is no clean check.
    kvtest::WriteFileBytes(dir / "ok\\setup.ini", "[ProductInstall.Main]\r\nStepCount=0\r\n");
    r = CheckPkg("\"" + (dir / "ok") + "\" --json \"" + (dir / "no\\such\\folder\\r.json") + "\"");
    EXPECT_EQ(r.exitCode, 2u) << r.output;
    EXPECT_NE(r.output.find("cannot be written"), std::string::npos) << r.output;
}

TEST(CheckPkg, CheckingChangesNothingOnTheMachine)
{
    kvtest::TempDir dir("chkro");
    const std::string patchId = "KvCheckOnly-" + std::to_string(::GetCurrentProcessId());
    kvtest::CPatchDBRedirect db(dir / "db\\KorvexDB.ini");
    const std::string script = kvtest::WithCrLf(
        "[PatchInformation]\nKorvexVersion=2.0\nPatchID=" + patchId +
        "\nProductName=P\nLanguage=ENU\nProductVersion=1\nBuildNumber=1\nPlatform=x86\n"
        "PatchDescription=D\nTimeOutSecond=60\n"
        "[ProductInstall.Main]\nInstallRecordFile=" + (dir / "rec\\deep\\r.rec") +
        "\nStepCount=1\nStep1.Section=ProductInstall.BackupFiles.B\n"
        "[ProductInstall.BackupFiles.B]\nFileCount=1\nBackup=" + (dir / "saved") + "\nFile1=" + (dir / "f.txt") +
        "\n[ProductRemove.Main]\nStepCount=1\nStep1.Section=ProductRemove.Rollback\n");
    kvtest::WriteFileBytes(dir / "pkg\\setup.ini", script);
    kvtest::WriteFileBytes(dir / "f.txt", "f");

    kvtest::ProcessResult r = CheckPkg("\"" + (dir / "pkg") + "\"");
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_FALSE(kvtest::Exists(dir / "rec")) << "the record folder was created";
    EXPECT_FALSE(kvtest::Exists(dir / "db")) << "the patch database was written";
    EXPECT_FALSE(kvtest::Exists(dir / "saved"));
    EXPECT_EQ(kvtest::ReadFileOr(dir / "pkg\\setup.ini"), script);
    EXPECT_FALSE(kvtest::RegKeyExists(HKEY_LOCAL_MACHINE,
                                      "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + patchId,
                                      kvtest::kProgramView));
}

TEST(CheckPkg, CheckOnlyInterpreterRunsNoStep)
{
    kvtest::TempDir dir("chkexec");
    kvtest::WriteFileBytes(dir / "f.txt", "f");
    kvtest::WriteFileBytes(dir / "pkg\\setup.ini",
                           kvtest::WithCrLf("[ProductInstall.Main]\nStepCount=1\nInstallRecordFile=" +
                                            (dir / "rec\\r.rec") +
                                            "\nStep1.Section=ProductInstall.BackupFiles.B\n"
                                            "[ProductInstall.BackupFiles.B]\nFileCount=1\nBackup=" +
                                            (dir / "saved") + "\nFile1=" + (dir / "f.txt") + "\n"));
    kvtest::CRecordingCallback cb;
    CHFS_RunSettings settings;
    settings.m_bSilent = 1;
    settings.m_bCheckOnly = 1;
    settings.m_strPackageDir = dir / "pkg";
    CHFS_Interpreter interp(&cb, "setup.ini", settings);
    EXPECT_EQ(interp.GetScriptFile(), dir / "pkg\\setup.ini");
    EXPECT_EQ(interp.GetSymbol("SOURCEDIR"), dir / "pkg\\");
    EXPECT_EQ(interp.ReadItem("StepCount", "ProductInstall.Main", false), "1");
    EXPECT_LT(interp.Execute(), 0);
    EXPECT_FALSE(kvtest::Exists(dir / "saved"));
    EXPECT_FALSE(kvtest::Exists(dir / "rec"));
}

TEST(CheckPkg, SealsAPackageWithoutErrorsAndKnowsWhenItWasAltered)
{
    kvtest::TempDir dir("chkseal");
    const std::string pkg = dir / "pkg";
    // A warning (a package program on the hidden desktop without a time
    // limit) does not stand in the way; the Run program and the template are
    // sealed with the file group.
    const std::string good = kvtest::WithCrLf(
        "[ProductInstall.Main]\nStepCount=3\nStep1.Section=ProductInstall.CopyFileGroupTo.G\n"
        "Step2.Section=ProductInstall.Run.R\nStep3.Section=ProductInstall.ReplaceSymbolsInFile.T\n"
        "[ProductInstall.CopyFileGroupTo.G]\nFileGroupCount=1\n"
        "[FileGroup1]\nTarget=C:\\kvchk\\t\nBackup=C:\\kvchk\\b\nFileCount=1\nFile1=*.txt\n"
        "[ProductInstall.Run.R]\nRunCount=1\nRun1.Command=tools\\kvtool.exe 1\n"
        "Run1.CommandType=KVHF_RunAtHideDialog\n"
        "[ProductInstall.ReplaceSymbolsInFile.T]\nFileCount=1\nFile1.Source=%SOURCEDIR%t.tpl\n"
        "File1.Output=C:\\kvchk\\out.txt\n");
    kvtest::WriteFileBytes(pkg + "\\setup.ini", good);
    kvtest::WriteFileBytes(pkg + "\\FileGroup1\\a.txt", "a");
    kvtest::WriteFileBytes(pkg + "\\FileGroup1\\sub\\b.txt", "b");
    kvtest::WriteFileBytes(pkg + "\\tools\\kvtool.exe", "tool");
    kvtest::WriteFileBytes(pkg + "\\t.tpl", "%SOURCEDIR%");
    kvtest::WriteFileBytes(pkg + "\\notes.txt", "not named by the script");
    const std::string manifest = pkg + "\\package.sha256";

    kvtest::ProcessResult r = CheckPkg("--seal \"" + pkg + "\"");
    EXPECT_EQ(0u, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("no-timeout (warning)")) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("sealed 5 file(s)")) << r.output;
    const std::string text = kvtest::ReadFileOr(manifest);
    EXPECT_EQ(0u, text.find("; Korvex package manifest 1\r\n")) << text;
    for (const char* listed : {"setup.ini", "FileGroup1\\a.txt", "FileGroup1\\sub\\b.txt", "tools\\kvtool.exe", "t.tpl"})
        EXPECT_NE(std::string::npos, text.find("  " + std::string(listed) + "\r\n")) << listed << "\n" << text;
    EXPECT_EQ(std::string::npos, text.find("notes.txt")) << text;
    r = CheckPkg("\"" + pkg + "\"");
    EXPECT_EQ(0u, r.exitCode) << r.output;

    // Altered after sealing: an error until it is sealed again.
    kvtest::WriteFileBytes(pkg + "\\tools\\kvtool.exe", "tool 2");
    r = CheckPkg("\"" + pkg + "\"");
    EXPECT_EQ(1u, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos,
              r.output.find("[package.sha256] tools\\kvtool.exe: package-altered: differs from the manifest"))
        << r.output;
    EXPECT_EQ(0u, CheckPkg("--seal \"" + pkg + "\"").exitCode);
    EXPECT_EQ(0u, CheckPkg("\"" + pkg + "\"").exitCode);

    // A package with an error is not sealed; its manifest stays as it was.
    const std::string before = kvtest::ReadFileOr(manifest);
    std::string broken = good;
    broken.insert(broken.find("Run1.CommandType"), "Run1.RollbackCommand=net stop x\r\n");
    kvtest::WriteFileBytes(pkg + "\\setup.ini", broken);
    r = CheckPkg("--seal \"" + pkg + "\"");
    EXPECT_EQ(1u, r.exitCode) << r.output;
    EXPECT_NE(std::string::npos, r.output.find("not sealed")) << r.output;
    EXPECT_EQ(before, kvtest::ReadFileOr(manifest));
}
