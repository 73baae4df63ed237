// The reading path of a symbol section: the lines of a section buffer (as
// the profile reader returns it, here without a guaranteed terminator), each
// value expanded against what the earlier lines defined, then stored.
#include <cstdint>

#include "FuzzCheck.h"
#include "symbols/Expansion.h"
#include "symbols/SectionLines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CHFS_SymbolTable global, script;
    global.Set("WINDIR", "C:\\windows");
    global.Set("x41", "A");
    CKvExpansionLimits limits;
    limits.maxLength = 1u << 20;
    limits.maxReplacements = 20000;
    size_t lines = 0;
    KvForEachSectionLine(reinterpret_cast<const char*>(data), size,
                         [&](const std::string& name, const std::string& raw) {
                             CKvExpansionStop stop;
                             std::string value = KvExpandSymbols(raw, global, script, stop, limits);
                             KV_FUZZ_CHECK(name.find('\0') == std::string::npos, "a name runs over its line");
                             script.Set(name, value);
                             ++lines;
                         });
    KV_FUZZ_CHECK(lines <= size, "more lines than bytes");
    return 0;
}
