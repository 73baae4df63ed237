#pragma once
// The journal of an install that will leave a record: every item as it is
// recorded (and every item taken back), appended beside the install record,
// and a copy of the script with the run's symbols, so that an install ended
// from outside (killed, a power cut) is undone by the next run with the
// script and the symbols it ran with, not with a package released since.
#include <string>

#include "interpreter/ItemList.h"
#include "util/WinHandles.h"

class CHFS_Interpreter;

class CHFS_InstallJournal : public CHFS_ItemJournal {
public:
    CHFS_InstallJournal(CHFS_Interpreter* pInterpreter, const std::string& recordFile);
    ~CHFS_InstallJournal();

    // Where a record's journal and its script copy lie.
    static std::string JournalPath(const std::string& recordFile) { return recordFile + ".journal"; }
    static std::string ScriptPath(const std::string& recordFile) { return recordFile + ".journal-script"; }

    // Starts an empty journal with a copy of the script; false (logged) when
    // it cannot be written.
    bool Start();
    // Closes and deletes the journal and its script copy.
    void Discard();

    void Added(const CHFS_RecordItem& item) override;
    void Removed() override;
    void Noted(const CHFS_RecordItem& item) override;
    void StepStarted(int step) override;

private:
    void Append(const std::string& text);
    // The script copy with the symbols as they are now, written whole and
    // then given its name; false when it could not be.
    bool WriteScriptCopy();

    CHFS_Interpreter* m_pInterpreter;
    std::string m_strRecord;
    CHandle m_file;
    size_t m_nEntries = 0;
    std::string m_strSavedSymbols;
};

// Removes what a record's journal left (the journal, its script copy).
void KvDiscardJournal(const std::string& recordFile);
