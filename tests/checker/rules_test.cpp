// The checker's small judgements, case by case.
#include <gtest/gtest.h>

#include "checker/Rules.h"

using namespace kvcheck;

TEST(CheckerRules, ActionValues)
{
    struct {
        const char* value;
        ActionCheck expected;
        const char* meant;
    } cases[] = {
        {"KVHF_CONTINUE", ActionCheck::Keyword, ""},
        {"KVHF_UNINSTALL", ActionCheck::Keyword, ""},
        {"KVHF_GOTOSTEP(7", ActionCheck::Keyword, ""},  // the closing parenthesis is not needed
        {"KVHF_GOTOSTEP(12)", ActionCheck::Keyword, ""},
        {"kvhf_continue", ActionCheck::WrongCase, "KVHF_CONTINUE"},
        {"Kvhf_Retry", ActionCheck::WrongCase, "KVHF_RETRY"},
        {"kvhf_gotostep(3)", ActionCheck::WrongCase, "KVHF_GOTOSTEP(3)"},
        {"KVHF_GOTOSTEP()", ActionCheck::NoStepNumber, ""},
        {"KVHF_GOTOSTEP(x)", ActionCheck::NoStepNumber, ""},
        {"KVHF_CONTINUE ", ActionCheck::NotKeyword, ""},  // compared whole
        {"", ActionCheck::NotKeyword, ""},
        {"(empty)", ActionCheck::NotKeyword, ""},
        {"KVHF_GOTOSTEP", ActionCheck::NotKeyword, ""},
    };
    for (const auto& c : cases) {
        std::string meant;
        EXPECT_EQ(CheckAction(c.value, &meant), c.expected) << c.value;
        if (c.expected == ActionCheck::WrongCase) {
            EXPECT_EQ(meant, c.meant) << c.value;
        }
    }
}

TEST(CheckerRules, Counts)
{
    struct {
        const char* text;
        long long limit;
        CountCheck expected;
        long long value;
    } cases[] = {
        {"3", 65535, CountCheck::Ok, 3},       {"0", 65535, CountCheck::Ok, 0},
        {"007", 65535, CountCheck::Ok, 7},     {"4096", 4096, CountCheck::Ok, 4096},
        {"4097", 4096, CountCheck::TooLarge, 4097},
        {"99999999999999999999", 65535, CountCheck::TooLarge, 65536},
        {"(empty)", 65535, CountCheck::Missing, 0},
        {"", 65535, CountCheck::NotANumber, 0}, {"3x", 65535, CountCheck::NotANumber, 0},
        {"two", 65535, CountCheck::NotANumber, 0}, {"+3", 65535, CountCheck::NotANumber, 0},
        {"1 2", 65535, CountCheck::NotANumber, 0}, {"-1", 65535, CountCheck::Negative, -1},
    };
    for (const auto& c : cases) {
        long long value = -99;
        EXPECT_EQ(CheckCount(c.text, c.limit, value), c.expected) << c.text;
        if (c.expected == CountCheck::Ok || c.expected == CountCheck::TooLarge ||
            c.expected == CountCheck::Negative) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

TEST(CheckerRules, NumberedAndEventKeys)
{
    struct {
        const char* key;
        const char* stem;
        bool numbered;
        const char* digits;
        const char* rest;
    } numbered[] = {
        {"Reg12.Key", "Reg", true, "12", ".Key"},     {"service3", "Service", true, "3", ""},
        {"File01", "File", true, "01", ""},           {"ServiceCount", "Service", false, "", ""},
        {"File", "File", false, "", ""},              {"Step2x.Section", "Step", false, "", ""},
        {"FileGroupCount", "File", false, "", ""},    {"Step3.Error.Action", "Step", true, "3", ".Error.Action"},
    };
    for (const auto& c : numbered) {
        std::string digits, rest;
        ASSERT_EQ(SplitNumberedKey(c.key, c.stem, digits, rest), c.numbered) << c.key;
        if (c.numbered) {
            EXPECT_EQ(digits, c.digits) << c.key;
            EXPECT_EQ(rest, c.rest) << c.key;
        }
    }

    EventKey e;
    ASSERT_TRUE(ParseEventKey("step2.error.ACTION", "Step", true, e));
    EXPECT_EQ(e.digits, "2");
    EXPECT_EQ(e.outcome, "error");
    EXPECT_TRUE(IsAnswerSuffix(e.suffix));
    ASSERT_TRUE(ParseEventKey("Rollback.Success.OK", "Rollback", false, e));
    EXPECT_TRUE(IsAnswerSuffix(e.suffix));
    ASSERT_TRUE(ParseEventKey("Check1.Success.AskYesNo", "Check", true, e));
    EXPECT_FALSE(IsAnswerSuffix(e.suffix));
    EXPECT_FALSE(ParseEventKey("Step1.Description", "Step", true, e));
    EXPECT_FALSE(ParseEventKey("Step1.Error.", "Step", true, e));
}

TEST(CheckerRules, SymbolUses)
{
    struct {
        const char* text;
        std::vector<std::string> names;
    } cases[] = {
        {"%WINDIR%\\system32", {"WINDIR"}},
        {"%x41%%x42%%x41%", {"x41", "x42"}},
        {"100% sure, %NAME% too", {"NAME"}},  // "% sure, %" is no name
        {"%A%B%", {"A", "B"}},
        {"50% off", {}},
        {"%%", {}},
        {"%my-name%", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindSymbolUses(c.text), c.names) << c.text;
    EXPECT_TRUE(IsLiteralText("\"%TEMP%\""));
    EXPECT_FALSE(IsLiteralText("\"\""));
    EXPECT_FALSE(IsLiteralText("\"%TEMP%"));
}

TEST(CheckerRules, References)
{
    EXPECT_EQ(ReferenceMarker("[Reg:REG_SZ,HKLM,K]"), "Reg");
    // The loader tests the registry marker first, wherever it stands.
    EXPECT_EQ(ReferenceMarker("[INI:a,b,c] [Reg:x]"), "Reg");
    EXPECT_EQ(ReferenceMarker("[FileInfo:a,FileSize]"), "FileInfo");
    EXPECT_EQ(ReferenceMarker("[ServiceStatus:Spooler]"), "ServiceStatus");
    EXPECT_EQ(ReferenceMarker("Reg:REG_SZ,HKLM,K"), "");
    EXPECT_EQ(ReferenceMarker("[reg:REG_SZ,HKLM,K]"), "");

    std::string d;
    ASSERT_TRUE(ReferenceDescription("[Reg:REG_SZ,HKLM,K]", d));
    EXPECT_EQ(d, "Reg:REG_SZ,HKLM,K");
    EXPECT_FALSE(ReferenceDescription("[Reg:REG_SZ,HKLM,K", d));

    EXPECT_EQ(RegistryFields("Reg:REG_SZ,HKLM,K,V,x64,more"),
              (std::vector<std::string>{"REG_SZ", "HKLM", "K", "V", "x64,more"}));
    EXPECT_EQ(RegistryFields("Reg:REG_SZ,HKLM"), (std::vector<std::string>{"REG_SZ", "HKLM"}));
}

TEST(CheckerRules, SectionTypesAndKeywords)
{
    bool exact = false;
    ASSERT_NE(FindSectionType("CopyFileGroupTo", &exact), nullptr);
    EXPECT_TRUE(exact);
    const SectionType* t = FindSectionType("copyfilegroupto", &exact);
    ASSERT_NE(t, nullptr);
    EXPECT_FALSE(exact);
    EXPECT_STREQ(t->name, "CopyFileGroupTo");
    EXPECT_EQ(FindSectionType("CopyFiles"), nullptr);
    // 12 types in each procedure, and Rollback in the removal only: 25 in all.
    size_t rows = 0;
    for (const SectionType& s : SectionTypes())
        rows += s.removeOnly ? 1 : 2;
    EXPECT_EQ(rows, 25u);

    std::string keyword;
    const std::vector<std::string> list = {"KVHF_INPUT_EDITBOX", "KVHF_INPUT_FOLDER_SELECT"};
    EXPECT_EQ(MatchKeyword("KVHF_INPUT_EDITBOX", list), KeywordMatch::Exact);
    EXPECT_EQ(MatchKeyword("kvhf_input_editbox", list, &keyword), KeywordMatch::WrongCase);
    EXPECT_EQ(keyword, "KVHF_INPUT_EDITBOX");
    EXPECT_EQ(MatchKeyword("KVHF_INPUT_EDIT", list), KeywordMatch::None);
}

TEST(CheckerRules, NumbersTheReaderWouldMisread)
{
    struct {
        const char* text;
        bool decimal, dotted;
    } numbers[] = {
        {"12", true, true},       {" -7 ", true, true},   {"+3", true, true},     {"1e9", false, false},
        {"0x10", false, false},   {"5.0.2195", false, true}, {"12 MB", false, false}, {"", false, false},
        {"-", false, false},      {".", false, false},    {"1234567890123456789", false, true},
    };
    for (const auto& c : numbers) {
        EXPECT_EQ(IsPlainDecimal(c.text), c.decimal) << c.text;
        EXPECT_EQ(IsDottedNumber(c.text), c.dotted) << c.text;
    }
    for (const char* two : {"6.10", "6.05", "1.100.3"})
        EXPECT_TRUE(MinorPartHasTwoDigits(two)) << two;
    for (const char* one : {"6.1", "6", "10.1"})
        EXPECT_FALSE(MinorPartHasTwoDigits(one)) << one;

    struct {
        const char* text;
        DwordCheck expected;
        unsigned long long written;
    } dwords[] = {
        {"0x1F", DwordCheck::Ok, 31},
        {"0x00000000FFFFFFFF", DwordCheck::Ok, 0xFFFFFFFFull},  // leading zeros are no digits beyond 32 bits
        {"0x100000000", DwordCheck::Beyond32Bits, 0},
        {"0X1F", DwordCheck::UpperCaseX, 0},
        {"0x", DwordCheck::NotANumber, 0},
        {"0x1G", DwordCheck::NotANumber, 0},
        {"4294967295", DwordCheck::Ok, 0xFFFFFFFFull},
        {"-2147483648", DwordCheck::Ok, 0x80000000ull},
        {"4294967296", DwordCheck::Beyond32Bits, 0xFFFFFFFFull},
        {"-2147483649", DwordCheck::Beyond32Bits, 0x80000000ull},
        {"1e3", DwordCheck::NotANumber, 0},
    };
    for (const auto& c : dwords) {
        unsigned long long written = 12345;
        EXPECT_EQ(CheckDwordText(c.text, &written), c.expected) << c.text;
        if (c.expected == DwordCheck::Ok || c.expected == DwordCheck::Beyond32Bits) {
            EXPECT_EQ(written, c.written) << c.text;
        }
    }

    for (const char* full : {"C:\\x.ini", "c:/x.ini", "\\\\server\\share\\x.ini"})
        EXPECT_TRUE(IsFullPath(full)) << full;
    for (const char* relative : {"x.ini", "C:x.ini", "\\x.ini", "..\\x.ini", ""})
        EXPECT_FALSE(IsFullPath(relative)) << relative;
}
