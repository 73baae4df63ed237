#include "sections/UserInputSection.h"

#include "interpreter/Interpreter.h"
#include "util/StrFormat.h"

namespace {

const char kFolderSelect[] = "KVHF_INPUT_FOLDER_SELECT";
const char kEditBox[] = "KVHF_INPUT_EDITBOX";

// An item whose handler asks for it again while nobody is asked anything
// (a silent run, a type that asks nothing) would come back the same for
// ever; this many turns in a row end the section.
const int kMaxTurnsWithoutQuestion = CHFS_ItemList::MAX_ITEMS;

}  // namespace

int CHFS_UserInputSection::Run(const std::string& sectionName, CHFS_ItemList& list)
{
    m_nExitCode = -2000;
    SetSectionName(sectionName);
    m_pInterpreter->Log("CHFS_UserInputSection::Run('%s') ", sectionName.c_str());
    int result = 0;
    int minimum = 0;
    int maximum = 256;
    CHFS_UICallback* cb = m_pInterpreter->GetCallback();
    const bool silent = m_pInterpreter->Settings().m_bSilent != 0;

    const int count = ReadCount("InputCount", true);
    int turnsWithoutQuestion = 0;
    for (int n = 1; n <= count;) {
        const std::string prompt = ReadKey(KvFormat("Input%d.Description", n), true);
        const std::string minText = ReadKey(KvFormat("Input%d.Min", n), true);
        if (minText != KORVEX_MISSING)
            minimum = KvParseInt(minText);
        const std::string maxText = ReadKey(KvFormat("Input%d.Max", n), true);
        if (maxText != KORVEX_MISSING)
            maximum = KvParseInt(maxText);

        const std::string type = ReadKey(KvFormat("Input%d.Type", n), true);
        if (type == KORVEX_MISSING) {
            ++n;
            continue;
        }
        const std::string symbol = ReadKey(KvFormat("Input%d.RefSymbol", n), false);
        if (symbol == KORVEX_MISSING) {
            ++n;
            continue;
        }

        m_pInterpreter->Log("%d.GetUserInput(Type='%s',variable='%s')", n, type.c_str(), symbol.c_str());
        const std::string initial = m_pInterpreter->GetSymbol(symbol);

        bool asked = false;
        bool answered = true;
        std::string answer;
        if (silent) {
            m_pInterpreter->Log("In the silent mode, use Default value to continue installation.[%s=%s]",
                                symbol.c_str(), initial.c_str());
        } else if (type == kFolderSelect || type == kEditBox) {
            const bool folder = type == kFolderSelect;
            int r = 0;
            if (cb) {
                const CHFS_UIText caption = m_pInterpreter->UIText(IDS_CAPTION);
                r = folder ? cb->AskFolder(caption, prompt, initial, answer)
                           : cb->AskText(caption, prompt, initial, minimum, maximum, answer);
            }
            asked = r != 0;
            answered = r == 1;
            if (answered) {
                const std::string previous = m_pInterpreter->GetSymbol(symbol);
                m_pInterpreter->Log(folder ? "User Select folder = '%s'" : "User Input = '%s'", answer.c_str());
                // Recorded before the change: an answer that can't be taken
                // back by the rollback must not be kept either.
                if (list.AddItem(n, previous, std::string(), std::string()) != 0) {
                    result = KVHF_USERBREAK;
                    break;
                }
                m_pInterpreter->SetSymbol(symbol, answer);
            }
        }

        if (answered) {
            m_pInterpreter->AppendDetail(" - " + answer + "\r\n");
            result = EventHandler(KvFormat("Input%d.Success.", n), 0);
        } else {
            m_pInterpreter->Log("%d.GetUserInput(Type='%s',variable='%s') failed!", n, type.c_str(), symbol.c_str());
            m_pInterpreter->AppendDetail(" - " + prompt + " (" + m_pInterpreter->UIText(IDS_FAILURE) + ")\r\n");
            result = EventHandler(KvFormat("Input%d.Error.", n), -1);
        }

        if (result == KVHF_RETRY) {
            result = 0;
            turnsWithoutQuestion = asked ? 0 : turnsWithoutQuestion + 1;
            if (turnsWithoutQuestion >= kMaxTurnsWithoutQuestion) {
                m_pInterpreter->Log("*** Runtime error: Input%d repeated %d times without a question, stopped. ", n,
                                    turnsWithoutQuestion);
                result = -1;
                break;
            }
            continue;
        }
        turnsWithoutQuestion = 0;
        if (result == KVHF_CONTINUE) {
            result = 0;
            ++n;
        } else if (result == 0 || (answered && result == KVHF_UNINSTALL)) {
            ++n;
        } else {
            break;
        }
    }
    return result;
}

int CHFS_UserInputSection::Rollback(const std::string& sectionName, CHFS_ItemList& list)
{
    SetSectionName(sectionName);
    m_pInterpreter->Log("CHFS_UserInputSection::Rollback('%s') ", sectionName.c_str());
    int n = 0;
    std::string previous;
    while (list.PopItem(n, previous) == 0) {
        const std::string symbol = ReadKey(KvFormat("Input%d.RefSymbol", n), false);
        if (symbol != KORVEX_MISSING)
            m_pInterpreter->SetSymbol(symbol, previous);
    }
    return 0;
}

int CHFS_UserInputSection::GetExitCode()
{
    return m_nExitCode;
}
