// The commands of a line that goes to the command interpreter, read the way
// the interpreter reads them: every command found is held against the
// policy, and whatever cannot be read with certainty refuses the line.
#include "util/CommandReader.h"

#include <cstring>
#include <vector>

#include "util/CommandText.h"

using namespace kvcmd;

namespace {

// START's switches that take no value, and those that take one.
const char* const kStartFlags[] = {"/MIN",  "/MAX",     "/W",       "/WAIT",        "/B",          "/I",
                                   "/SEPARATE", "/SHARED", "/LOW", "/NORMAL", "/HIGH", "/REALTIME",
                                   "/ABOVENORMAL", "/BELOWNORMAL"};
const char* const kStartValued[] = {"/NODE", "/AFFINITY"};
const char* const kIfTests[] = {"ERRORLEVEL", "EXIST", "DEFINED", "CMDEXTVERSION"};
const char* const kIfOperators[] = {"EQU", "NEQ", "LSS", "LEQ", "GTR", "GEQ"};

class CLineReader {
public:
    CLineReader(const std::string& text, const CKvCommandEnv& env, CKvCommandVerdict& verdict)
        : m_s(text), m_env(env), m_v(verdict), m_chars(text, env.isLeadByte)
    {
    }

    void Line()
    {
        size_t first = m_s.find_first_not_of(" \t");
        // The interpreter takes the first and the last quote off such a
        // line, which turns what is quoted inside out.
        if (first != std::string::npos && m_s[first] == '"')
            return Unreadable("a line that begins with a quote");
        while (Ok()) {
            while (!End() && (IsDelimiter(m_s[m_pos]) || m_s[m_pos] == '@'))
                ++m_pos;
            if (End())
                break;
            const char c = m_s[m_pos];
            if (IsSeparator(c)) {
                m_bPipe = m_bPipe || c == '|';
                ++m_v.separators;
                ++m_pos;
            } else if (c == '(') {
                ++m_depth;
                ++m_v.separators;
                ++m_pos;
            } else if (c == ')') {
                if (m_depth == 0)
                    return Unreadable("a ')' where a command begins");
                --m_depth;
                ++m_pos;
            } else if (AtRedirection()) {
                Redirection();
            } else {
                Command();
            }
        }
        if (!Ok())
            return;
        if (m_depth > 0)
            return Unreadable("a group that is not closed");
        // Each side of a pipe is read a second time by an interpreter of
        // its own, which takes one more level of escapes off.
        if (m_bPipe && m_bCaret)
            return Unreadable("the escape character in a line with a pipe");
    }

private:
    struct CWord {
        std::string text;  // quotes and escapes taken off
        bool quoted = false;
        bool paren = false;  // an unquoted parenthesis inside
    };

    bool Ok() const { return m_v.problem == CKvCommandVerdict::kNone; }
    bool End() const { return m_pos >= m_s.size(); }
    void Fail(CKvCommandVerdict::Problem problem, const std::string& subject)
    {
        if (Ok()) {
            m_v.problem = problem;
            m_v.subject = subject;
        }
    }
    void Unreadable(const std::string& what) { Fail(CKvCommandVerdict::kUnreadable, what); }

    bool AtRedirection() const
    {
        if (End())
            return false;
        char c = m_s[m_pos];
        if (c == '<' || c == '>')
            return true;
        return c >= '0' && c <= '9' && m_pos + 1 < m_s.size() && (m_s[m_pos + 1] == '<' || m_s[m_pos + 1] == '>');
    }

    // A word up to a delimiter, a separator or a redirection; a ')' ends it
    // inside a group.
    CWord Word()
    {
        CWord w;
        bool quoted = false;
        while (!End()) {
            const char c = m_s[m_pos];
            const size_t n = m_chars.Len(m_pos);
            if (c == '\r' || c == '\n')
                break;
            if (c == '"') {
                quoted = !quoted;
                w.quoted = true;
                ++m_pos;
                continue;
            }
            if (quoted || n == 2) {
                w.text += m_s.substr(m_pos, n);
                m_pos += n;
                continue;
            }
            if (IsDelimiter(c) || IsSeparator(c) || c == '<' || c == '>' || (c == ')' && m_depth > 0))
                break;
            if (c == '^') {
                m_bCaret = true;
                if (m_pos + 1 >= m_s.size()) {
                    Unreadable("an escape character at the end of the line");
                    return w;
                }
                ++m_pos;
                const size_t e = m_chars.Len(m_pos);
                w.text += m_s.substr(m_pos, e);
                m_pos += e;
                continue;
            }
            w.paren = w.paren || c == '(' || c == ')';
            w.text += c;
            ++m_pos;
        }
        return w;
    }

    void Blanks()
    {
        while (!End() && (m_s[m_pos] == ' ' || m_s[m_pos] == '\t'))
            ++m_pos;
    }
    void Delimiters()
    {
        while (!End() && IsDelimiter(m_s[m_pos]))
            ++m_pos;
    }

    void Redirection()
    {
        if (m_s[m_pos] >= '0' && m_s[m_pos] <= '9')
            ++m_pos;
        const char c = m_s[m_pos++];
        if (c == '>' && !End() && m_s[m_pos] == '>')
            ++m_pos;
        if (!End() && m_s[m_pos] == '&') {
            ++m_pos;
            if (End() || m_s[m_pos] < '0' || m_s[m_pos] > '9')
                return Unreadable("a redirection to a handle that is no number");
            ++m_pos;
            return;
        }
        Delimiters();
        if (Word().text.empty() && Ok())
            Unreadable("a redirection without a file");
    }

    // The arguments of a command, up to the end of the command.
    void Arguments()
    {
        bool quoted = false;
        while (Ok() && !End()) {
            const char c = m_s[m_pos];
            if (c == '\r' || c == '\n')
                return;
            if (c == '"') {
                quoted = !quoted;
                ++m_pos;
                continue;
            }
            if (quoted) {
                m_pos += m_chars.Len(m_pos);
                continue;
            }
            if (c == '^') {
                m_bCaret = true;
                if (m_pos + 1 >= m_s.size())
                    return Unreadable("an escape character at the end of the line");
                ++m_pos;
                m_pos += m_chars.Len(m_pos);
                continue;
            }
            if (IsSeparator(c))
                return;
            if (c == '<' || c == '>') {
                Redirection();
                continue;
            }
            if (c == ')' && m_depth > 0) {
                --m_depth;
                ++m_pos;
                return;
            }
            // A handle number right before a redirection belongs to it.
            m_pos += m_chars.Len(m_pos);
        }
    }

    void Command()
    {
        CWord w = Word();
        if (!Ok())
            return;
        if (w.text.empty()) {
            // Only quotes: the interpreter looks for a program without a name.
            return Unreadable("a command without a name");
        }
        ++m_v.commands;
        const std::string upper = CChars(w.text, m_env.isLeadByte).Upper();
        if (!w.quoted) {
            if (upper == "IF")
                return If();
            if (upper == "ELSE")
                return;
            if (upper == "START")
                return Start();
            if (KvCommandAllowed(upper))
                return Arguments();
        }
        const std::string head = HeadOf(w.text);
        const std::string stem = HeadOf(BaseOf(w.text, m_env.isLeadByte));
        if (KvCommandRejected(head) || KvCommandRejected(stem))
            return Fail(CKvCommandVerdict::kRejected, w.text);
        if (!w.quoted && KvCommandAllowed(head)) {
            // "echo." or "dir/w": the interpreter's own command with the
            // rest as its argument.
            if (head.size() >= w.text.size() || std::strchr(".:\\/+[](", w.text[head.size()]) == nullptr)
                return Unreadable("the command '" + w.text + "'");
            if (head == "IF" || head == "START")
                return Unreadable("the command '" + w.text + "'");
            return Arguments();
        }
        if (w.paren)
            return Unreadable("the command '" + w.text + "'");
        Program(w.text, false);
        if (Ok())
            Arguments();
    }

    // Resolves a program the way the interpreter searches the current
    // folder first: with one of the program extensions when it has none.
    void Program(const std::string& name, bool process)
    {
        std::string full;
        if (!KvFullPathIn(m_env.folder, name, full, m_env.isLeadByte))
            return Unreadable("the program name '" + name + "'");
        if (!KvPathInside(m_env.folder, full, m_env.isLeadByte))
            return Fail(CKvCommandVerdict::kOutsideFolder, full);
        std::vector<std::string> candidates;
        if (BaseOf(full, m_env.isLeadByte).find('.') != std::string::npos) {
            candidates.push_back(full);
        } else if (process) {
            candidates.push_back(full + ".exe");
        } else {
            for (size_t start = 0; start <= m_env.pathExt.size();) {
                size_t end = m_env.pathExt.find(';', start);
                if (end == std::string::npos)
                    end = m_env.pathExt.size();
                if (end > start)
                    candidates.push_back(full + m_env.pathExt.substr(start, end - start));
                start = end + 1;
            }
        }
        for (const std::string& c : candidates) {
            if (m_env.isFile && m_env.isFile(c)) {
                m_v.programs.push_back(c);
                return;
            }
        }
        Fail(CKvCommandVerdict::kNotFound, candidates.size() == 1 ? candidates[0] : full);
    }

    // An IF operand: a word up to a blank or "==".
    std::string Operand()
    {
        std::string text;
        bool quoted = false;
        while (!End()) {
            const char c = m_s[m_pos];
            const size_t n = m_chars.Len(m_pos);
            if (c == '"') {
                quoted = !quoted;
                text += c;
                ++m_pos;
                continue;
            }
            if (quoted || n == 2) {
                if (c == '\r' || c == '\n')
                    break;
                text += m_s.substr(m_pos, n);
                m_pos += n;
                continue;
            }
            if (c == ' ' || c == '\t' || m_s.compare(m_pos, 2, "==") == 0)
                break;
            if (IsDelimiter(c) || IsSeparator(c) || c == '<' || c == '>' || c == '(' || c == ')' || c == '^') {
                Unreadable("an IF condition");
                return text;
            }
            text += c;
            ++m_pos;
        }
        return text;
    }

    // The condition; what follows it is the command IF runs.
    void If()
    {
        Blanks();
        std::string word = Operand();
        if (CChars(word, m_env.isLeadByte).Upper() == "/I") {
            Blanks();
            word = Operand();
        }
        if (CChars(word, m_env.isLeadByte).Upper() == "NOT") {
            Blanks();
            word = Operand();
        }
        if (!Ok())
            return;
        if (InList(kIfTests, CChars(word, m_env.isLeadByte).Upper())) {
            Blanks();
            if (Operand().empty() && Ok())
                Unreadable("an IF condition");
            return;
        }
        if (word.empty())
            return Unreadable("an IF condition");
        Blanks();
        if (m_s.compare(m_pos, 2, "==") == 0) {
            m_pos += 2;
        } else {
            std::string op = Operand();
            if (!Ok())
                return;
            if (!InList(kIfOperators, CChars(op, m_env.isLeadByte).Upper()))
                return Unreadable("an IF condition");
        }
        Blanks();
        if (Operand().empty() && Ok())
            Unreadable("an IF condition");
    }

    // START's switches and title; what follows them is the command it runs.
    void Start()
    {
        bool title = false;
        for (;;) {
            Delimiters();
            if (End() || IsSeparator(m_s[m_pos]) || (m_s[m_pos] == ')' && m_depth > 0) || m_s[m_pos] == '<' ||
                m_s[m_pos] == '>')
                return Unreadable("START without a program (it opens a command interpreter)");
            if (m_s[m_pos] == '"' && !title) {
                title = true;
                Word();
                if (!Ok())
                    return;
                continue;
            }
            if (m_s[m_pos] != '/')
                return;
            CWord option = Word();
            if (!Ok())
                return;
            const std::string upper = CChars(option.text, m_env.isLeadByte).Upper();
            if (InList(kStartFlags, upper))
                continue;
            if (InList(kStartValued, upper)) {
                Delimiters();
                if (Word().text.empty() && Ok())
                    return Unreadable("START's switch " + option.text + " without a value");
                continue;
            }
            return Unreadable("START's switch " + option.text);
        }
    }

    const std::string& m_s;
    const CKvCommandEnv& m_env;
    CKvCommandVerdict& m_v;
    CChars m_chars;
    size_t m_pos = 0;
    int m_depth = 0;
    bool m_bPipe = false;
    bool m_bCaret = false;
};

}  // namespace

void KvReadCommandLine(const std::string& text, const CKvCommandEnv& env, CKvCommandVerdict& verdict)
{
    CLineReader(text, env, verdict).Line();
}
