// STUB(issue 4): replaced by the step runner.
#include "interpreter/MainSection.h"

CHFS_MainSection::CHFS_MainSection(CHFS_Interpreter* p) : CHFS_Section(p), m_nMainExitCode(-2000) {}
CHFS_MainSection::~CHFS_MainSection() {}
int CHFS_MainSection::Run(const std::string&, CHFS_ItemList&) { return -1; }
int CHFS_MainSection::Rollback(const std::string&, CHFS_ItemList&) { return 0; }
int CHFS_MainSection::GetExitCode() { return m_nMainExitCode; }
CHFS_Section* CHFS_MainSection::FindHandler(const std::string& t) const { auto it = m_handlers.find(t); return it == m_handlers.end() ? nullptr : it->second.get(); }
bool CHFS_MainSection::GetTypeName(const std::string&, const std::string&, std::string&) { return false; }
