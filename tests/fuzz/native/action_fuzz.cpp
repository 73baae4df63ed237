// Action keywords of the event keys.
#include <climits>
#include <cstdint>

#include "FuzzCheck.h"
#include "interpreter/ActionKeyword.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string value(reinterpret_cast<const char*>(data), size);
    int code = 12345;
    bool known = KvActionCode(value, code);
    if (KvStartsWith(value, "KVHF_GOTOSTEP(")) {
        KV_FUZZ_CHECK(known, "a step jump is a keyword");
        KV_FUZZ_CHECK(code >= 0 && code <= INT_MAX, "a step number is never negative");
    } else if (known) {
        KV_FUZZ_CHECK(code == -100 || code == -200 || code == -300 || code == -400, "keyword code");
    } else {
        KV_FUZZ_CHECK(code == 12345, "an unknown keyword leaves the code alone");
    }
    return 0;
}
