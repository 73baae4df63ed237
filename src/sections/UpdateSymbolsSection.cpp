// STUB(issue 4): replaced by the section type.
#include "sections/UpdateSymbolsSection.h"

int CHFS_UpdateSymbolsSection::Run(const std::string&, CHFS_ItemList&) { m_nExitCode = -2000; return -1; }
int CHFS_UpdateSymbolsSection::Rollback(const std::string&, CHFS_ItemList&) { return 0; }
int CHFS_UpdateSymbolsSection::GetExitCode() { return m_nExitCode; }
