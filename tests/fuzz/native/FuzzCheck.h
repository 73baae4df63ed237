#pragma once
// What the targets share: a failed property ends the run the way a sanitizer
// does, with the input kept by libFuzzer as a crash artifact.
#include <cstdio>
#include <cstdlib>
#include <string>

#define KV_FUZZ_CHECK(cond, what)                                                          \
    do {                                                                                   \
        if (!(cond)) {                                                                     \
            std::fprintf(stderr, "fuzz property failed: %s (%s:%d)\n", what, __FILE__, __LINE__); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

inline bool KvStartsWith(const std::string& s, const std::string& prefix)
{
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

inline bool KvEndsWith(const std::string& s, const std::string& suffix)
{
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}
