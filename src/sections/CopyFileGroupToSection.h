#pragma once
#include <windows.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "interpreter/Section.h"
#include "interpreter/UICallback.h"

// Exit codes of a group refused before anything changes: its Target or
// Backup is missing or empty; one of its entries leads out of the group
// folder, Target or Backup ("..").
enum { KV_EXIT_GROUP_FOLDER_MISSING = -2303, KV_EXIT_GROUP_ENTRY_OUTSIDE = -2304 };

class CHFS_CopyFileGroupToSection : public CHFS_Section {
public:
    explicit CHFS_CopyFileGroupToSection(CHFS_Interpreter* pInterpreter) : CHFS_Section(pInterpreter) {}
    int Run(const std::string& sectionName, CHFS_ItemList& list) override;
    int Rollback(const std::string& sectionName, CHFS_ItemList& list) override;
    int GetExitCode() override;

    // What a group's record items say it created (files and folders, full
    // paths as the copy built them). Exposed for the tests of the format.
    struct CCreatedTargets {
        std::vector<std::string> files;
        std::vector<std::string> folders;
    };
    // Record items that carry the targets a group created: the group's own
    // item (item index = group number) and, when the lists do not fit one
    // item, continuation items of the same group after it.
    static std::vector<CHFS_RecordItem> EncodeCreatedTargets(int group, const std::string& target,
                                                             const CCreatedTargets& created);
    // Adds what one item says to created; false for an item that carries
    // nothing of the kind (an item of an older record: three empty params).
    static bool DecodeCreatedTargets(const std::string& p1, const std::string& p2, const std::string& p3,
                                     CCreatedTargets& created);
    static bool IsContinuationItem(const std::string& p1);

    // Creates a missing folder with its progress and log lines; failResult
    // when it cannot be made. Shared with the BackupFiles section.
    static int PrepareFolder(CHFS_Interpreter* pInterpreter, const std::string& folder, int failResult);

private:
    int CopyGroup(const std::string& group);
    int RollbackGroup(const std::string& group, std::string& backup, const CCreatedTargets& recorded);
    int PrepareFolder(const std::string& folder, int failResult) { return PrepareFolder(m_pInterpreter, folder, failResult); }
    // PrepareFolder once per folder and run: a folder made or found stays.
    void EnsureFolder(const std::string& folder);
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
    void RecordNewTarget(const std::string& path, bool isFolder);
    // Replaces the group's item (the last one of the list) by items that
    // carry what the group created.
    void StoreCreatedTargets(CHFS_ItemList& list, int group, const std::string& target);

    int m_nFailedGroup = 0;
    int m_nSkippedByTime = 0;
    int m_nEntriesProcessed = 0;
    int m_nGroupCount = 0;
    int m_nGroupsProcessed = 0;
    // Targets (folders and files) that did not exist before the copy.
    std::set<std::string> m_newTargets;
    // The list and group of the running copy: what it creates is noted in
    // the journal at once, so that a run ended mid-group is undone with it.
    CHFS_ItemList* m_pRunList = nullptr;
    int m_nRunGroup = 0;
    // The same, per group and in creation order, for the record items.
    CCreatedTargets m_groupCreated;
    std::string m_strGroupTarget;
    std::string m_strCustomError;
    // Folders made or found by this run.
    std::set<std::string> m_knownFolders;
    // Folders made by this run, with the names of the files it put there.
    std::map<std::string, std::set<std::string>> m_madeFolders;
    // The copies' block buffer, kept for the whole run.
    std::vector<BYTE> m_buffer;
    // Never set: a rollback deletes only files it knows it created (see the
    // group rollback).
    bool m_bNoNewTargetRecorded = false;
};
