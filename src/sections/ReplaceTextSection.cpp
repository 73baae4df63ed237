#include "sections/ReplaceTextSection.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "interpreter/Interpreter.h"
#include "util/FileUtil.h"
#include "util/StrFormat.h"

namespace {

bool IsMissing(const std::string& v) { return v == KORVEX_MISSING; }

// The system error code of a failed run-time call; never 0, since a zero
// code would let the failure pass for a success.
DWORD ErrorCode(DWORD fallback)
{
    DWORD e = ::GetLastError();
    return e ? e : fallback;
}

struct CFileCloser {
    void operator()(FILE* f) const { if (f) fclose(f); }
};

}  // namespace

int CHFS_ReplaceTextSection::Run(const std::string& sectionName, CHFS_ItemList&)
{
    m_nExitCode = -2000;
    m_pInterpreter->Log("CHFS_ReplaceTextSection::Run(%s)", sectionName.c_str());
    SetSectionName(sectionName);
    int count = ReadCount("FileCount", true);
    int result = 0;
    for (int i = 1; i <= count; ++i) {
        char prefix[40];
        snprintf(prefix, sizeof prefix, "File%d.", i);
        std::string p(prefix);
        std::string description = ReadKey(p + "Description", true);
        m_pInterpreter->AppendDetail(description + "\r\n");
        std::string source = ReadKey(p + "Source", true);
        if (IsMissing(source))
            continue;
        std::string output = ReadKey(p + "Output", true);
        if (IsMissing(output))
            continue;
        m_pInterpreter->SetPatchInfo("UninstallString", output);

        DWORD err = ReplaceInFile(source, output);

        int h;
        if (err != 0) {
            m_pInterpreter->Log("Replace symboles in TXT file Failed! ret=%d", static_cast<int>(err));
            h = EventHandler(p + "Error.", -1);
            if (m_nExitCode == -2000)
                m_nExitCode = -2500;
        } else {
            m_pInterpreter->Log("Replace symboles in TXT file Success! ret=%d", 0);
            h = EventHandler(p + "Success.", 0);
        }
        if (h == KVHF_CONTINUE) {
            result = 0;
        } else if (h == KVHF_RETRY) {
            result = 0;
            --i;
        } else if (h == KVHF_UNINSTALL || h == 0) {
            result = h;
        } else {
            return h;
        }
    }
    return result;
}

// The whole source is read before the output is created: a template that is
// rewritten in place (source and output naming the same file) would
// otherwise be emptied before it is read. A failed read leaves an existing
// output as it was.
DWORD CHFS_ReplaceTextSection::ReplaceInFile(const std::string& source, const std::string& output)
{
    std::string text;
    {
        std::unique_ptr<FILE, CFileCloser> in(PathFitsLimit(source) ? fopen(source.c_str(), "rb") : nullptr);
        if (!in) {
            m_nExitCode = -2501;
            return ErrorCode(ERROR_OPEN_FAILED);
        }
        char block[16384];
        size_t got;
        while ((got = fread(block, 1, sizeof block, in.get())) > 0)
            text.append(block, got);
        if (ferror(in.get())) {
            m_nExitCode = -2503;
            return ErrorCode(ERROR_READ_FAULT);
        }
    }
    std::unique_ptr<FILE, CFileCloser> out(PathFitsLimit(output) ? fopen(output.c_str(), "wb+") : nullptr);
    if (!out) {
        m_nExitCode = -2502;
        return ErrorCode(ERROR_OPEN_FAILED);
    }
    if (text.empty()) {
        // An empty template gives an empty file; the code says that nothing
        // was read, but nothing is wrong.
        m_nExitCode = -2503;
        return 0;
    }
    // The template is 8-bit text: it ends at its first zero byte.
    text.resize(strnlen(text.c_str(), text.size()));
    std::string expanded = m_pInterpreter->ExpandSymbols(text);
    size_t put = expanded.empty() ? 0 : fwrite(expanded.data(), 1, expanded.size(), out.get());
    int closed = fclose(out.release());
    if (put < expanded.size() || closed != 0) {
        m_nExitCode = -2504;
        return ErrorCode(ERROR_WRITE_FAULT);
    }
    return 0;
}

int CHFS_ReplaceTextSection::Rollback(const std::string& sectionName, CHFS_ItemList&)
{
    m_pInterpreter->Log("CHFS_ReplaceTextSection::Rollback(%s)", sectionName.c_str());
    return 0;
}

int CHFS_ReplaceTextSection::GetExitCode() { return m_nExitCode; }
