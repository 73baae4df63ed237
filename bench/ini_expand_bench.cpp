// Cost of reading script keys (ReadItem: profile read plus expansion) and of
// the expansion alone, against a plain profile read measured in the same run.
#include <windows.h>
#include <cstdio>
#include <string>
#include <vector>

#include "interpreter/Interpreter.h"

namespace {

double Now()
{
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

// Every name of both tables tried in order each round: the obvious way.
std::string NaiveExpand(const CHFS_Interpreter& in, std::string text)
{
    for (int round = 0; round < 100000; ++round) {
        if (text.size() > 2 && text.front() == '"' && text.back() == '"')
            return text.substr(1, text.size() - 2);
        bool replaced = false;
        for (const CHFS_SymbolTable* table : {&in.m_globalSymbols, &in.m_scriptSymbols}) {
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
        if (!replaced)
            return text;
    }
    return text;
}

}  // namespace

int main(int argc, char** argv)
{
    const int keys = 5000;
    int passes = argc > 1 ? std::atoi(argv[1]) : 2;
    if (passes < 1)
        passes = 1;

    char tmp[MAX_PATH + 1] = {0};
    ::GetTempPathA(MAX_PATH, tmp);
    std::string script = std::string(tmp) + "korvex_bench_" + std::to_string(::GetCurrentProcessId()) + ".ini";

    CHFS_Interpreter interp(nullptr, "setup.ini");
    interp.m_strScriptFile = script;
    interp.InitBuiltinSymbols();
    for (int i = 0; i < 60; ++i)
        interp.SetSymbol("APP_SYM" + std::to_string(i), "C:\\Program Files\\Vendor\\Part" + std::to_string(i) + "\\");
    interp.SetSymbol("NESTED", "%APP_SYM3%%APP_SYM7%sub");

    std::string text = "[Bench]\r\n";
    std::vector<std::string> names, raw;
    for (int i = 0; i < keys; ++i) {
        std::string v = "%APP_SYM" + std::to_string(i % 60) + "%\\file" + std::to_string(i) + ".dll;%WINDIR%\\" +
                        "system32;%NESTED%\\%DATE%_%TIME%;%TEMP%x%x41%%x42%;100% done";
        names.push_back("Key" + std::to_string(i));
        raw.push_back(v);
        text += names.back() + "=" + v + "\r\n";
    }
    HANDLE h = ::CreateFileA(script.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        std::printf("cannot write %s\n", script.c_str());
        return 1;
    }
    DWORD written = 0;
    ::WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(h);

    // Warm the platform's profile cache so every measurement sees the same state.
    char buf[4096];
    ::GetPrivateProfileStringA("Bench", names[0].c_str(), KORVEX_MISSING, buf, sizeof buf, script.c_str());

    double t0 = Now();
    size_t sink = 0;
    for (int p = 0; p < passes; ++p)
        for (int i = 0; i < keys; ++i)
            sink += ::GetPrivateProfileStringA("Bench", names[i].c_str(), KORVEX_MISSING, buf, sizeof buf,
                                               script.c_str());
    double plain = (Now() - t0) / (passes * keys);

    t0 = Now();
    for (int p = 0; p < passes; ++p)
        for (int i = 0; i < keys; ++i)
            sink += interp.ReadItem(names[i], "Bench", true).size();
    double readItem = (Now() - t0) / (passes * keys);

    t0 = Now();
    for (int p = 0; p < passes; ++p)
        for (int i = 0; i < keys; ++i)
            sink += interp.ExpandSymbols(raw[i]).size();
    double expand = (Now() - t0) / (passes * keys);

    t0 = Now();
    for (int i = 0; i < keys; ++i)
        sink += NaiveExpand(interp, raw[i]).size();
    double naive = (Now() - t0) / keys;

    // Long values: 4,000 characters with dozens, then hundreds, of references.
    struct LongCase {
        std::string text;
        double fast, naive;
        bool same;
    };
    std::vector<LongCase> longCases;
    for (int spacing : {80, 18}) {
        LongCase c;
        while (c.text.size() < 4000) {
            c.text += "%APP_SYM" + std::to_string(c.text.size() % 60) + "%;" +
                      std::string(spacing > 18 ? spacing - 30 : 1, '.') + ";%WINDIR%;";
        }
        const int runs = 200;
        t0 = Now();
        for (int i = 0; i < runs; ++i)
            sink += interp.ExpandSymbols(c.text).size();
        c.fast = (Now() - t0) / runs;
        t0 = Now();
        for (int i = 0; i < runs / 10; ++i)
            sink += NaiveExpand(interp, c.text).size();
        c.naive = (Now() - t0) / (runs / 10);
        c.same = NaiveExpand(interp, c.text) == interp.ExpandSymbols(c.text);
        longCases.push_back(c);
    }

    ::DeleteFileA(script.c_str());

    // Work that grows: a template of the size ReplaceSymbolsInFile expands as
    // one text, at two sizes of the same density, and a chain of symbols that
    // each name the next one twice. The baseline of each is one plain
    // left-to-right pass that builds the same result; a cost that grows with
    // the square of the work shows as a ratio that grows with the size.
    struct GrowthCase {
        std::string label;
        double fast, baseline;
        bool same;
    };
    std::vector<GrowthCase> growth;
    interp.SetSymbol("zz", "C:\\Program Files\\Vendor");
    for (int refs : {30000, 120000}) {
        std::string tmplText, expected;
        const std::string zz = interp.GetSymbol("zz");
        for (int i = 0; i < refs; ++i) {
            std::string filler = (i % 8 == 7) ? " 100%\r\n" : " line\r\n";
            tmplText += "set %zz%" + filler;
            expected += "set " + zz + filler;
        }
        GrowthCase c;
        c.label = "template " + std::to_string(tmplText.size() / 1024) + " KB, " + std::to_string(refs) + " refs";
        t0 = Now();
        std::string out = interp.ExpandSymbols(tmplText);
        c.fast = Now() - t0;
        t0 = Now();
        std::string plainOut;
        for (size_t i = 0;;) {
            size_t j = tmplText.find("%zz%", i);
            plainOut.append(tmplText, i, j == std::string::npos ? std::string::npos : j - i);
            if (j == std::string::npos)
                break;
            plainOut += zz;
            i = j + 4;
        }
        c.baseline = Now() - t0;
        c.same = out == expected && plainOut == expected;
        growth.push_back(c);
    }
    {
        const int levels = 16;
        for (int i = 0; i < levels; ++i) {
            std::string next = "%CHAIN" + std::to_string(i + 1) + "%";
            interp.SetSymbol("CHAIN" + std::to_string(i), next + next);
        }
        interp.SetSymbol("CHAIN" + std::to_string(levels), "leaf;");
        GrowthCase c;
        c.label = "chain of " + std::to_string(levels) + " levels, each naming the next twice";
        t0 = Now();
        std::string out = interp.ExpandSymbols("%CHAIN0%");
        c.fast = Now() - t0;
        t0 = Now();
        std::string plainOut;
        for (int i = 0; i < (1 << levels); ++i)
            plainOut += "leaf;";
        c.baseline = Now() - t0;
        c.same = out == plainOut;
        growth.push_back(c);
    }

    std::printf("keys=%d passes=%d symbols=%u+%u (checksum %u)\n", keys, passes,
                static_cast<unsigned>(interp.m_globalSymbols.Size()), static_cast<unsigned>(interp.m_scriptSymbols.Size()),
                static_cast<unsigned>(sink % 1000));
    std::printf("GetPrivateProfileStringA      %9.2f us/call  (baseline)\n", plain * 1e6);
    std::printf("ReadItem                      %9.2f us/call  ratio %.2f\n", readItem * 1e6, readItem / plain);
    std::printf("ExpandSymbols (key value)     %9.2f us/call  ratio %.2f\n", expand * 1e6, expand / plain);
    std::printf("naive expansion (key value)   %9.2f us/call  ratio %.2f\n", naive * 1e6, naive / plain);
    bool same = true;
    for (const LongCase& c : longCases) {
        size_t refs = 0;
        for (size_t i = 0; (i = c.text.find('%', i)) != std::string::npos; ++i)
            ++refs;
        refs /= 2;
        std::printf("ExpandSymbols (%u chars, %3u refs)   %9.2f us/call  ratio %.2f\n",
                    static_cast<unsigned>(c.text.size()), static_cast<unsigned>(refs), c.fast * 1e6, c.fast / plain);
        std::printf("naive expansion (%u chars, %3u refs) %9.2f us/call  ratio %.2f  (same result: %s)\n",
                    static_cast<unsigned>(c.text.size()), static_cast<unsigned>(refs), c.naive * 1e6, c.naive / plain,
                    c.same ? "yes" : "NO");
        same = same && c.same;
    }
    for (const GrowthCase& c : growth) {
        std::printf("ExpandSymbols (%s) %9.3f s  ratio %.1f to one plain pass (same result: %s)\n", c.label.c_str(),
                    c.fast, c.baseline > 0 ? c.fast / c.baseline : 0.0, c.same ? "yes" : "NO");
        same = same && c.same;
    }
    if (growth.size() >= 2 && growth[0].fast > 0)
        std::printf("template growth: 4 times the text costs %.1f times the time (linear: about 4)\n",
                    growth[1].fast / growth[0].fast);
    return same ? 0 : 2;
}
