#pragma once
#include "interpreter/Section.h"

struct CRegItemPlace;

// Writes one registry value per item, creating its key when needed, and puts
// back what was there on rollback.
class CHFS_UpdateRegistrySection : public CHFS_Section {
public:
    explicit CHFS_UpdateRegistrySection(CHFS_Interpreter* pInterpreter) : CHFS_Section(pInterpreter) {}
    int Run(const std::string& sectionName, CHFS_ItemList& list) override;
    int Rollback(const std::string& sectionName, CHFS_ItemList& list) override;
    int GetExitCode() override;
    void CheckUndo(const std::string& sectionName, const CHFS_RecordItem& item,
                   std::vector<CHFS_UndoTarget>& targets) override;
    void SealItem(const std::string& sectionName, CHFS_RecordItem& item) override;

private:
    // Puts one item's value back and removes the keys it created; 0, or -1
    // (logged) when that cannot be done.
    int UndoItem(const CRegItemPlace& place, const std::string& previous, const std::string& flags);
};
