#include "interpreter/MainSection.h"

#include <climits>
#include <cstdlib>
#include <set>

#include "interpreter/Interpreter.h"
#include "util/StrFormat.h"
#include "sections/BackupFileSection.h"
#include "sections/CheckVersionSection.h"
#include "sections/CopyFileGroupToSection.h"
#include "sections/RemoveRegistrySection.h"
#include "sections/ReplaceTextSection.h"
#include "sections/RollbackSection.h"
#include "sections/RunSection.h"
#include "sections/StartServiceSection.h"
#include "sections/StopServiceSection.h"
#include "sections/UpdateINISection.h"
#include "sections/UpdateRegistrySection.h"
#include "sections/UpdateSymbolsSection.h"
#include "sections/UserInputSection.h"

namespace {

template <typename T>
void Register(std::map<std::string, std::unique_ptr<CHFS_Section>>& map, const char* name, CHFS_Interpreter* p)
{
    map[name].reset(new T(p));
}

const int kMaxIdleJumpsBack = 1000;

std::string PrefixOf(const std::string& procedure)
{
    return procedure.substr(0, procedure.find('.') + 1);
}

}  // namespace

CHFS_MainSection::CHFS_MainSection(CHFS_Interpreter* pInterpreter)
    : CHFS_Section(pInterpreter), m_nMainExitCode(-2000)
{
    // One object per row, even where two rows share a class: each keeps the
    // exit code of its own last run.
    static const char* const kDomains[] = {"ProductInstall.", "ProductRemove."};
    for (const char* domain : kDomains) {
        std::string d(domain);
        Register<CHFS_StartServiceSection>(m_handlers, (d + "StartService").c_str(), pInterpreter);
        Register<CHFS_StopServiceSection>(m_handlers, (d + "StopService").c_str(), pInterpreter);
        Register<CHFS_CopyFileGroupToSection>(m_handlers, (d + "CopyFileGroupTo").c_str(), pInterpreter);
        Register<CHFS_ReplaceTextSection>(m_handlers, (d + "ReplaceSymbolsInFile").c_str(), pInterpreter);
        Register<CHFS_UpdateSymbolsSection>(m_handlers, (d + "UpdateSymbols").c_str(), pInterpreter);
        Register<CHFS_BackupFileSection>(m_handlers, (d + "BackupFiles").c_str(), pInterpreter);
        Register<CHFS_UpdateRegistrySection>(m_handlers, (d + "UpdateRegistry").c_str(), pInterpreter);
        Register<CHFS_RemoveRegistrySection>(m_handlers, (d + "RemoveRegistry").c_str(), pInterpreter);
        Register<CHFS_UpdateINISection>(m_handlers, (d + "UpdateINI").c_str(), pInterpreter);
        Register<CHFS_CheckVersionSection>(m_handlers, (d + "CheckRequirement").c_str(), pInterpreter);
        Register<CHFS_RunSection>(m_handlers, (d + "Run").c_str(), pInterpreter);
        Register<CHFS_UserInputSection>(m_handlers, (d + "GetUserInput").c_str(), pInterpreter);
    }
    Register<CHFS_RollbackSection>(m_handlers, "ProductRemove.Rollback", pInterpreter);
}

CHFS_MainSection::~CHFS_MainSection() {}

int CHFS_MainSection::GetExitCode()
{
    return m_nMainExitCode;
}

CHFS_Section* CHFS_MainSection::FindHandler(const std::string& typeName) const
{
    auto it = m_handlers.find(typeName);
    return it == m_handlers.end() ? nullptr : it->second.get();
}

bool CHFS_MainSection::GetTypeName(const std::string& value, const std::string& prefix, std::string& typeName)
{
    if (value.compare(0, prefix.size(), prefix) != 0)
        return false;
    size_t dot = value.find('.', prefix.size() + 1);
    typeName = dot == std::string::npos ? value : value.substr(0, dot);
    return true;
}

int CHFS_MainSection::Run(const std::string& procedure, CHFS_ItemList& list)
{
    m_nMainExitCode = -2000;
    if (procedure.find('.') == std::string::npos) {
        m_pInterpreter->Log("*** Syntax error: Session name ['%s'] incorrect. ", procedure.c_str());
        return -1;
    }
    SetSectionName(procedure);
    const std::string prefix = PrefixOf(procedure);
    CHFS_UICallback* cb = m_pInterpreter->GetCallback();
    const bool v2 = m_pInterpreter->m_strVersion == "2.0";

    std::string countText = ReadKey("StepCount", true);
    int count = KvParseInt(countText);
    if (countText == KORVEX_MISSING)
        m_nMainExitCode = -2001;
    if (count > KV_MAX_STEPS) {
        // Refused before anything runs: cutting the procedure short would
        // report a patch that was applied in part as a success.
        m_pInterpreter->Log("*** Syntax error: StepCount='%s' in section ['%s'] is more than %d steps! ",
                            countText.c_str(), procedure.c_str(), static_cast<int>(KV_MAX_STEPS));
        m_nMainExitCode = -2001;
        m_pInterpreter->NoteFailedStep(0, procedure);
        return -1;
    }

    int result = -1;
    int n = 1;
    // Where the walk was when it ended: a failed run names that step.
    int atStep = 0;
    std::string atSection = procedure;
    // A loop is made of jumps back (a retry is one to the same step). One
    // whose turns record items ends at the full item list; one whose turns
    // record nothing would run for ever, so it ends after so many turns.
    int idleJumpsBack = 0;
    int previous = 0;
    size_t itemsAtLastJump = 0;
    while (n <= count) {
        atStep = n;
        atSection.clear();
        if (n <= previous) {
            idleJumpsBack = list.Size() == itemsAtLastJump ? idleJumpsBack + 1 : 0;
            itemsAtLastJump = list.Size();
            if (idleJumpsBack > kMaxIdleJumpsBack) {
                m_pInterpreter->ShowDetail("*** Runtime error: Found dead loop in your script file (step %d run "
                                           "again %d times without a change to undo) ! ",
                                           n, kMaxIdleJumpsBack);
                m_nMainExitCode = -2002;
                result = -1;
                break;
            }
        }
        previous = n;
        if (list.SetStep(n) != 0) {
            m_pInterpreter->ShowDetail(
                "*** Runtime error: Found dead loop in your script file (Need less than %d steps) ! ",
                static_cast<int>(CHFS_ItemList::MAX_ITEMS));
            m_nMainExitCode = -2002;
            result = -1;
            break;
        }

        std::string key = KvFormat("Step%d.Section", n);
        std::string value = ReadKey(key, true);
        if (value != KORVEX_MISSING)
            atSection = value;
        if (value == KORVEX_MISSING) {
            m_pInterpreter->Log("*** Syntax error: Session name ['%s'] not found, skip and continue. ", key.c_str());
            m_nMainExitCode = -2003;
            ++n;
            continue;
        }

        // A step the runner can't perform is a broken script: ending with the
        // previous step's result would report a partial run as a success.
        std::string typeName;
        if (!GetTypeName(value, prefix, typeName)) {
            m_pInterpreter->Log("*** Syntax error: Session name ['%s'] not supported in this function domain! ",
                                value.c_str());
            m_nMainExitCode = -2004;
            result = -1;
            break;
        }
        CHFS_Section* handler = FindHandler(typeName);
        if (!handler) {
            m_pInterpreter->Log("*** Syntax error: Session name ['%s'] not supported! ", value.c_str());
            m_nMainExitCode = -2004;
            result = -1;
            break;
        }

        std::string description = ReadKey(KvFormat("Step%d.Description", n), true);
        if (cb) {
            cb->SetTaskText(description, 0);
            cb->AppendDetail(std::string(), 0);
            cb->SetProgress(n, count < INT_MAX ? count + 1 : count);
        }
        std::string percent = std::to_string(static_cast<long long>(n) * 100 / (static_cast<long long>(count) + 1));
        if (m_pInterpreter->Settings().m_bRemoteProgress)
            m_pInterpreter->UpdateProgressForRemote(percent);
        if (v2)
            m_pInterpreter->UpdatePatchDB(m_pInterpreter->GetPatchInfo("PatchID"), "Progress", percent);

        result = handler->Run(value, list);
        m_nMainExitCode = handler->GetExitCode();
        m_pInterpreter->Log("@@@ Session name ['%s'] return code = %d ", value.c_str(), result);

        if (result < 0) {
            if (v2)
                m_pInterpreter->UpdatePatchDB(m_pInterpreter->GetPatchInfo("PatchID"), "ErrorMSG",
                                              description + " failed");
            result = EventHandler(KvFormat("Step%d.Error.", n), result);
            m_pInterpreter->Log("EventHandler() return code = %d ", result);
            if (result == KVHF_CONTINUE) {
                result = 0;
                ++n;
            } else if (result == KVHF_RETRY) {
                result = 0;
            } else if (result >= 1) {
                n = result;
                result = 0;
            } else {
                m_pInterpreter->Log("EventHandler return code = %d ", result);
                break;
            }
            continue;
        }

        if (result > 0) {
            n = result;
            result = 0;
            continue;
        }

        result = EventHandler(KvFormat("Step%d.Success.", n), 0);
        m_pInterpreter->Log("EventHandler return code = %d ", result);
        if (result == KVHF_CONTINUE) {
            result = 0;
            ++n;
        } else if (result == KVHF_RETRY) {
            result = 0;
        } else if (result >= 1) {
            n = result;
            result = 0;
        } else {
            ++n;
        }
    }
    if (result < 0)
        m_pInterpreter->NoteFailedStep(atStep, atSection);
    return result;
}

int CHFS_MainSection::Rollback(const std::string& procedure, CHFS_ItemList& list)
{
    if (procedure.find('.') == std::string::npos) {
        m_pInterpreter->Log("*** Syntax error: Session name ['%s'] incorrect. ", procedure.c_str());
        return -1;
    }
    SetSectionName(procedure);
    const std::string prefix = PrefixOf(procedure);
    CHFS_UICallback* cb = m_pInterpreter->GetCallback();

    const int total = static_cast<int>(list.Size());
    int result = 0;
    int step = 0;
    // Every item the walk cannot hand to a handler ends it as a failure,
    // with that item and the older ones still in the list: a change that is
    // not undone must never read as undone.
    while (result == 0 && list.GetLastStep(step) == 0) {
        std::string key = KvFormat("Step%d.Section", step);
        std::string value = ReadKey(key, true);
        if (value == KORVEX_MISSING) {
            m_pInterpreter->Log("*** Syntax error: Session name ['%s'] not found, skip and continue. ", key.c_str());
            m_pInterpreter->Log("*** Runtime error: %u item(s) are left that can't be rolled back: step %d names "
                                "no section. ",
                                static_cast<unsigned>(list.Size()), step);
            result = -1;
            break;
        }
        std::string typeName;
        if (!GetTypeName(value, prefix, typeName)) {
            m_pInterpreter->Log("*** Syntax error: Session name ['%s'] not supported in this function domain! ",
                                value.c_str());
            result = -1;
            break;
        }
        CHFS_Section* handler = FindHandler(typeName);
        if (!handler) {
            m_pInterpreter->Log("*** Syntax error: Session name ['%s'] not supported! ", value.c_str());
            result = -1;
            break;
        }

        std::string description = ReadKey(KvFormat("Step%d.Description", step), true);
        if (cb) {
            cb->SetTaskText(description, 1);
            cb->AppendDetail(std::string(), 0);
            cb->SetProgress(static_cast<int>(list.Size()), total);
        }
        size_t before = list.Size();
        result = handler->Rollback(value, list);
        list.EndUndo(result == 0);
        if (result != 0)
            m_pInterpreter->Log("*** Runtime error: Session name ['%s'] could not be rolled back, ret=%d; the rollback "
                                "stops here. ",
                                value.c_str(), result);
        // A handler that succeeds without taking anything would be handed the
        // same step for ever; its items are not undone.
        if (result == 0 && list.Size() == before) {
            m_pInterpreter->Log("*** Runtime error: Session name ['%s'] left %u item(s) of step %d that it can't "
                                "roll back. ",
                                value.c_str(), static_cast<unsigned>(list.Size()), step);
            result = -1;
        }
    }
    return result;
}

CHFS_Section* CHFS_MainSection::StepHandler(const std::string& prefix, int step, std::string& value)
{
    std::string key = KvFormat("Step%d.Section", step);
    value = ReadKey(key, true);
    if (value == KORVEX_MISSING) {
        m_pInterpreter->Log("*** Runtime error: a recorded change of step %d can't be undone: ['%s'] names no "
                            "section! ",
                            step, key.c_str());
        return nullptr;
    }
    std::string typeName;
    CHFS_Section* handler = GetTypeName(value, prefix, typeName) ? FindHandler(typeName) : nullptr;
    if (!handler)
        m_pInterpreter->Log("*** Runtime error: a recorded change of step %d can't be undone: Session name ['%s'] "
                            "not supported! ",
                            step, value.c_str());
    return handler;
}

int CHFS_MainSection::CheckRollback(const std::string& procedure, const CHFS_ItemList& list)
{
    if (procedure.find('.') == std::string::npos) {
        m_pInterpreter->Log("*** Syntax error: Session name ['%s'] incorrect. ", procedure.c_str());
        return -1;
    }
    SetSectionName(procedure);
    const std::string prefix = PrefixOf(procedure);
    const std::vector<CHFS_RecordItem>& items = list.Items();
    std::set<std::string> seen;
    int changed = 0;
    std::vector<CHFS_UndoTarget> targets;
    for (size_t i = items.size(); i-- > 0;) {
        const CHFS_RecordItem& item = items[i];
        std::string value;
        SetSectionName(procedure);
        CHFS_Section* handler = StepHandler(prefix, item.nStep, value);
        if (!handler)
            return -1;
        targets.clear();
        handler->CheckUndo(value, item, targets);
        for (const CHFS_UndoTarget& t : targets) {
            if (!seen.insert(t.strId).second)
                continue;  // a newer change of the same thing decides
            if (t.nState == CHFS_UndoTarget::CHANGED) {
                ++changed;
                m_pInterpreter->Log("*** Runtime error: '%s' is no longer as this patch left it (%s): it was changed "
                                    "since, by a later patch or by hand; remove that first ",
                                    t.strShown.c_str(), t.strWhy.c_str());
            }
        }
    }
    SetSectionName(procedure);
    return changed;
}

int CHFS_MainSection::SealItems(const std::string& procedure, CHFS_ItemList& list)
{
    if (procedure.find('.') == std::string::npos)
        return -1;
    const std::string prefix = PrefixOf(procedure);
    for (size_t i = 0; i < list.Size(); ++i) {
        std::string value;
        SetSectionName(procedure);
        CHFS_Section* handler = StepHandler(prefix, list.At(i).nStep, value);
        if (!handler)
            return -1;
        handler->SealItem(value, list.At(i));
    }
    SetSectionName(procedure);
    return 0;
}
