#include <gtest/gtest.h>

#include <algorithm>

#include "TestSupport.h"
#include "interpreter/Interpreter.h"
#include "util/FileUtil.h"
#include "util/Sha256.h"
#include "util/SystemLib.h"

namespace {

std::string Fixture(const std::string& name) { return kvtest::FixtureDir() + "\\" + name; }

FILETIME LastWrite(const std::string& path)
{
    FILETIME ft = {};
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        ::GetFileTime(h, nullptr, nullptr, &ft);
        ::CloseHandle(h);
    }
    return ft;
}

void SetLastWrite(const std::string& path, WORD year)
{
    SYSTEMTIME st = {};
    st.wYear = year;
    st.wMonth = 3;
    st.wDay = 4;
    st.wHour = 5;
    st.wMinute = 6;
    FILETIME ft;
    ::SystemTimeToFileTime(&st, &ft);
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ::SetFileTime(h, &ft, &ft, &ft);
    ::CloseHandle(h);
}

std::string Pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

std::vector<std::string> Names(const std::vector<std::string>& paths)
{
    std::vector<std::string> names;
    for (const std::string& p : paths)
        names.push_back(GetFileNamePart(p));
    std::sort(names.begin(), names.end());
    return names;
}

struct LogSink {
    kvtest::CRecordingCallback cb;
    CHFS_Interpreter interp{&cb, "setup.ini"};
};

}  // namespace

TEST(CreateDirectoryTree, CreatesEveryMissingLevel)
{
    kvtest::TempDir dir("cdt");
    std::string deep = dir / "one\\two\\three";
    EXPECT_TRUE(CreateDirectoryTree(deep, false));
    EXPECT_TRUE(kvtest::Exists(dir / "one"));
    EXPECT_TRUE(kvtest::Exists(dir / "one\\two"));
    EXPECT_TRUE(kvtest::Exists(deep));
    // Existing folder, with and without the trailing backslash.
    EXPECT_TRUE(CreateDirectoryTree(deep, false));
    EXPECT_TRUE(CreateDirectoryTree(deep + "\\", false));
    // The folder of a file path; the file itself is not created.
    EXPECT_TRUE(CreateDirectoryTree(dir / "f1\\f2\\file.txt", true));
    EXPECT_TRUE(kvtest::Exists(dir / "f1\\f2"));
    EXPECT_FALSE(kvtest::Exists(dir / "f1\\f2\\file.txt"));
}

TEST(CreateDirectoryTree, FailsWhereAFileBlocksTheWay)
{
    kvtest::TempDir dir("cdt");
    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "blocker", "x"));
    EXPECT_FALSE(CreateDirectoryTree(dir / "blocker\\sub\\deeper", false));
    EXPECT_FALSE(kvtest::Exists(dir / "blocker\\sub"));
    std::string tooLong = dir / std::string(KV_MAX_PATH_CHARS, 'd');
    EXPECT_FALSE(CreateDirectoryTree(tooLong, false));
}

TEST(FindFiles, ListsFilesOnlyAndRecursesOnRequest)
{
    kvtest::TempDir dir("find");
    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "a.dll", "a"));
    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "b.txt", "b"));
    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "h.dll", "h"));
    ::SetFileAttributesA((dir / "h.dll").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "x.dll\\inner.dll", "i"));

    std::vector<std::string> list;
    EXPECT_EQ(FindFiles(list, dir.Path(), "*.dll", false), 2);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"a.dll", "h.dll"}));
    EXPECT_EQ(list.size(), 2u);
    EXPECT_NE(std::find(list.begin(), list.end(), dir / "a.dll"), list.end());

    // The count is of this call; the list is appended to.
    EXPECT_EQ(FindFiles(list, dir.Path() + "\\", "*.dll", true), 3);
    EXPECT_EQ(list.size(), 5u);
    EXPECT_NE(std::find(list.begin(), list.end(), dir / "x.dll\\inner.dll"), list.end());

    std::vector<std::string> none;
    EXPECT_EQ(FindFiles(none, dir.Path(), "*.nothing", false), 0);
    EXPECT_EQ(FindFiles(none, dir / "missing", "*", false), 0);
    EXPECT_TRUE(none.empty());
}

TEST(CopyFileKeepTime, CopiesBytesTimesAndAttributes)
{
    kvtest::TempDir dir("copy");
    LogSink sink;
    sink.cb.logLines.clear();
    // Around the block: empty, one byte, one block less one, exactly one,
    // several blocks and a piece.
    for (size_t size : {size_t(0), size_t(1), size_t(KV_COPY_BLOCK - 1), size_t(KV_COPY_BLOCK),
                        size_t(KV_COPY_BLOCK * 2 + 5)}) {
        std::string src = dir / "src.bin", dst = dir / "dst.bin";
        ::SetFileAttributesA(src.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::SetFileAttributesA(dst.c_str(), FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(kvtest::WriteFileBytes(src, Pattern(size)));
        SetLastWrite(src, 2001);
        ::SetFileAttributesA(src.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
        ASSERT_EQ(CopyFileKeepTime(src, dst, sink.interp.LogSink()), KVCOPY_OK) << size;
        EXPECT_EQ(kvtest::ReadFileOr(dst), Pattern(size)) << size;
        FILETIME a = LastWrite(src), b = LastWrite(dst);
        EXPECT_EQ(::CompareFileTime(&a, &b), 0) << size;
        // The file system may not keep every attribute: compare with what the
        // source really has.
        const DWORD mask = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
        EXPECT_NE(::GetFileAttributesA(src.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
        EXPECT_EQ(::GetFileAttributesA(dst.c_str()) & mask, ::GetFileAttributesA(src.c_str()) & mask);
    }
    EXPECT_TRUE(sink.cb.logLines.empty());
}

TEST(CopyFileKeepTime, OverwritesAHiddenDestination)
{
    kvtest::TempDir dir("copy");
    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "src", "new"));
    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "dst", "old old old"));
    ::SetFileAttributesA((dir / "dst").c_str(), FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(CopyFileKeepTime(dir / "src", dir / "dst", nullptr), KVCOPY_OK);
    EXPECT_EQ(kvtest::ReadFileOr(dir / "dst"), "new");
}

TEST(CopyFileKeepTime, FailuresAreCodedAndLogged)
{
    kvtest::TempDir dir("copy");
    LogSink sink;
    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "src", "new"));

    EXPECT_EQ(CopyFileKeepTime(dir / "missing", dir / "dst", sink.interp.LogSink()), KVCOPY_SOURCE_OPEN_FAILED);
    EXPECT_TRUE(sink.cb.LogContains("Open existed File Failed and create new File Failed,last error:[2]"))
        << sink.cb.LogText();
    EXPECT_FALSE(kvtest::Exists(dir / "dst"));

    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "ro", "old"));
    ::SetFileAttributesA((dir / "ro").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(CopyFileKeepTime(dir / "src", dir / "ro", sink.interp.LogSink()), KVCOPY_CREATE_FAILED);
    EXPECT_TRUE(sink.cb.LogContains("Create new File Failed,last error:[5]")) << sink.cb.LogText();
    EXPECT_EQ(kvtest::ReadFileOr(dir / "ro"), "old");

    EXPECT_EQ(CopyFileKeepTime(dir / "src", dir / "no\\such\\folder\\f", nullptr), KVCOPY_CREATE_FAILED);
    // Onto a folder.
    ASSERT_TRUE(kvtest::CreateTree(dir / "folder"));
    EXPECT_EQ(CopyFileKeepTime(dir / "src", dir / "folder", nullptr), KVCOPY_CREATE_FAILED);

    // Paths beyond the limit: refused with the failure line, no overrun.
    sink.cb.logLines.clear();
    std::string longName = dir / std::string(300, 'n');
    EXPECT_EQ(CopyFileKeepTime(longName, dir / "dst", sink.interp.LogSink()), KVCOPY_SOURCE_OPEN_FAILED);
    EXPECT_EQ(CopyFileKeepTime(dir / "src", longName, sink.interp.LogSink()), KVCOPY_CREATE_FAILED);
    EXPECT_EQ(kvtest::CountOf(sink.cb.LogText(), "last error:[206]"), 2u) << sink.cb.LogText();
}

TEST(CopyFileKeepTime, SourceHeldForWritingCannotBeRead)
{
    kvtest::TempDir dir("copy");
    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "src", "data"));
    HANDLE h = ::CreateFileA((dir / "src").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    // Opening for reading with read sharing only conflicts with the writer.
    EXPECT_EQ(CopyFileKeepTime(dir / "src", dir / "dst", nullptr), KVCOPY_SOURCE_OPEN_FAILED);
    ::CloseHandle(h);
    EXPECT_EQ(CopyFileKeepTime(dir / "src", dir / "dst", nullptr), KVCOPY_OK);
}

TEST(FileVersion, FixedNumbersOfTheFileVersion)
{
    WORD v[4] = {9, 9, 9, 9};
    ASSERT_TRUE(GetFileVersionNumbers(Fixture("kvver_6_5_100_7.dll"), v));
    EXPECT_EQ(v[0], 6);
    EXPECT_EQ(v[1], 5);
    EXPECT_EQ(v[2], 100);
    EXPECT_EQ(v[3], 7);
    ASSERT_TRUE(GetFileVersionNumbers(Fixture("kvver_6_10_0_0.dll"), v));
    EXPECT_EQ(v[1], 10);

    kvtest::TempDir dir("ver");
    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "plain.dll", "not a PE file"));
    WORD u[4] = {1, 2, 3, 4};
    EXPECT_FALSE(GetFileVersionNumbers(dir / "plain.dll", u));
    EXPECT_FALSE(GetFileVersionNumbers(dir / "missing.dll", u));
    EXPECT_EQ(u[0], 1);
    EXPECT_EQ(u[1], 2);
    EXPECT_EQ(u[2], 3);
    EXPECT_EQ(u[3], 4);
}

TEST(FileVersion, StringsComeFromTheFirstTranslation)
{
    std::string s = "unchanged";
    ASSERT_TRUE(GetFileVersionString(Fixture("kvver_6_5_100_7.dll"), s));
    EXPECT_EQ(s, "6.5.100.7 first");
    ASSERT_TRUE(GetSpecialBuildString(Fixture("kvver_6_5_100_7.dll"), s));
    EXPECT_EQ(s, "hotfix 42");

    // No SpecialBuild string: buffer emptied. No FileVersion string: kept.
    s = "unchanged";
    EXPECT_FALSE(GetSpecialBuildString(Fixture("kvver_6_5_100_6.dll"), s));
    EXPECT_EQ(s, "");
    s = "unchanged";
    EXPECT_FALSE(GetFileVersionString(Fixture("kvver_nostrings.dll"), s));
    EXPECT_EQ(s, "unchanged");

    // No translation table, no resource: both keep the buffer.
    EXPECT_FALSE(GetFileVersionString(Fixture("kvver_notrans.dll"), s));
    EXPECT_FALSE(GetSpecialBuildString(Fixture("kvver_notrans.dll"), s));
    EXPECT_FALSE(GetSpecialBuildString(kvtest::FixtureDir() + "\\missing.dll", s));
    EXPECT_EQ(s, "unchanged");
}

TEST(FileVersion, VersionLibraryComesFromTheSystemFolder)
{
    WORD v[4];
    GetFileVersionNumbers(Fixture("kvver_6_5_100_7.dll"), v);
    HMODULE h = ::GetModuleHandleA("version.dll");
    ASSERT_NE(h, nullptr);
    char path[MAX_PATH] = {0};
    ::GetModuleFileNameA(h, path, MAX_PATH);
    EXPECT_EQ(_stricmp(path, GetSystemFolderPath("version.dll").c_str()), 0) << path;
}

TEST(GetFileSizeLow, SizeOfAFile)
{
    kvtest::TempDir dir("size");
    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "f", std::string(12345, 'x')));
    DWORD size = 0;
    EXPECT_TRUE(GetFileSizeLow(dir / "f", size));
    EXPECT_EQ(size, 12345u);
    size = 77;
    EXPECT_FALSE(GetFileSizeLow(dir / "none", size));
    EXPECT_EQ(size, 77u);
}

TEST(CopyFileKeepTime, OpenedSourceIsReadOnceForItsHeadAndItsCopy)
{
    kvtest::TempDir dir("copy");
    const std::string bytes = Pattern(KV_COPY_BLOCK + 77);
    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "src", bytes));
    SetLastWrite(dir / "src", 1999);
    CKvCopySource src;
    ASSERT_TRUE(OpenCopySource(dir / "src", src));
    EXPECT_TRUE(src.timesKnown);
    FILETIME written = LastWrite(dir / "src");
    EXPECT_EQ(::CompareFileTime(&src.written, &written), 0);
    std::vector<BYTE> buffer;
    ASSERT_TRUE(ReadCopySourceHead(src, buffer));
    EXPECT_EQ(src.headSize, static_cast<DWORD>(KV_COPY_BLOCK));
    // A second look at the head reads nothing more.
    ASSERT_TRUE(ReadCopySourceHead(src, buffer));
    const DWORD absent = INVALID_FILE_ATTRIBUTES;
    EXPECT_EQ(CopyFileKeepTime(src, dir / "dst", &absent, buffer, nullptr), KVCOPY_OK);
    EXPECT_FALSE(src.handle);
    EXPECT_EQ(kvtest::ReadFileOr(dir / "dst"), bytes);
    FILETIME copied = LastWrite(dir / "dst");
    EXPECT_EQ(::CompareFileTime(&copied, &written), 0);

    // A missing source says why.
    CKvCopySource none;
    EXPECT_FALSE(OpenCopySource(dir / "missing", none));
    EXPECT_EQ(none.openError, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(CopyFileToNew, NeverTakesANameInUseAndIsNamedThroughItsHandle)
{
    kvtest::TempDir dir("copy");
    const std::string bytes = Pattern(KV_COPY_BLOCK + 5);
    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "src", bytes));
    SetLastWrite(dir / "src", 2002);
    ASSERT_TRUE(::SetFileAttributesA((dir / "src").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "taken", "theirs"));
    CKvCopySource src;
    ASSERT_TRUE(OpenCopySource(dir / "src", src));
    std::vector<BYTE> buffer;
    CKvFingerprint fp;
    CHandle out;

    // A name that is taken: that file stays as it is, the source open and unread.
    EXPECT_EQ(CopyFileToNew(src, dir / "taken", buffer, nullptr, &fp, out), KVCOPY_CREATE_FAILED);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_TRUE(src.handle);
    EXPECT_FALSE(src.headRead);
    EXPECT_FALSE(out);

    ASSERT_EQ(CopyFileToNew(src, dir / "temp", buffer, nullptr, &fp, out), KVCOPY_OK);
    EXPECT_EQ(fp.Text(), std::to_string(bytes.size()) + ":" + CKvSha256::HexOf(bytes.data(), bytes.size()));
    // Renamed only onto a free name, read-only as it is by then.
    EXPECT_FALSE(RenameOpenFile(out, dir / "temp", dir / "taken"));
    EXPECT_TRUE(::GetLastError() == ERROR_ALREADY_EXISTS || ::GetLastError() == ERROR_FILE_EXISTS) << ::GetLastError();
    EXPECT_EQ(kvtest::ReadFileOr(dir / "taken"), "theirs");
    EXPECT_TRUE(RenameOpenFile(out, dir / "temp", dir / "saved"));
    out.Close();
    EXPECT_FALSE(kvtest::Exists(dir / "temp"));
    EXPECT_EQ(kvtest::ReadFileOr(dir / "saved"), bytes);
    FILETIME source = LastWrite(dir / "src"), saved = LastWrite(dir / "saved");
    EXPECT_EQ(::CompareFileTime(&source, &saved), 0);
    EXPECT_EQ(::GetFileAttributesA((dir / "saved").c_str()) & FILE_ATTRIBUTE_READONLY,
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    for (const char* name : {"src", "saved"})
        ::SetFileAttributesA((dir / name).c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(CopyFileOver, RewritesAFileThroughTheHandleThatReadIt)
{
    kvtest::TempDir dir("copy");
    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "new", "MZ short"));
    SetLastWrite(dir / "new", 2004);
    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "old", "an old content that is longer"));
    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "ro", "read-only"));
    ASSERT_TRUE(::SetFileAttributesA((dir / "ro").c_str(), FILE_ATTRIBUTE_READONLY));
    std::vector<BYTE> buffer;

    // A peek at the head leaves the source unread.
    CKvCopySource src;
    ASSERT_TRUE(OpenCopySource(dir / "new", src));
    EXPECT_TRUE(CopySourceMayHoldVersion(src));
    EXPECT_FALSE(src.headRead);
    CKvCopySource old;
    ASSERT_TRUE(OpenCopySource(dir / "old", old, true));
    EXPECT_TRUE(old.bRewrite);
    EXPECT_FALSE(CopySourceMayHoldVersion(old));
    ASSERT_TRUE(ReadCopySourceHead(old, buffer));
    EXPECT_EQ(CopyFileOver(src, old, buffer, nullptr), KVCOPY_OK);
    EXPECT_FALSE(src.handle);
    EXPECT_FALSE(old.handle);
    EXPECT_EQ(kvtest::ReadFileOr(dir / "old"), "MZ short");
    FILETIME want = LastWrite(dir / "new"), got = LastWrite(dir / "old");
    EXPECT_EQ(::CompareFileTime(&want, &got), 0);

    // A file that cannot be written is opened to be read only, and is not rewritten.
    CKvCopySource ro;
    ASSERT_TRUE(OpenCopySource(dir / "ro", ro, true));
    EXPECT_FALSE(ro.bRewrite);
    ASSERT_TRUE(OpenCopySource(dir / "new", src));
    EXPECT_EQ(CopyFileOver(src, ro, buffer, nullptr), KVCOPY_CREATE_FAILED);
    EXPECT_EQ(kvtest::ReadFileOr(dir / "ro"), "read-only");
    ::SetFileAttributesA((dir / "ro").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(CopyFileKeepTime, SourceThatCannotBeReadFailsAfterCreatingTheCopy)
{
    // A handle without read access: the open works, every read fails.
    kvtest::TempDir dir("copy");
    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "src", "data"));
    LogSink sink;
    CKvCopySource src;
    src.path = dir / "src";
    src.handle.Reset(::CreateFileA(src.path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   0, nullptr));
    ASSERT_TRUE(src.handle);
    std::vector<BYTE> buffer;
    EXPECT_EQ(CopyFileKeepTime(src, dir / "dst", nullptr, buffer, sink.interp.LogSink()), KVCOPY_READ_FAILED);
    EXPECT_TRUE(sink.cb.LogContains("Read source File Failed,last error:[5]")) << sink.cb.LogText();
    EXPECT_EQ(kvtest::ReadFileOr(dir / "dst", "none"), "");
}

TEST(FileVersion, OnlyExecutablesAndExpandableFilesCanHoldOne)
{
    struct {
        const char* head;
        size_t size;
        bool may;
    } cases[] = {{"MZ\x90\0", 4, true}, {"MZ", 2, true}, {"SZDD\x88\xf0", 6, true}, {"M", 1, false},
                 {"", 0, false},       {"ZM\x90", 3, false}, {"SZD", 3, false}, {"PK\3\4", 4, false},
                 {"\x11\x11", 2, false}};
    for (const auto& c : cases)
        EXPECT_EQ(HeadMayHoldVersion(reinterpret_cast<const BYTE*>(c.head), c.size), c.may) << c.head;
    // The file-level check agrees with the version functions on real files.
    EXPECT_TRUE(FileMayHoldVersion(Fixture("kvver_6_5_100_7.dll")));
    EXPECT_TRUE(FileMayHoldVersion(Fixture("missing.dll")));  // cannot look: the version functions decide
    kvtest::TempDir dir("ver");
    ASSERT_TRUE(kvtest::WriteFileBytes(dir / "plain.dll", "not an executable"));
    EXPECT_FALSE(FileMayHoldVersion(dir / "plain.dll"));
}

TEST(MakeTempFileName, FolderMustLeaveRoomForTheName)
{
    // Folders of every length up to what a folder can have; GetTempFileNameA
    // takes at most MAX_PATH - 14 characters.
    kvtest::TempDir dir("tmpname");
    std::string base = dir.Path();
    for (size_t length = 240; length <= 248; ++length) {
        SCOPED_TRACE(length);
        std::string folder = base + "\\" + std::string(length - base.size() - 1, 'f');
        ASSERT_EQ(folder.size(), length);
        ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr)) << ::GetLastError();
        std::string name = "untouched";
        bool made = MakeTempFileName(folder, "BAK", name);
        if (length <= static_cast<size_t>(MAX_PATH - 14)) {
            ASSERT_TRUE(made);
            EXPECT_EQ(name.compare(0, folder.size() + 4, folder + "\\BAK"), 0) << name;
            EXPECT_LE(name.size(), static_cast<size_t>(KV_MAX_PATH_CHARS));
            EXPECT_EQ(name.substr(name.size() - 4), ".tmp");
            EXPECT_TRUE(kvtest::Exists(name));
            ::DeleteFileA(name.c_str());
        } else {
            EXPECT_FALSE(made);
            EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
            EXPECT_EQ(name, "");
        }
        ::RemoveDirectoryA(folder.c_str());
    }
    std::string name;
    EXPECT_FALSE(MakeTempFileName(base + "\\" + std::string(300, 'x'), "BAK", name));
}
