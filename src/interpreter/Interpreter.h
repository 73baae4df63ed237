#pragma once
// The object that owns one run of a script: symbol tables, script reading,
// the patch database and the whole-run procedure.
#include <windows.h>
#include <string>

#include "interpreter/ProgramTexts.h"
#include "interpreter/RunOutcome.h"
#include "interpreter/RunSettings.h"
#include "interpreter/UICallback.h"
#include "symbols/SymbolTable.h"
#include "util/LogSink.h"

#define KORVEX_MISSING "(empty)"

// The run's exit code when the install procedure succeeded but its install
// record could not be written completely (the installation is rolled back):
// next to the step runner's -2001 to -2004.
enum { KV_EXIT_RECORD_NOT_WRITTEN = -2005 };
// An earlier installation of the same record ended without finishing and its
// changes could not be undone: nothing of this run was done.
enum { KV_EXIT_INTERRUPTED_NOT_UNDONE = -2007 };
// A removal changed nothing: something the patch left was changed since (by
// a later patch or by hand), and undoing the patch would undo that too.
enum { KV_EXIT_REMOVAL_REFUSED = -2008 };
// InstallRecordFile names an existing file that is not this patch's record:
// nothing ran, the file is left as it is.
enum { KV_EXIT_RECORD_NOT_OURS = -2009 };
// A rollback or removal could not put something back (nor stage it for the
// next start): the record and the uninstall entry are kept.
enum { KV_EXIT_RESTORE_FAILED = -2010 };
// The install record (or the journal of an interrupted install) is damaged:
// nothing was undone, the file is kept.
enum { KV_EXIT_RECORD_DAMAGED = -2011 };
// The package's manifest does not match its files: nothing ran.
enum { KV_EXIT_PACKAGE_ALTERED = -2012 };

class CHFS_MainSection;
class CHFS_ItemList;

class CHFS_Interpreter;

// Hands the utilities' diagnostic lines to the interpreter's time-stamped log.
class CHFS_InterpreterLog : public CKvLogSink {
public:
    explicit CHFS_InterpreterLog(CHFS_Interpreter* pInterpreter) : m_pInterpreter(pInterpreter) {}
    void LogText(const std::string& line) override;

private:
    CHFS_Interpreter* m_pInterpreter;
};

class CHFS_Interpreter {
public:
    // The host gives the callback (not owned), the settings of the run (copied)
    // and its texts (not owned; none means every program text is empty).
    CHFS_Interpreter(CHFS_UICallback* pCallback, const std::string& scriptName,
                     const CHFS_RunSettings& settings = CHFS_RunSettings(), const CHFS_ProgramTexts* pTexts = nullptr);
    ~CHFS_Interpreter();
    CHFS_Interpreter(const CHFS_Interpreter&) = delete;
    CHFS_Interpreter& operator=(const CHFS_Interpreter&) = delete;

    // ---- lifecycle (interpreter/Interpreter.cpp)
    int InitPatchInfo(const std::string& section);
    int Execute();
    int MakeDir(const std::string& folder);
    const std::string& GetScriptFile() const { return m_strScriptFile; }
    const std::string& GetModuleDir() const { return m_strModuleDir; }
    CHFS_UICallback* GetCallback() const { return m_pCallback; }
    // The run's settings; the interpreter's own copy, changed as the run goes.
    CHFS_RunSettings& Settings() { return m_settings; }
    const CHFS_RunSettings& Settings() const { return m_settings; }
    // A program text from the host ("" without one).
    std::string Text(UINT id) const { return m_pTexts ? m_pTexts->Text(id) : std::string(); }
    std::wstring TextW(UINT id) const { return m_pTexts ? m_pTexts->TextW(id) : std::wstring(); }
    // A program text for a window: UTF-16 to be shown, 8-bit for the log.
    CHFS_UIText UIText(UINT id) const { return CHFS_UIText::Program(TextW(id)); }
    // Where utilities write their lines: this interpreter's log.
    CKvLogSink* LogSink() { return &m_logSink; }
    // /E: connects standard output to the parent's console (log lines as designed).
    void AttachParentConsole();

    // ---- how the run ended (interpreter/RunOutcome.cpp)
    // Told how the run ended, once, before /G may end the process; not owned.
    void SetRunEndListener(CHFS_RunEndListener* pListener) { m_pRunEnd = pListener; }
    // The step runner: the step (0: none) and section value that ended a
    // procedure as a failure.
    void NoteFailedStep(int step, const std::string& section);
    // What the patch wrote into product folders, for the uninstall entry's
    // size; fed by the sections that copy files.
    void NoteBytesWritten(unsigned long long bytes) { m_ullBytesWritten += bytes; }
    unsigned long long BytesWritten() const { return m_ullBytesWritten; }
    // The outcome as it stands, result being the step runner's final answer.
    CHFS_RunOutcome Outcome(int result) const;

    // ---- debug log (interpreter/Log.cpp). Formats are program text only:
    // script text always goes through "%s".
    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void ShowDetail(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Raw line through the callback, no stamp; nothing without a callback.
    void WriteLog(const std::string& text);
    // A text for the progress pane, unchanged; nothing without a callback.
    void AppendDetail(const std::string& text, int rollback = 0);
    // The same for a text that holds program texts.
    void AppendDetail(const CHFS_UIText& text, int rollback = 0);

    // ---- INI engine (symbols/IniEngine.cpp)
    std::string ReadItem(const std::string& key, const std::string& section, bool warn,
                         const std::string& file = std::string());
    int SetINIVariable(const std::string& file, const std::string& section, const std::string& key,
                       const std::string& value);
    std::string ReadINIValue(const std::string& file, const std::string& section, const std::string& key);
    int CreateTempINI(const std::string& file, std::string& tempPath);
    int ApplyTempINI(const std::string& tempPath, const std::string& target);
    // Whether the file has a section of that name (exact) or beginning with it,
    // without regard to case.
    bool FileHasINISection(const std::string& file, const std::string& name, bool exact = false);
    // Appends whole sections, already in INI form, in one write (the file is
    // created when missing). 0, or -1 when they could not be written (logged).
    int AppendINISections(const std::string& file, const std::string& text);

    // ---- symbols (symbols/Symbols.cpp)
    int SetGlobalSymbol(const std::string& name, const std::string& value);
    int SetSymbol(const std::string& name, const std::string& value);
    int SetPatchInfo(const std::string& name, const std::string& value);
    int UpdateSymbol(const std::string& name, const std::string& value);
    std::string GetSymbol(const std::string& name) const;
    std::string GetPatchInfo(const std::string& name) const;
    std::string ExpandSymbols(const std::string& text);
    int InitVariables(const std::string& section);
    int SaveSymbols(const std::string& recordFile);
    // The Symbols section as SaveSymbols appends it to a new record.
    std::string SymbolsText() const;
    int LoadSymbols(const std::string& recordFile);
    // The one resolver entry point for variable references: applies at most
    // one of [Reg:, [FileInfo:, [INI:, [ServiceStatus: (in that order) and
    // returns the text that replaces the whole value; a value without a
    // marker comes back unchanged.
    std::string ResolveVariableReference(const std::string& value, const std::string& callerTag);

    // ---- variable references (symbols/VarRefs.cpp)
    std::string GetRegVariable(const std::string& value, const std::string& callerTag);
    int SpliteRegParameter(const std::string& description, DWORD& type, HKEY& root, std::string& key,
                           std::string& valueName, int& b64BitView);
    std::string GetRegValue(DWORD type, HKEY root, const std::string& key, const std::string& valueName,
                            int b64BitView, const std::string& tag);
    std::string QueryRegValue(HKEY key, DWORD type, const std::string& valueName, const std::string& tag);
    std::string GetINIVariable(const std::string& value);
    int SpliteINIParameter(const std::string& description, std::string& file, std::string& section,
                           std::string& key);
    std::string GetFileInfoVariable(const std::string& value);
    int SpliteFileInfoParameter(const std::string& description, std::string& path, std::string& kind);
    std::string GetServiceStatusVariable(const std::string& value);

    // ---- built-in variables (symbols/Builtins.cpp)
    int InitBuiltinSymbols();
    int InitDateSymbols();
    int InitTimeSymbols();
    std::string getComputerName();

    // ---- patch database, uninstall entry, remote progress (symbols/PatchDB.cpp)
    int GetPatchDBFileName(std::string& path);
    int UpdatePatchDB(const std::string& section, const std::string& key, const std::string& value);
    int UpdateUninstallReg(int remove);
    // The entry of an installed patch that a run ended while writing it
    // (or before) left missing or half-made, written again by a run that
    // found the patch installed and ran no step.
    void RepairUninstallEntry();
    int UpdateProgressForRemote(const std::string& text);
    LONG DeleteRegKey(HKEY root, const std::string& subkey, REGSAM access, const std::string& tag);

    // The three tables (global, script, patch information).
    CHFS_SymbolTable m_globalSymbols;
    CHFS_SymbolTable m_scriptSymbols;
    CHFS_SymbolTable m_patchInfo;

    std::string m_strScriptFile;
    std::string m_strRecordFile;
    std::string m_strMainSection;
    std::string m_strModuleDir;
    CHFS_UICallback* m_pCallback;
    std::string m_strVersion;
    int m_bErrorShown;
    int m_nExitCode;

private:
    CHFS_RunSettings m_settings;
    const CHFS_ProgramTexts* m_pTexts;
    CHFS_InterpreterLog m_logSink;
    CHFS_RunEndListener* m_pRunEnd = nullptr;
    // Asked for by the command line: a failed install that the script
    // switches to the removal procedure did not do what was asked.
    bool m_bRemovalAsked;
    int m_nFailedStep = 0;
    std::string m_strFailedSection;
    unsigned long long m_ullBytesWritten = 0;

    // Loads name=value lines of a section into a table (InitVariables and the
    // loading half of InitPatchInfo). tableKind: 0 script, 2 patch information.
    // Returns -1 on failure, else the returned section length (>= 0).
    int LoadSymbolSection(const std::string& section, int tableKind, const std::string& callerTag);
    // Execute's halves: what a failed run does; the install record (0, or -1
    // when it could not be written completely, logged).
    // Returns the rollback's result.
    int FailRun(CHFS_MainSection& main, CHFS_ItemList& list, int result);
    // The end of Execute: /E, /G and the result.
    int FinishRun(int result);
    // A sealed package against its manifest, before anything is read from
    // its script: 0, or KV_EXIT_PACKAGE_ALTERED (each problem logged).
    int CheckPackageSeal(const std::string& scriptName);
    // KV_EXIT_PACKAGE_ALTERED from the seal check: nothing of the script
    // was read and nothing may run.
    int m_nSealResult = 0;

    // ---- the install record over the patch's life (interpreter/InstallRecordFile.cpp)
    // Before an install that will leave a record changes anything: 0 to go
    // on; 1 when the patch is installed already (its record is there);
    // otherwise the run's exit code (logged): the record file is not this
    // patch's, or an interrupted install could not be undone.
    int PrepareInstall(CHFS_MainSection& main);
    // Whether the file is an install record of this patch.
    bool IsOwnRecord(const std::string& file);
    // Undoes what an installation that did not end recorded in its journal
    // (with that run's own script copy); 0 when it is undone.
    int UndoInterruptedInstall(CHFS_MainSection& main, const std::string& journal);
    // The end of a run of an installed patch, which changes nothing.
    void KeepAlreadyInstalled();
    // 0, or -1 when it could not be written completely (logged); an earlier
    // file of that name is replaced only by a complete record.
    int WriteInstallRecord(CHFS_ItemList& list);
    // A removal from a record: 0 when undoing it would take back only what
    // the patch itself left; otherwise the run's exit code (logged).
    int CheckRemoval(CHFS_MainSection& main);
};

// Holds the log open (CHFS_UICallback::HoldLog) for its lifetime.
class CHFS_LogHold {
public:
    explicit CHFS_LogHold(CHFS_Interpreter* pInterpreter);
    ~CHFS_LogHold();
    CHFS_LogHold(const CHFS_LogHold&) = delete;
    CHFS_LogHold& operator=(const CHFS_LogHold&) = delete;

private:
    CHFS_UICallback* m_pCallback;
};
