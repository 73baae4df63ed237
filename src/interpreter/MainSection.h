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

    // Handler for a type name such as "ProductInstall.CopyFileGroupTo"; null when none.
    CHFS_Section* FindHandler(const std::string& typeName) const;
    // Type name of a step's section value; false when it lacks the prefix.
    static bool GetTypeName(const std::string& value, const std::string& prefix, std::string& typeName);

private:
    // One handler object per row of the section type table, keyed by type
    // name (byte-wise, case-sensitive).
    std::map<std::string, std::unique_ptr<CHFS_Section>> m_handlers;
    int m_nMainExitCode;
};
