#include <gtest/gtest.h>
#include "TestSupport.h"

// The test bed itself: Wine runs us as the unprivileged user, and a read-only
// file really refuses a write.
TEST(TestBed, ReadOnlyFileRefusesWrites)
{
    kvtest::TempDir dir("smoke");
    std::string f = dir / "ro.txt";
    ASSERT_TRUE(kvtest::WriteFileBytes(f, "x"));
    ASSERT_TRUE(::SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_READONLY));
    HANDLE h = ::CreateFileA(f.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    if (h != INVALID_HANDLE_VALUE)
        ::CloseHandle(h);
}

TEST(TestBed, KorvexExeIsBuilt)
{
    EXPECT_TRUE(kvtest::Exists(kvtest::KorvexExe())) << kvtest::KorvexExe();
}
