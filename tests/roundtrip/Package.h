#pragma once
// Sample patch packages for the end-to-end tests: a product laid out on the
// machine, a package folder with Korvex.exe, setup.ini and file groups, and
// the helpers that run it and read back what it left.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "Snapshot.h"
#include "TestSupport.h"

namespace kvsvc {
class CTestService;
}

namespace rt {

struct Options {
    bool withRecord = true;       // InstallRecordFile in the install procedure
    bool withNewFiles = true;     // groups that add files and folders to the product
    bool backupFiles = true;      // a BackupFiles step before the copy
    bool replaceText = true;      // a ReplaceSymbolsInFile step after the copy
    bool updateSymbols = true;    // an UpdateSymbols step first
    // Extra step after the copy that fails (missing source) and the action
    // its error handler answers with; empty: no such step.
    std::string failingStepAction;
    // setup.ini read-only, as packages copied from read-only media are.
    bool readOnlyScript = false;
    // A running service of the product, stopped before the copy (which
    // replaces its program) and started again after it.
    bool withService = false;
    // Steps before the copy that set and remove registry values (in the
    // program's view and with "x64") and set keys of an INI file.
    bool withSettings = true;
    // A CheckRequirement step first, a Run step before the copy whose
    // rollback commands (one of them on an item of its own) undo what it
    // did, and a Run step after the copy. That step fails while the package
    // folder holds FailFlag() (through a DIR of a file that is not there:
    // EXIT is a rejected command, after IF too); the check fails while a
    // program named kBlockerName runs.
    bool withCommands = false;
    // Three more product files of this many MB each, replaced by group 1:
    // copies long enough for a run to be ended in the middle of one.
    int bigFilesMB = 0;
};

const char kBlockerName[] = "kvrt_block.exe";

// One test's world below a fresh temporary folder.
class CWorld {
public:
    explicit CWorld(const std::string& tag, const Options& opt = Options());
    ~CWorld();

    std::string Root() const { return m_dir.Path(); }
    std::string Pkg() const { return m_dir / "pkg"; }
    std::string Product() const { return m_dir / "product"; }
    std::string Backup() const { return m_dir / "backup"; }
    std::string Saved() const { return m_dir / "saved"; }
    std::string RecordFile() const { return m_dir / "records\\record.ini"; }
    std::string FailFlag() const { return m_dir / "pkg\\fail.flag"; }
    std::string DBFile() const { return m_dir / "db\\KorvexDB.ini"; }
    // The product's settings (withSettings): a registry key, below it
    // "Program" (the program's view) and "Native" (the 64-bit view), and an
    // INI file.
    const std::string& RegBase() const { return m_regBase; }
    std::string SettingsIni() const { return m_dir / "settings\\app.ini"; }
    const std::string& PatchID() const { return m_patchID; }
    std::string UninstallKey() const;

    // Lays the product out afresh and empties the backup folders, so that
    // one run's leftovers cannot spoil the next run's comparison.
    void ResetProduct();

    // Files of the product that the copy step overwrites, in no particular order.
    const std::vector<std::string>& ReplacedFiles() const { return m_replaced; }
    // The product's service (withService); empty name otherwise.
    const std::string& ServiceName() const { return m_serviceName; }
    std::string ServiceProgram() const { return Product() + "\\svc\\kvrtsvc.exe"; }

    // Snapshot of everything the package may touch.
    kvtest::SnapshotState Capture() const;
    // The traces the design leaves on purpose after a removal or a rollback.
    kvtest::SnapshotTolerance Traces() const;

    // Runs the package's Korvex.exe with arguments, in the package folder.
    kvtest::ProcessResult Install(const std::string& args = "/S /G") const;
    // Runs a full command line as the installed-software list would, from C:\.
    kvtest::ProcessResult RunCommand(const std::string& commandLine) const;
    // The uninstall entry's command; empty when missing.
    std::string UninstallString() const;

private:
    void LayOutProduct();
    int m_nBigFilesMB = 0;
    void LayOutSettings();
    void RemoveSettings();
    void WritePackage(const Options& opt);

    kvtest::TempDir m_dir;
    kvtest::CPatchDBRedirect* m_db = nullptr;
    std::string m_patchID;
    std::string m_regBase;
    std::vector<std::string> m_replaced;
    kvtest::CSnapshot m_snap;
    std::string m_serviceName;
    std::unique_ptr<kvsvc::CTestService> m_service;
};

using kvtest::CLogTail;

// One of several small patches side by side in a test's folder: its own
// package folder with Korvex.exe, its own PatchID, record and uninstall
// entry, and a removal that replays the record.
class CSmallPatch {
public:
    CSmallPatch(const kvtest::TempDir& dir, const std::string& tag, const std::string& name);
    ~CSmallPatch();
    CSmallPatch(const CSmallPatch&) = delete;
    CSmallPatch& operator=(const CSmallPatch&) = delete;

    // setup.ini: the patch information, the record, the install steps
    // ("Step1.Section=...\r\n" lines, stepCount of them) and the sections
    // they name.
    void WriteScript(int stepCount, const std::string& steps, const std::string& sections) const;
    kvtest::ProcessResult Install() const;
    kvtest::ProcessResult Remove() const;
    // The record and the uninstall entry are both there.
    bool Installed() const;
    const std::string& Pkg() const { return m_pkg; }
    const std::string& Record() const { return m_record; }
    std::string UninstallKey() const;

private:
    std::string m_pkg, m_record, m_patchID, m_name;
};

FILETIME MakeTime(int year, int month, int day, int hour, int minute, int second);
bool SetTimes(const std::string& path, const FILETIME& created, const FILETIME& written);

}  // namespace rt
