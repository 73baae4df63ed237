#pragma once
#include "interpreter/Section.h"

// A name or value that an INI file cannot carry and read back as written (a
// line break, '=' in a key, ']' in a section, a NUL): the item fails before
// the file is touched.
enum { KV_EXIT_INI_UNWRITABLE = -3003 };

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

private:
    // Puts one item's key back and removes the section and file its write
    // created once they are empty; 0, or -1 (logged) when that cannot be done.
    int UndoItem(const std::string& desc, const std::string& file, const std::string& section,
                 const std::string& key, std::string previous, const std::string& flags);
};
