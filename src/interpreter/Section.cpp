// STUB(issue 4): replaced by the section base and event handler.
#include "interpreter/Section.h"
#include "interpreter/Interpreter.h"

CHFS_Section::CHFS_Section(CHFS_Interpreter* p) : m_pInterpreter(p), m_nExitCode(-2000) {}
int CHFS_Section::Run(const std::string&, CHFS_ItemList&) { m_nExitCode = -2000; return 0; }
int CHFS_Section::Rollback(const std::string&, CHFS_ItemList&) { return 0; }
int CHFS_Section::GetExitCode() { return m_nExitCode; }
std::string CHFS_Section::ReadKey(const std::string& key, bool warn) { return m_pInterpreter->ReadItem(key, m_strSectionName, warn); }
int CHFS_Section::EventHandler(const std::string&, int old) { return old; }
int CHFS_Section::ParseAction(const std::string&) { return -1; }
