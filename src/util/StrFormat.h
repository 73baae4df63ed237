#pragma once
// printf-style formatting into a string of any length, for texts that are
// handed on whole (raw log lines, registry values). Formats are program text
// only; script text always goes through "%s".
#include <cstdarg>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <string>

inline std::string KvFormatV(const char* format, va_list ap)
{
    char small[512];
    va_list copy;
    va_copy(copy, ap);
    int n = vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0)
        return std::string();
    if (static_cast<size_t>(n) < sizeof small)
        return std::string(small, static_cast<size_t>(n));
    std::string out(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(&out[0], out.size(), format, ap);
    out.resize(static_cast<size_t>(n));
    return out;
}

inline std::string KvFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline std::string KvFormat(const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    std::string s = KvFormatV(format, ap);
    va_end(ap);
    return s;
}

// Decimal value of a count or number key the way the script's counts are
// read: leading blanks and a sign allowed, "(empty)" and other text give 0,
// out-of-range values are clamped instead of wrapping.
inline int KvParseInt(const std::string& text)
{
    long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return static_cast<int>(v);
}

// The text without the blanks and tabs at its ends, as the profile functions
// take names and values.
inline std::string KvTrimBlanks(const std::string& text)
{
    size_t b = text.find_first_not_of(" \t");
    if (b == std::string::npos)
        return std::string();
    size_t e = text.find_last_not_of(" \t");
    return text.substr(b, e - b + 1);
}
