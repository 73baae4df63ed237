#include "interpreter/Section.h"

#include "interpreter/ActionKeyword.h"
#include "interpreter/Interpreter.h"
#include "util/StrFormat.h"

CHFS_Section::CHFS_Section(CHFS_Interpreter* pInterpreter) : m_pInterpreter(pInterpreter), m_nExitCode(-2000) {}

int CHFS_Section::Run(const std::string& sectionName, CHFS_ItemList&)
{
    m_strSectionName = sectionName;
    m_nExitCode = -2000;
    return 0;
}

int CHFS_Section::Rollback(const std::string&, CHFS_ItemList&)
{
    return 0;
}

int CHFS_Section::GetExitCode()
{
    return m_nExitCode;
}

void CHFS_Section::CheckUndo(const std::string&, const CHFS_RecordItem&, std::vector<CHFS_UndoTarget>&) {}

void CHFS_Section::SealItem(const std::string&, CHFS_RecordItem&) {}

std::string CHFS_Section::ReadKey(const std::string& key, bool warn)
{
    return m_pInterpreter->ReadItem(key, m_strSectionName, warn);
}

int CHFS_Section::BoundedCount(const std::string& key, const std::string& text)
{
    int value = KvParseInt(text);
    if (value > KV_MAX_COUNT || value < -KV_MAX_COUNT) {
        int bound = value > 0 ? KV_MAX_COUNT : -KV_MAX_COUNT;
        m_pInterpreter->Log("*** Syntax error: %s='%s' in section ['%s'] is beyond %d, %d is taken! ", key.c_str(),
                            text.c_str(), m_strSectionName.c_str(), KV_MAX_COUNT, bound);
        return bound;
    }
    return value;
}


namespace {

// Without a callback nothing can be shown, which is the answer of a
// suppressed box: neither Yes nor Retry.
int Ask(CHFS_Interpreter* interp, const std::string& text, UINT type)
{
    CHFS_UICallback* cb = interp->GetCallback();
    return cb ? cb->ShowMessage(text, type) : 0;
}

}  // namespace

int CHFS_Section::EventHandler(const std::string& prefix, int oldResult)
{
    int result = AnswerFor(prefix, oldResult);
    if (result != KVHF_RETRY) {
        m_nRetriesInARow = 0;
        return result;
    }
    if (++m_nRetriesInARow <= MAX_RETRIES_IN_A_ROW)
        return result;
    m_nRetriesInARow = 0;
    m_pInterpreter->Log("*** Runtime error: '%s' answered KVHF_RETRY more than %d times in a row, no more retries!",
                        prefix.c_str(), static_cast<int>(MAX_RETRIES_IN_A_ROW));
    return oldResult;
}

int CHFS_Section::AnswerFor(const std::string& prefix, int oldResult)
{
    m_pInterpreter->Log("EventHandler('%s',OldRet=%d)", prefix.c_str(), oldResult);
    int result = oldResult;

    std::string action = ReadKey(prefix + "Action", false);
    if (action != KORVEX_MISSING) {
        m_pInterpreter->Log("Return=%s", action.c_str());
        return ParseAction(action);
    }

    // Nobody is there to answer, so a question would only block the run.
    if (m_pInterpreter->Settings().m_bSilent) {
        std::string key = prefix + "Default";
        m_pInterpreter->Log("In the silent mode, use Default action to continue installation.[%s]", key.c_str());
        std::string value = ReadKey(key, false);
        if (value != KORVEX_MISSING)
            result = ParseAction(value);
        return result;
    }

    std::string text = ReadKey(prefix + "AskYesNo", false);
    if (text != KORVEX_MISSING) {
        m_pInterpreter->Log("AskYesNo=%s", text.c_str());
        std::string focus = ReadKey(prefix + "AskFocus", false);
        m_pInterpreter->Log("AskFocus=%s", focus.c_str());
        for (char& c : focus)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        int answer = Ask(m_pInterpreter, text, focus == "NO" ? MB_YESNO | MB_DEFBUTTON2 : MB_YESNO);
        if (answer == IDYES) {
            m_pInterpreter->Log("After Ask user, user choose YES to continue installation.");
            return ParseAction(ReadKey(prefix + "Yes", true));
        }
        return ParseAction(ReadKey(prefix + "No", true));
    }

    text = ReadKey(prefix + "AskYesNoExclamation", false);
    if (text != KORVEX_MISSING) {
        m_pInterpreter->Log("AskYesNo=%s", text.c_str());
        int answer = Ask(m_pInterpreter, text, MB_YESNO | MB_ICONEXCLAMATION);
        if (answer == IDYES) {
            m_pInterpreter->Log("After Ask user, user choose YES to continue installation.");
            return ParseAction(ReadKey(prefix + "Yes", true));
        }
        return ParseAction(ReadKey(prefix + "No", true));
    }

    text = ReadKey(prefix + "AskRetryCancel", false);
    if (text != KORVEX_MISSING) {
        m_pInterpreter->Log("AskRetryCancel=%s", text.c_str());
        int answer = Ask(m_pInterpreter, text, MB_RETRYCANCEL);
        if (answer == IDRETRY) {
            m_pInterpreter->Log("After Ask user, user choose RETRY to retry failed task.");
            return ParseAction(ReadKey(prefix + "Retry", true));
        }
        return ParseAction(ReadKey(prefix + "Cancel", true));
    }

    text = ReadKey(prefix + "AskYesNoCancel", false);
    if (text != KORVEX_MISSING) {
        m_pInterpreter->Log("AskYesNoCancel=%s", text.c_str());
        int answer = Ask(m_pInterpreter, text, MB_YESNOCANCEL);
        if (answer == IDYES) {
            m_pInterpreter->Log("After Ask user, user choose YES to continue installation.");
            result = ParseAction(ReadKey(prefix + "Yes", true));
        } else if (answer == IDNO) {
            result = ParseAction(ReadKey(prefix + "No", true));
        } else if (answer == IDCANCEL) {
            result = ParseAction(ReadKey(prefix + "Cancel", true));
        }
        return result;
    }

    text = ReadKey(prefix + "AskOK", false);
    if (text != KORVEX_MISSING) {
        m_pInterpreter->Log("AskOK=%s", text.c_str());
        Ask(m_pInterpreter, text, oldResult != 0 ? MB_OK | MB_ICONHAND : MB_OK | MB_ICONASTERISK);
        m_pInterpreter->Log("After show message to user, user choose OK to continue installation.");
        return ParseAction(ReadKey(prefix + "OK", true));
    }

    return result;
}

int CHFS_Section::ParseAction(const std::string& value)
{
    int code = -1;
    if (KvActionCode(value, code))
        return code;
    m_pInterpreter->Log("!Error! Action not found. '%s'", value.c_str());
    return -1;
}
