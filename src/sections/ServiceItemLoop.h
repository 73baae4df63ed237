#pragma once
// The item loop and the rollback walk shared by the StartService and
// StopService sections: the two differ only in direction, in the
// OriginalStatus values they act on, in their exit-code series and in a few
// log lines.
#include <string>

class CHFS_Section;
class CHFS_Interpreter;
class CHFS_ItemList;

struct CServiceSectionKind {
    const char* className;  // log tag, "CHFS_StartServiceSection"
    bool bStartsInRun;      // Run starts (StartService) or stops (StopService)
    const char* runStatus;       // OriginalStatus that lets Run act
    const char* rollbackStatus;  // OriginalStatus that lets Rollback act
    int nFullListCode;           // exit code when the install record is full
};

extern const CServiceSectionKind kStartServiceKind;
extern const CServiceSectionKind kStopServiceKind;

// Exit code for a Windows error of a failed item; 0 when the series has none.
int ServiceErrorToExitCode(const CServiceSectionKind& kind, unsigned long error);

int RunServiceItems(CHFS_Section& section, CHFS_Interpreter& interp, const CServiceSectionKind& kind,
                    const std::string& sectionName, CHFS_ItemList& list, int& exitCode);
int RollbackServiceItems(CHFS_Section& section, CHFS_Interpreter& interp, const CServiceSectionKind& kind,
                         const std::string& sectionName, CHFS_ItemList& list);
