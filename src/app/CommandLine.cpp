// Command line: every argument acts by its first letter only.
#include "app/KorvexApp.h"
#include "app/SwitchLetters.h"

void CKorvexApp::ParseCommandLine(int argc, char** argv)
{
    CMyCommandLineInfo info(this);
    KvForEachArgument(argc, argv, [&info](const char* param, bool bFlag, bool bLast) {
        info.ParseParam(param, bFlag ? TRUE : FALSE, bLast ? TRUE : FALSE);
    });
}

void CMyCommandLineInfo::ParseParam(const char* param, BOOL, BOOL)
{
    KvApplySwitchLetter(*m_pApp, param);
}
