// STUB(issue 6): replaced by the section type.
#include "sections/RollbackSection.h"

int CHFS_RollbackSection::Run(const std::string&, CHFS_ItemList&) { m_nExitCode = -2000; return -1; }
int CHFS_RollbackSection::Rollback(const std::string&, CHFS_ItemList&) { return 0; }
int CHFS_RollbackSection::GetExitCode() { return m_nExitCode; }
