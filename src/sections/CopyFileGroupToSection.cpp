// STUB(issue 5): replaced by the section type.
#include "sections/CopyFileGroupToSection.h"

int CHFS_CopyFileGroupToSection::Run(const std::string&, CHFS_ItemList&) { m_nExitCode = -2000; return -1; }
int CHFS_CopyFileGroupToSection::Rollback(const std::string&, CHFS_ItemList&) { return 0; }
int CHFS_CopyFileGroupToSection::GetExitCode() { return m_nExitCode; }
