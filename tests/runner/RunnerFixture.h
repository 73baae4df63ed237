#pragma once
// A patch package of the test's own: Korvex.exe beside a setup.ini, run as a
// real process with its log, patch database and registry traces.
#include <gtest/gtest.h>
#include <string>

#include "Snapshot.h"
#include "TestSupport.h"

namespace kvrun {

using kvtest::kKorvexKey;
const char kUninstallRoot[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char kRemoteKey[] = "SOFTWARE\\Norlane\\RemoteInstall";

// HKLM in the view the installer of this build uses for its own keys.
bool ReadRegString(const std::string& key, const char* name, std::string& value);
void WriteRegString(const std::string& key, const char* name, const std::string* value);  // null deletes
bool RegKeyExists(const std::string& key);

// Puts a registry value back as the test found it.
class CRegValueGuard : public kvtest::CRegValueGuard {
public:
    CRegValueGuard(const std::string& key, const char* name)
        : kvtest::CRegValueGuard(HKEY_LOCAL_MACHINE, key, name, kvtest::kProgramView)
    {
    }
};

class RunnerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // [PatchInformation] for this test's patch, version 2.0.
    std::string PatchInfo(const std::string& version = "2.0", const std::string& timeout = "600") const;
    void Script(const std::string& text);
    kvtest::ProcessResult Run(const std::string& args);
    std::string LogText() const;  // the log of the last run
    bool Logged(const std::string& s) const { return LogText().find(s) != std::string::npos; }
    std::string DB(const std::string& key) const;  // "(none)" when missing
    bool DBExists() const { return kvtest::Exists(db); }

    kvtest::TempDir pkg{"runner"};
    std::string exe;
    std::string db;
    std::string patchId;
    CRegValueGuard dbPath{kKorvexKey, "KorvexDBPath"};
};

}  // namespace kvrun
