#pragma once
#include <windows.h>
#include <memory>

#include "interpreter/Section.h"

class CHFS_ReplaceTextSection : public CHFS_Section {
public:
    explicit CHFS_ReplaceTextSection(CHFS_Interpreter* pInterpreter) : CHFS_Section(pInterpreter) {}
    int Run(const std::string& sectionName, CHFS_ItemList& list) override;
    int Rollback(const std::string& sectionName, CHFS_ItemList& list) override;
    int GetExitCode() override;

private:
    // One file: 0, or the system error code of the failure (the exit code
    // then says which part failed).
    DWORD ReplaceInFile(const std::string& source, const std::string& output);
};
