#include "sections/CheckNumber.h"

#include <cstdlib>

namespace {

// The decimal number at the start of a text (blanks, sign, digits, one
// fraction); anything else, and a text without digits, reads as 0. Only
// these characters reach the converter, so no hexadecimal, exponent or
// "inf" can slip in.
double DecimalValue(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    std::string clean;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        clean += text[i++];
    bool digits = false;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        clean += text[i++];
        digits = true;
    }
    if (i < text.size() && text[i] == '.') {
        clean += text[i++];
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            clean += text[i++];
            digits = true;
        }
    }
    return digits ? std::strtod(clean.c_str(), nullptr) : 0.0;
}

}  // namespace

void KvSplitCheckNumber(const std::string& text, double& main, double& sub)
{
    size_t first = text.find('.');
    size_t second = first == std::string::npos ? std::string::npos : text.find('.', first + 1);
    if (second == std::string::npos) {
        main = DecimalValue(text);
        sub = 0.0;
    } else {
        main = DecimalValue(text.substr(0, second));
        sub = DecimalValue(text.substr(second + 1));
    }
}

int KvCompareCheckNumbers(const std::string& a, const std::string& b)
{
    double mainA, subA, mainB, subB;
    KvSplitCheckNumber(a, mainA, subA);
    KvSplitCheckNumber(b, mainB, subB);
    if (mainA != mainB)
        return mainA < mainB ? -1 : 1;
    if (subA != subB)
        return subA < subB ? -1 : 1;
    return 0;
}
