#pragma once
// Preconditions checked before a patch touches the machine: a version number
// in a range, a text in a list, free disk space, a program not running.
#include "interpreter/Section.h"

class CHFS_CheckVersionSection : public CHFS_Section {
public:
    explicit CHFS_CheckVersionSection(CHFS_Interpreter* pInterpreter) : CHFS_Section(pInterpreter) {}
    int Run(const std::string& sectionName, CHFS_ItemList& list) override;
    int Rollback(const std::string& sectionName, CHFS_ItemList& list) override;
    int GetExitCode() override;

    // Free MiB of the path's volume against the required MiB: -1 lower, 0
    // equal, 1 higher; -2 when the free space can't be read.
    int CheckDiskSpaceMB(const std::string& path, int requiredMB);
    // True unless a process of that executable name runs.
    bool CheckIfProcessStoppedOrAbsent(const std::string& name);

    // Orders two values of the number format (main part before the second
    // dot, sub-part after it): negative, 0 or positive.
    static int CompareNumbers(const std::string& a, const std::string& b);

private:
    // 0 when check i passed; otherwise its exit code. -2205: no value key.
    int RunCheck(int i, std::string& value);
};
