#pragma once
// How the item loops of the registry, INI and service sections follow an
// item's event answer: go on, repeat the item, or leave the loop with it.
#include "interpreter/Section.h"

// Returns false when the loop ends with result as the section's answer;
// otherwise n names the item to run next. An uninstall answer stays the
// result until a later item's event replaces it.
inline bool FollowItemAnswer(int& result, int& n)
{
    if (result == KVHF_CONTINUE) {
        result = 0;
        ++n;
    } else if (result == KVHF_RETRY) {
        result = 0;
    } else if (result == KVHF_UNINSTALL || result == 0) {
        ++n;
    } else {
        return false;
    }
    return true;
}
