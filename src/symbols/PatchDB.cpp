// STUB(issue 4): replaced by the patch database and uninstall entry.
#include "interpreter/Interpreter.h"

int CHFS_Interpreter::GetPatchDBFileName(std::string&) { return -1; }
int CHFS_Interpreter::UpdatePatchDB(const std::string&, const std::string&, const std::string&) { return -1; }
int CHFS_Interpreter::UpdateUninstallReg(int) { return 0; }
int CHFS_Interpreter::UpdateProgressForRemote(const std::string&) { return 0; }
LONG CHFS_Interpreter::DeleteRegKey(HKEY root, const std::string& subkey, REGSAM, const std::string&) { return ::RegDeleteKeyA(root, subkey.c_str()); }
