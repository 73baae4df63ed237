#pragma once
#include "interpreter/Section.h"

// A file to save that exists but cannot be read (held without sharing).
enum { KV_EXIT_BACKUP_UNREADABLE = -2105 };

class CHFS_BackupFileSection : public CHFS_Section {
public:
    explicit CHFS_BackupFileSection(CHFS_Interpreter* pInterpreter) : CHFS_Section(pInterpreter) {}
    int Run(const std::string& sectionName, CHFS_ItemList& list) override;
    int Rollback(const std::string& sectionName, CHFS_ItemList& list) override;
    int GetExitCode() override;
    void CheckUndo(const std::string& sectionName, const CHFS_RecordItem& item,
                   std::vector<CHFS_UndoTarget>& targets) override;
    void SealItem(const std::string& sectionName, CHFS_RecordItem& item) override;

private:
    // Makes the Backup folder when it is missing, with an item per level it
    // made; false when the item list is full.
    bool PrepareBackupFolder(const std::string& backup, CHFS_ItemList& list);
    // Puts one saved file back; 0, or the failing copy's code or -1 (logged).
    int Restore(const std::string& saved, const std::string& copy, const std::string& param3);
};
