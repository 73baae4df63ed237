// The number formats of the script. CheckRequirement's main part and
// sub-part must give an order (reflexive, antisymmetric, transitive) and no
// text may read as something that is not a number. UpdateRegistry's REG_DWORD
// data must agree with a plain reading of the same rules.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "sections/ScriptNumbers.h"

namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    std::string a = in.ConsumeRandomLengthString(400);
    std::string b = in.ConsumeRandomLengthString(400);
    std::string c = in.ConsumeRemainingBytesAsString();
    for (const std::string* t : {&a, &b, &c}) {
        double main = 0, sub = 0;
        KvSplitCheckNumber(*t, main, sub);
        KV_FUZZ_CHECK(!std::isnan(main) && !std::isnan(sub), "a text reads as no number at all");
        KV_FUZZ_CHECK(KvCompareCheckNumbers(*t, *t) == 0, "a value differs from itself");
    }
    int ab = Sign(KvCompareCheckNumbers(a, b)), ba = Sign(KvCompareCheckNumbers(b, a));
    KV_FUZZ_CHECK(ab == -ba, "the order is not antisymmetric");
    int bc = Sign(KvCompareCheckNumbers(b, c)), ac = Sign(KvCompareCheckNumbers(a, c));
    if (ab <= 0 && bc <= 0)
        KV_FUZZ_CHECK(ac <= 0, "the order is not transitive");

    // "0x" then hexadecimal digits up to the first other character, held at
    // 0xFFFFFFFF; anything else decimal, held within the 32-bit ranges.
    for (const std::string* t : {&a, &b}) {
        uint32_t got = KvScriptDword(*t);
        if (t->compare(0, 2, "0x") == 0) {
            unsigned long long want = 0;
            for (size_t i = 2; i < t->size() && std::isxdigit(static_cast<unsigned char>((*t)[i])); ++i) {
                want = want * 16 + static_cast<unsigned>(std::stoi(t->substr(i, 1), nullptr, 16));
                if (want > 0xFFFFFFFFull) {
                    want = 0xFFFFFFFFull;
                    break;
                }
            }
            KV_FUZZ_CHECK(got == want, "hexadecimal REG_DWORD data read wrongly");
        } else {
            KV_FUZZ_CHECK(got == KvDecimalDword(*t), "decimal REG_DWORD data read wrongly");
        }
    }
    return 0;
}
