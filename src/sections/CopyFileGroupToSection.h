#pragma once
// The section that replaces product files with the package's, group by
// group, saving each file it replaces, and undoes exactly what it changed.
//   CopyFileGroupToSection.cpp  the copy path
//   CopyFileGroupToRollback.cpp its rollback, the checks before a removal
//                               and the seal of its record items
//   CopyFileGroupToRecord.cpp   how its record items are written and read
#include <windows.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "interpreter/Section.h"
#include "interpreter/UICallback.h"
#include "sections/CopyFileGroupToRecord.h"

// Exit codes of a group refused before anything changes: its Target or
// Backup is missing or empty; one of its entries leads out of the group
// folder, Target or Backup ("..").
enum { KV_EXIT_GROUP_FOLDER_MISSING = -2303, KV_EXIT_GROUP_ENTRY_OUTSIDE = -2304 };

struct CKvCopySource;

class CHFS_CopyFileGroupToSection : public CHFS_Section {
public:
    explicit CHFS_CopyFileGroupToSection(CHFS_Interpreter* pInterpreter) : CHFS_Section(pInterpreter) {}
    int Run(const std::string& sectionName, CHFS_ItemList& list) override;
    int Rollback(const std::string& sectionName, CHFS_ItemList& list) override;
    int GetExitCode() override;
    void CheckUndo(const std::string& sectionName, const CHFS_RecordItem& item,
                   std::vector<CHFS_UndoTarget>& targets) override;
    void SealItem(const std::string& sectionName, CHFS_RecordItem& item) override;

    // Creates a missing folder with its progress and log lines; failResult
    // when it cannot be made. Shared with the BackupFiles section.
    static int PrepareFolder(CHFS_Interpreter* pInterpreter, const std::string& folder, int failResult);

private:
    // ---- the copy path
    int CopyGroup(const std::string& group);
    // Saves the installed file (opened as installed) beside the others in
    // backupFolder, under a name nobody else's backup holds; fills in the
    // entry's backup and the fingerprint of the original. A copy code.
    int SaveOriginal(CKvCopySource& installed, const std::string& backupFolder, const std::string& name,
                     CCopyUndoEntry& entry);
    int PrepareFolder(const std::string& folder, int failResult) { return PrepareFolder(m_pInterpreter, folder, failResult); }
    // PrepareFolder once per folder and run: a folder made or found stays.
    // The folders it makes below base are noted as entries of kind kind.
    void EnsureFolder(const std::string& folder, const std::string& base, char kind);
    // The file is known not to be there: its folder was made by this run,
    // which has not put a file of that name into it.
    bool KnownAbsent(const std::string& folder, const std::string& name) const;
    // Notes what a copy into folder left there.
    void NoteCopied(const std::string& folder, const std::string& name, bool plain);
    // False, with the syntax-error line, when Target or Backup is missing or empty.
    bool GroupFoldersGiven(const std::string& target, const std::string& backup);
    // False, with the syntax-error line, for an entry whose files would be
    // taken from outside the group folder or go outside Target or Backup.
    bool EntryStaysInside(const std::string& key, const std::string& entry, const std::string& groupFolder,
                          const std::string& target, const std::string& backup);
    void AppendDetail(const CHFS_UIText& text);
    std::string VersionText(const std::string& path);
    // The group's undo data as it goes: an entry joins the running batch and
    // the journal before the thing it names is changed; a full batch becomes
    // a record item. False when the item list is full (nothing was changed
    // for the entry then).
    bool MakeRoomFor(const CCopyUndoEntry& entry);
    void AddEntry(const CCopyUndoEntry& entry);
    bool FlushBatch();

    // ---- the rollback
    // Undoes one batch, newest entry first; 0 or -1 (logged).
    int UndoBatch(const CCopyUndoBatch& batch);
    int UndoFile(const CCopyUndoEntry& entry);
    void RemoveFolderIfEmpty(const std::string& folder);
    // Items of records written before the batches existed.
    int RollbackGroup(const std::string& group, std::string& backup, const CCopyCreatedTargets& recorded);
    // Header and footer lines of a group's rollback.
    void BeginGroupRollback(int group);

    int m_nFailedGroup = 0;
    int m_nSkippedByTime = 0;
    int m_nEntriesProcessed = 0;
    int m_nGroupCount = 0;
    int m_nGroupsProcessed = 0;
    std::string m_strCustomError;
    // The list and group of the running copy, and the batch it fills.
    CHFS_ItemList* m_pRunList = nullptr;
    int m_nRunGroup = 0;
    CCopyUndoBatch m_batch;
    size_t m_nBatchChars = 0;
    bool m_bListFull = false;
    // Folders made or found by this run.
    std::set<std::string> m_knownFolders;
    // Folders made by this run, with the names of the files it put there.
    std::map<std::string, std::set<std::string>> m_madeFolders;
    // Backups this object made: known to be complete, so their rollback in
    // the same run needs no second look at their content.
    std::set<std::string> m_madeBackups;
    // The copies' block buffer, kept for the whole run.
    std::vector<BYTE> m_buffer;
    // The group being rolled back (0: none yet).
    int m_nRollbackGroup = 0;
};
