// A sealed package against its manifest, before the interpreter reads
// anything of its script.
#include "interpreter/Interpreter.h"

#include <vector>

#include "util/PackageManifest.h"

int CHFS_Interpreter::CheckPackageSeal(const std::string& scriptName)
{
    std::vector<CKvSealProblem> problems;
    const int r = KvVerifyPackage(m_strModuleDir, scriptName, problems);
    if (r == KVSEAL_NONE)
        return 0;
    if (r == KVSEAL_OK) {
        Log("CHFS_Interpreter::CheckPackageSeal(): the package matches its manifest '%s'", kKvManifestName);
        return 0;
    }
    for (const CKvSealProblem& p : problems) {
        const std::string text = p.strPath.empty() ? p.strWhat : "'" + p.strPath + "' " + p.strWhat;
        Log("*** Runtime error: CHFS_Interpreter::CheckPackageSeal(): %s", text.c_str());
    }
    Log("*** Runtime error: CHFS_Interpreter::CheckPackageSeal(): the package '%s' is not what was sealed; nothing "
        "is done",
        m_strModuleDir.c_str());
    return KV_EXIT_PACKAGE_ALTERED;
}
