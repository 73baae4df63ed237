// Bad scripts, run end to end: each must end within a bounded time with a
// logged error or a defined result, never a crash, and never touch a file it
// has no business with.
#include <cstdio>
#include <functional>

#include "RunnerFixture.h"
#include "Snapshot.h"
#include "interpreter/Interpreter.h"

using kvrun::RunnerTest;
using kvtest::Signed;

namespace {

// The rest of a procedure of one harmless step.
const char kOneStep[] = "StepCount=1\r\nStep1.Section=ProductInstall.UpdateSymbols.None\r\n"
                        "[ProductInstall.UpdateSymbols.None]\r\n";

// Exit codes a run may end with: success, or one of the program's own series.
bool DefinedExitCode(int code) { return code == 0 || (code <= -2000 && code >= -3199); }

struct CBadPackage {
    const char* name;
    // Lays the package out (setup.ini and whatever else) in pkg.
    std::function<void(const std::string& pkg)> make;
    bool mayEndInSuccess;
};

std::string Chain(int levels)
{
    // Each symbol names the next one twice: 2^levels copies of the last.
    std::string s = "[ProductInstall.Symbols]\r\n";
    for (int i = levels; i >= 0; --i)
        s += "S" + std::to_string(i) + "=" + (i == levels ? std::string("xx") : "%S" + std::to_string(i + 1) +
                                                                                     "%%S" + std::to_string(i + 1) + "%") +
             "\r\n";
    return s + "[ProductInstall.Main]\r\nMainDescription=%S0%\r\nStepCount=0\r\n";
}

}  // namespace

class CatalogueTest : public RunnerTest {};

TEST_F(CatalogueTest, BadScriptsEndWithADefinedResult)
{
    // Files no script of this catalogue may change.
    kvtest::TempDir victimDir("victim");
    const std::string victim = victimDir.Path();
    ASSERT_TRUE(kvtest::WriteFileBytes(victim + "\\keep.dll", "keep"));
    kvtest::CSnapshot snap;
    snap.AddFolder(victim);
    const kvtest::SnapshotState before = snap.Capture();
    const std::string info = PatchInfo();

    const std::vector<CBadPackage> cases = {
        {"empty script", [](const std::string& p) { kvtest::WriteFileBytes(p + "\\setup.ini", ""); }, false},
        {"keys without values",
         [info](const std::string& p) {
             kvtest::WriteFileBytes(p + "\\setup.ini", "[ProductInstall.Main]\r\nStepCount=\r\nStep1.Section=\r\n");
         },
         false},
        {"numbers that are no numbers",
         [](const std::string& p) {
             kvtest::WriteFileBytes(p + "\\setup.ini", "[ProductInstall.Main]\r\nStepCount=two\r\n");
         },
         false},
        {"100,000-character values",
         [](const std::string& p) {
             kvtest::WriteFileBytes(p + "\\setup.ini", "[ProductInstall.Main]\r\nMainDescription=" +
                                                           std::string(100000, 'V') + "\r\nStepCount=1\r\nStep1.Section=" +
                                                           std::string(100000, 'S') + "\r\n");
         },
         false},
        {"10,000 steps",
         [](const std::string& p) {
             kvtest::WriteFileBytes(p + "\\setup.ini", "[ProductInstall.Main]\r\nStepCount=10000\r\n");
         },
         false},
        {"a section count of 2147483647",
         [](const std::string& p) {
             kvtest::WriteFileBytes(p + "\\setup.ini",
                                    "[ProductInstall.Main]\r\nStepCount=1\r\nStep1.Section=ProductInstall.Run.R\r\n"
                                    "[ProductInstall.Run.R]\r\nRunCount=2147483647\r\n");
         },
         true},
        {"symbols that grow exponentially",
         [](const std::string& p) { kvtest::WriteFileBytes(p + "\\setup.ini", Chain(30)); }, false},
        {"a symbol that names itself",
         [](const std::string& p) {
             kvtest::WriteFileBytes(p + "\\setup.ini", "[ProductInstall.Symbols]\r\nA=x%B%\r\nB=y%A%\r\n"
                                                       "[ProductInstall.Main]\r\nMainDescription=%A%\r\nStepCount=0\r\n");
         },
         false},
        {"paths of 300 characters",
         [info, victim](const std::string& p) {
             kvtest::WriteFileBytes(p + "\\setup.ini", info + "[ProductInstall.Main]\r\nInstallRecordFile=" +
                                                           victim + "\\" + std::string(300, 'P') + "\r\n" + kOneStep);
         },
         false},
        {"device names",
         [info](const std::string& p) {
             kvtest::WriteFileBytes(p + "\\setup.ini", info + "[ProductInstall.Main]\r\nInstallRecordFile=NUL\r\n" +
                                                           kOneStep);
         },
         false},
        {"binary garbage and NUL bytes",
         [](const std::string& p) {
             std::string bytes;
             for (int i = 0; i < 5000; ++i)
                 bytes += static_cast<char>((i * 7919) & 0xFF);
             kvtest::WriteFileBytes(p + "\\setup.ini", bytes);
         },
         false},
        {"a UTF-16 script",
         [](const std::string& p) {
             std::string text = "[ProductInstall.Main]\r\nStepCount=1\r\nStep1.Section=ProductInstall.UpdateSymbols.N\r\n"
                                "[ProductInstall.UpdateSymbols.N]\r\n";
             std::string bytes = "\xFF\xFE";
             for (char c : text)
                 bytes += std::string(1, c) + '\0';
             kvtest::WriteFileBytes(p + "\\setup.ini", bytes);
         },
         true},
        {"a script that is a folder", [](const std::string& p) { kvtest::CreateTree(p + "\\setup.ini"); },
         false},
        {"a record with a TotalCount of 1,000,000 and items the install never touched",
         [victim](const std::string& p) {
             std::string rec = "[ProductRemove.Main]\r\nStepCount=1\r\nStep1.Section=ProductRemove.Rollback.All\r\n"
                               "[ProductInstall.Main]\r\nStepCount=1\r\nStep1.Section=ProductInstall.BackupFiles.S\r\n"
                               "[ProductInstall.BackupFiles.S]\r\nFileCount=1\r\nBackup=" + p + "\\saved\r\nFile1=" + p +
                               "\\a.ini\r\n[REC_0]\r\nTotalCount=1000000\r\n";
             // An edited item: restore over a file outside the section's own, and
             // a copy from outside its Backup.
             rec += "[REC_1]\r\nSectionIndex=1\r\nItemIndex=1\r\nParam1=" + victim + "\\keep.dll\r\nParam2=" + p +
                    "\\a.ini\r\n";
             kvtest::WriteFileBytes(p + "\\a.ini", "a");
             kvtest::WriteFileBytes(p + "\\record.ini", rec);
             kvtest::WriteFileBytes(p + "\\setup.ini", rec);
         },
         false},
    };

    int passed = 0;
    for (const CBadPackage& c : cases) {
        SCOPED_TRACE(c.name);
        kvtest::RemoveTree(pkg / "setup.ini");
        c.make(pkg.Path());
        const bool removal = std::string(c.name).find("record") != std::string::npos;
        DWORD t0 = ::GetTickCount();
        kvtest::ProcessResult r = Run(removal ? "/S /G /U:" + (pkg / "record.ini") : std::string("/S /G"));
        std::printf("catalogue: %-75s %6lu ms, exit code %d\n", c.name, ::GetTickCount() - t0,
                    Signed(r.exitCode));
        const int code = Signed(r.exitCode);
        bool ok = r.started && !r.timedOut && DefinedExitCode(code) && (c.mayEndInSuccess || code != 0) &&
                  !LogText().empty();
        EXPECT_TRUE(ok) << "exit code " << code << "\n" << LogText().substr(0, 4000);
        passed += ok ? 1 : 0;
    }
    EXPECT_EQ("", kvtest::DiffSnapshots(before, snap.Capture()));
    std::printf("catalogue: %d of %u bad packages ended with a defined result\n", passed,
                static_cast<unsigned>(cases.size()));
}
