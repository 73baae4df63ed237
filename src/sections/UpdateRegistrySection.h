#pragma once
#include "interpreter/Section.h"

// Writes one registry value per item, creating its key when needed, and puts
// back what was there on rollback.
class CHFS_UpdateRegistrySection : public CHFS_Section {
public:
    explicit CHFS_UpdateRegistrySection(CHFS_Interpreter* pInterpreter) : CHFS_Section(pInterpreter) {}
    int Run(const std::string& sectionName, CHFS_ItemList& list) override;
    int Rollback(const std::string& sectionName, CHFS_ItemList& list) override;
    int GetExitCode() override;
};
