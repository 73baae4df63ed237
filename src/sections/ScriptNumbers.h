#pragma once
// The number formats of the script, pure text work shared with the native
// fuzzing build.
//
// CheckRequirement: a value is cut at its
// second '.'; the part before (the whole value with fewer dots) is the main
// part, the part after the sub-part, each read as a decimal number (a text
// that is no number reads 0).
#include <cstdint>
#include <string>

void KvSplitCheckNumber(const std::string& text, double& main, double& sub);
// Orders two values by main part, then sub-part: negative, 0 or positive.
int KvCompareCheckNumbers(const std::string& a, const std::string& b);

// UpdateRegistry's REG_DWORD data: hexadecimal after a "0x" (lower-case x, at
// the very start), otherwise a signed decimal number; missing digits give 0,
// and numbers beyond 32 bits are held at the nearest end.
uint32_t KvScriptDword(const std::string& data);
// A REG_DWORD from record text: signed decimal, or the unsigned range.
uint32_t KvDecimalDword(const std::string& text);
