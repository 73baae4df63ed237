#pragma once
// The name=value lines of a section as the profile reader returns a whole
// section: each line ended by a NUL, the list by a further NUL. Shared by the
// symbol-section loader and the native fuzzing build.
#include <cstring>
#include <string>

// fn(name, raw value) for each line that holds '=', in order: the name is the
// text before the first '=', the value the text after it. Reads nothing at
// or beyond buf + length, even when the last line has no NUL there.
template <class Fn>
void KvForEachSectionLine(const char* buf, size_t length, Fn fn)
{
    const char* p = buf;
    const char* end = buf + length;
    while (p < end && *p) {
        size_t n = strnlen(p, static_cast<size_t>(end - p));
        std::string line(p, n);
        p += n + 1;
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        fn(line.substr(0, eq), line.substr(eq + 1));
    }
}
