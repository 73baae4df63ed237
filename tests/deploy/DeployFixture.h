#pragma once
// A patch as deployment systems meet it: a package folder with Korvex.exe, a
// product, and a script that copies the product's files, copies the
// installer into the patch's own folder (a blank in its name) and writes the
// removal command there, so that the uninstall entry runs the installer from
// the patch's folder and the package can go once the patch is in.
#include <gtest/gtest.h>

#include <string>

#include "Snapshot.h"
#include "TestSupport.h"

namespace kvdeploy {

const char kUninstallRoot[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

struct ScriptOptions {
    // A last step that fails (a file the package lacks, -2302), with this
    // Error.Action; failAction "" fails without one. No such step when
    // failing is false.
    bool failing = false;
    std::string failAction;
    // The file group that copies Korvex.exe into the patch's folder.
    bool copyInstaller = true;
};

class DeployTest : public ::testing::Test {
protected:
    DeployTest();
    ~DeployTest() override;

    void Script(const ScriptOptions& options = ScriptOptions());
    // Korvex.exe of the package, started in the package folder.
    kvtest::ProcessResult Run(const std::string& args);
    // A command line as the installed-software list runs it, from C:\.
    kvtest::ProcessResult RunCommand(const std::string& commandLine);

    std::string Pkg() const { return m_root / "pkg"; }
    std::string Product() const { return m_root / "product"; }
    std::string Home() const { return m_root / "patch\\KB home"; }
    std::string Record() const { return Home() + "\\patch.rec"; }
    std::string Logs() const { return m_root / "logs"; }
    std::string Key() const { return kUninstallRoot + m_patchId; }
    const std::string& PatchId() const { return m_patchId; }
    // Bytes the script's copy steps write: the product files and Korvex.exe.
    unsigned long long CopiedBytes() const;
    // The product's files, for a before-and-after comparison.
    kvtest::SnapshotState ProductState() const;
    // Puts the product back and forgets the patch (folder, entry, record).
    void Reset();

    bool EntryText(const char* name, std::string& value) const;
    bool EntryNumber(const char* name, DWORD& value) const;

    static const char kBusyFile[];  // product file a test may hold open

protected:
    kvtest::TempDir m_root{"deploy"};
    std::string m_patchId;
    kvtest::CPatchDBRedirect m_db;
    kvtest::CSnapshot m_product;
};

}  // namespace kvdeploy
