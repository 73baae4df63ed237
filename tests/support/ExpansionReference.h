#pragma once
// The expansion rules read the obvious way: every name of the global table,
// then of the script table, tried in order, one replacement per round. The
// tests and the native fuzzer hold the real expansion against it. It has no
// self-reference guard: it gives up after maxRounds and returns false then.
// Windows-free, so that the native fuzzing build can use it too.
#include <string>

#include "symbols/SymbolTable.h"

namespace kvtest {

inline bool ReferenceExpand(const CHFS_SymbolTable& global, const CHFS_SymbolTable& script, std::string text,
                            std::string& out, int maxRounds = 20000)
{
    for (int round = 0; round < maxRounds; ++round) {
        if (text.size() > 2 && text.front() == '"' && text.back() == '"') {
            out = text.substr(1, text.size() - 2);
            return true;
        }
        bool replaced = false;
        for (const CHFS_SymbolTable* table : {&global, &script}) {
            for (const auto& e : *table) {
                size_t p = text.find("%" + e.first + "%");
                if (p == std::string::npos)
                    continue;
                text.replace(p, e.first.size() + 2, e.second);
                size_t q = p + e.second.size();
                if (q > 0 && q + 1 < text.size() && text[q] == '\\' && text[q - 1] == '\\')
                    text.erase(q, 1);
                replaced = true;
                break;
            }
            if (replaced)
                break;
        }
        if (!replaced) {
            out = text;
            return true;
        }
    }
    return false;
}

}  // namespace kvtest
