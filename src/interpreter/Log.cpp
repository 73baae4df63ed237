// STUB(issue 2): replaced by the debug log.
#include "interpreter/Interpreter.h"
#include "app/UICallback.h"
#include <cstdarg>
#include <cstdio>

void CHFS_Interpreter::Log(const char* format, ...)
{
    char buf[2048];
    va_list ap; va_start(ap, format); vsnprintf(buf, sizeof buf, format, ap); va_end(ap);
    WriteLog(buf);
}
void CHFS_Interpreter::ShowDetail(const char* format, ...)
{
    char buf[2048];
    va_list ap; va_start(ap, format); vsnprintf(buf, sizeof buf, format, ap); va_end(ap);
    if (m_pCallback) m_pCallback->AppendDetail(std::string(buf) + "\r\n", 0);
}
void CHFS_Interpreter::WriteLog(const std::string& text) { if (m_pCallback) m_pCallback->WriteLog(text); }
