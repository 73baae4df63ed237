#pragma once
// A section's items as an install leaves them (sealed), as a removal run
// meets them (what undoing each would meet), and as a later removal run
// replays them from its record.
#include <string>
#include <vector>

#include "interpreter/ItemList.h"
#include "interpreter/Section.h"

namespace kvtest {

// The state of every target of every item, oldest first; the whys of the
// changed ones, one a line, into *why.
inline std::vector<int> UndoStates(CHFS_Section& section, const std::string& name, const CHFS_ItemList& list,
                                   std::string* why = nullptr)
{
    std::vector<int> states;
    for (const CHFS_RecordItem& item : list.Items()) {
        std::vector<CHFS_UndoTarget> targets;
        section.CheckUndo(name, item, targets);
        for (const CHFS_UndoTarget& t : targets) {
            states.push_back(t.nState);
            if (why && t.nState == CHFS_UndoTarget::CHANGED)
                *why += t.strWhy + "\n";
        }
    }
    return states;
}

inline void SealAll(CHFS_Section& section, const std::string& name, CHFS_ItemList& list)
{
    for (size_t i = 0; i < list.Size(); ++i)
        section.SealItem(name, list.At(i));
}

// Adds the items again, oldest first, as a removal loads them from a record.
inline void Replay(CHFS_ItemList& list, const std::vector<CHFS_RecordItem>& items)
{
    for (const CHFS_RecordItem& i : items) {
        list.SetStep(i.nStep);
        list.AddItem(i.nItemIndex, i.strParam1, i.strParam2, i.strParam3);
    }
}

}  // namespace kvtest
