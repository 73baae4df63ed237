#pragma once
// What an item says the patch left, and what undoing the item would meet.
//
// The item keeps what the patch left in one of its parameters, behind the
// mark "left:", either alone or after what the parameter held before (a
// type, a fingerprint) and a blank: "left:<state>" or "<head> left:<state>".
// A state is "-" for a thing that is absent, or "=" and the section's own
// text of its content. A parameter without the mark (records of earlier
// versions, journals, items not yet sealed) says nothing of what the patch
// left, and the item is then not checked.
#include <string>

#include "interpreter/Section.h"

extern const char kUndoAbsent[];

std::string UndoPresent(const std::string& content);

// The parameter with the state as what the patch left.
std::string WithSeal(const std::string& head, const std::string& state);
// false when the parameter carries no seal; head is then all of it.
bool SplitSeal(const std::string& param, std::string& head, std::string& state);

// A thing as the patch left it (or not known: left empty) is AS_LEFT; one
// that holds what it held before the patch is RESTORED; anything else is
// CHANGED, with a why such as "value is 'x', the patch left 'y'".
CHFS_UndoTarget JudgeUndo(const std::string& id, const std::string& shown, const char* noun,
                          const std::string& current, const std::string& left, const std::string& previous);
// A thing whose state cannot be read: nobody can say that undoing it would
// not undo someone else's change, so it counts as changed.
CHFS_UndoTarget UnreadableUndo(const std::string& id, const std::string& shown, const char* noun, long error);
