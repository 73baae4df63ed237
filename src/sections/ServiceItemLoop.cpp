#include "sections/ServiceItemLoop.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "interpreter/Interpreter.h"
#include "interpreter/ItemList.h"
#include "interpreter/Section.h"
#include "sections/ItemAnswer.h"
#include "util/ServiceControl.h"
#include "util/StrFormat.h"

const CServiceSectionKind kStartServiceKind = {"CHFS_StartServiceSection", true, "1", "0", -2799};
const CServiceSectionKind kStopServiceKind = {"CHFS_StopServiceSection", false, "0", "1", -2899};

namespace {

const int kTextSize = 1024;
const int kRollbackWaitSeconds = 150;
const int kRollbackAttempts = 2;
const int kDefaultWaitSeconds = 150;
// Its failure to come back must not fail the whole rollback.
const char kOptionalServiceName[] = "Ombra_Monitor";

struct CErrorRow {
    unsigned long error;
    int startCode;
    int stopCode;  // 0: the stop series keeps the previous code
};

const CErrorRow kErrorTable[] = {
    {ERROR_SERVICE_DOES_NOT_EXIST, -2700, -2800},
    {ERROR_DEPENDENT_SERVICES_RUNNING, -2701, -2801},
    {ERROR_SERVICE_REQUEST_TIMEOUT, -2702, -2802},
    {ERROR_SERVICE_NO_THREAD, -2703, -2803},
    {ERROR_SERVICE_DATABASE_LOCKED, -2704, -2804},
    {ERROR_INVALID_SERVICE_ACCOUNT, -2705, -2805},
    {ERROR_SERVICE_DISABLED, -2706, -2806},
    {ERROR_SERVICE_CANNOT_ACCEPT_CTRL, -2707, -2807},
    {ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, -2708, -2808},
    {ERROR_EXCEPTION_IN_SERVICE, -2709, -2809},
    {ERROR_SERVICE_SPECIFIC_ERROR, -2710, -2810},
    {ERROR_SERVICE_DEPENDENCY_FAIL, -2711, 0},
    {ERROR_SERVICE_LOGON_FAILED, -2712, 0},
    {ERROR_SERVICE_DEPENDENCY_DELETED, -2713, -2811},
    {ERROR_NO_RECOVERY_PROGRAM, -2714, -2812},
    {ERROR_NOT_SAFEBOOT_SERVICE, -2715, 0},
};


std::string ItemKey(int n, const char* suffix)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "Service%d%s", n, suffix);
    return buf;
}

void Detail(CHFS_Interpreter& interp, const std::string& text, int rollback)
{
    if (CHFS_UICallback* cb = interp.GetCallback())
        cb->AppendDetail(text, rollback);
}

// Reads the OriginalStatus of item n and tells whether the operation acts on
// it; a present value is logged whether or not it lets the item through.
bool ActsOn(CHFS_Section& section, CHFS_Interpreter& interp, const char* className, const char* operation,
            int n, const char* wanted)
{
    std::string status = section.ReadKey(ItemKey(n, ".OriginalStatus"), false);
    if (status == KORVEX_MISSING)
        return true;
    interp.Log("%s::%s() original status='%s'", className, operation, status.c_str());
    return status == wanted;
}

}  // namespace

int ServiceErrorToExitCode(const CServiceSectionKind& kind, unsigned long error)
{
    for (const CErrorRow& row : kErrorTable)
        if (row.error == error)
            return kind.bStartsInRun ? row.startCode : row.stopCode;
    // A service that crashed while starting (1067, or a code of its own) did
    // not reach RUNNING: leaving -2000 would tell a deployment tool that
    // nothing failed.
    return kind.bStartsInRun ? -2702 : 0;
}

int RunServiceItems(CHFS_Section& section, CHFS_Interpreter& interp, const CServiceSectionKind& kind,
                    const std::string& sectionName, CHFS_ItemList& list, int& exitCode)
{
    exitCode = -2000;
    int result = 0;
    section.SetSectionName(sectionName);
    if (!kind.bStartsInRun)
        interp.Log("CHFS_StopServiceSection::Run('%s')", sectionName.c_str());

    const int count = section.ReadCount("ServiceCount", true);
    int n = 1;
    while (n <= count) {
        std::string text = section.ReadKey(ItemKey(n, ".Description"), true) + "\r\n";
        Detail(interp, text, 0);
        interp.Log("%s", text.c_str());

        std::string service = section.ReadKey(ItemKey(n, ""), true);
        if (service == KORVEX_MISSING || !ActsOn(section, interp, kind.className, "Run", n, kind.runStatus)) {
            ++n;
            continue;
        }

        char buffer[kTextSize] = {0};
        result = 0;
        int wait = kDefaultWaitSeconds;
        std::string waitText = section.ReadKey(ItemKey(n, ".WaitSeconds"), false);
        if (waitText != KORVEX_MISSING)
            wait = KvParseInt(waitText);

        // Its undo is known before the request: a run ended while it waits
        // for the service puts the service back (both undos are harmless
        // where the request never arrived).
        list.NoteInJournal(n, std::string(), std::string(), std::string());
        DWORD ret;
        if (kind.bStartsInRun) {
            ret = SMStartService("", service.c_str(), buffer, kTextSize, wait);
            interp.Log("SMStartService('%s') ret=%d", service.c_str(), static_cast<int>(ret));
        } else {
            ret = SMStopService("", service.c_str(), buffer, kTextSize, wait);
            interp.Log("SMStopService('%s') ret=%d", service.c_str(), static_cast<int>(ret));
        }

        const bool ok = ret == 0 || (kind.bStartsInRun && ret == ERROR_SERVICE_ALREADY_RUNNING);
        if (!ok) {
            if (int mapped = ServiceErrorToExitCode(kind, ret))
                exitCode = mapped;
            else if (exitCode == -2000)
                exitCode = -2802;  // a stop refused for a reason of its own is a failed stop all the same
            if (buffer[0]) {
                std::string failure = " - " + std::string(buffer) + "\r\n";
                Detail(interp, failure, 0);
                if (kind.bStartsInRun)
                    interp.Log("%s", failure.c_str());
            }
            result = section.EventHandler(ItemKey(n, ".Error."), -1);
        } else {
            if (list.AddItem(n, std::string(), std::string(), std::string()) != 0) {
                result = KVHF_USERBREAK;
                exitCode = kind.nFullListCode;
                break;
            }
            result = section.EventHandler(ItemKey(n, ".Success."), 0);
        }

        if (!FollowItemAnswer(result, n))
            break;
    }

    if (!kind.bStartsInRun)
        interp.Log("CHFS_StopServiceSection::Run('%s') iRet=%d", sectionName.c_str(), result);
    return result;
}

int RollbackServiceItems(CHFS_Section& section, CHFS_Interpreter& interp, const CServiceSectionKind& kind,
                         const std::string& sectionName, CHFS_ItemList& list)
{
    section.SetSectionName(sectionName);
    interp.Log("%s::Rollback('%s')", kind.className, sectionName.c_str());
    int result = 0;
    int n = 0;
    while (list.PopItem(n) == 0) {
        Detail(interp, section.ReadKey(ItemKey(n, ".Description"), true) + "\r\n", 1);
        std::string service = section.ReadKey(ItemKey(n, ""), true);
        if (service == KORVEX_MISSING ||
            !ActsOn(section, interp, kind.className, "Rollback", n, kind.rollbackStatus))
            continue;

        // Undo runs the other direction: what Run started is stopped again.
        const bool starts = !kind.bStartsInRun;
        const bool optional = starts && service == kOptionalServiceName;
        for (int attempt = 0; attempt < kRollbackAttempts; ++attempt) {
            char buffer[kTextSize] = {0};
            DWORD ret;
            if (starts) {
                ret = SMStartService("", service.c_str(), buffer, kTextSize, kRollbackWaitSeconds);
                interp.Log("SMStartService('%s') ret=%d", service.c_str(), static_cast<int>(ret));
            } else {
                ret = SMStopService("", service.c_str(), buffer, kTextSize, kRollbackWaitSeconds);
                interp.Log("SMStopService('%s') ret=%d", service.c_str(), static_cast<int>(ret));
            }
            if (ret == 0 || (starts && ret == ERROR_SERVICE_ALREADY_RUNNING)) {
                result = 0;
                break;
            }
            if (buffer[0])
                Detail(interp, " -> " + std::string(buffer) + "\r\n", 1);
            if (!optional)
                result = -1;
        }
    }
    return result;
}
