#include <gtest/gtest.h>

#include "TestSupport.h"
#include "util/FileUtil.h"

// GBK: 0x95 is a lead byte and 0x5C (the backslash code) one of its trail
// bytes, so "\x95\x5c" is one character that merely looks like it ends in "\".
static const UINT kGbk = 936;
static const std::string kWideEndingInBackslashCode = "\x95\x5c";

TEST(JoinPath, OneBackslashBetweenTheParts)
{
    EXPECT_EQ(JoinPath("C:\\a\\", "\\b"), "C:\\a\\b");
    EXPECT_EQ(JoinPath("C:\\a", "b"), "C:\\a\\b");
    EXPECT_EQ(JoinPath("C:\\a\\", "b"), "C:\\a\\b");
    EXPECT_EQ(JoinPath("C:\\a", "\\b"), "C:\\a\\b");
    EXPECT_EQ(JoinPath("C:\\a", ""), "C:\\a");
    EXPECT_EQ(JoinPath("C:\\a\\", ""), "C:\\a\\");
    EXPECT_EQ(JoinPath("", "b"), "b");
    EXPECT_EQ(JoinPath("", ""), "");
    // Only one leading backslash of the second part is dropped.
    EXPECT_EQ(JoinPath("C:\\a\\", "\\\\b"), "C:\\a\\\\b");
    EXPECT_EQ(JoinPath3("C:\\pkg\\", "FileGroup1", "bin\\"), "C:\\pkg\\FileGroup1\\bin\\");
    EXPECT_EQ(JoinPath3("C:\\pkg\\", "FileGroup1", ""), "C:\\pkg\\FileGroup1");
}

TEST(JoinPath, TrailByteWithTheBackslashCodeIsNoBackslash)
{
    const std::string dir = "C:\\x" + kWideEndingInBackslashCode;
    EXPECT_EQ(JoinPathCP(kGbk, dir, "b"), dir + "\\b");
    EXPECT_EQ(JoinPathCP(kGbk, dir, "\\b"), dir + "\\b");
    EXPECT_EQ(JoinPathCP(kGbk, dir, ""), dir);
    // Second part starting with a double-byte character.
    EXPECT_EQ(JoinPathCP(kGbk, dir, kWideEndingInBackslashCode), dir + "\\" + kWideEndingInBackslashCode);
    EXPECT_EQ(JoinPathCP(kGbk, "C:\\a", kWideEndingInBackslashCode), "C:\\a\\" + kWideEndingInBackslashCode);
    EXPECT_EQ(JoinPathCP(kGbk, "C:\\a\\", kWideEndingInBackslashCode), "C:\\a\\" + kWideEndingInBackslashCode);
    // A single-byte code page sees a real backslash at the end.
    EXPECT_EQ(JoinPathCP(1252, dir, "b"), dir + "b");
}

TEST(SplitPath, FolderKeepsItsBackslashAndNameKeepsWildcards)
{
    EXPECT_EQ(GetFolderPart("C:\\a\\b\\x.dll"), "C:\\a\\b\\");
    EXPECT_EQ(GetFileNamePart("C:\\a\\b\\x.dll"), "x.dll");
    EXPECT_EQ(GetFolderPart("bin\\*.dll"), "bin\\");
    EXPECT_EQ(GetFileNamePart("bin\\*.dll"), "*.dll");
    EXPECT_EQ(GetFolderPart("x.dll"), "");
    EXPECT_EQ(GetFileNamePart("x.dll"), "x.dll");
    EXPECT_EQ(GetFolderPart("C:x.dll"), "C:");
    EXPECT_EQ(GetFileNamePart("C:x.dll"), "x.dll");
    EXPECT_EQ(GetFolderPart("C:\\a\\"), "C:\\a\\");
    EXPECT_EQ(GetFileNamePart("C:\\a\\"), "");
    EXPECT_EQ(GetFolderPart("\\\\srv\\share\\f.txt"), "\\\\srv\\share\\");

    const std::string name = kWideEndingInBackslashCode + "x.dll";
    EXPECT_EQ(GetFolderPartCP(kGbk, "C:\\d\\" + name), "C:\\d\\");
    EXPECT_EQ(GetFileNamePartCP(kGbk, "C:\\d\\" + name), name);
}

TEST(GetRelativePath, PartBelowTheBase)
{
    EXPECT_EQ(GetRelativePath("C:\\pkg\\FileGroup1\\bin\\", "C:\\pkg\\FileGroup1"), "bin\\");
    EXPECT_EQ(GetRelativePath("C:\\pkg\\FileGroup1\\bin\\", "C:\\pkg\\FileGroup1\\"), "bin\\");
    EXPECT_EQ(GetRelativePath("C:\\pkg\\FileGroup1\\", "C:\\pkg\\FileGroup1"), "");
    EXPECT_EQ(GetRelativePath("C:\\bak\\sub\\x.dll", "C:\\bak"), "sub\\x.dll");
    // Not below the base, or the base itself: unchanged.
    EXPECT_EQ(GetRelativePath("D:\\other\\", "C:\\pkg\\FileGroup1"), "D:\\other\\");
    EXPECT_EQ(GetRelativePath("C:\\pkg\\FileGroup1", "C:\\pkg\\FileGroup1"), "C:\\pkg\\FileGroup1");
    // The comparison is case-sensitive.
    EXPECT_EQ(GetRelativePath("C:\\PKG\\FileGroup1\\bin\\", "C:\\pkg\\FileGroup1"), "C:\\PKG\\FileGroup1\\bin\\");
    EXPECT_EQ(GetRelativePath("C:\\a\\", ""), "C:\\a\\");
}

TEST(RemoveServerPart, DropsADoubleBackslashRun)
{
    EXPECT_EQ(RemoveServerPart("bin\\"), "bin\\");
    EXPECT_EQ(RemoveServerPart(""), "");
    EXPECT_EQ(RemoveServerPart("\\\\srv\\share\\x\\"), "share\\x\\");
    EXPECT_EQ(RemoveServerPart("\\\\srv"), "\\\\srv");
}

TEST(GetParentFolder, OneLevelUp)
{
    EXPECT_EQ(GetParentFolder("C:\\a\\b\\"), "C:\\a");
    EXPECT_EQ(GetParentFolder("C:\\a\\b\\c\\"), "C:\\a\\b");
    // The root, not the drive-relative "C:" (the current folder of drive C).
    EXPECT_EQ(GetParentFolder("C:\\a\\"), "C:\\");
    EXPECT_EQ(GetParentFolder("\\\\srv\\share\\x\\"), "\\\\srv\\share");
}

TEST(PathLimit, LongPathsAreRefused)
{
    std::string ok(KV_MAX_PATH_CHARS, 'a');
    std::string tooLong(KV_MAX_PATH_CHARS + 1, 'a');
    EXPECT_TRUE(PathFitsLimit(ok));
    EXPECT_FALSE(PathFitsLimit(tooLong));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_FALSE(FileExists("C:\\" + tooLong));
    DWORD size = 7;
    EXPECT_FALSE(GetFileSizeLow("C:\\" + tooLong, size));
    EXPECT_EQ(size, 7u);
}

TEST(AbsolutePath, RelativeNamesAreTakenAgainstTheBase)
{
    const char* const base = "C:\\pkg\\";
    const struct {
        const char* path;
        const char* full;
    } cases[] = {
        {"rec.ini", "C:\\pkg\\rec.ini"},
        {"sub\\..\\rec.ini", "C:\\pkg\\rec.ini"},
        {"..\\rec\\r.ini", "C:\\rec\\r.ini"},
        {"\\rec\\r.ini", "C:\\rec\\r.ini"},
        {"D:\\r.ini", "D:\\r.ini"},
        {"\\\\srv\\share\\r.ini", "\\\\srv\\share\\r.ini"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AbsolutePath(base, c.path), c.full) << c.path;
}

TEST(PathIsBelow, AsTheSystemResolvesThePath)
{
    struct {
        const char* base;
        const char* path;
        bool below;
    } cases[] = {
        {"C:\\prod", "C:\\prod\\a.dll", true},
        {"C:\\prod\\", "C:\\prod\\bin\\*.dll", true},
        {"C:\\prod", "C:\\prod\\sub\\..\\a.dll", true},
        {"C:\\prod", "C:\\prod\\..\\prod\\a.dll", true},
        {"C:\\prod", "C:\\prod\\\\a.dll", true},
        {"C:\\prod", "C:\\prod\\..\\x.txt", false},
        {"C:\\prod", "C:\\prod\\sub\\..\\..\\x.txt", false},
        {"C:\\prod", "C:\\prod/../x.txt", false},
        {"C:\\prod", "C:\\prod\\...\\x.txt", true},
        {"C:\\prod", "C:\\prodx\\a.dll", false},
        {"C:\\prod", "C:\\prod", false},
        {"C:\\prod", "C:\\prod\\.", false},
        {"C:\\prod", "C:\\prod\\..", false},
        {"C:\\", "C:\\a.dll", true},
        {"C:\\prod", "", false},
        {"", "C:\\prod\\a.dll", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PathIsBelow(c.base, c.path), c.below) << c.base << " | " << c.path;
}
