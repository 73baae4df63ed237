// The resources the shipped program carries (not the test program's copy).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "TestSupport.h"

namespace {

class Resources : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_module = ::LoadLibraryExA(kvtest::KorvexExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(m_module, nullptr) << kvtest::KorvexExe();
    }
    void TearDown() override
    {
        if (m_module)
            ::FreeLibrary(m_module);
    }

    std::string Bytes(LPCWSTR name, LPCWSTR type) const
    {
        HRSRC r = ::FindResourceW(m_module, name, type);
        if (!r)
            return std::string();
        HGLOBAL g = ::LoadResource(m_module, r);
        const char* p = g ? static_cast<const char*>(::LockResource(g)) : nullptr;
        return p ? std::string(p, ::SizeofResource(m_module, r)) : std::string();
    }

    HMODULE m_module = nullptr;
};

#pragma pack(push, 2)
struct GroupIconDir {
    WORD reserved, type, count;
};
struct GroupIconEntry {
    BYTE width, height, colors, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

}  // namespace

TEST_F(Resources, ManifestAsksForAdministratorAndNamesTheSystemsAndCommonControls)
{
    std::string m = Bytes(MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_FALSE(m.empty());
    EXPECT_NE(m.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(m.find("{1f676c76-80e1-4239-95bb-83d0f6d0da78}"), std::string::npos);  // 8.1
    EXPECT_NE(m.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);  // 10
    EXPECT_NE(m.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(m.find("version=\"6.0.0.0\""), std::string::npos);
}

TEST_F(Resources, IconGroup128HoldsSmallAndLargeIcons)
{
    std::string g = Bytes(MAKEINTRESOURCEW(128), MAKEINTRESOURCEW(14));
    ASSERT_GE(g.size(), sizeof(GroupIconDir));
    GroupIconDir dir;
    std::memcpy(&dir, g.data(), sizeof dir);
    EXPECT_EQ(dir.type, 1);
    ASSERT_EQ(g.size(), sizeof dir + dir.count * sizeof(GroupIconEntry));
    bool small = false, large = false;
    for (WORD i = 0; i < dir.count; ++i) {
        GroupIconEntry e;
        std::memcpy(&e, g.data() + sizeof dir + i * sizeof e, sizeof e);
        small = small || e.width == 16;
        large = large || e.width == 32;
        EXPECT_EQ(Bytes(MAKEINTRESOURCEW(e.id), MAKEINTRESOURCEW(3)).size(), e.bytes) << "icon " << e.id;
    }
    EXPECT_TRUE(small);
    EXPECT_TRUE(large);
}

TEST_F(Resources, VersionResourceCarriesTheProductVersion)
{
    std::string v = Bytes(MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
    const DWORD signature = 0xFEEF04BD;
    size_t at = v.find(std::string(reinterpret_cast<const char*>(&signature), 4));
    ASSERT_NE(at, std::string::npos);
    ASSERT_GE(v.size(), at + sizeof(VS_FIXEDFILEINFO));
    VS_FIXEDFILEINFO info;
    std::memcpy(&info, v.data() + at, sizeof info);
    EXPECT_EQ(info.dwFileVersionMS, MAKELONG(0, 2));
    EXPECT_EQ(info.dwFileType, static_cast<DWORD>(VFT_APP));
}

TEST_F(Resources, StringTableHasExactlyTheTwentyTexts)
{
    for (UINT id = 1; id <= 21; ++id) {
        wchar_t buf[512] = {0};
        int n = ::LoadStringW(m_module, id, buf, 512);
        if (id <= 20)
            EXPECT_GT(n, 0) << id;
        else
            EXPECT_EQ(n, 0) << id;
    }
    wchar_t caption[64] = {0};
    ::LoadStringW(m_module, 3, caption, 64);
    EXPECT_STREQ(caption, L"Halvern\x5b89\x88c5\x8f6f\x4ef6\x5305");
}
