// Path texts under a single-byte and two double-byte code pages.
#include <fuzzer/FuzzedDataProvider.h>

#include "FuzzCheck.h"
#include "util/PathText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    std::string first = in.ConsumeRandomLengthString(600);
    std::string second = in.ConsumeRemainingBytesAsString();

    for (unsigned cp : {0u, 936u, 932u}) {
        std::string joined = JoinPathCP(cp, first, second);
        if (first.empty()) {
            KV_FUZZ_CHECK(joined == second, "join onto nothing");
        } else {
            KV_FUZZ_CHECK(KvStartsWith(joined, first), "join keeps the first part");
            KV_FUZZ_CHECK(joined.size() + 1 >= first.size() + second.size() &&
                              joined.size() <= first.size() + second.size() + 1,
                          "join adds or drops at most one backslash");
        }
        for (const std::string* p : {&first, &second}) {
            std::string folder = GetFolderPartCP(cp, *p), name = GetFileNamePartCP(cp, *p);
            KV_FUZZ_CHECK(folder + name == *p, "folder and name make the path");
        }
    }
    std::string relative = GetRelativePath(first, second);
    KV_FUZZ_CHECK(KvEndsWith(first, relative), "a relative path is the end of the path");
    KV_FUZZ_CHECK(RemoveServerPart(first).size() <= first.size(), "server part removal grows");
    std::string parent = GetParentFolder(first);
    KV_FUZZ_CHECK(parent.size() <= first.size() + 2, "parent longer than the folder");
    std::string three = JoinPath3(first, second, first);
    KV_FUZZ_CHECK(three.size() <= 2 * first.size() + second.size() + 2, "three-part join");
    return 0;
}
