// Two patches that set the same registry values (both views, with types)
// and the same INI keys, removed in the order they were installed: the older
// one is refused while the newer one stands, and once both are gone the
// machine is as it was before either.
#include <gtest/gtest.h>

#include <cstdio>

#include "Package.h"

namespace {

// What one patch writes.
struct CSettings {
    const char* level;  // REG_DWORD, the program's view
    const char* path;   // REG_SZ, the program's view
    const char* wide;   // REG_SZ, the 64-bit view
    const char* made;   // REG_SZ in two levels of keys that the first patch creates
    const char* port;   // an INI key that was there
    const char* added;  // an INI key that was not
};

// A patch that writes those settings.
class CSettingsPatch : public rt::CSmallPatch {
public:
    CSettingsPatch(const kvtest::TempDir& dir, const std::string& name, const std::string& regBase,
                   const std::string& ini, const CSettings& s)
        : CSmallPatch(dir, "order", name)
    {
        const std::string sz = "Reg:REG_SZ,HKLM," + regBase;
        WriteScript(2,
                    "Step1.Section=ProductInstall.UpdateRegistry.Settings\r\nStep1.Description=Registry\r\n"
                    "Step2.Section=ProductInstall.UpdateINI.Settings\r\nStep2.Description=INI\r\n",
                    "[ProductInstall.UpdateRegistry.Settings]\r\nRegCount=4\r\n"
                    "Reg1.Key=Reg:REG_DWORD,HKLM," + regBase + ",Level\r\nReg1.Value=" + s.level + "\r\n"
                    "Reg2.Key=" + sz + ",Path\r\nReg2.Value=" + s.path + "\r\n"
                    "Reg3.Key=" + sz + ",Wide,x64\r\nReg3.Value=" + s.wide + "\r\n"
                    "Reg4.Key=" + sz + "\\Made\\Deeper,V\r\nReg4.Value=" + s.made + "\r\n\r\n"
                    "[ProductInstall.UpdateINI.Settings]\r\nItemCount=2\r\n"
                    "Item1.Key=INI:" + ini + ",Main,Port\r\nItem1.Value=" + s.port + "\r\n"
                    "Item2.Key=INI:" + ini + ",Main,New\r\nItem2.Value=" + s.added + "\r\n");
    }
};

std::string Describe(const kvtest::ProcessResult& r)
{
    return "exit=" + std::to_string(kvtest::Signed(r.exitCode)) + " output=" + r.output;
}

}  // namespace

TEST(TwoPatches, TheOlderIsRemovedOnlyAfterTheNewerAndTheMachineComesBack)
{
    kvtest::TempDir dir("rt-order");
    kvtest::CPatchDBRedirect db(dir / "db\\KorvexDB.ini");
    char base[64];
    std::snprintf(base, sizeof base, "SOFTWARE\\KorvexRT\\Order-%lu", ::GetCurrentProcessId());
    const std::string regBase = base, ini = dir / "settings\\app.ini";
    const DWORD level = 5;
    ASSERT_TRUE(kvtest::RegWriteValue(HKEY_LOCAL_MACHINE, regBase, "Level", REG_DWORD, &level, sizeof level,
                                      kvtest::kProgramView));
    ASSERT_TRUE(kvtest::RegWriteString(HKEY_LOCAL_MACHINE, regBase, "Path", "old", kvtest::kProgramView));
    ASSERT_TRUE(kvtest::RegWriteString(HKEY_LOCAL_MACHINE, regBase, "Wide", "wide old", KEY_WOW64_64KEY));
    ASSERT_TRUE(kvtest::WriteFileBytes(ini, "[Main]\r\nPort=80\r\n"));
    kvtest::CSnapshot snap;
    snap.AddRegKey(HKEY_LOCAL_MACHINE, regBase, kvtest::kProgramView)
        .AddRegKey(HKEY_LOCAL_MACHINE, regBase, KEY_WOW64_64KEY)
        .AddIni(ini);
    struct CCleanUp {
        std::string key;
        ~CCleanUp()
        {
            for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
                kvtest::RegDeleteTree(HKEY_LOCAL_MACHINE, key, view);
                ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\KorvexRT", view, 0);
            }
        }
    } cleanUp{regBase};

    CSettingsPatch a(dir, "A", regBase, ini, {"0x1F", "path A", "wide A", "made A", "8080", "a"});
    CSettingsPatch b(dir, "B", regBase, ini, {"7", "path B", "wide B", "made B", "9090", "b"});
    const kvtest::SnapshotState before = snap.Capture();
    kvtest::ProcessResult r = a.Install();
    ASSERT_EQ(0, kvtest::Signed(r.exitCode)) << Describe(r);
    const kvtest::SnapshotState afterA = snap.Capture();
    r = b.Install();
    ASSERT_EQ(0, kvtest::Signed(r.exitCode)) << Describe(r);
    const kvtest::SnapshotState afterB = snap.Capture();
    ASSERT_NE("", kvtest::DiffSnapshots(afterA, afterB));

    // B changed what A left: removing A now would undo B's values too.
    rt::CLogTail log;
    r = a.Remove();
    EXPECT_EQ(-2008, kvtest::Signed(r.exitCode)) << Describe(r) << "\n" << log.Text();
    EXPECT_EQ("", kvtest::DiffSnapshots(afterB, snap.Capture())) << log.Text();
    EXPECT_TRUE(a.Installed());
    EXPECT_NE(std::string::npos, log.Text().find("the patch left 'REG_DWORD:31'")) << log.Text();
    EXPECT_NE(std::string::npos, log.Text().find("value is '9090', the patch left '8080'")) << log.Text();

    r = b.Remove();
    EXPECT_EQ(0, kvtest::Signed(r.exitCode)) << Describe(r);
    EXPECT_EQ("", kvtest::DiffSnapshots(afterA, snap.Capture()));
    EXPECT_FALSE(b.Installed());

    r = a.Remove();
    EXPECT_EQ(0, kvtest::Signed(r.exitCode)) << Describe(r);
    EXPECT_EQ("", kvtest::DiffSnapshots(before, snap.Capture()));
    EXPECT_FALSE(a.Installed());
    EXPECT_FALSE(kvtest::RegKeyExists(HKEY_LOCAL_MACHINE, regBase + "\\Made", kvtest::kProgramView));
}
