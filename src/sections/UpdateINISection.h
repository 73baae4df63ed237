#pragma once
#include "interpreter/Section.h"

// Sets one key of an INI file per item and puts every key back as it was on
// rollback.
class CHFS_UpdateINISection : public CHFS_Section {
public:
    explicit CHFS_UpdateINISection(CHFS_Interpreter* pInterpreter) : CHFS_Section(pInterpreter) {}
    int Run(const std::string& sectionName, CHFS_ItemList& list) override;
    int Rollback(const std::string& sectionName, CHFS_ItemList& list) override;
    int GetExitCode() override;
    void CheckUndo(const std::string& sectionName, const CHFS_RecordItem& item,
                   std::vector<CHFS_UndoTarget>& targets) override;
    void SealItem(const std::string& sectionName, CHFS_RecordItem& item) override;
};
