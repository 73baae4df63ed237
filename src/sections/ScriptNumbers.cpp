#include "sections/ScriptNumbers.h"

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

uint32_t KvDecimalDword(const std::string& text)
{
    long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (v < -2147483648LL)
        v = -2147483648LL;
    if (v > 4294967295LL)
        v = 4294967295LL;
    return static_cast<uint32_t>(v);
}

uint32_t KvScriptDword(const std::string& data)
{
    if (data.compare(0, 2, "0x") != 0)
        return KvDecimalDword(data);
    unsigned long long v = 0;
    for (size_t i = 2; i < data.size(); ++i) {
        char c = data[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        v = v * 16 + static_cast<unsigned>(digit);
        if (v > 0xFFFFFFFFull) {
            v = 0xFFFFFFFFull;
            break;
        }
    }
    return static_cast<uint32_t>(v);
}
