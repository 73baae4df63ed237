// A sealed package end to end: checkpkg --seal writes its manifest; a copy
// whose payload or script was altered, or whose file group gained a file,
// is refused by Korvex before anything on the machine changes (the patch
// database included); the intact package installs.
#include <gtest/gtest.h>

#include <functional>

#include "Package.h"
#include "interpreter/Interpreter.h"

namespace {

kvtest::ProcessResult CheckPkg(const std::string& args)
{
    return kvtest::RunProcess("\"" + kvtest::BinDir() + "\\checkpkg.exe\" " + args);
}

}  // namespace

TEST(SealedPackage, AlteredCopyChangesNothingAndTheIntactOneInstalls)
{
    rt::CWorld w("seal");
    kvtest::ProcessResult sealed = CheckPkg("--seal \"" + w.Pkg() + "\"");
    ASSERT_EQ(0u, sealed.exitCode) << sealed.output;
    ASSERT_TRUE(kvtest::Exists(w.Pkg() + "\\package.sha256")) << sealed.output;
    std::string manifest = kvtest::ReadFileOr(w.Pkg() + "\\package.sha256");
    for (const char* listed : {"  setup.ini\r\n", "  FileGroup1\\a.txt\r\n", "  FileGroup3\\tools\\deep\\t2.bin\r\n",
                               "  templates\\remove.tpl\r\n"})
        EXPECT_NE(std::string::npos, manifest.find(listed)) << listed << "\n" << manifest;

    const std::string payload = w.Pkg() + "\\FileGroup2\\bin\\sub\\c.cfg";
    const std::string script = w.Pkg() + "\\setup.ini";
    const std::string added = w.Pkg() + "\\FileGroup3\\tools\\extra.bin";
    const std::string original = kvtest::ReadFileOr(payload), originalScript = kvtest::ReadFileOr(script);
    struct Case {
        const char* name;
        const char* named;  // what the log names
        std::function<void()> alter, undo;
    } cases[] = {
        {"payload altered", "'FileGroup2\\bin\\sub\\c.cfg' differs from the manifest",
         [&] { kvtest::WriteFileBytes(payload, original + "x"); }, [&] { kvtest::WriteFileBytes(payload, original); }},
        {"payload cut short", "'FileGroup2\\bin\\sub\\c.cfg' differs from the manifest",
         [&] { kvtest::WriteFileBytes(payload, original.substr(0, 2)); },
         [&] { kvtest::WriteFileBytes(payload, original); }},
        {"script altered", "'setup.ini' differs from the manifest",
         [&] { kvtest::WriteFileBytes(script, originalScript + "; a line more\r\n"); },
         [&] { kvtest::WriteFileBytes(script, originalScript); }},
        {"file added to a group", "'FileGroup3\\tools\\extra.bin' is not listed in the manifest",
         [&] { kvtest::WriteFileBytes(added, "extra"); }, [&] { ::DeleteFileA(added.c_str()); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.alter();
        const kvtest::SnapshotState before = w.Capture();
        rt::CLogTail log;
        kvtest::ProcessResult r = w.Install();
        EXPECT_EQ(KV_EXIT_PACKAGE_ALTERED, kvtest::Signed(r.exitCode)) << r.output;
        EXPECT_EQ("", kvtest::DiffSnapshots(before, w.Capture()));
        EXPECT_NE(std::string::npos, log.Text().find("*** Runtime error: CHFS_Interpreter::CheckPackageSeal(): " +
                                                     std::string(c.named)))
            << log.Text();
        // The checker says the same of the package.
        kvtest::ProcessResult checked = CheckPkg("\"" + w.Pkg() + "\"");
        EXPECT_EQ(1u, checked.exitCode) << checked.output;
        EXPECT_NE(std::string::npos, checked.output.find("package-altered")) << checked.output;
        c.undo();
    }

    kvtest::ProcessResult r = w.Install();
    EXPECT_EQ(0u, r.exitCode) << r.output;
    EXPECT_EQ("patched a 2.0\r\n", kvtest::ReadFileOr(w.Product() + "\\a.txt"));
}
