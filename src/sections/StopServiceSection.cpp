#include "sections/StopServiceSection.h"

#include "interpreter/Interpreter.h"
#include "sections/ServiceItemLoop.h"

int CHFS_StopServiceSection::Run(const std::string& sectionName, CHFS_ItemList& list)
{
    return RunServiceItems(*this, *m_pInterpreter, kStopServiceKind, sectionName, list, m_nExitCode);
}

int CHFS_StopServiceSection::Rollback(const std::string& sectionName, CHFS_ItemList& list)
{
    return RollbackServiceItems(*this, *m_pInterpreter, kStopServiceKind, sectionName, list);
}

int CHFS_StopServiceSection::GetExitCode() { return m_nExitCode; }
