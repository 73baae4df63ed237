// The switch letters and the rules of their order, on the application object.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "app/KorvexApp.h"

namespace {

// argv[0] is a program name that would itself act as a switch ("C:\..." is a
// 'C', silent) if it were not skipped.
void Parse(CKorvexApp& app, std::initializer_list<const char*> args)
{
    std::vector<std::string> store = {"C:\\pkg\\Setup.exe"};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : store)
        argv.push_back(&s[0]);
    app.ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

struct FlagCase {
    const char* arg;
    int CKorvexApp::*member;
};

void ExpectOnly(const CKorvexApp& app, int CKorvexApp::*member, const char* arg)
{
    int CKorvexApp::*all[] = {&CKorvexApp::m_bZenta,         &CKorvexApp::m_bSilent,
                              &CKorvexApp::m_bTrace,         &CKorvexApp::m_bUninstall,
                              &CKorvexApp::m_bKeepRecord,    &CKorvexApp::m_bPrintErrorCode,
                              &CKorvexApp::m_bExitCode,      &CKorvexApp::m_bNoLog,
                              &CKorvexApp::m_bRemoteProgress, &CKorvexApp::m_bAllowSecondInstance};
    for (int CKorvexApp::*m : all)
        EXPECT_EQ(app.*m, m == member ? 1 : 0) << "argument " << arg;
}

}  // namespace

TEST(CommandLine, EachLetterSetsItsOwnFlagInEitherCaseAndWithEitherPrefix)
{
    const FlagCase cases[] = {
        {"C", &CKorvexApp::m_bSilent},         {"S", &CKorvexApp::m_bSilent},
        {"D", &CKorvexApp::m_bKeepRecord},     {"I", &CKorvexApp::m_bAllowSecondInstance},
        {"M", &CKorvexApp::m_bNoLog},          {"P", &CKorvexApp::m_bZenta},
        {"R", &CKorvexApp::m_bRemoteProgress}, {"T", &CKorvexApp::m_bTrace},
        {"U", &CKorvexApp::m_bUninstall},
    };
    for (const FlagCase& c : cases) {
        for (std::string arg : {std::string("/") + c.arg, std::string("-") + c.arg,
                                std::string("/") + char(c.arg[0] - 'A' + 'a'), std::string(c.arg) + "xtra"}) {
            CKorvexApp app;
            Parse(app, {arg.c_str()});
            ExpectOnly(app, c.member, arg.c_str());
            EXPECT_TRUE(app.m_strRecordFile.empty()) << arg;
        }
    }
}

TEST(CommandLine, OtherFirstLettersAndEmptyArgumentsChangeNothing)
{
    CKorvexApp app;
    Parse(app, {"/A", "/x", "-Z", "/1", "/", "-", "", "/?", "//S", "--silent", "/ S"});
    ExpectOnly(app, nullptr, "(all)");
    EXPECT_TRUE(app.m_strRecordFile.empty());
    EXPECT_EQ(app.m_pCallback, nullptr);
    EXPECT_EQ(app.m_pInterpreter, nullptr);
}

TEST(CommandLine, PlainWordsActByTheirFirstLetter)
{
    CKorvexApp setup;
    Parse(setup, {"Setup"});
    EXPECT_EQ(setup.m_bSilent, 1);

    CKorvexApp words;
    Parse(words, {"install", "trace", "mute"});
    EXPECT_EQ(words.m_bAllowSecondInstance, 1);
    EXPECT_EQ(words.m_bTrace, 1);
    EXPECT_EQ(words.m_bNoLog, 1);
    EXPECT_EQ(words.m_bSilent, 0);
}

TEST(CommandLine, ErrorCodeAndExitCodeOnlyAfterSilent)
{
    CKorvexApp before;
    Parse(before, {"/G", "/E", "/S"});
    EXPECT_EQ(before.m_bSilent, 1);
    EXPECT_EQ(before.m_bExitCode, 0);
    EXPECT_EQ(before.m_bPrintErrorCode, 0);

    CKorvexApp after;
    Parse(after, {"/S", "/G"});
    EXPECT_EQ(after.m_bExitCode, 1);
    EXPECT_EQ(after.m_bPrintErrorCode, 0);

    CKorvexApp both;
    Parse(both, {"-c", "/e", "/g"});
    EXPECT_EQ(both.m_bSilent, 1);
    EXPECT_EQ(both.m_bPrintErrorCode, 1);
    EXPECT_EQ(both.m_bExitCode, 1);

    // A plain word starting with S counts as silent for what follows.
    CKorvexApp word;
    Parse(word, {"Setup", "Go"});
    EXPECT_EQ(word.m_bExitCode, 1);
}

// U:, L: and J: take a path the same way: the two characters after the
// letter are skipped unread, and a shorter argument than six takes none.
TEST(CommandLine, PathLettersNeedMoreThanFiveCharacters)
{
    struct Case {
        const char* arg;
        const char* path;
    } cases[] = {
        {"/X", ""},
        {"/X:", ""},
        {"/X:a.b", ""},            // "X:a.b" is five characters
        {"/X:ab.c", "ab.c"},       // six
        {"-x:C:\\Rec\\r.ini", "C:\\Rec\\r.ini"},
        {"/Xxpath1", "path1"},
        {"/X:C:\\with blank\\rec.ini", "C:\\with blank\\rec.ini"},
    };
    const struct {
        char letter;
        std::string CKorvexApp::*member;
        int CKorvexApp::*flag;  // what else the letter sets
    } letters[] = {
        {'U', &CKorvexApp::m_strRecordFile, &CKorvexApp::m_bUninstall},
        {'L', &CKorvexApp::m_strLogFile, nullptr},
        {'J', &CKorvexApp::m_strResultFile, nullptr},
    };
    for (const auto& l : letters) {
        for (const Case& c : cases) {
            std::string arg = c.arg;
            arg[1] = arg[1] == 'x' ? static_cast<char>(l.letter - 'A' + 'a') : l.letter;
            CKorvexApp app;
            Parse(app, {arg.c_str()});
            EXPECT_EQ(app.*(l.member), c.path) << arg;
            ExpectOnly(app, l.flag, arg.c_str());
        }
        // A later short argument leaves the path an earlier one gave.
        CKorvexApp app;
        const std::string first = std::string("/") + l.letter + ":C:\\first.txt", second = std::string("/") + l.letter;
        Parse(app, {first.c_str(), second.c_str()});
        EXPECT_EQ(app.*(l.member), "C:\\first.txt") << l.letter;
    }
    // Plain words act by their first letter here too.
    CKorvexApp words;
    Parse(words, {"Uninstall", "Logfile"});
    EXPECT_EQ(words.m_strRecordFile, "install");
    EXPECT_EQ(words.m_strLogFile, "gfile");
}
