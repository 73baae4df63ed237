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
extern const char kCommandRefused[];     // a Run line the command policy refuses
extern const char kMissingProgram[];     // a Run program that is not in the package
extern const char kSelfReference[];      // a symbol whose expansion never ends
extern const char kMisreadNumber[];      // a number the reader takes for another one
extern const char kLeavesFolder[];       // a file entry that leads out of its folder
extern const char kProcessPath[];        // a ProcessStopped name with a folder
extern const char kIniUnwritable[];      // an INI name or value the format cannot carry
extern const char kPackageAltered[];     // a sealed package that differs from its manifest
// Warnings: the package runs, but not as its author may think.
extern const char kCommandLine[];        // several commands, or a program outside the package
extern const char kNoTimeout[];          // a package program on the hidden desktop without a limit
extern const char kRelativePath[];       // a file name the platform takes elsewhere
extern const char kFileVersion[];        // a FileVersion read as another number
extern const char kIniKeyBlanks[];       // blanks around an INI key name

struct Finding {
    std::string kind;
    std::string section;
    std::string key;  // may be empty: the finding is about the section
    std::string message;
    bool warning = false;
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

    // Checks the package: kExitClean (no errors; warnings may be there),
    // kExitFindings (errors), or kExitUnreadable with Error() telling why
    // (no folder, no script, script is a folder).
    int Run();
    // Before Run: the package is about to be sealed (again), so its present
    // manifest is not held against it.
    void SetSealing(bool sealing) { m_bSealing = sealing; }
    size_t ErrorCount() const;
    // After a Run without errors: writes the manifest of the script, the
    // file groups and the package files the script names. 0, or the system
    // error; files receives the paths listed.
    unsigned long Seal(std::vector<std::string>& files);
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
    void Warn(const std::string& kind, const std::string& section, const std::string& key,
              const std::string& message);
    // Whether a full path is the package folder or lies below it.
    bool InPackage(const std::string& path) const;
    // A file of the package that the script names: sealed with the package.
    void NameFile(const std::string& path);
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

    // CheckerCommands.cpp: the Run items through the command policy.
    void CheckRunItems(const Section& s, long long count);
    void CheckRunCommand(const std::string& section, const std::string& item, const std::string& key,
                         const std::string& folder, bool timeout);

    // CheckerValues.cpp: values the reader takes for something else.
    void CheckDecimal(const std::string& section, const std::string& key);
    void CheckValues(const Section& s, const SectionType& type, long long count);
    void CheckFileGroupValues(const Section& group, long long count);
    void CheckTemplates(const Section& s, long long count);
    void CheckIniItems(const Section& s, long long count);
    void CheckIniFileName(const std::string& section, const std::string& key, const std::string& file);
    void CheckExpansion(const std::string& section, const std::string& key, const std::string& text);

    // CheckerSeal.cpp: the manifest of a sealed package.
    void CheckSeal();
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
    bool m_bSealing = false;
    std::set<std::string> m_namedFiles;  // full paths, lower case, of package files the script names
    std::vector<std::string> m_namedOrder;  // the same as named first
    std::set<std::string> m_selfReferences;  // symbols already reported

    // The script symbols of each procedure.
    std::set<std::string> m_installScript, m_removeScript;

    class CCallback;
    std::unique_ptr<CCallback> m_callback;
    std::unique_ptr<CHFS_Interpreter> m_interp;
    std::unique_ptr<CHFS_MainSection> m_factory;
};

}  // namespace kvcheck
