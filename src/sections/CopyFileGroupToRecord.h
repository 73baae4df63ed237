#pragma once
// How a copy group's record items say what the group changed, so that its
// rollback, the undo of an interrupted install and a later removal each put
// back exactly what the group itself changed and nothing else.
//
// A group records one item before it starts (item index = group number,
// Param1 "@") and then, as it goes, items that each carry a batch of what it
// changed:
//   Param1  "@" Target "|" Backup   (both as expanded when the group ran)
//   Param2  "|" entry "|" entry ... "|"
// An entry is one thing, its fields separated by ">":
//   F target > backup > before > after > time > staged > flags
//           a file the copy replaced or created: its saved original (empty:
//           none, the copy created the file), the fingerprints of the
//           original and of what the copy left (util/FileFingerprint.h), the
//           last-write time the copy gave it (16 hex digits), the name of a
//           file staged to replace it at the next start, and flags: "n"
//           the file is the copy's own and goes again on rollback, "p" the
//           backup (a temporary name) was being written and the file itself
//           not yet touched (a journal's note only);
//   D folder  a folder below Target the copy created (goes when empty);
//   E folder  a folder below Backup the copy created (goes when empty).
// Paths below Target or Backup are stored relative to them; others whole,
// behind "*". "|", ">" and "*" cannot occur in a path. Items of records
// written before these items existed (Param1 empty, a Target, or "*" and a
// Target) are read by the rollback as such records always were.
#include <windows.h>

#include <string>
#include <vector>

#include "interpreter/ItemList.h"
#include "util/FileFingerprint.h"

struct CCopyUndoEntry {
    enum { FILE_ENTRY = 'F', TARGET_FOLDER = 'D', BACKUP_FOLDER = 'E' };
    char cKind = FILE_ENTRY;
    std::string strTarget;  // full path: the file, or the folder (D, E)
    std::string strBackup;  // the saved original; empty: the copy created the file
    CKvFingerprint before;  // the original (files with a backup)
    CKvFingerprint after;   // what the copy left; not present: not known
    FILETIME afterTime = {};
    std::string strStaged;  // full path of the file staged for the next start
    bool bDeleteNew = false;
    bool bPending = false;  // the backup was being made; the file is untouched
};

struct CCopyUndoBatch {
    std::string strTarget;
    std::string strBackup;
    std::vector<CCopyUndoEntry> entries;
};

// The folder base joined with rel (a folder part, ending in a separator, or
// empty), then each folder above it up to base itself, deepest first, in the
// form both the copy and its rollback build them.
std::vector<std::string> CopyFolderChain(const std::string& base, const std::string& rel);

// Whether an item is of this kind (Param1 begins with "@").
bool IsCopyUndoItem(const std::string& param1);
// The item that opens a group: nothing changed yet.
bool IsCopyGroupStart(const std::string& param1);
std::string CopyGroupStartParam();
// Param1 and Param2 of a batch.
std::string EncodeCopyUndoParam1(const CCopyUndoBatch& batch);
std::string EncodeCopyUndoEntries(const CCopyUndoBatch& batch);
// One entry as Param2 holds it, without the bars around it.
std::string EncodeCopyUndoEntry(const CCopyUndoBatch& batch, const CCopyUndoEntry& entry);
// false for an item that is not of this kind or whose text is damaged.
bool DecodeCopyUndoItem(const std::string& param1, const std::string& param2, CCopyUndoBatch& batch);

// Created targets of records written before the batches: Param1 the Target
// (or "*" and the Target on continuation items), Param2 the files and
// Param3 the folders the group created, as "|" lists relative to Target.
struct CCopyCreatedTargets {
    std::vector<std::string> files;
    std::vector<std::string> folders;
};
bool IsCreatedTargetsContinuation(const std::string& param1);
// Adds what one such item says; false for an item that carries nothing of
// the kind.
bool DecodeCreatedTargets(const std::string& p1, const std::string& p2, const std::string& p3,
                          CCopyCreatedTargets& created);
