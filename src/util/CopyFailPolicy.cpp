#include "util/CopyFailPolicy.h"

#include "app/KorvexApp.h"
#include "interpreter/Interpreter.h"
#include "symbols/Builtins.h"
#include "util/FileUtil.h"

namespace {

void LogLine(CHFS_Interpreter* p, const char* text)
{
    if (p)
        p->Log("%s", text);
}

// A file that refuses deletion because it is read-only is ours to delete all
// the same (the safety copy inherits the attributes of the file it saves).
bool DeleteEvenReadOnly(const std::string& path)
{
    if (::DeleteFileA(path.c_str()))
        return true;
    DWORD attrs = ::GetFileAttributesA(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_READONLY))
        return false;
    ::SetFileAttributesA(path.c_str(), attrs & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    return ::DeleteFileA(path.c_str()) != FALSE;
}

void RaiseNeedReboot(CHFS_Interpreter* pLog)
{
    CKorvexApp* app = GetKorvexApp();
    if (!app || !app->m_pInterpreter)
        return;
    app->m_pInterpreter->SetGlobalSymbol("NEED_REBOOT", "TRUE");
    if (pLog)
        pLog->Log("Set Global Symbol '%s' = TRUE", "NEED_REBOOT");
}

}  // namespace

int CopyFileSafe(CHFS_Interpreter* pInterpreter, const std::string& source, const std::string& destination)
{
    std::string safety;
    bool saved = false;
    if (FileExists(destination)) {
        safety = JoinPath(GetFolderPart(destination), "$B$_" + GetFileNamePart(destination));
        // Only a complete safety copy may be put back: restoring a partial one
        // would replace the file with a truncated copy of itself.
        saved = CopyFileKeepTime(destination, safety, pInterpreter) == KVCOPY_OK;
    }

    int r = CopyFileKeepTime(source, destination, pInterpreter);

    if (saved && r != KVCOPY_OK) {
        LogLine(pInterpreter, "Rollback the file because the file copy fail.");
        CopyFileKeepTime(safety, destination, pInterpreter);
    }
    if (!safety.empty() && FileExists(safety))
        DeleteEvenReadOnly(safety);
    return r;
}

int CopyFileWithFailPolicy(CHFS_Interpreter* pInterpreter, const std::string& source,
                           const std::string& destination, bool removeReadOnly, bool reboot)
{
    CHFS_Interpreter* p = pInterpreter;
    int r = CopyFileSafe(p, source, destination);
    if (r == KVCOPY_OK || (!removeReadOnly && !reboot))
        return r;

    if (!FileExists(source) || !FileExists(destination)) {
        LogLine(p, "[OnCopyError] Skip");
        return r;
    }
    if (p)
        p->Log("[OnCopyFail: (bRemoveReadOnly:%d, bReboot:%d)]", removeReadOnly ? 1 : 0, reboot ? 1 : 0);

    if (removeReadOnly) {
        DWORD attrs = ::GetFileAttributesA(destination.c_str());
        if (p)
            p->Log("[OnCopyFail] FileAttributes : %s(%lx) (%x)", destination.c_str(), attrs,
                   static_cast<unsigned>(FILE_ATTRIBUTE_READONLY));
        if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY)) {
            DWORD cleared = attrs & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
            if (::SetFileAttributesA(destination.c_str(), cleared)) {
                r = CopyFileSafe(p, source, destination);
                if (p)
                    p->Log("[OnCopyFail] RemoveReadOnly on File (%s) and retried Copy returns (%d)",
                           destination.c_str(), r);
            } else {
                DWORD err = ::GetLastError();
                if (p)
                    p->Log("[OnCopyFail] SetFileAttributes fail att:(%lx) file:(%s) err:(%lu)", cleared,
                           destination.c_str(), err);
            }
        }
    }
    if (r == KVCOPY_OK || !reboot)
        return r;

    std::string folder = GetFolderPart(destination);
    char buffer[MAX_PATH] = {0};
    std::string staged;
    if (PathFitsLimit(folder) && ::GetTempFileNameA(folder.c_str(), "_KVHF_", 0, buffer))
        staged = buffer;
    else if (p)
        p->Log("[OnCopyFail] GetTempFileName fail in (%s) err:(%lu)", folder.c_str(), ::GetLastError());
    r = staged.empty() ? static_cast<int>(KVCOPY_CREATE_FAILED) : CopyFileSafe(p, source, staged);
    if (r != KVCOPY_OK) {
        if (p)
            p->Log("[OnCopyFail] Copy File (%s) to temp file(%s) fail (%d)", source.c_str(), staged.c_str(), r);
        // A half-filled staged file is of no use to anybody; the destination
        // still holds the old file.
        if (!staged.empty())
            DeleteEvenReadOnly(staged);
        return r;
    }

    bool scheduled = false;
    if (GetPlatformId() == VER_PLATFORM_WIN32_WINDOWS) {
        char shortStaged[MAX_PATH] = {0};
        char shortDest[MAX_PATH] = {0};
        ::GetShortPathNameA(staged.c_str(), shortStaged, sizeof shortStaged);
        ::GetShortPathNameA(destination.c_str(), shortDest, sizeof shortDest);
        if (::WritePrivateProfileStringA("rename", shortDest, shortStaged, "wininit.ini")) {
            scheduled = true;
            if (p)
                p->Log("[OnCopyFail] Copy (%s) to (%s) during next booting via wininit.ini", staged.c_str(),
                       destination.c_str());
        } else if (p) {
            p->Log("[OnCopyFail] WritePrivateProfileString fail when move (%s) to (%s), err(%lu)", staged.c_str(),
                   destination.c_str(), ::GetLastError());
        }
    } else if (::MoveFileExA(staged.c_str(), destination.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT)) {
        scheduled = true;
        if (p)
            p->Log("[OnCopyFail] Copy (%s) to (%s) during next booting via MoveFileEx", staged.c_str(),
                   destination.c_str());
    } else {
        DWORD err = ::GetLastError();
        if (p)
            p->Log("[OnCopyFail] MoveFileEx fail when move (%s) to (%s), err(%lu)", staged.c_str(),
                   destination.c_str(), err);
    }
    if (scheduled)
        RaiseNeedReboot(p);
    return r;
}
