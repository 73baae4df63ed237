#pragma once
#include "interpreter/Section.h"

// Asks the user for values later steps need (a folder, a line of text) and
// keeps each answer in a script symbol; a silent run keeps the defaults.
class CHFS_UserInputSection : public CHFS_Section {
public:
    explicit CHFS_UserInputSection(CHFS_Interpreter* pInterpreter) : CHFS_Section(pInterpreter) {}
    int Run(const std::string& sectionName, CHFS_ItemList& list) override;
    int Rollback(const std::string& sectionName, CHFS_ItemList& list) override;
    int GetExitCode() override;
};
