// STUB(issue 3): replaced by the symbol tables and expansion.
#include "interpreter/Interpreter.h"

int CHFS_Interpreter::SetGlobalSymbol(const std::string& n, const std::string& v) { m_globalSymbols.Set(n, v); return 0; }
int CHFS_Interpreter::SetSymbol(const std::string& n, const std::string& v) { m_scriptSymbols.Set(n, v); return 0; }
int CHFS_Interpreter::SetPatchInfo(const std::string& n, const std::string& v) { m_patchInfo.Set(n, v); return 0; }
int CHFS_Interpreter::UpdateSymbol(const std::string& n, const std::string& v)
{ if (!m_scriptSymbols.Contains(n)) return -1; return SetSymbol(n, v); }
std::string CHFS_Interpreter::GetSymbol(const std::string& n) const
{ const std::string* p = m_globalSymbols.Find(n); if (!p) p = m_scriptSymbols.Find(n); return p ? *p : std::string(); }
std::string CHFS_Interpreter::GetPatchInfo(const std::string& n) const { const std::string* p = m_patchInfo.Find(n); return p ? *p : std::string(); }
std::string CHFS_Interpreter::ExpandSymbols(const std::string& text) { return text; }
int CHFS_Interpreter::InitVariables(const std::string&) { return 0; }
int CHFS_Interpreter::SaveSymbols(const std::string&) { return 0; }
int CHFS_Interpreter::LoadSymbols(const std::string&) { return 0; }
std::string CHFS_Interpreter::ResolveVariableReference(const std::string& value, const std::string&) { return value; }
int CHFS_Interpreter::LoadSymbolSection(const std::string&, int, const std::string&) { return 0; }
