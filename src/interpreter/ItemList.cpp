#include "interpreter/ItemList.h"

// Every refusal below is what ends a script that jumps or retries for ever:
// the list is the one thing that grows on each turn of such a loop.
int CHFS_ItemList::SetStep(int step)
{
    if (m_items.size() >= MAX_ITEMS)
        return -1;
    m_nStep = step;
    if (m_pJournal)
        m_pJournal->StepStarted(step);
    return 0;
}

int CHFS_ItemList::AddItem(int itemIndex, const std::string& p1, const std::string& p2, const std::string& p3)
{
    if (m_items.size() >= MAX_ITEMS)
        return -1;
    CHFS_RecordItem item;
    item.nStep = m_nStep;
    item.nItemIndex = itemIndex;
    item.strParam1 = p1;
    item.strParam2 = p2;
    item.strParam3 = p3;
    ConfirmPop();
    m_items.push_back(item);
    if (m_pJournal)
        m_pJournal->Added(m_items.back());
    return 0;
}

void CHFS_ItemList::ConfirmPop()
{
    if (!m_bPopPending)
        return;
    m_bPopPending = false;
    if (m_pJournal)
        m_pJournal->Removed();
}

void CHFS_ItemList::EndUndo(bool undone)
{
    if (!m_bPopPending)
        return;
    if (undone) {
        ConfirmPop();
        return;
    }
    m_bPopPending = false;
    m_items.push_back(m_lastPopped);
}

void CHFS_ItemList::NoteInJournal(int itemIndex, const std::string& p1, const std::string& p2, const std::string& p3)
{
    if (!m_pJournal)
        return;
    ConfirmPop();
    CHFS_RecordItem item;
    item.nStep = m_nStep;
    item.nItemIndex = itemIndex;
    item.strParam1 = p1;
    item.strParam2 = p2;
    item.strParam3 = p3;
    m_pJournal->Noted(item);
}

int CHFS_ItemList::GetLastStep(int& step)
{
    if (m_items.empty())
        return -1;
    m_nStep = m_items.back().nStep;
    step = m_nStep;
    return 0;
}

// A handler may only take back what its own step recorded; the step boundary
// is what hands the remaining items on to the handler of the step before.
int CHFS_ItemList::PopItem(int& itemIndex, std::string& p1, std::string& p2, std::string& p3)
{
    if (m_items.empty() || m_items.back().nStep != m_nStep)
        return -1;
    // Taking the next item says the one before it was undone.
    ConfirmPop();
    m_lastPopped = m_items.back();
    m_items.pop_back();
    m_bPopPending = true;
    itemIndex = m_lastPopped.nItemIndex;
    p1 = m_lastPopped.strParam1;
    p2 = m_lastPopped.strParam2;
    p3 = m_lastPopped.strParam3;
    return 0;
}

int CHFS_ItemList::PopItem(int& itemIndex, std::string& p1, std::string& p2)
{
    std::string p3;
    return PopItem(itemIndex, p1, p2, p3);
}

int CHFS_ItemList::PopItem(int& itemIndex, std::string& p1)
{
    std::string p2, p3;
    return PopItem(itemIndex, p1, p2, p3);
}

int CHFS_ItemList::PopItem(int& itemIndex)
{
    std::string p1, p2, p3;
    return PopItem(itemIndex, p1, p2, p3);
}
