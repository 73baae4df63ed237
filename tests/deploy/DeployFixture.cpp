#include "DeployFixture.h"

#include <atomic>
#include <cstdio>

namespace kvdeploy {

namespace {

std::atomic<unsigned> g_count{0};

const char kApp[] = "patched app 2.0\r\n";
const char kBusy[] = "MZ patched busy";

unsigned long long FileSize(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

const char DeployTest::kBusyFile[] = "busy.dll";

DeployTest::DeployTest()
    : m_patchId("KVDEPLOY-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++g_count)),
      m_db(m_root / "db\\KorvexDB.ini")
{
    m_product.AddFolder(Product());
    Reset();
}

DeployTest::~DeployTest() { kvtest::RegDeleteTree(HKEY_LOCAL_MACHINE, Key(), kvtest::kProgramView); }

void DeployTest::Reset()
{
    kvtest::RegDeleteTree(HKEY_LOCAL_MACHINE, Key(), kvtest::kProgramView);
    kvtest::RemoveTree(m_root / "patch");
    kvtest::RemoveTree(Product());
    kvtest::WriteFileBytes(Product() + "\\app.txt", "product app 1.0\r\n");
    kvtest::WriteFileBytes(Product() + "\\" + kBusyFile, "MZ old busy");
}

void DeployTest::Script(const ScriptOptions& o)
{
    const std::string pkg = Pkg();
    ASSERT_TRUE(kvtest::CreateTree(pkg + "\\FileGroup2"));
    ASSERT_TRUE(::CopyFileA(kvtest::KorvexExe().c_str(), (pkg + "\\Korvex.exe").c_str(), FALSE));
    ASSERT_TRUE(::CopyFileA(kvtest::KorvexExe().c_str(), (pkg + "\\FileGroup2\\Korvex.exe").c_str(), FALSE));
    ASSERT_TRUE(kvtest::WriteFileBytes(pkg + "\\FileGroup1\\app.txt", kApp));
    ASSERT_TRUE(kvtest::WriteFileBytes(pkg + "\\FileGroup1\\" + kBusyFile, kBusy));
    ASSERT_TRUE(kvtest::WriteFileBytes(pkg + "\\uninstall.tpl", "\"%HOME%\\Korvex.exe\" /U:\"%RecordFile%\"\r\n"));

    std::string steps = "Step1.Section=ProductInstall.CopyFileGroupTo.Product\r\nStep1.Description=Product files\r\n";
    int n = 1;
    if (o.copyInstaller)
        steps += "Step" + std::to_string(++n) + ".Section=ProductInstall.CopyFileGroupTo.Installer\r\n";
    steps += "Step" + std::to_string(++n) + ".Section=ProductInstall.ReplaceSymbolsInFile.Uninstall\r\n";
    if (o.failing) {
        const std::string s = "Step" + std::to_string(++n);
        steps += s + ".Section=ProductInstall.CopyFileGroupTo.Missing\r\n" + s + ".Description=Missing files\r\n";
        if (!o.failAction.empty())
            steps += s + ".Error.Action=" + o.failAction + "\r\n";
    }

    std::string text =
        "[PatchInformation]\r\nKorvexVersion=2.0\r\nPatchID=" + m_patchId +
        "\r\nProductName=Deploy Product\r\nLanguage=ENU\r\nProductVersion=1.0\r\nBuildNumber=100\r\nPlatform=x86\r\n"
        "PatchDescription=Deploy test patch\r\nTimeOutSecond=600\r\nPublisher=Halvern Test\r\n\r\n"
        "[ProductInstall.Symbols]\r\nPKG=" + pkg + "\r\nPRODUCT=" + Product() + "\r\nHOME=" + Home() +
        "\r\nRecordFile=%HOME%\\patch.rec\r\n\r\n"
        "[ProductInstall.Main]\r\nInstallRecordFile=%RecordFile%\r\nStepCount=" + std::to_string(n) + "\r\n" + steps +
        "\r\n[ProductInstall.CopyFileGroupTo.Product]\r\nFileGroupCount=1\r\nFileGroupStartCount=1\r\n"
        "[FileGroup1]\r\nTarget=%PRODUCT%\r\nBackup=%HOME%\\Backup\r\nFileCount=2\r\nFile1=app.txt\r\nFile2=" +
        kBusyFile + "\r\nOnCopyFail=KVHF_CopyFailReboot\r\n\r\n"
        // The installer's own copy stays when the patch is removed: the
        // removal runs it, and a running program cannot be deleted.
        "[ProductInstall.CopyFileGroupTo.Installer]\r\nFileGroupCount=1\r\nFileGroupStartCount=2\r\n"
        "[FileGroup2]\r\nTarget=%HOME%\r\nBackup=%HOME%\\Backup\\installer\r\nFileCount=1\r\nFile1=Korvex.exe\r\n\r\n"
        "[ProductInstall.ReplaceSymbolsInFile.Uninstall]\r\nFileCount=1\r\nFile1.Source=%PKG%\\uninstall.tpl\r\n"
        "File1.Output=%HOME%\\uninstall.cmd\r\n\r\n"
        "[ProductInstall.CopyFileGroupTo.Missing]\r\nFileGroupCount=1\r\nFileGroupStartCount=3\r\n"
        "[FileGroup3]\r\nTarget=%PRODUCT%\r\nBackup=%HOME%\\Backup\r\nFileCount=1\r\nFile1=absent.txt\r\n\r\n"
        "[ProductRemove.Main]\r\nStepCount=1\r\nStep1.Section=ProductRemove.Rollback\r\n"
        "[ProductRemove.Rollback]\r\n";
    ASSERT_TRUE(kvtest::WriteFileBytes(pkg + "\\setup.ini", text));
}

kvtest::ProcessResult DeployTest::Run(const std::string& args)
{
    kvtest::ProcessResult r = kvtest::RunProcess("\"" + Pkg() + "\\Korvex.exe\" " + args, Pkg(), 60000);
    EXPECT_TRUE(r.started);
    EXPECT_FALSE(r.timedOut);
    return r;
}

kvtest::ProcessResult DeployTest::RunCommand(const std::string& commandLine)
{
    kvtest::ProcessResult r = kvtest::RunProcess(commandLine, "C:\\", 60000);
    EXPECT_TRUE(r.started) << commandLine;
    EXPECT_FALSE(r.timedOut) << commandLine;
    return r;
}

unsigned long long DeployTest::CopiedBytes() const
{
    return sizeof kApp - 1 + sizeof kBusy - 1 + FileSize(kvtest::KorvexExe());
}

kvtest::SnapshotState DeployTest::ProductState() const { return m_product.Capture(); }

bool DeployTest::EntryText(const char* name, std::string& value) const
{
    return kvtest::RegReadString(HKEY_LOCAL_MACHINE, Key(), name, value, kvtest::kProgramView);
}

bool DeployTest::EntryNumber(const char* name, DWORD& value) const
{
    DWORD type = 0;
    std::string data;
    if (!kvtest::RegReadValue(HKEY_LOCAL_MACHINE, Key(), name, type, data, kvtest::kProgramView) ||
        type != REG_DWORD || data.size() != sizeof value)
        return false;
    memcpy(&value, data.data(), sizeof value);
    return true;
}

}  // namespace kvdeploy
