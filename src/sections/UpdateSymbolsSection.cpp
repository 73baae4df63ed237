#include "sections/UpdateSymbolsSection.h"
#include "util/Profile.h"

#include <vector>

#include "interpreter/Interpreter.h"

namespace {

const DWORD kSectionBufferSize = 8192;

// NAME=VALUE lines of a section as the profile reader returns them; what does
// not fit the buffer is not seen.
std::vector<std::string> ReadSectionLines(const std::string& section, const std::string& file)
{
    std::vector<char> buffer(kSectionBufferSize, '\0');
    DWORD n = KvGetProfileSection(section.c_str(), buffer.data(), kSectionBufferSize, file);
    std::vector<std::string> lines;
    if (n > kSectionBufferSize)
        n = kSectionBufferSize;
    size_t start = 0;
    for (size_t i = 0; i < n; ++i) {
        if (buffer[i] == '\0') {
            if (i > start)
                lines.emplace_back(buffer.data() + start, i - start);
            start = i + 1;
        }
    }
    if (start < n)
        lines.emplace_back(buffer.data() + start, n - start);
    return lines;
}

}  // namespace

int CHFS_UpdateSymbolsSection::Run(const std::string& sectionName, CHFS_ItemList& list)
{
    m_nExitCode = -2000;
    SetSectionName(sectionName);
    m_pInterpreter->Log("CHFS_UpdateSymbolsSection::Run(%s)", sectionName.c_str());
    int result = 0;

    std::vector<std::string> lines = ReadSectionLines(sectionName, m_pInterpreter->GetScriptFile());
    int itemIndex = 1;
    for (const std::string& line : lines) {
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string name = line.substr(0, eq);
        std::string value = m_pInterpreter->ExpandSymbols(line.substr(eq + 1));
        value = m_pInterpreter->ResolveVariableReference(value, "CHFS_UpdateSymbolsSection::Run()");

        // Recorded before the change, so that even a failed assignment can be
        // taken back in order with the others.
        std::string previous = m_pInterpreter->GetSymbol(name);
        if (list.AddItem(itemIndex, name, previous, std::string()) != 0) {
            m_nExitCode = -2999;
            return KVHF_USERBREAK;
        }
        ++itemIndex;

        if (m_pInterpreter->UpdateSymbol(name, value) == 0) {
            result = 0;
        } else {
            m_nExitCode = -2901;
            result = KVHF_USERBREAK;
        }
    }
    return result;
}

int CHFS_UpdateSymbolsSection::Rollback(const std::string& sectionName, CHFS_ItemList& list)
{
    SetSectionName(sectionName);
    m_pInterpreter->Log("CHFS_UpdateSymbolsSection::Rollback(%s)", sectionName.c_str());
    int itemIndex = 0;
    std::string name, previous;
    while (list.PopItem(itemIndex, name, previous) == 0)
        m_pInterpreter->UpdateSymbol(name, previous);
    return 0;
}

int CHFS_UpdateSymbolsSection::GetExitCode()
{
    return m_nExitCode;
}
