// STUB(issue 5): replaced by the section type.
#include "sections/BackupFileSection.h"

int CHFS_BackupFileSection::Run(const std::string&, CHFS_ItemList&) { m_nExitCode = -2000; return -1; }
int CHFS_BackupFileSection::Rollback(const std::string&, CHFS_ItemList&) { return 0; }
int CHFS_BackupFileSection::GetExitCode() { return m_nExitCode; }
