#pragma once
#include "interpreter/Section.h"

class CHFS_StartServiceSection : public CHFS_Section {
public:
    explicit CHFS_StartServiceSection(CHFS_Interpreter* pInterpreter) : CHFS_Section(pInterpreter) {}
    int Run(const std::string& sectionName, CHFS_ItemList& list) override;
    int Rollback(const std::string& sectionName, CHFS_ItemList& list) override;
    int GetExitCode() override;
};
