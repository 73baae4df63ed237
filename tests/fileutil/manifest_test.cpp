// The manifest of a sealed package: what it must look like to be taken at
// all, and what a package must be to match it.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "util/PackageManifest.h"
#include "util/Sha256.h"

namespace {

std::string Hash(const std::string& bytes) { return CKvSha256::HexOf(bytes.data(), bytes.size()); }

// A package with a script, a file group and a tool; its manifest lists them.
struct CPackage {
    kvtest::TempDir dir{"manifest"};
    CPackage()
    {
        kvtest::WriteFileBytes(dir / "setup.ini", "[ProductInstall.Main]\r\n");
        kvtest::WriteFileBytes(dir / "FileGroup1\\a.txt", "a");
        kvtest::WriteFileBytes(dir / "fileGROUP12\\deep\\er\\b.txt", "b");
        kvtest::WriteFileBytes(dir / "tool.exe", "tool");
        kvtest::WriteFileBytes(dir / "FileGroupX\\ignored.txt", "not a file group");
    }
    std::string Line(const std::string& path, const std::string& bytes) { return Hash(bytes) + "  " + path + "\r\n"; }
    std::string Manifest()
    {
        return std::string(kKvManifestHeader) + "\r\n" + Line("setup.ini", "[ProductInstall.Main]\r\n") +
               Line("FileGroup1\\a.txt", "a") + Line("FILEGROUP12/deep/er/b.txt", "b") + Line("tool.exe", "tool");
    }
};

}  // namespace

TEST(PackageManifest, DamagedManifestsAreRefusedWhole)
{
    CPackage p;
    const std::string hash = Hash("a");
    struct {
        const char* name;
        std::string text;
        const char* why;
    } cases[] = {
        {"empty", "", "is empty"},
        {"no header", hash + "  FileGroup1\\a.txt\r\n", "does not begin with"},
        {"short hash", std::string(kKvManifestHeader) + "\r\n" + hash.substr(1) + "  setup.ini\r\n", "line 2 is no"},
        {"one blank", std::string(kKvManifestHeader) + "\r\n" + hash + " setup.ini\r\n", "line 2 is no"},
        {"up and out", std::string(kKvManifestHeader) + "\r\n; c\r\n\r\n" + hash + "  FileGroup1\\..\\..\\x\r\n",
         "line 4 names a path that leaves"},
        {"drive", std::string(kKvManifestHeader) + "\r\n" + hash + "  C:\\x.txt\r\n", "leaves"},
        {"rooted", std::string(kKvManifestHeader) + "\r\n" + hash + "  \\x.txt\r\n", "leaves"},
        {"trailing dot", std::string(kKvManifestHeader) + "\r\n" + hash + "  setup.ini.\r\n", "leaves"},
        {"twice", std::string(kKvManifestHeader) + "\r\n" + hash + "  a.txt\n" + hash + "  A.TXT\n",
         "line 3 lists 'A.TXT' a second time"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kvtest::WriteFileBytes(p.dir / kKvManifestName, c.text);
        std::vector<CKvManifestEntry> entries;
        std::string why;
        EXPECT_EQ(KVSEAL_DAMAGED, KvReadManifest(p.dir.Path(), entries, why));
        EXPECT_NE(std::string::npos, why.find(c.why)) << why;
        std::vector<CKvSealProblem> problems;
        EXPECT_EQ(KVSEAL_DAMAGED, KvVerifyPackage(p.dir.Path(), "setup.ini", problems));
        ASSERT_EQ(1u, problems.size());
        EXPECT_EQ("", problems[0].strPath);
    }
}

TEST(PackageManifest, PackageMatchesOnlyAsSealed)
{
    CPackage p;
    std::vector<CKvSealProblem> problems;
    EXPECT_EQ(KVSEAL_NONE, KvVerifyPackage(p.dir.Path(), "setup.ini", problems));

    kvtest::WriteFileBytes(p.dir / kKvManifestName, p.Manifest());
    EXPECT_EQ(KVSEAL_OK, KvVerifyPackage(p.dir.Path(), "setup.ini", problems)) << problems.size();
    // The script that runs must be listed: HotFix.ini is not.
    EXPECT_EQ(KVSEAL_DAMAGED, KvVerifyPackage(p.dir.Path(), "HotFix.ini", problems));
    ASSERT_EQ(1u, problems.size());
    EXPECT_EQ("HotFix.ini", problems[0].strPath);

    struct {
        const char* name;
        const char* path;
        const char* bytes;  // null: the file is deleted
        const char* what;
    } changes[] = {
        {"altered", "tool.exe", "tool!", "differs from the manifest"},
        {"emptied", "FileGroup1\\a.txt", "", "differs from the manifest"},
        {"missing", "fileGROUP12\\deep\\er\\b.txt", nullptr, "is missing"},
        {"added deep in a group", "FileGroup12\\deep\\new.txt", "new", "is not listed in the manifest"},
        {"added to a group that came along", "FileGroup7\\x.txt", "x", "is not listed in the manifest"},
    };
    for (const auto& c : changes) {
        SCOPED_TRACE(c.name);
        CPackage q;
        kvtest::WriteFileBytes(q.dir / kKvManifestName, q.Manifest());
        if (c.bytes)
            kvtest::WriteFileBytes(q.dir / c.path, c.bytes);
        else
            ::DeleteFileA((q.dir / c.path).c_str());
        EXPECT_EQ(KVSEAL_DAMAGED, KvVerifyPackage(q.dir.Path(), "setup.ini", problems));
        ASSERT_EQ(1u, problems.size());
        EXPECT_TRUE(KvSamePackagePath(c.path, problems[0].strPath)) << problems[0].strPath;
        EXPECT_EQ(c.what, problems[0].strWhat);
    }

    // What is written reads back as written.
    std::vector<CKvManifestEntry> entries = {{"setup.ini", Hash("[ProductInstall.Main]\r\n")}, {"tool.exe", Hash("tool")}};
    DWORD error = 0;
    ASSERT_TRUE(KvWriteManifest(p.dir.Path(), entries, error)) << error;
    EXPECT_FALSE(kvtest::Exists(p.dir / "package.sha256.new"));
    std::vector<CKvManifestEntry> read;
    std::string why;
    ASSERT_EQ(KVSEAL_OK, KvReadManifest(p.dir.Path(), read, why)) << why;
    ASSERT_EQ(2u, read.size());
    EXPECT_EQ("tool.exe", read[1].strPath);
    EXPECT_EQ(Hash("tool"), read[1].strHash);
}

// Many files are checked on several threads; the findings still come in the
// manifest's order, each naming its own file.
TEST(PackageManifest, ManyFilesReportTheirOwnFindingsInOrder)
{
    CPackage p;
    std::string manifest = p.Manifest();
    for (int i = 0; i < 200; ++i) {
        const std::string path = "FileGroup2\\f" + std::to_string(i) + ".txt";
        kvtest::WriteFileBytes(p.dir / path, "content " + std::to_string(i));
        manifest += p.Line(path, "content " + std::to_string(i));
    }
    kvtest::WriteFileBytes(p.dir / kKvManifestName, manifest);
    std::vector<CKvSealProblem> problems;
    EXPECT_EQ(KVSEAL_OK, KvVerifyPackage(p.dir.Path(), "setup.ini", problems)) << problems.size();

    kvtest::WriteFileBytes(p.dir / "FileGroup2\\f17.txt", "content 18");
    ::DeleteFileA((p.dir / "FileGroup2\\f150.txt").c_str());
    kvtest::WriteFileBytes(p.dir / "FileGroup2\\f199.txt", "");
    EXPECT_EQ(KVSEAL_DAMAGED, KvVerifyPackage(p.dir.Path(), "setup.ini", problems));
    ASSERT_EQ(3u, problems.size());
    EXPECT_EQ("FileGroup2\\f17.txt", problems[0].strPath);
    EXPECT_EQ("differs from the manifest", problems[0].strWhat);
    EXPECT_EQ("FileGroup2\\f150.txt", problems[1].strPath);
    EXPECT_EQ("is missing", problems[1].strWhat);
    EXPECT_EQ("FileGroup2\\f199.txt", problems[2].strPath);
    EXPECT_EQ("differs from the manifest", problems[2].strWhat);
}
