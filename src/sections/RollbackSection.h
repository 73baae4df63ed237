#pragma once
#include "interpreter/Section.h"

// Removal step that replays an earlier installation's record backwards
// through the install handlers.
class CHFS_RollbackSection : public CHFS_Section {
public:
    explicit CHFS_RollbackSection(CHFS_Interpreter* pInterpreter) : CHFS_Section(pInterpreter) {}
    int Run(const std::string& sectionName, CHFS_ItemList& list) override;
    int Rollback(const std::string& sectionName, CHFS_ItemList& list) override;
};
