// STUB(issue 6): replaced by the install record.
#include "interpreter/ItemList.h"

int CHFS_ItemList::SaveRecord(const std::string&) { return -1; }
int CHFS_ItemList::LoadRecord(const std::string&) { return -1; }
