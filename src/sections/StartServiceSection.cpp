// STUB(issue 7): replaced by the section type.
#include "sections/StartServiceSection.h"

int CHFS_StartServiceSection::Run(const std::string&, CHFS_ItemList&) { m_nExitCode = -2000; return -1; }
int CHFS_StartServiceSection::Rollback(const std::string&, CHFS_ItemList&) { return 0; }
int CHFS_StartServiceSection::GetExitCode() { return m_nExitCode; }
