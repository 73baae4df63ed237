// The command policy on hostile lines, in a single-byte and a double-byte
// code page: it ends, what it lets run lies inside the working folder, and
// no line it lets run can be followed by a rejected command that runs too.
#include <fuzzer/FuzzedDataProvider.h>

#include "FuzzCheck.h"
#include "util/CommandPolicy.h"

namespace {

// Names compare without regard to case, as the file system compares them.
bool Inside(const std::string& path)
{
    std::string head = path.substr(0, 7);
    for (char& c : head)
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return head == "c:\\pkg\\" && path.size() > 7;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const bool interpreter = in.ConsumeBool();
    const std::string script = in.ConsumeRandomLengthString(300);
    const std::string line = in.ConsumeRemainingBytesAsString();

    for (bool doubleByte : {false, true}) {
        CKvCommandEnv env;
        env.folder = "C:\\pkg\\";
        // Every name with an extension exists: the folder check must hold
        // on its own.
        env.isFile = [](const std::string& p) { return p.find('.') != std::string::npos; };
        env.getEnv = [](const std::string& name, std::string& value) {
            if (name == "PF") {
                value = "C:\\Program Files (x86)";
                return true;
            }
            return false;
        };
        if (doubleByte)
            env.isLeadByte = [](unsigned char c) { return c >= 0x81 && c <= 0xFE; };

        const CKvCommandVerdict v = KvCheckCommandLine(script, line, interpreter, env);
        if (!v.Allowed())
            continue;
        for (const std::string& p : v.programs)
            KV_FUZZ_CHECK(Inside(p), "a program that runs lies inside the working folder");
        if (!v.program.empty())
            KV_FUZZ_CHECK(Inside(v.program), "the process started lies inside the working folder");
        if (interpreter && line.find_first_of("\"^%") == std::string::npos) {
            const std::string more = line + " & reg add x";
            KV_FUZZ_CHECK(!KvCheckCommandLine(more, more, true, env).Allowed(),
                          "a rejected command after an allowed line is refused");
        }
    }

    std::string full;
    if (KvFullPathIn("C:\\pkg", line, full)) {
        KV_FUZZ_CHECK(full.find("\\..\\") == std::string::npos && !KvEndsWith(full, "\\.."),
                      "a full path holds no '..'");
        KV_FUZZ_CHECK(full.size() >= 3, "a full path has its root");
    }
    return 0;
}
