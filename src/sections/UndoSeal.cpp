#include "sections/UndoSeal.h"

#include "util/StrFormat.h"

const char kUndoAbsent[] = "-";

namespace {

const char kSealMark[] = "left:";
const size_t kSealMarkLength = sizeof kSealMark - 1;

std::string Shown(const std::string& state)
{
    if (state == kUndoAbsent)
        return "absent";
    return "'" + (state.empty() ? state : state.substr(1)) + "'";
}

}  // namespace

std::string UndoPresent(const std::string& content)
{
    return "=" + content;
}

std::string WithSeal(const std::string& head, const std::string& state)
{
    std::string seal = kSealMark + state;
    return head.empty() ? seal : head + " " + seal;
}

bool SplitSeal(const std::string& param, std::string& head, std::string& state)
{
    // The head is a type or a fingerprint, never a text with blanks, so the
    // first " left:" is the seal's, whatever the state's text holds.
    size_t at = std::string::npos;
    if (param.compare(0, kSealMarkLength, kSealMark) == 0)
        at = 0;
    else {
        size_t blank = param.find(std::string(" ") + kSealMark);
        if (blank != std::string::npos)
            at = blank + 1;
    }
    if (at == std::string::npos) {
        head = param;
        state.clear();
        return false;
    }
    head = param.substr(0, at == 0 ? 0 : at - 1);
    state = param.substr(at + kSealMarkLength);
    return true;
}

CHFS_UndoTarget JudgeUndo(const std::string& id, const std::string& shown, const char* noun,
                          const std::string& current, const std::string& left, const std::string& previous)
{
    CHFS_UndoTarget t;
    t.strId = id;
    t.strShown = shown;
    if (left.empty() || current == left) {
        t.nState = CHFS_UndoTarget::AS_LEFT;
    } else if (current == previous) {
        t.nState = CHFS_UndoTarget::RESTORED;
    } else {
        t.nState = CHFS_UndoTarget::CHANGED;
        t.strWhy = std::string(noun) + " is " + Shown(current) + ", the patch left " + Shown(left);
    }
    return t;
}

CHFS_UndoTarget UnreadableUndo(const std::string& id, const std::string& shown, const char* noun, long error)
{
    CHFS_UndoTarget t;
    t.strId = id;
    t.strShown = shown;
    t.nState = CHFS_UndoTarget::CHANGED;
    t.strWhy = KvFormat("%s can't be read, error %ld", noun, error);
    return t;
}
