#include "util/CommandPolicy.h"

#include <cstdlib>

#include "util/CommandReader.h"
#include "util/CommandText.h"

using namespace kvcmd;

namespace {

// File and console commands that the command interpreter may run for a script.
const char* const kAllowed[] = {
    "ATTRIB", "CD",   "CLS",  "COPY", "DATE",   "DEL",    "DELTREE", "DIR",  "DISKCOMP", "DISKCOPY", "ECHO",
    "ERASE",  "FC",   "FIND", "FINDSTR", "LOGTIME", "MD", "MKDIR",   "MOVE", "NOW",      "PATH",     "REN",
    "RENAME", "RD",   "RMDIR", "SLEEP", "START",  "TIME",   "TYPE",    "VER",  "IF",       "XCOPY"};

// Commands that change the machine beyond the package's reach or wait for a
// person: never run for a script.
const char* const kRejected[] = {
    "ADDUSERS", "ARP",        "ASSOC",     "ASSOCIAT",  "AT",        "BOOTCFG",  "BROWSTAT", "CACLS",
    "CALL",     "CHANGE",     "CHKDSK",    "CHKNTFS",   "CHOICE",    "CIPHER",   "CLEANMGR", "CLEARMEM",
    "CLIPCLUSTER", "CMD",     "COLOR",     "COMP",      "COMPACTCOMPRESS", "CON2PRT", "CONVERT", "CSCCMD",
    "CSVDEDCOMCNFG", "DEFRAG", "DELPROF",  "DEVCON",    "DIRUSE",    "DISKPART", "DNSSTAT",  "DOSKEY",
    "DSADD",    "DSQUERY",    "DSMOD",     "ENDLOCAL",  "EXIT",      "EXPAND",   "EXTRACT",  "FOR",
    "FORFILES", "FORMAT",     "FREEDISK",  "FSUTIL",    "FTP",       "FTYPE",    "GLOBAL",   "GOTO",
    "HELP",     "ICACLS",     "IFMEMBER",  "IPCONFIG",  "KILL",      "LABEL",    "LOCAL",    "LOGEVENT",
    "LOGOFF",   "MAPISEND",   "MBSACLI",   "MEM",       "MKLINK",    "MODE",     "MORE",     "MOUNTVOL",
    "MOVEUSER", "MSG",        "MSIEXEC",   "MSINFO",    "MSTSC",     "MUNGE",    "MV",       "NET",
    "NETDOM",   "NETSH",      "NETSVC",    "NBTSTAT",   "NETSTAT",   "NSLOOKUP", "NTBACKUP", "NTRIGHTS",
    "PATHPING", "PAUSE",      "PERMS",     "PERFMON",   "PING",      "POPD",     "PORTQRY",  "PRINT",
    "PRNCNFG",  "PRNMNGR",    "PROMPT",    "PSEXEC",    "PSFILE",    "PSGETSID", "PSINFO",   "PSKILL",
    "PSLIST",   "PSLOGGEDON", "PSLOGLIST", "PSPASSWD",  "PSSERVICE", "PSSHUTDOWN", "PSSUSPEND", "PUSHD",
    "QGREP",    "RASDIAL",    "RASPHONE",  "RECOVER",   "REG",       "REGEDIT",  "REGSVR32", "REGINI",
    "REM",      "REPLACE",    "RMTSHARE",  "ROBOCOPY",  "ROUTE",     "RUNAS",    "RUNDLL32", "SC",
    "SCHTASKS", "SCLIST",     "SET",       "SETLOCAL",  "SETX",      "SHARE",    "SHIFT",    "SHORTCUT",
    "SHOWGRPS", "SHOWMBRS",   "SHUTDOWN",  "SOON",      "SORT",      "SU",       "SUBINACL", "SUBST",
    "SYSTEMINFO", "TASKLIST", "TASKKILL",  "TIMEOUT",   "TITLE",     "TLIST",    "TOUCH",    "TRACERT",
    "TREE",     "USRSTAT",    "VERIFY",    "VOL",       "WHERE",     "WHOAMI",   "WINDIFF",  "WINMSD",
    "WINMSDP",  "WMIC",       "XCACLS"};

const char* SpecialName(char c)
{
    switch (c) {
    case '\r':
    case '\n':
        return "a line break";
    case '&':
        return "'&'";
    case '|':
        return "'|'";
    case '^':
        return "'^'";
    case '<':
        return "'<'";
    default:
        return "'>'";
    }
}

bool SplitRoot(const std::string& path, std::string& root, std::string& rest)
{
    if (path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
        path[1] == ':' && path[2] == '\\') {
        root = path.substr(0, 3);
        rest = path.substr(3);
        return true;
    }
    if (path.compare(0, 2, "\\\\") != 0 || path.compare(0, 4, "\\\\?\\") == 0 || path.compare(0, 4, "\\\\.\\") == 0)
        return false;
    // \\server\share\ is the root of a network path.
    size_t server = path.find('\\', 2);
    if (server == std::string::npos || server == 2)
        return false;
    size_t share = path.find('\\', server + 1);
    if (share == server + 1)
        return false;
    if (share == std::string::npos) {
        root = path + "\\";
        rest.clear();
    } else {
        root = path.substr(0, share + 1);
        rest = path.substr(share + 1);
    }
    // A server or share named by dots is no root the system keeps.
    const std::string serverName = path.substr(2, server - 2);
    const std::string shareName = root.substr(server + 1, root.size() - server - 2);
    for (const std::string& name : {serverName, shareName})
        if (name.empty() || name.find_first_not_of(". ") == std::string::npos)
            return false;
    return true;
}

// An absolute path with its "." and ".." and the trailing dots and blanks
// of its names resolved as the system resolves them.
bool Normalize(const std::string& absolute, std::string& full, const std::function<bool(unsigned char)>& lead)
{
    std::string path;
    CChars chars(absolute, lead);
    for (size_t i = 0; i < absolute.size(); i += chars.Len(i)) {
        if (chars.Len(i) == 2) {
            path += absolute.substr(i, 2);
        } else {
            path += absolute[i] == '/' ? '\\' : absolute[i];
        }
    }
    std::string root, rest;
    if (!SplitRoot(path, root, rest))
        return false;
    std::vector<std::string> names;
    CChars restChars(rest, lead);
    std::string name;
    auto flush = [&]() -> bool {
        if (name == "." || name.empty()) {
        } else if (name == "..") {
            if (!names.empty())
                names.pop_back();
        } else {
            size_t end = name.size();
            while (end > 0 && (name[end - 1] == '.' || name[end - 1] == ' '))
                --end;
            // A name of dots and blanks alone is no name the system keeps.
            if (end == 0)
                return false;
            names.push_back(name.substr(0, end));
        }
        name.clear();
        return true;
    };
    for (size_t i = 0; i < rest.size(); i += restChars.Len(i)) {
        if (restChars.Len(i) == 1 && rest[i] == '\\') {
            if (!flush())
                return false;
        } else {
            name += rest.substr(i, restChars.Len(i));
        }
    }
    if (!flush())
        return false;
    full = root;
    for (size_t i = 0; i < names.size(); ++i)
        full += (i ? "\\" : "") + names[i];
    return true;
}

bool DynamicVariable(const std::string& upper, const CKvCommandEnv& env, std::string& value)
{
    if (upper == "CD" || upper == "__CD__") {
        value = env.folder;
        return true;
    }
    static const char* const kOthers[] = {"DATE",     "TIME",          "RANDOM",
                                          "ERRORLEVEL", "CMDEXTVERSION", "HIGHESTNUMANODENUMBER",
                                          "__APPDIR__"};
    for (const char* name : kOthers) {
        if (upper == name) {
            value = "0";
            return true;
        }
    }
    return false;
}

// The interpreter's own expansion of %NAME% from the environment (on a
// command line an undefined name stays as written, and its closing '%' may
// open the next one). A value that would add a separator, an escape, a
// quote or a further '%' refuses the line.
bool ExpandEnvironment(const std::string& in, const CKvCommandEnv& env, std::string& out, CKvCommandVerdict& v)
{
    out.clear();
    size_t i = 0;
    while (i < in.size()) {
        if (in[i] != '%') {
            out += in[i++];
            continue;
        }
        size_t j = in.find('%', i + 1);
        if (j == std::string::npos) {
            out += in.substr(i);
            break;
        }
        const std::string name = in.substr(i + 1, j - i - 1);
        const size_t colon = name.find(':');
        const std::string var = name.substr(0, colon);
        const std::string upper = CChars(var, env.isLeadByte).Upper();
        std::string value;
        bool defined = false;
        if (!var.empty()) {
            if (var[0] == '=' || upper == "CMDCMDLINE") {
                v.problem = CKvCommandVerdict::kUnreadable;
                v.subject = "the interpreter's variable %" + name + "%";
                return false;
            }
            defined = (env.getEnv && env.getEnv(var, value)) || DynamicVariable(upper, env, value);
        }
        if (!defined) {
            out += "%" + name;
            i = j;
            continue;
        }
        if (colon != std::string::npos) {
            v.problem = CKvCommandVerdict::kUnreadable;
            v.subject = "the variable reference %" + name + "%";
            return false;
        }
        if (HasAnyOf(value, "&|^<>\r\n\"%", env.isLeadByte)) {
            v.problem = CKvCommandVerdict::kEnvironment;
            v.subject = var;
            return false;
        }
        out += value;
        i = j + 1;
    }
    return true;
}

}  // namespace

const char kKvCommandSpecials[] = "&|^<>\r\n";

bool KvCommandAllowed(const std::string& upperWord) { return InList(kAllowed, upperWord); }

bool KvCommandRejected(const std::string& upperWord) { return InList(kRejected, upperWord); }

std::string KvCommandFirstWord(const std::string& command)
{
    std::string word = command.substr(0, command.find(' '));
    for (char& c : word)
        c = UpperChar(c);
    return word;
}

bool KvParseTimeoutSeconds(const std::string& text, int& seconds)
{
    seconds = 0;
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return false;
    const std::string digits = text.substr(first, text.find_last_not_of(" \t") - first + 1);
    if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long value = std::strtol(digits.c_str(), nullptr, 10);
    if (value < 1 || value > kKvMaxTimeoutSeconds)
        return false;
    seconds = static_cast<int>(value);
    return true;
}

bool KvFullPathIn(const std::string& folder, const std::string& name, std::string& full,
                  const std::function<bool(unsigned char)>& isLeadByte)
{
    if (name.empty())
        return false;
    const bool drive = name.size() >= 2 && name[1] == ':' &&
                       ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
    if (drive && (name.size() == 2 || (name[2] != '\\' && name[2] != '/')))
        return false;
    const bool separatorFirst = name[0] == '\\' || name[0] == '/';
    const bool unc = separatorFirst && name.size() > 1 && (name[1] == '\\' || name[1] == '/');
    if (drive || unc)
        return Normalize(name, full, isLeadByte);
    std::string base;
    if (!Normalize(folder, base, isLeadByte))
        return false;
    if (separatorFirst) {
        std::string root, rest;
        SplitRoot(base, root, rest);
        return Normalize(root + name.substr(1), full, isLeadByte);
    }
    return Normalize(base + "\\" + name, full, isLeadByte);
}

bool KvPathInside(const std::string& folder, const std::string& full, const std::function<bool(unsigned char)>& isLeadByte)
{
    std::string base;
    if (!Normalize(folder, base, isLeadByte))
        return false;
    if (base.back() != '\\')
        base += '\\';
    if (full.size() <= base.size())
        return false;
    return CChars(base, isLeadByte).Upper() == CChars(full.substr(0, base.size()), isLeadByte).Upper();
}

CKvCommandVerdict KvCheckCommandLine(const std::string& scriptText, const std::string& line, bool interpreter,
                                     const CKvCommandEnv& env)
{
    CKvCommandVerdict v;
    CChars before(scriptText, env.isLeadByte);
    CChars after(line, env.isLeadByte);
    for (const char* c = kKvCommandSpecials; *c; ++c) {
        if (after.Count(*c) > before.Count(*c)) {
            v.problem = CKvCommandVerdict::kAddedByExpansion;
            v.subject = SpecialName(*c);
            return v;
        }
    }

    if (!interpreter) {
        // A process takes its program from the first word; the interpreter
        // is not involved unless that program is a batch file.
        const std::string word = line.substr(0, line.find(' '));
        if (word.empty() || word.find_first_of("\"\t") != std::string::npos) {
            v.problem = CKvCommandVerdict::kUnreadable;
            v.subject = "the program name '" + word + "'";
            return v;
        }
        v.commands = 1;
        if (KvCommandRejected(HeadOf(word)) || KvCommandRejected(HeadOf(BaseOf(word, env.isLeadByte)))) {
            v.problem = CKvCommandVerdict::kRejected;
            v.subject = word;
            return v;
        }
        std::string full;
        if (!KvFullPathIn(env.folder, word, full, env.isLeadByte)) {
            v.problem = CKvCommandVerdict::kUnreadable;
            v.subject = "the program name '" + word + "'";
            return v;
        }
        if (!KvPathInside(env.folder, full, env.isLeadByte)) {
            v.problem = CKvCommandVerdict::kOutsideFolder;
            v.subject = full;
            return v;
        }
        const std::string base = BaseOf(full, env.isLeadByte);
        const size_t dot = base.rfind('.');
        if (dot == std::string::npos)
            full += ".exe";
        if (!env.isFile || !env.isFile(full)) {
            v.problem = CKvCommandVerdict::kNotFound;
            v.subject = full;
            return v;
        }
        v.programs.push_back(full);
        const std::string ext = dot == std::string::npos ? std::string() : HeadOf(base.substr(dot + 1));
        if (ext != "BAT" && ext != "CMD") {
            v.program = full;
            return v;
        }
        v.programs.clear();
        v.commands = 0;
    }

    std::string text;
    if (!ExpandEnvironment(line, env, text, v))
        return v;
    KvReadCommandLine(text, env, v);
    return v;
}

std::string KvCommandProblemText(const CKvCommandVerdict& v)
{
    switch (v.problem) {
    case CKvCommandVerdict::kNone:
        return "the line may run";
    case CKvCommandVerdict::kAddedByExpansion:
        return "the expansion of its symbols added " + v.subject +
               " to the line (a command separator, the escape character or a redirection that the script's text "
               "does not hold)";
    case CKvCommandVerdict::kEnvironment:
        return "the environment variable " + v.subject +
               " holds a command separator, an escape, a redirection, a quote or a '%'";
    case CKvCommandVerdict::kRejected:
        return "'" + v.subject + "' is on the list of rejected commands";
    case CKvCommandVerdict::kOutsideFolder:
        return "the program '" + v.subject + "' lies outside the working folder";
    case CKvCommandVerdict::kNotFound:
        return "the program '" + v.subject + "' is not in the working folder";
    case CKvCommandVerdict::kUnreadable:
        return v.subject + " cannot be run safely";
    }
    return std::string();
}
