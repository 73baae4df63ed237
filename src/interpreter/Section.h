#pragma once
// The handler contract of every section type.
#include <string>
#include <vector>

#include "interpreter/ItemList.h"

class CHFS_Interpreter;

// Counts and numbers that the script gives are bounded, so that no loop runs
// for ever and no counter overflows: a procedure has at most this many steps
// (the item list's limit), a section at most as many items (each may record one).
enum { KV_MAX_STEPS = 4096, KV_MAX_COUNT = 4096 };

enum {
    KVHF_CONTINUE = -100,
    KVHF_RETRY = -200,
    KVHF_USERBREAK = -300,
    KVHF_UNINSTALL = -400
};

// What undoing one recorded change would meet: the thing it changed (a
// file, a registry value or key, an INI key) as the patch left it, as it was
// before the change (put back already, by an earlier attempt), or changed
// since by someone else (a later patch, a person).
struct CHFS_UndoTarget {
    enum { AS_LEFT = 0, RESTORED = 1, CHANGED = -1 };
    // The thing, the same text whichever section recorded the change
    // (util/UndoId.h); compared as it stands.
    std::string strId;
    std::string strShown;  // path or description for the log
    int nState = AS_LEFT;
    std::string strWhy;    // CHANGED: what differs, for the log
};

class CHFS_Section {
public:
    explicit CHFS_Section(CHFS_Interpreter* pInterpreter);
    // Slot order Run, Rollback, GetExitCode is part of the design.
    virtual int Run(const std::string& sectionName, CHFS_ItemList& list);
    virtual int Rollback(const std::string& sectionName, CHFS_ItemList& list);
    virtual int GetExitCode();
    // Before a removal changes anything (and with an item of this section's
    // step, read from a record): what undoing the item would meet, one entry
    // per thing the item changed. The base knows of nothing to check.
    virtual void CheckUndo(const std::string& sectionName, const CHFS_RecordItem& item,
                           std::vector<CHFS_UndoTarget>& targets);
    // At the end of a successful install, before its record is written:
    // brings what the item says the patch left up to date (a later step of
    // the same install may have changed the thing again). The base keeps
    // the item as it is.
    virtual void SealItem(const std::string& sectionName, CHFS_RecordItem& item);
    // The main section owns its handlers through this base.
    virtual ~CHFS_Section() {}

    void SetSectionName(const std::string& name) { m_strSectionName = name; }
    const std::string& GetSectionName() const { return m_strSectionName; }
    // ReadItem of a key of the own section from the script file.
    std::string ReadKey(const std::string& key, bool warn);
    // A count or number of the own section as a decimal value (0 when it is
    // missing or no number), kept within -KV_MAX_COUNT..KV_MAX_COUNT; a value
    // beyond that is logged as a syntax error and cut to the bound.
    int ReadCount(const std::string& key, bool warn) { return BoundedCount(key, ReadKey(key, warn)); }
    int BoundedCount(const std::string& key, const std::string& text);
    int EventHandler(const std::string& prefix, int oldResult);
    int ParseAction(const std::string& value);

    // KVHF_RETRY answers in a row after which a retry loop is taken for a
    // loop that never ends: a failing item that records nothing would
    // otherwise be run again for ever. Above the item list's limit, so that
    // a loop whose turns record items still ends at the full list.
    enum { MAX_RETRIES_IN_A_ROW = 5000 };

protected:
    CHFS_Interpreter* m_pInterpreter;
    std::string m_strSectionName;
    int m_nExitCode;

private:
    int AnswerFor(const std::string& prefix, int oldResult);
    int m_nRetriesInARow = 0;
};
