#include "Fixture.h"
#include "ExpansionReference.h"

#include <random>

namespace {

bool NaiveExpand(const CHFS_Interpreter& in, const std::string& text, std::string& out, int maxRounds = 20000)
{
    return kvtest::ReferenceExpand(in.m_globalSymbols, in.m_scriptSymbols, text, out, maxRounds);
}

}  // namespace

class Expansion : public InterpreterTest {
protected:
    void SetUp() override
    {
        interp->SetGlobalSymbol("WINDIR", "C:\\WINDOWS");
        interp->SetGlobalSymbol("TEMP", "C:\\TEMP\\");
    }
};

TEST_F(Expansion, NamesAreReplacedCaseSensitively)
{
    EXPECT_EQ(Expand("%WINDIR%\\system32"), "C:\\WINDOWS\\system32");
    EXPECT_EQ(Expand("%windir%\\system32"), "%windir%\\system32");
    EXPECT_EQ(Expand("%UNDEFINED%\\a"), "%UNDEFINED%\\a");
    EXPECT_EQ(Expand("abc%"), "abc%");
    EXPECT_EQ(Expand("%"), "%");
    EXPECT_EQ(Expand(""), "");
    // Percent signs pair with the next one: "50% of " is no name, "%WINDIR%" is.
    EXPECT_EQ(Expand("50% of %WINDIR%"), "50% of C:\\WINDOWS");
    EXPECT_EQ(Expand("%%WINDIR%"), "%C:\\WINDOWS");
    EXPECT_EQ(Expand("%WINDIR%%WINDIR%"), "C:\\WINDOWSC:\\WINDOWS");
}

TEST_F(Expansion, CharacterSymbols)
{
    interp->InitBuiltinSymbols();
    EXPECT_EQ(Expand("%x41%%x42%"), "AB");
    EXPECT_EQ(Expand("%X41%"), "%X41%");
    EXPECT_EQ(Expand("%x00%"), "%x00%");
    EXPECT_EQ(Expand("%xff%"), std::string(1, '\xff'));
    EXPECT_EQ(Expand("%x0d%%x0a%"), "\r\n");
    // A percent sign made by a symbol pairs with the text's next one.
    EXPECT_EQ(Expand("%x25%x41%"), "A");
}

TEST_F(Expansion, SeamBackslashes)
{
    interp->SetSymbol("D", "C:\\Dir\\");
    interp->SetSymbol("E", "");
    EXPECT_EQ(Expand("%D%\\file"), "C:\\Dir\\file");
    // The doubled backslash at the very end of the text stays.
    EXPECT_EQ(Expand("x%D%\\"), "xC:\\Dir\\\\");
    // One character before the end it is joined.
    EXPECT_EQ(Expand("%D%\\a"), "C:\\Dir\\a");
    EXPECT_EQ(Expand("%D%\\\\"), "C:\\Dir\\\\");
    // An empty value: the characters around the removed pattern meet.
    EXPECT_EQ(Expand("a\\%E%\\b"), "a\\b");
    EXPECT_EQ(Expand("a\\%E%\\"), "a\\\\");
    EXPECT_EQ(Expand("%E%\\\\x"), "\\\\x");
    // Only the seam after the value counts, not the one before it.
    interp->SetSymbol("F", "\\f");
    EXPECT_EQ(Expand("a\\%F%x"), "a\\\\fx");
    EXPECT_EQ(Expand("%TEMP%\\Korvex.log"), "C:\\TEMP\\Korvex.log");
}

TEST_F(Expansion, QuoteRule)
{
    EXPECT_EQ(Expand("\"%TEMP%\""), "%TEMP%");
    EXPECT_EQ(Expand("\"\""), "\"\"");
    EXPECT_EQ(Expand("\"a\""), "a");
    EXPECT_EQ(Expand("\"%TEMP%"), "\"C:\\TEMP\\");
    // Text that becomes fully quoted is unquoted and not expanded further.
    interp->SetSymbol("Q", "\"%WINDIR%\"");
    EXPECT_EQ(Expand("%Q%"), "%WINDIR%");
    interp->SetSymbol("L", "\"%WINDIR%");
    EXPECT_EQ(Expand("%L%\""), "%WINDIR%");
}

TEST_F(Expansion, TableOrderDecidesNotPosition)
{
    // A comes before B in the table, so its pattern is replaced first even
    // though %B% starts further left and overlaps it.
    interp->SetSymbol("A", "1");
    interp->SetSymbol("B", "2");
    EXPECT_EQ(Expand("%B%A%"), "%B1");
    // The global table is tried before the script table, whatever the names.
    interp->SetGlobalSymbol("Z", "g");
    EXPECT_EQ(Expand("%A%Z%"), "%Ag");
    // A global name hides the script name written the same way.
    interp->SetSymbol("WINDIR", "script");
    EXPECT_EQ(Expand("%WINDIR%"), "C:\\WINDOWS");
    // Ordering is by unsigned bytes: 'a' (0x61) after 'Z', 0xE9 after both.
    interp->SetSymbol("a", "lower");
    interp->SetSymbol("\xe9", "high");
    EXPECT_EQ(Expand("%\xe9%a%"), "%\xe9lower");
}

TEST_F(Expansion, ValuesExpandInLaterRounds)
{
    interp->SetSymbol("A", "%B%");
    EXPECT_EQ(Expand("%A%"), "%B%");
    interp->SetSymbol("B", "x");
    EXPECT_EQ(Expand("%A%"), "x");
    interp->SetSymbol("DEEP1", "%DEEP2%\\1");
    interp->SetSymbol("DEEP2", "%DEEP3%\\2");
    interp->SetSymbol("DEEP3", "%WINDIR%");
    EXPECT_EQ(Expand("%DEEP1%"), "C:\\WINDOWS\\2\\1");
}

TEST_F(Expansion, EmptyAndPercentNames)
{
    // A section line "=v" stores the empty name; its pattern is "%%".
    interp->SetSymbol("", "E");
    EXPECT_EQ(Expand("100%% sure"), "100E sure");
    interp->SetSymbol("a%b", "P");
    EXPECT_EQ(Expand("x%a%b%y"), "xPy");
}

class SelfReference : public InterpreterTest {};

TEST_F(SelfReference, DirectStopsAndNamesTheSymbol)
{
    interp->SetSymbol("A", "%A%");
    EXPECT_EQ(Expand("%A%"), "%A%");
    EXPECT_TRUE(cb.LogContains("'A' refers to itself")) << cb.LogText();

    interp->SetSymbol("G", "x%G%");
    EXPECT_EQ(Expand("[%G%]"), "[x%G%]");
    EXPECT_TRUE(cb.LogContains("'G' refers to itself"));
}

TEST_F(SelfReference, MutualPairStops)
{
    interp->SetSymbol("P", "a%Q%");
    interp->SetSymbol("Q", "b%P%");
    std::string out = Expand("%P%");
    EXPECT_EQ(out, "ab%P%");
    EXPECT_TRUE(cb.LogContains("'P' refers to itself")) << cb.LogText();
    EXPECT_EQ(kvtest::CountOf(cb.LogText(), "refers to itself"), 1u);
}

TEST_F(SelfReference, GrowingCycleThroughGlobalDoesNotExhaustMemory)
{
    interp->SetGlobalSymbol("R", "%S%%S%");
    interp->SetSymbol("S", "%R%");
    std::string out = Expand("%R%");
    EXPECT_LT(out.size(), 100u);
    EXPECT_TRUE(cb.LogContains("refers to itself"));
}

TEST_F(SelfReference, FiniteExpansionsAreNotCut)
{
    // The same name many times over, and long chains, are not cycles.
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "%W%;";
    interp->SetSymbol("W", "w");
    EXPECT_EQ(Expand(text).size(), 400u);
    for (int i = 0; i < 60; ++i)
        interp->SetSymbol("C" + std::to_string(i), i == 59 ? "end" : "%C" + std::to_string(i + 1) + "%");
    EXPECT_EQ(Expand("%C0%"), "end");
    // Doubling ten times: 1024 copies.
    for (int i = 0; i < 10; ++i)
        interp->SetSymbol("T" + std::to_string(i), "%T" + std::to_string(i + 1) + "%%T" + std::to_string(i + 1) + "%");
    interp->SetSymbol("T10", "z");
    EXPECT_EQ(Expand("%T0%"), std::string(1024, 'z'));
    // A value ending in a lone percent sign next to text that completes a
    // pattern of the same name is no self-reference.
    interp->SetSymbol("M", "100%");
    EXPECT_EQ(Expand("%M%M%"), "100100%");
    EXPECT_FALSE(cb.LogContains("refers to itself")) << cb.LogText();
}

// What looks like a cycle (the pattern made entirely by expanding the same
// name) can still end: the growing text spells a name that comes first and
// eats a percent sign, or two values of the name side by side read its
// pattern once and then never again. Such an expansion runs to its end.
TEST_F(SelfReference, SuspectedCycleThatEndsRunsToItsEnd)
{
    interp->SetSymbol("N", "a%N%");
    interp->SetSymbol("Aaa", "x");
    EXPECT_EQ(Expand("%A%N%"), "xN%");
    interp->SetSymbol("\\", "\\%");
    EXPECT_EQ(Expand("%\\%%\\%"), "\\\\%");
    EXPECT_FALSE(cb.LogContains("refers to itself")) << cb.LogText();
    // A real cycle still ends where it was first seen.
    interp->SetSymbol("G", "x%G%");
    EXPECT_EQ(Expand("[%G%]"), "[x%G%]");
    EXPECT_TRUE(cb.LogContains("'G' refers to itself"));
}

// The fast search must give exactly what trying every name in order gives.
TEST_F(InterpreterTest, ExpansionMatchesNaiveReferenceOnRandomInput)
{
    std::mt19937 rng(12345);
    const std::string alphabet = "ab%\\\"c";
    auto randomText = [&](size_t maxLen) {
        std::string s;
        size_t n = rng() % (maxLen + 1);
        for (size_t i = 0; i < n; ++i)
            s += alphabet[rng() % alphabet.size()];
        return s;
    };
    int compared = 0, stopped = 0, stoppedButFinite = 0;
    for (int round = 0; round < 300; ++round) {
        kvtest::CRecordingCallback rcb;
        CHFS_Interpreter in(&rcb, "setup.ini");
        std::vector<std::string> names = {"a", "b", "ab", "ba", "c", "a%b", ""};
        for (const std::string& n : names) {
            if (rng() % 3 == 0)
                in.SetGlobalSymbol(n, randomText(5));
            if (rng() % 2 == 0)
                in.SetSymbol(n, randomText(5));
        }
        for (int t = 0; t < 20; ++t) {
            std::string text;
            for (int k = 0; k < 4; ++k)
                text += (rng() % 2 ? "%" + names[rng() % names.size()] + "%" : randomText(3));
            rcb.logLines.clear();
            std::string fast = in.ExpandSymbols(text);
            std::string naive;
            if (rcb.LogContains("expansion stopped")) {
                ++stopped;
                // A stop is only right where the reference goes on and on.
                if (NaiveExpand(in, text, naive, 300))
                    ++stoppedButFinite;
                continue;
            }
            bool ended = NaiveExpand(in, text, naive);
            ASSERT_TRUE(ended) << "text '" << text << "' ended without a stop but the reference loops";
            ASSERT_EQ(fast, naive) << "text '" << text << "'";
            ++compared;
        }
    }
    EXPECT_GT(compared, 4000);
    EXPECT_EQ(stoppedButFinite, 0);
    EXPECT_GT(stopped, 0);
    std::cout << compared << " compared, " << stopped << " stopped as self-referring, " << stoppedButFinite
              << " of them finite\n";
}

// Long texts with many references into values that hold references, '%',
// backslashes at the seams, quotes and empty values: many splices per
// expansion, left to right and back again.
TEST_F(InterpreterTest, ExpansionMatchesReferenceOnLongTexts)
{
    std::mt19937 rng(2024);
    const std::string letters = "ab%\\\"c";
    const std::vector<std::string> names = {"a", "b", "ab", "ba", "c", "a%b", "", "%", "\\", "\"", "zz", "\xe9"};
    auto piece = [&](size_t maxLen) {
        std::string s;
        for (size_t i = 0, n = rng() % (maxLen + 1); i < n; ++i)
            s += letters[rng() % letters.size()];
        return s;
    };
    auto mixed = [&](size_t parts, size_t pieceLen) {
        std::string s;
        for (size_t i = 0, n = rng() % (parts + 1); i < n; ++i)
            s += rng() % 2 ? "%" + names[rng() % names.size()] + "%" : piece(pieceLen);
        return s;
    };
    int compared = 0, splices = 0, stoppedButFinite = 0;
    for (int round = 0; round < 120; ++round) {
        kvtest::CRecordingCallback rcb;
        CHFS_Interpreter in(&rcb, "setup.ini");
        for (const std::string& n : names) {
            if (rng() % 4 == 0)
                in.SetGlobalSymbol(n, mixed(2, 3));
            if (rng() % 2 == 0)
                in.SetSymbol(n, rng() % 5 == 0 ? std::string() : mixed(3, 3));
        }
        for (int t = 0; t < 8; ++t) {
            std::string text = mixed(40, 4);
            rcb.logLines.clear();
            std::string fast = in.ExpandSymbols(text);
            std::string naive;
            bool ended = NaiveExpand(in, text, naive, 250);
            if (rcb.LogContains("expansion stopped")) {
                stoppedButFinite += ended && rcb.LogContains("refers to itself");
                continue;
            }
            if (!ended)
                continue;
            ASSERT_EQ(fast, naive) << "text '" << text << "'";
            ++compared;
            splices += static_cast<int>(kvtest::CountOf(text, "%"));
        }
    }
    EXPECT_GT(compared, 300);
    EXPECT_EQ(stoppedButFinite, 0);
    std::cout << compared << " long texts compared (" << splices << " percent signs)\n";
}

TEST_F(InterpreterTest, LongValueWithManyReferences)
{
    interp->InitBuiltinSymbols();
    for (int i = 0; i < 40; ++i)
        interp->SetSymbol("SYM" + std::to_string(i), "v" + std::to_string(i));
    std::string text, expected;
    while (text.size() < 4000) {
        int i = static_cast<int>(text.size() / 7) % 40;
        text += "%SYM" + std::to_string(i) + "%-pad-";
        expected += "v" + std::to_string(i) + "-pad-";
    }
    std::string naive;
    ASSERT_TRUE(NaiveExpand(*interp, text, naive, 100000));
    EXPECT_EQ(naive, expected);
    EXPECT_EQ(Expand(text), expected);
}
