#include "sections/CopyFileGroupToRecord.h"

#include <cstdio>
#include <cstdlib>

#include "util/FileUtil.h"

namespace {

const char kBatchMark = '@';
const char kListSep = '|';
const char kFieldSep = '>';
const char kWholePath = '*';
const char kContinuationMark = '*';

bool StartsWith(const std::string& s, const std::string& prefix)
{
    return !prefix.empty() && s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// The path as stored: relative to base when the copy built it below base,
// else whole behind "*".
std::string Relative(const std::string& base, const std::string& path)
{
    if (path.empty())
        return std::string();
    if (StartsWith(path, base)) {
        std::string rel = path.substr(base.size());
        if (!rel.empty() && rel[0] == '\\' && JoinPath(base, rel.substr(1)) == path)
            return rel.substr(1);
        if (JoinPath(base, rel) == path)
            return rel;
    }
    return std::string(1, kWholePath) + path;
}

std::string Absolute(const std::string& base, const std::string& stored)
{
    if (!stored.empty() && stored[0] == kWholePath)
        return stored.substr(1);
    return JoinPath(base, stored);
}

std::string TimeText(const FILETIME& t)
{
    if (t.dwHighDateTime == 0 && t.dwLowDateTime == 0)
        return std::string();
    char buf[24];
    snprintf(buf, sizeof buf, "%08lX%08lX", static_cast<unsigned long>(t.dwHighDateTime),
             static_cast<unsigned long>(t.dwLowDateTime));
    return buf;
}

bool ParseTime(const std::string& text, FILETIME& t)
{
    t = FILETIME();
    if (text.empty())
        return true;
    if (text.size() != 16 || text.find_first_not_of("0123456789ABCDEF") != std::string::npos)
        return false;
    t.dwHighDateTime = static_cast<DWORD>(std::strtoul(text.substr(0, 8).c_str(), nullptr, 16));
    t.dwLowDateTime = static_cast<DWORD>(std::strtoul(text.substr(8).c_str(), nullptr, 16));
    return true;
}

std::vector<std::string> Split(const std::string& text, char sep)
{
    std::vector<std::string> out;
    size_t pos = 0;
    for (;;) {
        size_t end = text.find(sep, pos);
        out.push_back(text.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
        if (end == std::string::npos)
            return out;
        pos = end + 1;
    }
}

// Splits "|a|b|" into its entries; false when the text is not such a list.
bool SplitList(const std::string& text, std::vector<std::string>& out)
{
    if (text.empty())
        return true;
    if (text.size() < 2 || text[0] != kListSep || text.back() != kListSep)
        return false;
    out = Split(text.substr(1, text.size() - 2), kListSep);
    return true;
}

bool DecodeEntry(const CCopyUndoBatch& batch, const std::string& text, CCopyUndoEntry& e)
{
    if (text.empty())
        return false;
    e = CCopyUndoEntry();
    e.cKind = text[0];
    const std::string rest = text.substr(1);
    if (e.cKind == CCopyUndoEntry::TARGET_FOLDER || e.cKind == CCopyUndoEntry::BACKUP_FOLDER) {
        e.strTarget = Absolute(e.cKind == CCopyUndoEntry::TARGET_FOLDER ? batch.strTarget : batch.strBackup, rest);
        return !e.strTarget.empty();
    }
    if (e.cKind != CCopyUndoEntry::FILE_ENTRY)
        return false;
    std::vector<std::string> f = Split(rest, kFieldSep);
    if (f.size() != 7 || f[0].empty())
        return false;
    e.strTarget = Absolute(batch.strTarget, f[0]);
    e.strBackup = f[1].empty() ? std::string() : Absolute(batch.strBackup, f[1]);
    e.bDeleteNew = f[6].find('n') != std::string::npos;
    e.bPending = f[6].find('p') != std::string::npos;
    if (!e.strBackup.empty() && !e.bPending && !CKvFingerprint::Parse(f[2], e.before))
        return false;
    if (!f[3].empty() && !CKvFingerprint::Parse(f[3], e.after))
        return false;
    if (!ParseTime(f[4], e.afterTime))
        return false;
    if (!f[5].empty())
        e.strStaged = JoinPath(GetFolderPart(e.strTarget), f[5]);
    return true;
}

}  // namespace

std::vector<std::string> CopyFolderChain(const std::string& base, const std::string& rel)
{
    std::vector<std::string> chain;
    std::string cur = rel;
    for (;;) {
        chain.push_back(JoinPath(base, cur));
        if (cur.empty())
            break;
        // rel comes from a folder part, so its last byte is a real separator.
        cur = GetFolderPart(cur.substr(0, cur.size() - 1));
    }
    return chain;
}

bool IsCopyUndoItem(const std::string& param1) { return !param1.empty() && param1[0] == kBatchMark; }

bool IsCopyGroupStart(const std::string& param1) { return param1.size() == 1 && param1[0] == kBatchMark; }

std::string CopyGroupStartParam() { return std::string(1, kBatchMark); }

std::string EncodeCopyUndoParam1(const CCopyUndoBatch& batch)
{
    return std::string(1, kBatchMark) + batch.strTarget + kListSep + batch.strBackup;
}

std::string EncodeCopyUndoEntry(const CCopyUndoBatch& batch, const CCopyUndoEntry& e)
{
    if (e.cKind == CCopyUndoEntry::TARGET_FOLDER)
        return std::string(1, e.cKind) + Relative(batch.strTarget, e.strTarget);
    if (e.cKind == CCopyUndoEntry::BACKUP_FOLDER)
        return std::string(1, e.cKind) + Relative(batch.strBackup, e.strTarget);
    std::string text(1, CCopyUndoEntry::FILE_ENTRY);
    text += Relative(batch.strTarget, e.strTarget);
    text += kFieldSep;
    text += Relative(batch.strBackup, e.strBackup);
    text += kFieldSep;
    if (!e.strBackup.empty() && !e.bPending)
        text += e.before.Text();
    text += kFieldSep;
    if (e.after.bPresent)
        text += e.after.Text();
    text += kFieldSep;
    text += TimeText(e.afterTime);
    text += kFieldSep;
    if (!e.strStaged.empty())
        text += GetFileNamePart(e.strStaged);
    text += kFieldSep;
    if (e.bDeleteNew)
        text += 'n';
    if (e.bPending)
        text += 'p';
    return text;
}

std::string EncodeCopyUndoEntries(const CCopyUndoBatch& batch)
{
    if (batch.entries.empty())
        return std::string();
    std::string text(1, kListSep);
    for (const CCopyUndoEntry& e : batch.entries) {
        text += EncodeCopyUndoEntry(batch, e);
        text += kListSep;
    }
    return text;
}

bool DecodeCopyUndoItem(const std::string& param1, const std::string& param2, CCopyUndoBatch& batch)
{
    batch = CCopyUndoBatch();
    if (!IsCopyUndoItem(param1))
        return false;
    if (IsCopyGroupStart(param1))
        return param2.empty();
    size_t bar = param1.find(kListSep);
    if (bar == std::string::npos)
        return false;
    batch.strTarget = param1.substr(1, bar - 1);
    batch.strBackup = param1.substr(bar + 1);
    if (batch.strTarget.empty() || batch.strBackup.empty())
        return false;
    std::vector<std::string> texts;
    if (!SplitList(param2, texts))
        return false;
    for (const std::string& t : texts) {
        CCopyUndoEntry e;
        if (!DecodeEntry(batch, t, e))
            return false;
        batch.entries.push_back(e);
    }
    return true;
}

bool IsCreatedTargetsContinuation(const std::string& p1) { return !p1.empty() && p1[0] == kContinuationMark; }

bool DecodeCreatedTargets(const std::string& p1, const std::string& p2, const std::string& p3,
                          CCopyCreatedTargets& created)
{
    std::string target = IsCreatedTargetsContinuation(p1) ? p1.substr(1) : p1;
    if (target.empty())
        return false;
    std::vector<std::string> files, folders;
    if (!SplitList(p2, files) || !SplitList(p3, folders))
        return false;
    for (const std::string& f : files)
        if (!f.empty())  // an empty file entry would name the Target itself
            created.files.push_back(target + f);
    for (const std::string& d : folders)
        created.folders.push_back(target + d);
    return !files.empty() || !folders.empty();
}
