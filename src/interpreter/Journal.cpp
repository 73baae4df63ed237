#include "interpreter/Journal.h"

#include "interpreter/Interpreter.h"
#include "util/FileUtil.h"

namespace {

void DeleteQuietly(const std::string& path)
{
    if (!::DeleteFileA(path.c_str()) && FileExists(path)) {
        ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(path.c_str());
    }
}

}  // namespace

void KvDiscardJournal(const std::string& recordFile)
{
    DeleteQuietly(CHFS_InstallJournal::JournalPath(recordFile));
    DeleteQuietly(CHFS_InstallJournal::ScriptPath(recordFile));
}

CHFS_InstallJournal::CHFS_InstallJournal(CHFS_Interpreter* pInterpreter, const std::string& recordFile)
    : m_pInterpreter(pInterpreter), m_strRecord(recordFile)
{
}

CHFS_InstallJournal::~CHFS_InstallJournal() {}

bool CHFS_InstallJournal::Start()
{
    // The script copy first: a journal without one would be undone with
    // whatever script the package holds by then.
    if (!WriteScriptCopy()) {
        m_pInterpreter->Log("*** Runtime error: the journal's copy of the script '%s' can't be written",
                            ScriptPath(m_strRecord).c_str());
        return false;
    }
    // Kept open for the whole run; each entry goes in one write, so a run
    // ended from outside leaves an entry whole or not at all.
    m_file.Reset(::CreateFileA(JournalPath(m_strRecord).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_file) {
        m_pInterpreter->Log("*** Runtime error: the journal '%s' can't be written, lasterror=%lu",
                            JournalPath(m_strRecord).c_str(), ::GetLastError());
        return false;
    }
    m_nEntries = 0;
    return true;
}

void CHFS_InstallJournal::Discard()
{
    m_file.Close();
    KvDiscardJournal(m_strRecord);
}

void CHFS_InstallJournal::Append(const std::string& text)
{
    DWORD written = 0;
    if (m_file)
        ::WriteFile(m_file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void CHFS_InstallJournal::Added(const CHFS_RecordItem& item)
{
    Append(CHFS_ItemList::RecordSectionText(item, ++m_nEntries));
}

void CHFS_InstallJournal::Removed() { Append("[REC_" + std::to_string(++m_nEntries) + "]\r\nPop=1\r\n"); }

void CHFS_InstallJournal::Noted(const CHFS_RecordItem& item)
{
    Append(CHFS_ItemList::RecordSectionText(item, ++m_nEntries) + "Note=1\r\n");
}

void CHFS_InstallJournal::StepStarted(int)
{
    // A step before this one may have changed symbols (UpdateSymbols, a
    // user's input) that the keys of later items are expanded with.
    if (m_file && m_pInterpreter->SymbolsText() != m_strSavedSymbols && !WriteScriptCopy())
        m_pInterpreter->Log("the journal's copy of the script '%s' can't be brought up to date",
                            ScriptPath(m_strRecord).c_str());
}

bool CHFS_InstallJournal::WriteScriptCopy()
{
    const std::string final = ScriptPath(m_strRecord);
    const std::string temp = final + ".new";
    DeleteQuietly(temp);
    if (CopyFileKeepTime(m_pInterpreter->GetScriptFile(), temp, m_pInterpreter->LogSink()) != KVCOPY_OK)
        return false;
    ::SetFileAttributesA(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
    std::string symbols = m_pInterpreter->SymbolsText();
    if (m_pInterpreter->AppendINISections(temp, symbols) != 0 ||
        !::MoveFileExA(temp.c_str(), final.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteQuietly(temp);
        return false;
    }
    m_strSavedSymbols = symbols;
    return true;
}
