// The number format of CheckRequirement: main part and sub-part, compared in
// that order. The order must be one: reflexive, antisymmetric, transitive,
// and no text may read as something that is not a number.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>

#include "FuzzCheck.h"
#include "sections/CheckNumber.h"

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
    return 0;
}
