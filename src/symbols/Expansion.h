#pragma once
// %NAME% expansion of a text against the global and the script symbol table.
// Pure text work, no platform calls: the interpreter wraps it with its log
// lines, and the native fuzzing build compiles it as it is.
#include <cstddef>
#include <string>

#include "symbols/SymbolTable.h"

// Backstops for expansions that are finite but absurd (exponential fan-out of
// values). No real script comes near them; they keep a bad script from
// exhausting memory or hanging the run.
const size_t kKvMaxExpandedLength = 16u * 1024u * 1024u;
const unsigned kKvMaxReplacements = 1000000u;

// How many replacements a suspected self-reference is followed before it is
// taken for a cycle (see Expansion.cpp).
const unsigned kKvCycleLookahead = 4096;

struct CKvExpansionLimits {
    size_t maxLength = kKvMaxExpandedLength;
    unsigned maxReplacements = kKvMaxReplacements;
    unsigned cycleLookahead = kKvCycleLookahead;
};

// Why an expansion ended before nothing was left to replace.
struct CKvExpansionStop {
    enum Kind { kNone, kSelfReference, kTooManyReplacements, kTooLong };
    Kind kind = kNone;
    std::string name;  // the symbol whose replacement was refused
};

// One replacement per iteration, then start over on the new text: the quote
// rule, the table-order-first name that occurs anywhere (global table first),
// its leftmost occurrence, the backslash seam. A refused replacement ends the
// expansion with the text as it stands and says why in stop.
std::string KvExpandSymbols(const std::string& text, const CHFS_SymbolTable& global,
                            const CHFS_SymbolTable& script, CKvExpansionStop& stop,
                            const CKvExpansionLimits& limits = CKvExpansionLimits());
