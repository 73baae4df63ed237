#pragma once
// The number format of the CheckRequirement section: a value is cut at its
// second '.'; the part before (the whole value with fewer dots) is the main
// part, the part after the sub-part, each read as a decimal number (a text
// that is no number reads 0). Pure text work, shared with the native fuzzing
// build.
#include <string>

void KvSplitCheckNumber(const std::string& text, double& main, double& sub);
// Orders two values by main part, then sub-part: negative, 0 or positive.
int KvCompareCheckNumbers(const std::string& a, const std::string& b);
