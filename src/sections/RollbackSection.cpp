#include "sections/RollbackSection.h"

#include <memory>

#include "interpreter/Interpreter.h"
#include "interpreter/MainSection.h"

int CHFS_RollbackSection::Run(const std::string& sectionName, CHFS_ItemList&)
{
    m_pInterpreter->Log("CHFS_RollbackSection::Run('%s') ", sectionName.c_str());
    // The record named on the command line (/U:), not the one an install
    // would write: only a removal started for a record has one to replay.
    const std::string recordFile = m_pInterpreter->Settings().m_strRecordFile;
    if (recordFile.empty())
        return -1;
    SetSectionName(sectionName);

    // A list of its own: the running removal procedure's list must not see
    // these items, or its own rollback would undo them a second time.
    std::unique_ptr<CHFS_MainSection> main(new CHFS_MainSection(m_pInterpreter));
    std::unique_ptr<CHFS_ItemList> items(new CHFS_ItemList());
    m_nExitCode = -2000;
    int result = items->LoadRecord(m_pInterpreter, recordFile);
    if (result != 0)
        m_nExitCode = KV_EXIT_RECORD_DAMAGED;
    if (result == 0) {
        result = main->Rollback("ProductInstall.Main", *items);
        // Something the record says the patch changed is not put back: the
        // record must stay for another attempt, and the caller must know.
        if (result != 0)
            m_nExitCode = KV_EXIT_RESTORE_FAILED;
    }

    // What failed is a restore, not an answer of the script: a walk result of
    // -100 (a backup gone) must not read as KVHF_CONTINUE, -300 not as a
    // user's break. The error keys get the plain failure.
    if (result != 0)
        result = -1;
    std::string prefix;
    if (result == 0) {
        m_pInterpreter->Log("CHFS_RollbackSection::Run('%s') Ret=KVHF_CMD_ROLLBACK_SUCCESS;", sectionName.c_str());
        prefix = "Rollback.Success.";
    } else {
        prefix = "Rollback.Error.";
    }
    result = EventHandler(prefix, result);
    m_pInterpreter->Log("CHFS_RollbackSection::Run('%s') Ret=%d", sectionName.c_str(), result);
    return result;
}

int CHFS_RollbackSection::Rollback(const std::string& sectionName, CHFS_ItemList&)
{
    m_pInterpreter->Log("CHFS_RollbackSection::Rollback('%s') ", sectionName.c_str());
    return 0;
}
