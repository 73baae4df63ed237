#pragma once
// What each command-line argument does, by its first letter only. Written
// over any object with the application's flag members, so that the native
// fuzzing build runs the same rules on a plain struct.
#include <cctype>
#include <string>

// Hands each argument after the program name to handler(param), with a
// leading '/' or '-' removed the way the framework removes it.
template <class Handler>
void KvForEachArgument(int argc, char** argv, Handler handler)
{
    // argv[0] is the program itself and never a switch, whatever its name.
    for (int i = 1; i < argc; ++i) {
        const char* param = argv[i];
        if (!param)
            continue;
        bool bFlag = false;
        if (param[0] == '/' || param[0] == '-') {
            bFlag = true;
            ++param;
        }
        handler(param, bFlag, i == argc - 1);
    }
}

// "U:<path>", "L:<path>", "J:<path>": the argument from its third character
// on (the two characters after the letter's place are skipped unread) when
// the argument is longer than 5 characters; a shorter one leaves path as it is.
inline void KvTakePathAfterLetter(const char* param, std::string& path)
{
    std::string arg(param);
    if (arg.size() > 5)
        path = arg.substr(2);
}

// Switch or plain word makes no difference: "Setup" is as silent as "/S".
template <class Flags>
void KvApplySwitchLetter(Flags& app, const char* param)
{
    if (!param || !param[0])
        return;
    switch (std::toupper(static_cast<unsigned char>(param[0]))) {
    case 'C':
    case 'S':
        app.m_bSilent = 1;
        break;
    case 'D':
        app.m_bKeepRecord = 1;
        break;
    case 'E':
        // Only a silent run has a console to report to: order matters.
        if (app.m_bSilent)
            app.m_bPrintErrorCode = 1;
        break;
    case 'G':
        if (app.m_bSilent)
            app.m_bExitCode = 1;
        break;
    case 'I':
        app.m_bAllowSecondInstance = 1;
        break;
    case 'M':
        app.m_bNoLog = 1;
        break;
    case 'P':
        app.m_bZenta = 1;
        break;
    case 'R':
        app.m_bRemoteProgress = 1;
        break;
    case 'T':
        app.m_bTrace = 1;
        break;
    case 'U':
        app.m_bUninstall = 1;
        KvTakePathAfterLetter(param, app.m_strRecordFile);
        break;
    // This run's log file and its result document, for whoever started it.
    case 'L':
        KvTakePathAfterLetter(param, app.m_strLogFile);
        break;
    case 'J':
        KvTakePathAfterLetter(param, app.m_strResultFile);
        break;
    default:
        break;
    }
}
