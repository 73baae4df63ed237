// In-process fuzzing of whole scripts under Wine: the seed scripts of
// tests/fuzz/corpus/scripts are mutated (values swapped for hostile ones,
// lines duplicated, dropped or moved, bytes inserted, the file cut short or
// turned into UTF-16) and each mutant is run the way start-up runs a script:
// symbol sections, PatchInformation, the install procedure and, when it left
// a record, the removal. All of it in this one process, for a bounded time.
//
// Every mutant must end (a watchdog ends the test on a hang), must not crash
// (an unhandled exception names the mutant, which is kept on disk), and a
// failed run must not report exit code 0.
//
// The machine is shared with the rest of the suite, so a mutant runs only if
// everything it could touch stays below this test's folder: the step types
// are those that change files or only read, service names are the seeds'
// absent one, and no value expands to a path outside the folder.
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cstring>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <thread>

#include "Snapshot.h"
#include "TestSupport.h"
#include "interpreter/Interpreter.h"
#include "util/StrFormat.h"

namespace {

const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kFuzzRegKey[] = "Software\\KorvexFuzz";

// Values a hostile script would try. Counts stay small enough that a mutant
// ends within seconds (counts are bounded, but 65,535 items of reads take
// long under Wine); "4097" is one step beyond the procedure's bound.
std::vector<std::string> Dictionary()
{
    std::vector<std::string> d = {
        "", "(empty)", "0", "-1", "1", "2", "3", "7", "99", "300", "-2147483648", "0x1F", "1e9", "5.0.2195",
        "KVHF_CONTINUE", "KVHF_RETRY", "KVHF_USERBREAK", "KVHF_UNINSTALL", "KVHF_GOTOSTEP(1)", "KVHF_GOTOSTEP(0)",
        "KVHF_GOTOSTEP(3", "KVHF_GOTOSTEP(99999999999)", "kvhf_continue", "KVHF_CopyFailRemoveReadonly",
        "KVHF_RollBackExtraAndExistenFile", "KVHF_OnlyCopyNewerFile", "%A%", "%SELF%", "%B%%B%", "%x41%%x25%",
        "%%", "%", "100%", "%FUZZROOT%", "%FUZZROOT%\\", "%FUZZROOT%\\product", "%FUZZROOT%\\pkg\\data.ini",
        "%FUZZROOT%\\nosuch\\deep\\folder", "%FUZZROOT%\\product\\a.txt", "..\\x.txt", "NUL", "*.*", "?",
        "\"", "\"\"", "\"%FUZZROOT%\"", "'quoted'", "%s%s%s%s%n%n", "%d%x%p%08X", "\\\\", "a\\\\b",
        "\xb0\xb2\xd7\xb0\\\xb2\xe2", "\x81\\", "\xff\xfe", "[Reg:REG_SZ,HKCU,Software\\KorvexFuzz,Value]",
        "[Reg:REG_DWORD,HKCU,Software\\KorvexFuzz,Value,x64]", "[Reg:reg_sz,HKCU,x]", "[Reg:REG_SZ,HKCR,x]",
        "[Reg:REG_SZ,HKCU,Software\\KorvexFuzz,]", "[INI:%FUZZROOT%\\pkg\\data.ini,,Top]",
        "[INI:%FUZZROOT%\\pkg\\data.ini,Main,]", "[INI:,Main,Key]", "[FileInfo:%FUZZROOT%\\pkg\\*.ini,FileSize]",
        "[FileInfo:%FUZZROOT%\\pkg\\FileGroup1\\a.txt,FileVersion]", "[FileInfo:,]", "[ServiceStatus:]",
        "[ServiceStatus:KvFuzzNoSuchService]", "abc[Reg:REG_SZ,HKCU,Software\\KorvexFuzz,Value]",
        "ProductInstall.UpdateSymbols.Stamp", "ProductInstall.ReplaceSymbolsInFile.Text",
        "ProductInstall.CopyFileGroupTo.Files", "ProductInstall.BackupFiles.Config", "ProductRemove.Rollback",
        "ProductInstall.NoSuchType.X", "productinstall.UpdateSymbols.Stamp", "ProductRemove.UpdateSymbols.X",
        "ProductInstall", ".", "2.0", "1.0", "4097",
    };
    d.push_back(std::string(300, 'p'));
    d.push_back("%FUZZROOT%\\" + std::string(250, 'L'));
    d.push_back(std::string(5000, 'V'));
    d.push_back(std::string(70000, 'W'));
    d.push_back(std::string(3, '\0') + "nul");
    // Relative profile names beyond the path limit.
    d.push_back("[INI:" + std::string(700, 'K') + ",s,k]");
    d.push_back("[INI:" + std::string(3000, 'K') + ",,k]");
    d.push_back(std::string(700, 'R') + ".ini");
    return d;
}

// Bytes a mutation may insert: no drive colons, slashes or dots, so that no
// path outside the folder can be spelled by accident.
const char kInsertable[] = "aZ09%=[],;\" \t\r\n\0\x80\xa1\xfe\xff";

typedef std::vector<std::string> Lines;

Lines SplitLines(const std::string& text)
{
    Lines lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            if (start < text.size())
                lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end + 1 - start));
        start = end + 1;
    }
    return lines;
}

std::string Join(const Lines& lines)
{
    std::string s;
    for (const std::string& l : lines)
        s += l;
    return s;
}

class CMutator {
public:
    CMutator(const std::vector<std::string>& seeds, unsigned seed) : m_seeds(seeds), m_rng(seed), m_dict(Dictionary()) {}

    std::string Mutant()
    {
        std::string text = m_seeds[Pick(m_seeds.size())];
        int rounds = 1 + static_cast<int>(Pick(4));
        for (int i = 0; i < rounds; ++i)
            text = MutateOnce(text);
        return text;
    }

private:
    size_t Pick(size_t n) { return n == 0 ? 0 : static_cast<size_t>(m_rng() % n); }

    std::string MutateOnce(const std::string& text)
    {
        Lines lines = SplitLines(text);
        if (lines.empty())
            return m_seeds[0];
        size_t i = Pick(lines.size());
        switch (Pick(10)) {
        case 0:
        case 1:
        case 2: {  // a value swapped for a hostile one
            size_t eq = lines[i].find('=');
            if (eq != std::string::npos)
                lines[i] = lines[i].substr(0, eq + 1) + m_dict[Pick(m_dict.size())] + "\r\n";
            break;
        }
        case 3: {  // a hostile piece added to a value
            std::string& l = lines[i];
            size_t end = l.find_last_not_of("\r\n");
            l.insert(end == std::string::npos ? 0 : end + 1, m_dict[Pick(m_dict.size())]);
            break;
        }
        case 4:
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(i), lines[Pick(lines.size())]);
            break;
        case 5:
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
            break;
        case 6: {  // a line of another seed, anywhere
            Lines other = SplitLines(m_seeds[Pick(m_seeds.size())]);
            if (!other.empty())
                lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(i), other[Pick(other.size())]);
            break;
        }
        case 7: {  // bytes inserted
            std::string s = Join(lines);
            size_t at = Pick(s.size() + 1);
            for (size_t n = 1 + Pick(8); n > 0; --n)
                s.insert(s.begin() + static_cast<std::ptrdiff_t>(at), kInsertable[Pick(sizeof kInsertable - 1)]);
            return s;
        }
        case 8:  // cut short
            return Join(lines).substr(0, Pick(text.size() + 1));
        default: {  // rarely: the whole file as UTF-16, or binary garbage
            if (Pick(4) == 0) {
                std::string wide = "\xff\xfe";
                for (char c : text) {
                    wide += c;
                    wide += '\0';
                }
                return wide;
            }
            std::string s = Join(lines);
            size_t at = Pick(s.size() + 1);
            std::string garbage;
            for (size_t n = Pick(200); n > 0; --n)
                garbage += static_cast<char>(m_rng() & 0xff);
            // Colons, slashes and dots could spell a path: keep them out.
            for (char& c : garbage)
                if (c == ':' || c == '\\' || c == '/' || c == '.')
                    c = '_';
            s.insert(at, garbage);
            return s;
        }
        }
        return Join(lines);
    }

    const std::vector<std::string>& m_seeds;
    std::mt19937 m_rng;
    std::vector<std::string> m_dict;
};

// The step types a mutant may run: they change files only below the
// folders the script names, or only read.
bool AllowedStep(const std::string& value)
{
    static const char* const kTypes[] = {"UpdateSymbols", "ReplaceSymbolsInFile", "CopyFileGroupTo", "BackupFiles",
                                         "StopService",   "StartService",         "CheckRequirement"};
    for (const char* domain : {"ProductInstall.", "ProductRemove."}) {
        for (const char* type : kTypes) {
            std::string prefix = std::string(domain) + type;
            if (value.compare(0, prefix.size(), prefix) == 0 &&
                (value.size() == prefix.size() || value[prefix.size()] == '.'))
                return true;
        }
    }
    if (value.compare(0, 22, "ProductRemove.Rollback") == 0)
        return true;
    // Anything else outside the two domains is refused by the runner itself.
    return value.compare(0, 15, "ProductInstall.") != 0 && value.compare(0, 14, "ProductRemove.") != 0;
}

bool EqualsNoCaseAt(const std::string& s, size_t at, const std::string& what)
{
    if (at + what.size() > s.size())
        return false;
    for (size_t i = 0; i < what.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[at + i])) != std::tolower(static_cast<unsigned char>(what[i])))
            return false;
    return true;
}

// A value stays inside when, with this test's folder and the reference
// markers taken out, nothing is left that could name a drive, a root, a
// server or the folder above the folder's parent.
bool StaysInside(const std::string& value, const std::string& root)
{
    std::string rest;
    for (size_t i = 0; i < value.size();) {
        if (EqualsNoCaseAt(value, i, root)) {
            rest += '_';
            i += root.size();
        } else {
            rest += value[i++];
        }
    }
    for (const char* marker : {"[Reg:", "[INI:", "[FileInfo:", "[ServiceStatus:"}) {
        for (size_t p; (p = rest.find(marker)) != std::string::npos;)
            rest.erase(p, std::strlen(marker));
    }
    if (rest.find(':') != std::string::npos || rest.find("\\\\") != std::string::npos ||
        rest.find("..\\..") != std::string::npos || rest.find("../") != std::string::npos)
        return false;
    return rest.empty() || (rest[0] != '\\' && rest[0] != '/');
}

std::vector<std::string> SectionNames(const std::string& file)
{
    std::vector<char> buf(1 << 16);
    DWORD n = ::GetPrivateProfileSectionNamesA(buf.data(), static_cast<DWORD>(buf.size()), file.c_str());
    std::vector<std::string> names;
    for (const char* p = buf.data(); p < buf.data() + n && *p; p += std::strlen(p) + 1)
        names.push_back(p);
    return names;
}

// What the mutant could touch, seen through the interpreter that will run it.
bool Admissible(CHFS_Interpreter& interp, const std::string& root)
{
    const std::string& file = interp.m_strScriptFile;
    std::vector<char> buf(1 << 16);
    for (const std::string& section : SectionNames(file)) {
        DWORD n = ::GetPrivateProfileSectionA(section.c_str(), buf.data(), static_cast<DWORD>(buf.size()),
                                              file.c_str());
        for (const char* p = buf.data(); p < buf.data() + n && *p; p += std::strlen(p) + 1) {
            std::string line(p);
            size_t eq = line.find('=');
            std::string value = interp.ExpandSymbols(eq == std::string::npos ? line : line.substr(eq + 1));
            if (!StaysInside(value, root))
                return false;
            std::string key = eq == std::string::npos ? std::string() : line.substr(0, eq);
            bool stepKey = key.size() > 8 && EqualsNoCaseAt(key, 0, "Step") &&
                           EqualsNoCaseAt(key, key.size() - 8, ".Section");
            if (stepKey && !AllowedStep(value))
                return false;
            // Service names: only the seeds' absent service, whatever the key.
            bool serviceKey = EqualsNoCaseAt(key, 0, "Service") && key.find('.') == std::string::npos &&
                              !EqualsNoCaseAt(key, 0, "ServiceCount");
            if (serviceKey && !value.empty() && value.find("KvFuzz") == std::string::npos)
                return false;
        }
    }
    return true;
}

// The installed-software entries that exist now, so that those a mutant
// adds can be taken away again.
std::set<std::string> UninstallEntries()
{
    std::set<std::string> names;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ | kvtest::kProgramView, &key) != ERROR_SUCCESS)
        return names;
    char name[512];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (::RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.insert(std::string(name, size));
    }
    ::RegCloseKey(key);
    return names;
}

struct CStats {
    int executions = 0;
    int skipped = 0;
    int refusedAtStart = 0;
    int installsSucceeded = 0;
    int removals = 0;
    int stopsLogged = 0;
    std::vector<std::string> faults;
};

std::atomic<long long> g_runStartedMs{0};
std::atomic<int> g_iteration{-1};
std::string g_currentScript;

long long NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info)
{
    std::fprintf(stderr, "script fuzz: exception 0x%08lx at %p in mutant %d; the script is kept at %s\n",
                 static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
                 info->ExceptionRecord->ExceptionAddress, g_iteration.load(), g_currentScript.c_str());
    std::fflush(stderr);
    return EXCEPTION_CONTINUE_SEARCH;
}

class ScriptFuzz : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = dir.Path();
        std::string seedDir = kvtest::SourceDir() + "\\tests\\fuzz\\corpus\\scripts";
        WIN32_FIND_DATAA fd;
        HANDLE h = ::FindFirstFileA((seedDir + "\\*.ini").c_str(), &fd);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << seedDir;
        do {
            std::string text;
            ASSERT_TRUE(kvtest::ReadFileBytes(seedDir + "\\" + fd.cFileName, text));
            seeds.push_back(text);
        } while (::FindNextFileA(h, &fd));
        ::FindClose(h);
        kvtest::RegWriteString(HKEY_CURRENT_USER, kFuzzRegKey, "Value", "from the registry", kvtest::kProgramView);
    }
    void TearDown() override { kvtest::RegDeleteTree(HKEY_CURRENT_USER, kFuzzRegKey, kvtest::kProgramView); }

    // The package and the product as the seeds expect them, afresh.
    void LayOut()
    {
        for (const char* folder : {"product", "backup", "saved", "record", "work", "pkg", "report.txt"})
            kvtest::RemoveTree(root + "\\" + folder);
        const std::string pkg = root + "\\pkg";
        kvtest::WriteFileBytes(pkg + "\\FileGroup1\\a.txt", "new a\r\n");
        kvtest::WriteFileBytes(pkg + "\\FileGroup1\\bin\\x.dll", "new dll\r\n");
        kvtest::WriteFileBytes(pkg + "\\FileGroup2\\conf\\app.cfg", "new cfg\r\n");
        kvtest::WriteFileBytes(pkg + "\\templates\\app.tpl", "stamp=%STAMP% chain=%CHAIN% pkg=%PKG%\\x\r\n");
        kvtest::WriteFileBytes(pkg + "\\templates\\report.tpl", "removed by %REMOVED_BY%\r\n");
        kvtest::WriteFileBytes(pkg + "\\data.ini", "Top=above\r\n[Main]\r\nKey=value\r\n");
        kvtest::WriteFileBytes(root + "\\product\\a.txt", "old a\r\n");
        kvtest::WriteFileBytes(root + "\\product\\bin\\x.dll", "old dll\r\n");
        kvtest::WriteFileBytes(root + "\\product\\conf\\app.cfg", "old cfg\r\n");
        kvtest::WriteFileBytes(root + "\\product\\untouched.txt", "untouched\r\n");
        kvtest::CreateTree(root + "\\work");
        kvtest::CreateTree(root + "\\record");
    }

    // One mutant, as start-up would run it, then its removal.
    void RunOne(const std::string& text, CStats& stats)
    {
        LayOut();
        const std::string script = root + "\\pkg\\setup.ini";
        const std::string record = root + "\\record\\record.ini";
        kvtest::WriteFileBytes(script, text);
        kvtest::WriteFileBytes(root + "\\..\\" + Tag() + "-current.ini", text);
        ::SetCurrentDirectoryA((root + "\\work").c_str());

        CHFS_RunSettings settings;
        settings.m_bSilent = 1;
        bool installed = false;
        {
            kvtest::CRecordingCallback cb;
            CHFS_Interpreter interp(&cb, "setup.ini", settings, kvtest::ProgramTexts());
            interp.m_strScriptFile = script;
            interp.SetGlobalSymbol("FUZZROOT", root);
            interp.InitVariables("ProductInstall.Symbols");
            interp.m_strRecordFile = record;
            if (!Admissible(interp, root)) {
                ++stats.skipped;
                return;
            }
            ++stats.executions;
            if (interp.InitPatchInfo("PatchInformation") != 0) {
                ++stats.refusedAtStart;
                return;
            }
            int result = interp.Execute();
            if (result < 0 && interp.m_nExitCode == 0)
                stats.faults.push_back(KvFormat("mutant %d: install failed with %d but exit code 0", g_iteration.load(),
                                                result));
            installed = result >= 0;
            stats.installsSucceeded += installed;
            stats.stopsLogged += cb.LogContains("expansion stopped");
        }
        if (!installed || !kvtest::Exists(record))
            return;
        settings.m_bUninstall = 1;
        settings.m_strRecordFile = record;
        kvtest::CRecordingCallback cb;
        CHFS_Interpreter removal(&cb, "setup.ini", settings, kvtest::ProgramTexts());
        removal.SetGlobalSymbol("FUZZROOT", root);
        ++stats.removals;
        if (removal.InitPatchInfo("PatchInformation") != 0)
            return;
        int result = removal.Execute();
        if (result < 0 && removal.m_nExitCode == 0)
            stats.faults.push_back(KvFormat("mutant %d: removal failed with %d but exit code 0", g_iteration.load(),
                                            result));
    }

    static std::string Tag() { return "scriptfuzz"; }

    kvtest::TempDir dir{"scriptfuzz"};
    std::string root;
    std::vector<std::string> seeds;
    kvtest::CPatchDBRedirect db{dir / "db\\KorvexDB.ini"};
};

unsigned EnvNumber(const char* name, unsigned fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? static_cast<unsigned>(std::strtoul(v, nullptr, 10)) : fallback;
}

}  // namespace

TEST_F(ScriptFuzz, MutatedScriptsEndWithoutCrashOrHang)
{
    const unsigned seconds = EnvNumber("KORVEX_SCRIPTFUZZ_SECONDS", 30);
    const unsigned seed = EnvNumber("KORVEX_SCRIPTFUZZ_SEED", 20261208);
    // KORVEX_SCRIPTFUZZ_ONLY=n runs mutant n alone (as reported by a failure).
    const int only = static_cast<int>(EnvNumber("KORVEX_SCRIPTFUZZ_ONLY", 0)) - 1;
    const unsigned hangSeconds = 120;
    g_currentScript = root + "\\..\\" + Tag() + "-current.ini";
    ::SetUnhandledExceptionFilter(ReportCrash);

    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        while (!done) {
            ::Sleep(500);
            long long started = g_runStartedMs;
            if (started != 0 && NowMs() - started > hangSeconds * 1000LL) {
                std::fprintf(stderr, "script fuzz: mutant %d ran for more than %u s; the script is kept at %s\n",
                             g_iteration.load(), hangSeconds, g_currentScript.c_str());
                std::fflush(stderr);
                ::TerminateProcess(::GetCurrentProcess(), 3);
            }
        }
    });

    const std::set<std::string> entriesBefore = UninstallEntries();
    CStats stats;
    const long long deadline = NowMs() + seconds * 1000LL;
    char cwd[MAX_PATH + 1] = {0};
    ::GetCurrentDirectoryA(MAX_PATH, cwd);
    for (int i = 0; only >= 0 ? i <= only : NowMs() < deadline; ++i) {
        // Each mutant depends on the seed and its number only, so that a
        // reported number can be run again alone.
        CMutator mutator(seeds, seed + static_cast<unsigned>(i) * 7919u);
        std::string text = mutator.Mutant();
        if (only >= 0 && i != only)
            continue;
        g_iteration = i;
        g_runStartedMs = NowMs();
        RunOne(text, stats);
        g_runStartedMs = 0;
        for (const std::string& name : UninstallEntries())
            if (!entriesBefore.count(name))
                kvtest::RegDeleteTree(HKEY_LOCAL_MACHINE, std::string(kUninstallKey) + "\\" + name,
                                      kvtest::kProgramView);
    }
    ::SetCurrentDirectoryA(cwd);
    done = true;
    watchdog.join();

    std::printf("script fuzz: %d executions (seed %u), %d crashes, %d hangs, %d faults; %d refused at start-up, "
                "%d installs succeeded, %d removals, %d expansions stopped, %d mutants skipped as reaching outside\n",
                stats.executions, seed, 0, 0, static_cast<int>(stats.faults.size()), stats.refusedAtStart,
                stats.installsSucceeded, stats.removals, stats.stopsLogged, stats.skipped);
    for (const std::string& f : stats.faults)
        ADD_FAILURE() << f;
    EXPECT_GT(stats.executions, 0);
    ::DeleteFileA(g_currentScript.c_str());
}
