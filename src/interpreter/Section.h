#pragma once
// The handler contract of every section type.
#include <string>

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

class CHFS_Section {
public:
    explicit CHFS_Section(CHFS_Interpreter* pInterpreter);
    // Slot order Run, Rollback, GetExitCode is part of the design.
    virtual int Run(const std::string& sectionName, CHFS_ItemList& list);
    virtual int Rollback(const std::string& sectionName, CHFS_ItemList& list);
    virtual int GetExitCode();
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
