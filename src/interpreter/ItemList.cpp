// STUB(issue 4): replaced by the item list.
#include "interpreter/ItemList.h"

int CHFS_ItemList::SetStep(int step) { if (m_items.size() >= MAX_ITEMS) return -1; m_nStep = step; return 0; }
int CHFS_ItemList::AddItem(int idx, const std::string& a, const std::string& b, const std::string& c)
{ if (m_items.size() >= MAX_ITEMS) return -1; CHFS_RecordItem it; it.nStep = m_nStep; it.nItemIndex = idx; it.strParam1 = a; it.strParam2 = b; it.strParam3 = c; m_items.push_back(it); return 0; }
int CHFS_ItemList::GetLastStep(int& step) { if (m_items.empty()) return -1; m_nStep = step = m_items.back().nStep; return 0; }
int CHFS_ItemList::PopItem(int& idx, std::string& a, std::string& b, std::string& c)
{ if (m_items.empty() || m_items.back().nStep != m_nStep) return -1; idx = m_items.back().nItemIndex; a = m_items.back().strParam1; b = m_items.back().strParam2; c = m_items.back().strParam3; m_items.pop_back(); return 0; }
int CHFS_ItemList::PopItem(int& idx, std::string& a, std::string& b) { std::string c; return PopItem(idx, a, b, c); }
int CHFS_ItemList::PopItem(int& idx, std::string& a) { std::string b, c; return PopItem(idx, a, b, c); }
int CHFS_ItemList::PopItem(int& idx) { std::string a, b, c; return PopItem(idx, a, b, c); }
