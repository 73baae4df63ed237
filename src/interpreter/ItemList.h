#pragma once
// The ordered list of undo items that handlers record while they run and
// consume, newest first, while they roll back.
#include <string>
#include <vector>

class CHFS_Interpreter;
struct CHFS_RecordItem;

// Told of every item as it is added and taken back, so that an installation
// ended from outside (killed, a power cut) leaves a trace of what it changed.
class CHFS_ItemJournal {
public:
    virtual void Added(const CHFS_RecordItem& item) = 0;
    virtual void Removed() = 0;
    // An item that is in the journal only: it stands until the next item is
    // added or removed, so a run that ends before then is undone with it.
    virtual void Noted(const CHFS_RecordItem& item) = 0;
    // A step of the procedure is about to run.
    virtual void StepStarted(int) {}

protected:
    ~CHFS_ItemJournal() {}
};

struct CHFS_RecordItem {
    int nStep = 0;        // SectionIndex in the record file
    int nItemIndex = 0;   // ItemIndex
    std::string strParam1;
    std::string strParam2;
    std::string strParam3;
};

class CHFS_ItemList {
public:
    enum { MAX_ITEMS = 4096 };

    int SetStep(int step);
    int AddItem(int itemIndex, const std::string& p1, const std::string& p2, const std::string& p3);
    int GetLastStep(int& step);
    int PopItem(int& itemIndex, std::string& p1, std::string& p2, std::string& p3);
    int PopItem(int& itemIndex, std::string& p1, std::string& p2);
    int PopItem(int& itemIndex, std::string& p1);
    int PopItem(int& itemIndex);

    // Install record (interpreter/InstallRecord.cpp), read and written through
    // the interpreter's INI engine; -1 without an interpreter.
    int SaveRecord(CHFS_Interpreter* pInterpreter, const std::string& file);
    // journal: the file is a journal of an installation that did not end:
    // REC_ sections without a REC_0 count, each an item added or, with the key
    // Pop, the last one taken back; replayed in order.
    int LoadRecord(CHFS_Interpreter* pInterpreter, const std::string& file, bool journal = false);
    // The REC_<number> section of an item, as the record stores it.
    static std::string RecordSectionText(const CHFS_RecordItem& item, size_t number);
    // Null: no journal.
    void SetJournal(CHFS_ItemJournal* journal)
    {
        ConfirmPop();
        m_pJournal = journal;
    }
    // Tells the journal, and only the journal, of an item a section will add
    // (in some other form) when its work is done.
    void NoteInJournal(int itemIndex, const std::string& p1, const std::string& p2, const std::string& p3);
    // The end of a handler's rollback of the current step. An item leaves
    // the journal only once its undo is known to have worked: when the next
    // one is taken, or here with undone true. With undone false the last item
    // taken was not undone: it goes back into the list and stays in the
    // journal, for the next attempt.
    void EndUndo(bool undone);

    size_t Size() const { return m_items.size(); }
    int GetStep() const { return m_nStep; }
    const std::vector<CHFS_RecordItem>& Items() const { return m_items; }
    // An item in place, for a handler that brings it up to date before the
    // record is written (0 is the oldest).
    CHFS_RecordItem& At(size_t index) { return m_items[index]; }

private:
    // Tells the journal of the item taken last, whose undo has worked.
    void ConfirmPop();

    std::vector<CHFS_RecordItem> m_items;
    int m_nStep = 0;
    CHFS_ItemJournal* m_pJournal = nullptr;
    bool m_bPopPending = false;
    CHFS_RecordItem m_lastPopped;
};
