// STUB(issue 3): replaced by the INI engine.
#include "interpreter/Interpreter.h"

std::string CHFS_Interpreter::ReadItem(const std::string& key, const std::string& section, bool, const std::string& file)
{
    char buf[4096] = {0};
    DWORD n = ::GetPrivateProfileStringA(section.c_str(), key.c_str(), KORVEX_MISSING, buf, sizeof buf,
                                         (file.empty() ? m_strScriptFile : file).c_str());
    return n ? ExpandSymbols(std::string(buf, n)) : std::string();
}
int CHFS_Interpreter::SetINIVariable(const std::string&, const std::string&, const std::string&, const std::string&) { return -1; }
std::string CHFS_Interpreter::ReadINIValue(const std::string&, const std::string&, const std::string&) { return KORVEX_MISSING; }
int CHFS_Interpreter::CreateTempINI(const std::string&, std::string&) { return -1; }
int CHFS_Interpreter::ApplyTempINI(const std::string&, const std::string&) { return -1; }
