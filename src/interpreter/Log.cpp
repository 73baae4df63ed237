// The interpreter's two writers: time-stamped log lines and detail lines.
#include "interpreter/Interpreter.h"

#include <cstdarg>
#include <cstdio>

#include "symbols/Builtins.h"

namespace {

// Most lines fit the classic 2048-character buffer; a longer one (a long
// path list, a big registry value) grows the buffer instead of being cut,
// since the end of such a line is usually the part that explains a failure.
const size_t kLogBufferSize = 2048;
// A C runtime that reports truncation as -1 instead of the needed length
// makes us double the buffer; this bounds that search.
const size_t kLogBufferLimit = 16u * 1024u * 1024u;

// Appends the formatted message to out.
void AppendFormatted(std::string& out, const char* format, va_list args)
{
    char local[kLogBufferSize];
    size_t room = kLogBufferSize > out.size() ? kLogBufferSize - out.size() : 1;
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(local, room, format, copy);
    va_end(copy);
    if (n >= 0 && static_cast<size_t>(n) < room) {
        out.append(local, static_cast<size_t>(n));
        return;
    }
    size_t size = n >= 0 ? static_cast<size_t>(n) + 1 : room * 2;
    while (size <= kLogBufferLimit) {
        std::string big(size, '\0');
        va_copy(copy, args);
        n = vsnprintf(&big[0], size, format, copy);
        va_end(copy);
        if (n >= 0 && static_cast<size_t>(n) < size) {
            big.resize(static_cast<size_t>(n));
            out += big;
            return;
        }
        size = n >= 0 ? static_cast<size_t>(n) + 1 : size * 2;
    }
    // The format itself is broken: keep its text so the line still says
    // where it came from.
    out += format;
}

}  // namespace

void CHFS_Interpreter::Log(const char* format, ...)
{
    std::string line = "[" + GetDateString() + ":" + GetTimeString() + "]";
    va_list args;
    va_start(args, format);
    AppendFormatted(line, format, args);
    va_end(args);
    WriteLog(line);
}

void CHFS_Interpreter::ShowDetail(const char* format, ...)
{
    std::string line;
    va_list args;
    va_start(args, format);
    AppendFormatted(line, format, args);
    va_end(args);
    line += "\r\n";
    if (m_pCallback)
        m_pCallback->AppendDetail(line, 0);
}

void CHFS_Interpreter::AppendDetail(const std::string& text, int rollback)
{
    if (m_pCallback)
        m_pCallback->AppendDetail(text, rollback);
}

void CHFS_Interpreter::AppendDetail(const CHFS_UIText& text, int rollback)
{
    if (m_pCallback)
        m_pCallback->AppendDetailW(text, rollback);
}

CHFS_LogHold::CHFS_LogHold(CHFS_Interpreter* pInterpreter) : m_pCallback(pInterpreter->GetCallback())
{
    if (m_pCallback)
        m_pCallback->HoldLog(true);
}

CHFS_LogHold::~CHFS_LogHold()
{
    if (m_pCallback)
        m_pCallback->HoldLog(false);
}

void CHFS_Interpreter::WriteLog(const std::string& text)
{
    if (m_pCallback)
        m_pCallback->WriteLog(text);
}
