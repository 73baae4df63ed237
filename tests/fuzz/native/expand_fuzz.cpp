// ExpandSymbols against the obvious reading of its rules, on tables and texts
// made of few letters so that names, values and text meet often: '%' inside
// names and values, backslashes at the seams, quotes, empty names and values.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <vector>

#include "ExpansionReference.h"
#include "FuzzCheck.h"
#include "symbols/Expansion.h"

namespace {

std::string Piece(FuzzedDataProvider& in, size_t maxLength)
{
    static const char kLetters[] = "ab%\\\"c\xe9";
    std::string s;
    size_t n = in.ConsumeIntegralInRange<size_t>(0, maxLength);
    for (size_t i = 0; i < n && in.remaining_bytes() > 0; ++i)
        s += kLetters[in.ConsumeIntegralInRange<size_t>(0, sizeof kLetters - 2)];
    return s;
}

// Pieces and references to the names, in any order.
std::string Mixed(FuzzedDataProvider& in, const std::vector<std::string>& names, size_t parts, size_t pieceLength)
{
    std::string s;
    size_t n = in.ConsumeIntegralInRange<size_t>(0, parts);
    for (size_t i = 0; i < n && in.remaining_bytes() > 0; ++i) {
        if (!names.empty() && in.ConsumeBool())
            s += "%" + names[in.ConsumeIntegralInRange<size_t>(0, names.size() - 1)] + "%";
        else
            s += Piece(in, pieceLength);
    }
    return s;
}

void Show(const char* label, const std::string& s)
{
    std::fprintf(stderr, "%s '", label);
    for (unsigned char c : s)
        std::fprintf(stderr, c >= 32 && c < 127 ? "%c" : "\\x%02x", c);
    std::fprintf(stderr, "'\n");
}

// What the failing input meant, for the report.
void Describe(const CHFS_SymbolTable& global, const CHFS_SymbolTable& script, const std::string& text,
              const std::string& fast, const std::string& reference)
{
    for (const CHFS_SymbolTable* t : {&global, &script})
        for (const auto& e : *t) {
            Show(t == &global ? "global name" : "script name", e.first);
            Show("  value", e.second);
        }
    Show("text", text);
    Show("expanded", fast);
    Show("reference", reference);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    CHFS_SymbolTable global, script;
    std::vector<std::string> names;
    size_t count = in.ConsumeIntegralInRange<size_t>(0, 8);
    for (size_t i = 0; i < count; ++i)
        names.push_back(Piece(in, 3));
    for (const std::string& name : names) {
        std::string value = Mixed(in, names, 3, 4);
        (in.ConsumeIntegralInRange<int>(0, 3) == 0 ? global : script).Set(name, value);
    }
    // Long texts too, so that many splices meet in one expansion.
    std::string text = Mixed(in, names, in.ConsumeBool() ? 6 : 60, 5);

    static const bool describeAll = std::getenv("KV_FUZZ_DESCRIBE") != nullptr;
    if (describeAll)
        Describe(global, script, text, "", "");
    // Smaller backstops than a run's keep every input fast; what they catch
    // is the same. The look-ahead stays longer than the reference may run,
    // so a suspected cycle that the reference ends must come out the same.
    CKvExpansionLimits limits;
    limits.maxLength = 1u << 20;
    limits.maxReplacements = 20000;
    limits.cycleLookahead = 600;
    CKvExpansionStop stop;
    std::string fast = KvExpandSymbols(text, global, script, stop, limits);
    if (describeAll)
        std::fprintf(stderr, "expanded to %zu characters, stop %d\n", fast.size(), static_cast<int>(stop.kind));
    std::string reference;
    bool ended = kvtest::ReferenceExpand(global, script, text, reference, 500);
    if ((stop.kind == CKvExpansionStop::kNone && ended && fast != reference) ||
        (stop.kind == CKvExpansionStop::kSelfReference && ended))
        Describe(global, script, text, fast, reference);
    if (stop.kind == CKvExpansionStop::kNone && ended)
        KV_FUZZ_CHECK(fast == reference, "expansion differs from the reference");
    if (stop.kind == CKvExpansionStop::kSelfReference)
        KV_FUZZ_CHECK(!ended, "a finite expansion was stopped as self-referring");
    KV_FUZZ_CHECK(fast.size() <= limits.maxLength || fast == text, "result beyond the length limit");
    return 0;
}
