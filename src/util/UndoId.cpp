#include "util/UndoId.h"

#include "util/FileUtil.h"
#include "util/StrFormat.h"

namespace {

std::string Upper(std::string text)
{
    if (!text.empty())
        ::CharUpperBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

std::string RootName(HKEY root)
{
    if (root == HKEY_LOCAL_MACHINE)
        return "HKLM";
    if (root == HKEY_CURRENT_USER)
        return "HKCU";
    if (root == HKEY_CLASSES_ROOT)
        return "HKCR";
    if (root == HKEY_USERS)
        return "HKU";
    if (root == HKEY_CURRENT_CONFIG)
        return "HKCC";
    return KvFormat("%p", static_cast<void*>(root));
}

}  // namespace

std::string KvUndoFileId(const std::string& path)
{
    std::string full = AbsolutePath(std::string(), path);
    while (full.size() > 3 && (full.back() == '\\' || full.back() == '/'))
        full.pop_back();
    return "file:" + Upper(full);
}

std::string KvUndoRegId(HKEY root, const std::string& keyPath, int view64, const std::string& value, bool isKey)
{
    std::string path = keyPath;
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    std::string id = std::string(isKey ? "regkey:" : "reg:") + (view64 ? "64:" : "32:") + RootName(root) + "\\" +
                     Upper(path);
    if (!isKey)
        id += "\\\\" + Upper(value);  // "\\" cannot occur in a key path
    return id;
}

std::string KvUndoIniId(const std::string& file, const std::string& section, const std::string& key)
{
    return "ini:" + Upper(AbsolutePath(std::string(), file)) + "[" + Upper(KvTrimBlanks(section)) + "]" +
           Upper(KvTrimBlanks(key));
}
