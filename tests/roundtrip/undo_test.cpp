// Undo that holds across runs and patches: a package run twice, a step run
// twice, a rollback beside another patch's backups, two patches sharing one
// Backup folder and removed in either order, files in use while a patch is
// removed or rolled back. Each ends with the machine exactly as before.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "../fileutil/lock_helpers.h"
#include "Package.h"

namespace {

std::string Describe(const kvtest::ProcessResult& r)
{
    return "exit=" + std::to_string(kvtest::Signed(r.exitCode)) + " output=" + r.output;
}

void Put(const std::string& path, const std::string& bytes, int year, DWORD attrs = FILE_ATTRIBUTE_ARCHIVE)
{
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(kvtest::WriteFileBytes(path, bytes));
    FILETIME t = rt::MakeTime(year, 5, 6, 7, 8, 9);
    rt::SetTimes(path, t, t);
    ::SetFileAttributesA(path.c_str(), attrs);
}

// A product below a test folder, with a read-only file and a file in a
// sub-folder, and the machine state the patches may touch.
class CProduct {
public:
    explicit CProduct(const std::string& tag) : m_dir(tag)
    {
        Put(Product() + "\\a.dll", "MZ original a", 2018, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
        Put(Product() + "\\lib\\b.dll", "original b", 2019);
        m_snap.AddFolder(Product()).AddFolder(Backup());
    }
    std::string Product() const { return m_dir / "product"; }
    std::string Backup() const { return m_dir / "backup"; }
    const kvtest::TempDir& Dir() const { return m_dir; }
    kvtest::SnapshotState Capture() const { return m_snap.Capture(); }
    void Watch(const std::string& uninstallKey)
    {
        m_snap.AddRegKey(HKEY_LOCAL_MACHINE, uninstallKey, kvtest::kProgramView);
    }

private:
    kvtest::TempDir m_dir;
    kvtest::CSnapshot m_snap;
};

// A patch of that product: its files (group 1, into the product, saved in
// the shared Backup folder) and optional steps before and after the copy.
struct CPatchPlan {
    std::map<std::string, std::string> files;  // relative path -> content
    std::string groupOptions;                  // extra lines of FileGroup1
    int copySteps = 1;                         // how often the copy step runs
    bool failAtTheEnd = false;                 // a last step that fails
    std::string holdAfterCopy;                 // a product file a step takes into use after the copy
    std::string holder;                        // the name of the events of that holder
};

class CFilePatch : public rt::CSmallPatch {
public:
    CFilePatch(CProduct& product, const std::string& name, const CPatchPlan& plan)
        : CSmallPatch(product.Dir(), "undo", name)
    {
        product.Watch(UninstallKey());
        std::string entries;
        int n = 0;
        int year = 2024;
        for (const auto& f : plan.files) {
            entries += "File" + std::to_string(++n) + "=" + f.first + "\r\n";
            Put(Pkg() + "\\FileGroup1\\" + f.first, f.second, year++);
        }
        std::string steps;
        int step = 0;
        for (int i = 0; i < plan.copySteps; ++i)
            steps += "Step" + std::to_string(++step) + ".Section=ProductInstall.CopyFileGroupTo.Files\r\n";
        std::string hold;
        if (!plan.holdAfterCopy.empty()) {
            steps += "Step" + std::to_string(++step) + ".Section=ProductInstall.Run.Hold\r\n";
            hold = "[ProductInstall.Run.Hold]\r\nRunCount=1\r\nRun1.Description=Hold a file\r\nRun1.Path=" +
                   kvtest::FixtureDir() + "\r\nRun1.Command=kvlock.exe \"" + product.Product() + "\\" +
                   plan.holdAfterCopy + "\" " + plan.holder + " 60 read bg\r\n";
        }
        if (plan.failAtTheEnd)
            steps += "Step" + std::to_string(++step) + ".Section=ProductInstall.CopyFileGroupTo.Missing\r\n";
        WriteScript(step, steps,
                    "[ProductInstall.CopyFileGroupTo.Files]\r\nFileGroupCount=1\r\n"
                    "[ProductInstall.CopyFileGroupTo.Missing]\r\nFileGroupCount=1\r\nFileGroupStartCount=2\r\n"
                    "[FileGroup1]\r\nDescription=Files\r\nTarget=" + product.Product() + "\r\nBackup=" +
                    product.Backup() + "\r\nFileCount=" + std::to_string(n) + "\r\n" + entries +
                    plan.groupOptions + "\r\n[FileGroup2]\r\nDescription=Missing\r\nTarget=" + product.Product() +
                    "\r\nBackup=" + product.Backup() + "\r\nFileCount=1\r\nFile1=not-in-the-package.dll\r\n" + hold);
    }
};

CPatchPlan Replacing(const std::string& a, const std::string& b)
{
    CPatchPlan s;
    s.files["a.dll"] = a;
    s.files["lib\\b.dll"] = b;
    s.groupOptions = "OnCopyFail=KVHF_CopyFailRemoveReadonlyAndReboot\r\nOnRollBackFile=KVHF_RollBackExtraAndExistenFile\r\n";
    return s;
}

}  // namespace

// A deployment system pushes the package again: the second run changes
// nothing, and the one removal brings back what was there before the first.
TEST(Undo, InstalledTwiceThenRemoved)
{
    CProduct product("twice");
    CPatchPlan plan = Replacing("MZ patched a", "patched b");
    plan.files["new.dll"] = "a file the patch adds";
    CFilePatch patch(product, "A", plan);
    const kvtest::SnapshotState before = product.Capture();

    ASSERT_EQ(0, kvtest::Signed(patch.Install().exitCode));
    const kvtest::SnapshotState installed = product.Capture();
    EXPECT_EQ("MZ patched a", kvtest::ReadFileOr(product.Product() + "\\a.dll"));
    kvtest::CLogTail log;
    kvtest::ProcessResult again = patch.Install();
    EXPECT_EQ(0, kvtest::Signed(again.exitCode)) << Describe(again);
    EXPECT_NE(std::string::npos, log.Text().find("the patch is already installed")) << log.Text();
    EXPECT_EQ("", kvtest::DiffSnapshots(installed, product.Capture()));

    kvtest::ProcessResult rem = patch.Remove();
    EXPECT_EQ(0, kvtest::Signed(rem.exitCode)) << Describe(rem);
    EXPECT_EQ("", kvtest::DiffSnapshots(before, product.Capture()));
}

// The copy step runs twice in one install (the script names it twice) and
// a later step fails: the rollback puts back the original, not the file the
// first pass wrote.
TEST(Undo, StepRunTwiceThenAFailureRollsBackToTheOriginal)
{
    CProduct product("steptwice");
    CPatchPlan plan = Replacing("MZ patched a", "patched b");
    plan.copySteps = 2;
    plan.failAtTheEnd = true;
    CFilePatch patch(product, "A", plan);
    const kvtest::SnapshotState before = product.Capture();
    kvtest::CLogTail log;
    kvtest::ProcessResult r = patch.Install();
    EXPECT_EQ(-2302, kvtest::Signed(r.exitCode)) << Describe(r);
    EXPECT_EQ("", kvtest::DiffSnapshots(before, product.Capture())) << log.Text();
}

// A rollback touches only what its own run changed: a file the run skipped
// (newer on the machine than in the package) and a backup of that name that
// another patch keeps in the shared folder both stay as they are.
TEST(Undo, RollbackLeavesWhatItsRunDidNotChange)
{
    CProduct product("skipped");
    Put(product.Backup() + "\\a.dll", "another patch's saved a", 2017);
    Put(product.Product() + "\\a.dll", "MZ newer a on the machine", 2030);
    CPatchPlan plan = Replacing("MZ patched a", "patched b");
    plan.groupOptions += "OnCopyNewFile=KVHF_OnlyCopyAfterLastModifiedDate\r\n";
    plan.failAtTheEnd = true;
    CFilePatch patch(product, "A", plan);
    const kvtest::SnapshotState before = product.Capture();
    kvtest::ProcessResult r = patch.Install();
    EXPECT_EQ(-2302, kvtest::Signed(r.exitCode)) << Describe(r);
    EXPECT_EQ("", kvtest::DiffSnapshots(before, product.Capture()));
}

// Patch A and then patch B replace the same files and keep their backups in
// one folder. A cannot be removed while B stands (nothing changes); once B
// is removed, A's removal brings back the originals.
TEST(Undo, TwoPatchesInOneBackupFolderRemovedInEitherOrder)
{
    CProduct product("order");
    const kvtest::SnapshotState before = product.Capture();
    CFilePatch a(product, "A", Replacing("MZ a of A", "b of A"));
    CFilePatch b(product, "B", Replacing("MZ a of B", "b of B"));
    ASSERT_EQ(0, kvtest::Signed(a.Install().exitCode));
    const kvtest::SnapshotState afterA = product.Capture();
    ASSERT_EQ(0, kvtest::Signed(b.Install().exitCode));
    const kvtest::SnapshotState afterB = product.Capture();

    kvtest::CLogTail log;
    kvtest::ProcessResult refused = a.Remove();
    EXPECT_EQ(-2008, kvtest::Signed(refused.exitCode)) << Describe(refused);
    EXPECT_EQ("", kvtest::DiffSnapshots(afterB, product.Capture()));
    EXPECT_TRUE(a.Installed());
    EXPECT_TRUE(b.Installed());
    EXPECT_NE(std::string::npos,
              log.Text().find("*** Runtime error: '" + product.Product() + "\\a.dll' is no longer as this patch left it"))
        << log.Text();

    ASSERT_EQ(0, kvtest::Signed(b.Remove().exitCode));
    EXPECT_EQ("", kvtest::DiffSnapshots(afterA, product.Capture()));
    EXPECT_FALSE(b.Installed());
    ASSERT_EQ(0, kvtest::Signed(a.Remove().exitCode));
    EXPECT_EQ("", kvtest::DiffSnapshots(before, product.Capture()));
    EXPECT_FALSE(a.Installed());
}

// A patched file in use while the patch is removed: the original is put in
// place at the next start, the removal says a restart is due, and after the
// start the machine is as before.
TEST(Undo, RemovalWithAFileInUseRestoresItAtTheNextStart)
{
    CProduct product("inuse");
    const kvtest::SnapshotState before = product.Capture();
    CFilePatch patch(product, "A", Replacing("MZ patched a", "patched b"));
    ASSERT_EQ(0, kvtest::Signed(patch.Install().exitCode));
    {
        kvtest::CLocker lock(product.Product() + "\\a.dll", true);
        ASSERT_TRUE(lock.Locked());
        kvtest::ProcessResult rem = kvtest::RunProcess(
            "\"" + patch.Pkg() + "\\Korvex.exe\" /U:\"" + patch.Record() + "\" /S", "C:\\");
        EXPECT_EQ(3010u, rem.exitCode) << Describe(rem);
    }
    EXPECT_FALSE(patch.Installed());
    EXPECT_EQ("MZ patched a", kvtest::ReadFileOr(product.Product() + "\\a.dll"));
    EXPECT_EQ("original b", kvtest::ReadFileOr(product.Product() + "\\lib\\b.dll"));
    kvtest::ProcessResult boot = kvtest::RunProcess("wineboot.exe -r", std::string(), 120000);
    ASSERT_TRUE(boot.started);
    // The saved original was still needed when the removal took its folder
    // away; the folder itself stays, empty.
    EXPECT_EQ("", kvtest::DiffSnapshots(before, product.Capture(), kvtest::TolerateNewFoldersUnder(product.Backup())));
    EXPECT_FALSE(kvtest::Exists(product.Backup() + "\a.dll"));
    kvtest::ForgetPendingRenamesIn(product.Dir().Path());
}

// A file in use during the install is staged for the next start; a later
// step fails: the rollback takes the staged replacement back, so the next
// start leaves the original in place.
TEST(Undo, RollbackTakesBackAReplacementStagedForTheNextStart)
{
    CProduct product("staged");
    const kvtest::SnapshotState before = product.Capture();
    CPatchPlan plan = Replacing("MZ patched a", "patched b");
    plan.failAtTheEnd = true;
    CFilePatch patch(product, "A", plan);
    {
        kvtest::CLocker lock(product.Product() + "\\a.dll", true);
        ASSERT_TRUE(lock.Locked());
        kvtest::ProcessResult r = patch.Install();
        EXPECT_EQ(-2302, kvtest::Signed(r.exitCode)) << Describe(r);
    }
    std::string pending = kvtest::PendingRenames();
    EXPECT_EQ(std::string::npos, pending.find(product.Dir().Path())) << pending;
    kvtest::ProcessResult boot = kvtest::RunProcess("wineboot.exe -r", std::string(), 120000);
    ASSERT_TRUE(boot.started);
    EXPECT_EQ("", kvtest::DiffSnapshots(before, product.Capture()));
    kvtest::ForgetPendingRenamesIn(product.Dir().Path());
}

// A record cut in half (a damaged copy, a disk error) cannot say what to
// undo: the removal changes nothing and keeps the record and the entry.
TEST(Undo, RemovalFromADamagedRecordChangesNothing)
{
    CProduct product("damaged");
    CFilePatch patch(product, "A", Replacing("MZ patched a", "patched b"));
    ASSERT_EQ(0, kvtest::Signed(patch.Install().exitCode));
    std::string record;
    ASSERT_TRUE(kvtest::ReadFileBytes(patch.Record(), record));
    const size_t cut = record.find("[REC_2]");
    ASSERT_NE(std::string::npos, cut);
    ASSERT_TRUE(kvtest::WriteFileBytes(patch.Record(), record.substr(0, cut)));
    const kvtest::SnapshotState installed = product.Capture();
    kvtest::ProcessResult rem = patch.Remove();
    EXPECT_EQ(-2011, kvtest::Signed(rem.exitCode)) << Describe(rem);
    EXPECT_EQ("", kvtest::DiffSnapshots(installed, product.Capture()));
    EXPECT_TRUE(patch.Installed());
}

// A file the install replaced is in use when a later step fails: the
// rollback puts its original in place at the next start instead of failing,
// and after that start the machine is as before.
TEST(Undo, RollbackOfAFileInUseRestoresItAtTheNextStart)
{
    CProduct product("rbinuse");
    const kvtest::SnapshotState before = product.Capture();
    CPatchPlan plan = Replacing("MZ patched a", "patched b");
    plan.holdAfterCopy = "a.dll";
    plan.holder = "kvhold-" + std::to_string(::GetCurrentProcessId());
    plan.failAtTheEnd = true;
    CFilePatch patch(product, "A", plan);
    kvtest::CLogTail log;
    kvtest::ProcessResult r = patch.Install();
    EXPECT_EQ(-2302, kvtest::Signed(r.exitCode)) << Describe(r);
    // The holder goes, as the program holding the file would at the restart.
    HANDLE stop = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, (plan.holder + ".stop").c_str());
    ASSERT_NE(stop, nullptr) << log.Text();
    ::SetEvent(stop);
    ::CloseHandle(stop);
    ::Sleep(500);
    EXPECT_NE(std::string::npos, log.Text().find("during next booting")) << log.Text();
    EXPECT_EQ("MZ patched a", kvtest::ReadFileOr(product.Product() + "\\a.dll"));
    kvtest::ProcessResult boot = kvtest::RunProcess("wineboot.exe -r", std::string(), 120000);
    ASSERT_TRUE(boot.started);
    EXPECT_EQ("", kvtest::DiffSnapshots(before, product.Capture(), kvtest::TolerateNewFoldersUnder(product.Backup())));
    EXPECT_FALSE(kvtest::Exists(product.Backup() + "\\a.dll"));
    kvtest::ForgetPendingRenamesIn(product.Dir().Path());
}
