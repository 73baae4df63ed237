// STUB(issue 4): replaced by the interpreter lifecycle.
#include "interpreter/Interpreter.h"
#include "app/UICallback.h"

CHFS_Interpreter::CHFS_Interpreter(CHFS_UICallback* pCallback, const std::string& scriptName)
    : m_pCallback(pCallback), m_bErrorShown(0), m_nExitCode(-2000)
{
    char path[2048] = {0};
    DWORD n = ::GetModuleFileNameA(nullptr, path, sizeof(path) - 1);
    std::string p(path, n);
    size_t pos = p.find_last_of('\\');
    m_strModuleDir = (n == 0 || pos == std::string::npos) ? ".\\" : p.substr(0, pos + 1);
    m_strScriptFile = m_strModuleDir + scriptName;
}
CHFS_Interpreter::~CHFS_Interpreter() {}
int CHFS_Interpreter::InitPatchInfo(const std::string&) { m_strVersion = "1.0"; return 0; }
int CHFS_Interpreter::Execute() { return -1; }
int CHFS_Interpreter::MakeDir(const std::string&) { return -1; }
