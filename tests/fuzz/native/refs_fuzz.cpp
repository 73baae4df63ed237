// The four reference splitters: whatever they accept must be the fields of
// the description, put back together.
#include <cstdint>

#include "FuzzCheck.h"
#include "symbols/RefSplit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string value(reinterpret_cast<const char*>(data), size);
    std::string d;
    for (const char* marker : {"[Reg:", "[INI:", "[FileInfo:", "[ServiceStatus:"}) {
        if (KvTakeDescription(value, marker, d))
            KV_FUZZ_CHECK(d.size() < value.size() && value.compare(1, d.size(), d) == 0, "description");
    }
    d = value;

    CKvRegDescription reg;
    int r = KvSplitRegDescription(d, reg);
    KV_FUZZ_CHECK(r >= -3 && r <= 0, "registry result");
    if (r == 0) {
        KV_FUZZ_CHECK(reg.type == kKvRegSz || reg.type == kKvRegDword, "registry type");
        KV_FUZZ_CHECK(reg.rootIndex >= 0 && reg.rootIndex < kKvRegRootCount, "registry root");
        std::string rebuilt = "Reg:" + reg.typeField + "," + reg.rootField + "," + reg.key;
        KV_FUZZ_CHECK(d.compare(d.find("Reg:"), rebuilt.size(), rebuilt) == 0, "registry fields");
        if (!reg.valueName.empty())
            KV_FUZZ_CHECK(d.find(rebuilt + "," + reg.valueName) == d.find("Reg:"), "registry value name");
    }

    std::string file, section, key;
    if (KvSplitINIDescription(d, file, section, key) == 0) {
        KV_FUZZ_CHECK(!file.empty() && !key.empty(), "INI parts");
        KV_FUZZ_CHECK(d.substr(d.find("INI:")) == "INI:" + file + "," + section + "," + key, "INI fields");
    }

    std::string path, kind;
    if (KvSplitFileInfoDescription(d, path, kind) == 0) {
        KV_FUZZ_CHECK(!kind.empty(), "FileInfo kind");
        KV_FUZZ_CHECK(d.substr(d.find("FileInfo:")) == "FileInfo:" + path + "," + kind, "FileInfo fields");
    }

    std::string service;
    if (KvServiceStatusName(value, service))
        KV_FUZZ_CHECK(value.find("[ServiceStatus:" + service + "]") != std::string::npos, "service name");
    return 0;
}
