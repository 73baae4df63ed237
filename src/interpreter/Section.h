#pragma once
// The handler contract of every section type.
#include <string>

#include "interpreter/ItemList.h"

class CHFS_Interpreter;

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
