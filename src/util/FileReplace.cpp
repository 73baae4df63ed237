#include "util/FileReplace.h"

#include "util/FileUtil.h"
#include "util/PathText.h"
#include "util/WinHandles.h"

DWORD KvWriteFileByRename(const std::string& path, const std::string& bytes)
{
    if (path.empty() || IsDevicePath(path))
        return ERROR_INVALID_NAME;
    if (!PathFitsLimit(path))
        return ERROR_FILENAME_EXCED_RANGE;
    const std::string folder = GetFolderPart(path);
    if (!folder.empty() && !FileExists(folder))
        CreateDirectoryTree(folder, false);
    std::string temp;
    if (!MakeTempFileName(folder.empty() ? "." : folder, "kvj", temp))
        return ::GetLastError();

    DWORD error = 0;
    {
        CHandle file(::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
        DWORD written = 0;
        if (!file)
            error = ::GetLastError();
        else if (!::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
                 written != bytes.size() || !::FlushFileBuffers(file.Get()))
            error = ::GetLastError() ? ::GetLastError() : static_cast<DWORD>(ERROR_WRITE_FAULT);
    }
    if (error == 0 && !::MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = ::GetLastError();
    if (error != 0)
        ::DeleteFileA(temp.c_str());
    return error;
}
