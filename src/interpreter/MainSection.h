#pragma once
// The step runner: walks a procedure's steps, dispatches each to the handler
// of its section type, and rolls recorded items back newest first.
#include <map>
#include <memory>
#include <string>

#include "interpreter/Section.h"

class CHFS_MainSection : public CHFS_Section {
public:
    explicit CHFS_MainSection(CHFS_Interpreter* pInterpreter);
    ~CHFS_MainSection() override;

    int Run(const std::string& procedure, CHFS_ItemList& list) override;
    int Rollback(const std::string& procedure, CHFS_ItemList& list) override;
    int GetExitCode() override;

    // Before a removal changes anything: every item of the list, newest
    // first, looked at by the handler of the install step that recorded it.
    // Only the newest change of each thing counts (an older one of the same
    // thing is undone after it). Each thing that is no longer as the patch
    // left it nor as it was before is logged with "*** Runtime error:".
    // Returns the number of such things, or -1 (logged) when an item's step
    // names no section or no handler the procedure knows.
    int CheckRollback(const std::string& procedure, const CHFS_ItemList& list);
    // At the end of a successful install: each item, oldest first, brought up
    // to date by its handler (SealItem). -1 (logged) as above.
    int SealItems(const std::string& procedure, CHFS_ItemList& list);

    // Handler for a type name such as "ProductInstall.CopyFileGroupTo"; null when none.
    CHFS_Section* FindHandler(const std::string& typeName) const;
    // Type name of a step's section value; false when it lacks the prefix.
    static bool GetTypeName(const std::string& value, const std::string& prefix, std::string& typeName);

private:
    // The handler and section value of a recorded step; null (logged) when
    // the procedure names none for it.
    CHFS_Section* StepHandler(const std::string& prefix, int step, std::string& value);

    // One handler object per row of the section type table, keyed by type
    // name (byte-wise, case-sensitive).
    std::map<std::string, std::unique_ptr<CHFS_Section>> m_handlers;
    int m_nMainExitCode;
};
