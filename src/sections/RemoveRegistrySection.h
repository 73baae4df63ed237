#pragma once
#include "interpreter/Section.h"

// Deletes one registry value per item, or a whole key when the item names no
// value, and writes back what it deleted on rollback.
class CHFS_RemoveRegistrySection : public CHFS_Section {
public:
    explicit CHFS_RemoveRegistrySection(CHFS_Interpreter* pInterpreter) : CHFS_Section(pInterpreter) {}
    int Run(const std::string& sectionName, CHFS_ItemList& list) override;
    int Rollback(const std::string& sectionName, CHFS_ItemList& list) override;
    int GetExitCode() override;
    void CheckUndo(const std::string& sectionName, const CHFS_RecordItem& item,
                   std::vector<CHFS_UndoTarget>& targets) override;
    void SealItem(const std::string& sectionName, CHFS_RecordItem& item) override;
};
