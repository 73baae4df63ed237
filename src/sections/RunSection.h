#pragma once
// Runs the command lines a script names: package tools, batch files, a fixed
// set of command-interpreter commands and the internal "<SLEEP>"; each item
// may carry a second command that undoes it during rollback.
#include "interpreter/Section.h"

class CHFS_RunSection : public CHFS_Section {
public:
    explicit CHFS_RunSection(CHFS_Interpreter* pInterpreter) : CHFS_Section(pInterpreter) {}
    int Run(const std::string& sectionName, CHFS_ItemList& list) override;
    int Rollback(const std::string& sectionName, CHFS_ItemList& list) override;
    int GetExitCode() override;

    // -100 success (internal command, own process, batch file), 0 success
    // of the command interpreter, -300 failure.
    int ExecuteCommand(const std::string& type, const std::string& folder, const std::string& command);
    // Always -100.
    int RunSleepCommand(const std::string& command);
    // Starts the command as a process of its own and waits for it to end;
    // -100, or -300 when it could not run or exited with -500.
    int CreateBlockProcess(const std::string& command, const std::string& folder, bool hidden);

private:
    // Working folder of item n: Run%d.Path or the installer's own folder.
    std::string ItemFolder(int n);
};
