#include "interpreter/RunOutcome.h"

#include "interpreter/Interpreter.h"
#include "interpreter/Section.h"

int KvConventionalExitCode(bool succeeded, int result, int exitCode, bool needReboot)
{
    if (succeeded)
        return needReboot ? KV_CONVENTIONAL_REBOOT_REQUIRED : KV_CONVENTIONAL_SUCCESS;
    // A section whose item list is full answers -300 as well; nobody broke
    // off then, the run simply could not go on.
    if (result == KVHF_USERBREAK && exitCode % 100 != -99)
        return KV_CONVENTIONAL_USER_BREAK;
    return KV_CONVENTIONAL_FAILURE;
}

void CHFS_Interpreter::NoteFailedStep(int step, const std::string& section)
{
    m_nFailedStep = step;
    m_strFailedSection = section;
}

CHFS_RunOutcome CHFS_Interpreter::Outcome(int result) const
{
    CHFS_RunOutcome outcome;
    outcome.m_nExitCode = m_nExitCode;
    outcome.m_bRemoval = m_bRemovalAsked;
    const bool switched = (m_settings.m_bUninstall != 0) != m_bRemovalAsked;
    outcome.m_bSuccess = result >= 0 && m_nExitCode == 0 && !switched;
    // A failed run may need the restart too: its rollback can only have
    // staged a file for the next start.
    outcome.m_bRebootRequired = GetSymbol("NEED_REBOOT") == "TRUE";
    outcome.m_nConventionalCode =
        KvConventionalExitCode(outcome.m_bSuccess, result, m_nExitCode, outcome.m_bRebootRequired);
    if (!outcome.m_bSuccess) {
        outcome.m_nFailedStep = m_nFailedStep;
        outcome.m_strFailedSection = m_strFailedSection;
    }
    return outcome;
}
