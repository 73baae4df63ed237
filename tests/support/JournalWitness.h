#pragma once
// Looks at the machine each time a journal is told something: what a step
// changes must be in the journal while it is still as it was, or a run ended
// between the change and its record loses it for good.
#include <functional>

#include "interpreter/ItemList.h"

namespace kvtest {

struct CJournalWitness : CHFS_ItemJournal {
    std::function<bool()> unchanged;
    bool journaledBeforeChange = false;
    void Added(const CHFS_RecordItem&) override { Look(); }
    void Removed() override {}
    void Noted(const CHFS_RecordItem&) override { Look(); }
    void Look()
    {
        if (unchanged())
            journaledBeforeChange = true;
    }
};

}  // namespace kvtest
