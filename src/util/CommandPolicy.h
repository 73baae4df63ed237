#pragma once
// Which command lines a script may run. Pure text work (the file system and
// the environment come in through callbacks), shared by the Run section and
// the package checker, and fuzzed natively.
//
// A line handed to the command interpreter runs only when every command in
// it passes: a command of the allow list, or a program that lies inside the
// item's working folder and whose name is not on the reject list. The line
// is read as the interpreter reads it (its own %NAME% expansion, quotes,
// escapes, command separators, groups, redirections, and what IF, ELSE and
// START run), and whatever cannot be read with certainty is refused.
#include <functional>
#include <string>
#include <vector>

// The fixed lists, upper case, matched against a whole upper-cased word.
bool KvCommandAllowed(const std::string& upperWord);
bool KvCommandRejected(const std::string& upperWord);
// The first word as the Run section has always classified a line: the text
// up to its first blank, ASCII letters upper-cased.
std::string KvCommandFirstWord(const std::string& command);

// The characters that an expansion may not add to a command line: the
// command separators, the line breaks, the escape character and redirection.
extern const char kKvCommandSpecials[];

struct CKvCommandEnv {
    // The working folder, a full path (a trailing backslash is allowed).
    std::string folder;
    // Whether a file (not a folder, not a device) exists at a full path.
    std::function<bool(const std::string&)> isFile;
    // An environment variable of the process that starts the interpreter;
    // null: none is defined.
    std::function<bool(const std::string&, std::string&)> getEnv;
    // Lead bytes of the code page the line is written in; null: single-byte.
    std::function<bool(unsigned char)> isLeadByte;
    // The extensions the interpreter tries for a program named without one.
    std::string pathExt = ".COM;.EXE;.BAT;.CMD";
};

struct CKvCommandVerdict {
    enum Problem {
        kNone,
        kAddedByExpansion,  // the expansion added a separator, escape or redirection
        kEnvironment,       // an environment variable of the line would change it
        kRejected,          // a command on the reject list
        kOutsideFolder,     // a program outside the working folder
        kNotFound,          // a program not in the working folder
        kUnreadable         // a construct whose effect cannot be told for certain
    };
    Problem problem = kNone;
    // What the problem is about: the command word, the program, the
    // character or the variable; the construct for kUnreadable.
    std::string subject;
    // The process route: the program file that must be started, a full path
    // (empty for a batch file, which the interpreter runs).
    std::string program;
    // The programs (full paths) and the commands the line runs.
    std::vector<std::string> programs;
    size_t commands = 0;
    // Command separators and groups the line holds (interpreter route).
    size_t separators = 0;
    bool Allowed() const { return problem == kNone; }
};

// scriptText: the line as the script wrote it (before the installer's own
// expansion); line: the line as it runs. interpreter: the line goes to the
// command interpreter; otherwise its first word is started as a process.
CKvCommandVerdict KvCheckCommandLine(const std::string& scriptText, const std::string& line, bool interpreter,
                                     const CKvCommandEnv& env);
// One sentence for the log and the checker: why the line is refused.
std::string KvCommandProblemText(const CKvCommandVerdict& verdict);

// The time limit of a Run item in seconds as Run%d.Timeout holds it: a
// decimal number from 1 to kKvMaxTimeoutSeconds, blanks around it allowed.
// Anything else is refused rather than read as some other limit.
const int kKvMaxTimeoutSeconds = 2000000;
bool KvParseTimeoutSeconds(const std::string& text, int& seconds);

// The path a name stands for in a folder: "." and ".." resolved (never above
// the root), the trailing dots and blanks the system drops removed, '/' read
// as '\'. False for a name relative to another drive's current folder ("C:x")
// or one that is empty.
bool KvFullPathIn(const std::string& folder, const std::string& name, std::string& full,
                  const std::function<bool(unsigned char)>& isLeadByte = nullptr);
// Whether the full path lies below the folder (not the folder itself),
// letters compared without regard to case.
bool KvPathInside(const std::string& folder, const std::string& full,
                  const std::function<bool(unsigned char)>& isLeadByte = nullptr);
