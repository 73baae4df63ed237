#pragma once
// The small judgements of the package checker: keywords, counts, numbered
// keys, symbol uses and the section types with the keys each one reads.
// Pure functions of their text arguments, so each can be tested alone.
#include <string>
#include <vector>

namespace kvcheck {

bool EqualsNoCase(const std::string& a, const std::string& b);
bool StartsWithNoCase(const std::string& text, const std::string& prefix);
std::string Lower(const std::string& text);

// How a value compares with a list of keywords that the installer compares
// exactly: equal to one, equal to one only without regard to case (the
// keyword is handed back), or none.
enum class KeywordMatch { Exact, WrongCase, None };
KeywordMatch MatchKeyword(const std::string& value, const std::vector<std::string>& keywords,
                          std::string* keyword = nullptr);

// An answer of an event key (Action, Default, Yes, No, Retry, Cancel, OK).
enum class ActionCheck {
    Keyword,       // one the event handler takes
    WrongCase,     // a keyword in another case: read as no keyword (-1)
    NoStepNumber,  // KVHF_GOTOSTEP( without digits: step 0 ends the run
    NotKeyword     // no keyword at all: -1
};
// expected receives the keyword meant when the case is wrong.
ActionCheck CheckAction(const std::string& value, std::string* expected = nullptr);

// A count key's value as the installer reads it (after expansion).
enum class CountCheck {
    Ok,
    Missing,     // "(empty)": no item runs
    NotANumber,  // not a plain decimal number (sign, letters, blanks inside)
    Negative,    // no item runs
    TooLarge     // beyond the limit the installer keeps
};
CountCheck CheckCount(const std::string& text, long long limit, long long& value);

// A whole decimal integer as the installer's readers want it: blanks around
// it, an optional sign, digits. Anything else ("1e9", "0x10", "12 MB") is
// read as the digits it starts with, or 0.
bool IsPlainDecimal(const std::string& text);
// A CheckRequirement or FileVersion number: an optional sign, digits and
// dots, blanks around it.
bool IsDottedNumber(const std::string& text);
// A FileVersion "major.minor" whose minor part has two digits or more:
// read as a decimal number, 6.10 is 6.1.
bool MinorPartHasTwoDigits(const std::string& version);

// How UpdateRegistry's REG_DWORD data reads: hexadecimal after a lower-case
// "0x", otherwise a signed decimal number.
enum class DwordCheck {
    Ok,
    UpperCaseX,   // "0X1F": read as decimal, 0
    NotANumber,   // other text: the leading digits, or 0
    Beyond32Bits  // held at the nearest end of 32 bits
};
DwordCheck CheckDwordText(const std::string& text, unsigned long long* read = nullptr);

// A full path: a drive and a backslash, or a network path.
bool IsFullPath(const std::string& path);

// "Reg12.Key" with stem "Reg" gives digits "12", rest ".Key"; "Service3"
// with stem "Service" gives "3" and "". The stem matches without regard to
// case, as key names do. False when the key is no numbered key of the stem.
bool SplitNumberedKey(const std::string& key, const std::string& stem, std::string& digits, std::string& rest);

// An event key: prefix (stem and number, or stem alone when not numbered),
// then ".Success." or ".Error.", then the suffix. Case as key names.
struct EventKey {
    std::string digits;   // empty for an unnumbered stem
    std::string outcome;  // "Success" or "Error" as written
    std::string suffix;   // "Action", "AskYesNo", ... as written
};
bool ParseEventKey(const std::string& key, const std::string& stem, bool numbered, EventKey& out);
// Whether a suffix holds an action keyword (Action, Default, Yes, No, Retry,
// Cancel, OK; any case, as key names match).
bool IsAnswerSuffix(const std::string& suffix);

// The names of the %NAME% uses in a text (letters, digits, underscores),
// in order, each once.
std::vector<std::string> FindSymbolUses(const std::string& text);
// A text longer than two characters that starts and ends with a double
// quote is taken literally by the expansion: nothing in it is used.
bool IsLiteralText(const std::string& text);

// The reference marker the symbol loader applies to a value: "Reg",
// "FileInfo", "INI", "ServiceStatus" (in that order of testing), or empty.
std::string ReferenceMarker(const std::string& value);
// The description of a reference: from the second character to the last
// ']'. False when there is no ']'.
bool ReferenceDescription(const std::string& value, std::string& description);
// Fields of a registry description after "Reg:", split at commas (at most
// five: type, root, key, value name, flag with any further commas).
std::vector<std::string> RegistryFields(const std::string& description);

// One section type and the keys it reads.
struct SectionType {
    const char* name;      // type word, e.g. "CheckRequirement"
    const char* countKey;  // "CheckCount", or null for a type without items
    const char* stem;      // "Check": items are stem%d and stem%d.<key>
    bool anyRequired;      // an item needs one of the required keys, not all
    std::vector<std::string> required;  // per item: "" the bare stem%d, ".Key" a key stem%d.Key
    bool itemEvents;       // stem%d.Success. and stem%d.Error. are read
    bool removeOnly;       // only ProductRemove.<name> exists
};
const std::vector<SectionType>& SectionTypes();
// The type for a type word (the text between the procedure word and the
// next dot); exactCase tells whether it was written as the type is.
const SectionType* FindSectionType(const std::string& word, bool* exactCase = nullptr);
// The stem of the step runner's own numbered keys.
const SectionType& ProcedureType();
// The keys of a file group section "FileGroup%d".
const SectionType& FileGroupType();

}  // namespace kvcheck
