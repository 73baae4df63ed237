// STUB(issue 5): replaced by the section type.
#include "sections/ReplaceTextSection.h"

int CHFS_ReplaceTextSection::Run(const std::string&, CHFS_ItemList&) { m_nExitCode = -2000; return -1; }
int CHFS_ReplaceTextSection::Rollback(const std::string&, CHFS_ItemList&) { return 0; }
int CHFS_ReplaceTextSection::GetExitCode() { return m_nExitCode; }
