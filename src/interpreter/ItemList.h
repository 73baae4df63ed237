#pragma once
// The ordered list of undo items that handlers record while they run and
// consume, newest first, while they roll back.
#include <string>
#include <vector>

class CHFS_Interpreter;

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
    int LoadRecord(CHFS_Interpreter* pInterpreter, const std::string& file);

    size_t Size() const { return m_items.size(); }
    int GetStep() const { return m_nStep; }
    const std::vector<CHFS_RecordItem>& Items() const { return m_items; }

private:
    std::vector<CHFS_RecordItem> m_items;
    int m_nStep = 0;
};
