// STUB(issue 7): replaced by the section type.
#include "sections/StopServiceSection.h"

int CHFS_StopServiceSection::Run(const std::string&, CHFS_ItemList&) { m_nExitCode = -2000; return -1; }
int CHFS_StopServiceSection::Rollback(const std::string&, CHFS_ItemList&) { return 0; }
int CHFS_StopServiceSection::GetExitCode() { return m_nExitCode; }
