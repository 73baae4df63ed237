#include "sections/StartServiceSection.h"

#include "interpreter/Interpreter.h"
#include "sections/ServiceItemLoop.h"

int CHFS_StartServiceSection::Run(const std::string& sectionName, CHFS_ItemList& list)
{
    return RunServiceItems(*this, *m_pInterpreter, kStartServiceKind, sectionName, list, m_nExitCode);
}

int CHFS_StartServiceSection::Rollback(const std::string& sectionName, CHFS_ItemList& list)
{
    return RollbackServiceItems(*this, *m_pInterpreter, kStartServiceKind, sectionName, list);
}

int CHFS_StartServiceSection::GetExitCode() { return m_nExitCode; }
