#pragma once
// The package checker: reads a patch package with the installer's own
// interpreter (script location, ReadItem with its expansion, the reference
// splitters, the step runner's dispatch) and reports what would go wrong,
// without running a step or changing anything on the machine.
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "checker/Rules.h"

class CHFS_Interpreter;
class CHFS_MainSection;

namespace kvcheck {

// Kinds of findings, as they appear in the report.
extern const char kUnknownType[];      // a step's section type has no handler
extern const char kOtherProcedure[];   // a step names a section of the other procedure
extern const char kMissingStep[];      // Step%d.Section missing within StepCount
extern const char kMissingSection[];   // a section that is named does not exist
extern const char kWrongCase[];        // a type name or keyword in another case
extern const char kUnknownKeyword[];   // an action or option value that is no keyword
extern const char kBeyondCount[];      // a numbered item that its count never reaches
extern const char kMissingItem[];      // an item, or a key of it, missing within its count
extern const char kBadCount[];         // a count missing, not a number, out of bounds
extern const char kMissingFolder[];    // a FileGroup%d folder missing in the package
extern const char kMissingFile[];      // a File%d entry that matches no file of its group
extern const char kBadReference[];     // a malformed variable reference or description
extern const char kUndefinedSymbol[];  // %NAME% used but never defined
extern const char kNoRemovalRollback[];  // InstallRecordFile without a removal that rolls back
extern const char kPatchInformation[];   // PatchInformation that stops the run

struct Finding {
    std::string kind;
    std::string section;
    std::string key;  // may be empty: the finding is about the section
    std::string message;
    bool operator<(const Finding& o) const
    {
        return std::tie(kind, section, key, message) < std::tie(o.kind, o.section, o.key, o.message);
    }
};

enum { kExitClean = 0, kExitFindings = 1, kExitUnreadable = 2 };

class CPackageChecker {
public:
    explicit CPackageChecker(const std::string& packageDir);
    ~CPackageChecker();
    CPackageChecker(const CPackageChecker&) = delete;
    CPackageChecker& operator=(const CPackageChecker&) = delete;

    // Checks the package: kExitClean, kExitFindings, or kExitUnreadable
    // with Error() telling why (no folder, no script, script is a folder).
    int Run();
    const std::vector<Finding>& Findings() const { return m_findings; }
    const std::string& Error() const { return m_strError; }
    const std::string& PackageDir() const { return m_strPackageDir; }
    const std::string& ScriptFile() const { return m_strScriptFile; }
    // What the interpreter logged while the package was read.
    std::string LogText() const;

private:
    struct Line {
        std::string name;
        std::string value;  // as the section holds it, quotes kept
    };
    struct Section {
        std::string name;
        std::vector<Line> lines;
        std::set<std::string> keys;  // lower case
        bool Has(const std::string& key) const { return keys.count(Lower(key)) != 0; }
    };
    struct Step {
        int number;
        std::string value;
    };

    void Add(const std::string& kind, const std::string& section, const std::string& key,
             const std::string& message);
    bool HasSection(const std::string& name) const;
    Section ReadSection(const std::string& name) const;
    // ReadItem as the handlers read: expanded, "(empty)" when missing.
    std::string Read(const std::string& section, const std::string& key) const;
    // The value as the key reader sees it before expansion.
    std::string RawValue(const std::string& section, const std::string& key) const;

    // The steps within StepCount that name a section.
    std::vector<Step> StepsOf(const std::string& procedure);
    void CheckPatchInformation();
    void CheckProcedure(const std::string& procedure, const std::vector<Step>& steps);
    void CheckStep(const std::string& procedure, const Step& step);
    void CheckSectionContent(const std::string& section, const SectionType& type, const std::string& procedure);
    void CheckRemovalRollback(const std::vector<Step>& removeSteps);

    // A count key; false when its value gives no usable count.
    bool CheckCountKey(const std::string& section, const std::string& key, long long limit, bool required,
                       long long& count);
    void CheckItems(const Section& s, const SectionType& type, long long count);
    void CheckEvents(const Section& s, const std::string& stem, bool numbered);
    void CheckAnswer(const std::string& section, const std::string& key);
    void CheckOption(const std::string& section, const std::string& key, const std::vector<std::string>& keywords,
                     const char* whenOff);
    void CheckFileGroups(const Section& s, const std::string& procedure);
    void CheckFileGroup(const std::string& group, const std::string& procedure);
    void CheckRequirementItems(const Section& s);
    void CheckCommandTypes(const Section& s);
    void CheckInputTypes(const Section& s);
    void CheckDescriptions(const Section& s, const SectionType& type);
    void CheckUpdateSymbols(const Section& s, const std::string& procedure);

    void CheckReference(const std::string& section, const std::string& key, const std::string& value);
    void CheckRegistryDescription(const std::string& section, const std::string& key, const std::string& description);
    void CheckSymbolSection(const std::string& name, const std::string& procedure);
    // rawLines: the values as a section read gives them (symbol and
    // UpdateSymbols sections), otherwise as a key read gives them;
    // commands: the section's Run%d.Command keys are command lines.
    void CheckSymbolUses(const Section& s, const std::string& procedure, bool rawLines, bool commands);
    void CheckNameUses(const std::string& section, const std::string& key, const std::string& text,
                       const std::string& procedure, bool commandLine);

    std::set<std::string> SymbolNamesOf(const std::string& section) const;
    std::set<std::string> InputTargetsOf(const std::vector<Step>& steps);
    // The script symbols a procedure's text may use (built-ins aside).
    const std::set<std::string>& Defined(const std::string& procedure) const;
    bool IsScriptSymbol(const std::string& name, const std::string& procedure) const;

    std::string m_strPackageDir;
    std::string m_strScriptFile;
    std::string m_strError;
    std::vector<Finding> m_findings;
    std::set<Finding> m_seen;
    std::set<std::string> m_checked;   // procedure + section, lower case
    std::set<std::string> m_sections;  // the script's section names, lower case

    // The script symbols of each procedure.
    std::set<std::string> m_installScript, m_removeScript;

    class CCallback;
    std::unique_ptr<CCallback> m_callback;
    std::unique_ptr<CHFS_Interpreter> m_interp;
    std::unique_ptr<CHFS_MainSection> m_factory;
};

}  // namespace kvcheck
