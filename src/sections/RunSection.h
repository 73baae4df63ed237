#pragma once
// Runs the command lines a script names: package tools, batch files, a fixed
// set of command-interpreter commands and the internal "<SLEEP>"; each item
// may carry a second command that undoes it during rollback. Every command
// of a line passes the command policy (util/CommandPolicy.h) before
// anything of it runs.
#include "interpreter/Section.h"

struct CHFS_ProcessStart;

class CHFS_RunSection : public CHFS_Section {
public:
    explicit CHFS_RunSection(CHFS_Interpreter* pInterpreter) : CHFS_Section(pInterpreter) {}
    int Run(const std::string& sectionName, CHFS_ItemList& list) override;
    int Rollback(const std::string& sectionName, CHFS_ItemList& list) override;
    int GetExitCode() override;

    // -100 success (internal command, own process, batch file), 0 success
    // of the command interpreter, -300 failure. scriptText: the line as the
    // script wrote it, before expansion (null: command itself).
    // timeoutSeconds: the time the command may take (0: as long as it runs).
    int ExecuteCommand(const std::string& type, const std::string& folder, const std::string& command,
                       const std::string* scriptText = nullptr, int timeoutSeconds = 0);
    // Always -100.
    int RunSleepCommand(const std::string& command);
    // Starts the command as a process of its own and waits for it to end;
    // -100, or -300 when it could not run, exited with -500 or was ended at
    // its time limit. program: the file to start (empty: the system finds
    // the command's first word).
    int CreateBlockProcess(const std::string& command, const std::string& folder, bool hidden,
                           int timeoutSeconds = 0, const std::string& program = std::string());

private:
    // Working folder of item n: Run%d.Path or the installer's own folder.
    std::string ItemFolder(int n);
    // The value of a key of the section as the script holds it, unexpanded.
    std::string ScriptText(const std::string& key);
    // Run%d.Timeout in seconds (0 when missing); false, logged, when it is
    // no number of seconds.
    bool ItemTimeout(int n, int& seconds);
    // Runs item n's command (or its rollback command); folder receives the
    // working folder.
    int RunItem(int n, bool rollback, const std::string& command, std::string& folder);
    bool PassesPolicy(const std::string& command, const std::string* scriptText, const std::string& folder,
                      bool interpreter, std::string& program);
    // system(), or with a time limit the same through a process of our own;
    // false when it could not run or was ended at the limit (logged).
    bool RunInterpreter(const std::string& command, const std::string& folder, int timeoutSeconds, int& code);
    bool StartAndWait(const CHFS_ProcessStart& start, unsigned long& code);
};
