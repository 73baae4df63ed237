// STUB(issue 7): replaced by the variable references.
#include "interpreter/Interpreter.h"

std::string CHFS_Interpreter::GetRegVariable(const std::string&, const std::string&) { return std::string(); }
int CHFS_Interpreter::SpliteRegParameter(const std::string&, DWORD&, HKEY&, std::string&, std::string&, int&) { return -1; }
std::string CHFS_Interpreter::GetRegValue(DWORD, HKEY, const std::string&, const std::string&, int, const std::string&) { return KORVEX_MISSING; }
std::string CHFS_Interpreter::QueryRegValue(HKEY, DWORD, const std::string&, const std::string&) { return KORVEX_MISSING; }
std::string CHFS_Interpreter::GetINIVariable(const std::string&) { return std::string(); }
int CHFS_Interpreter::SpliteINIParameter(const std::string&, std::string&, std::string&, std::string&) { return -1; }
std::string CHFS_Interpreter::GetFileInfoVariable(const std::string&) { return std::string(); }
int CHFS_Interpreter::SpliteFileInfoParameter(const std::string&, std::string&, std::string&) { return -1; }
std::string CHFS_Interpreter::GetServiceStatusVariable(const std::string&) { return "0"; }
