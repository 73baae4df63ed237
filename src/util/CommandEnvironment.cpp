#include "util/CommandEnvironment.h"

#include <windows.h>

#include <vector>

#include "util/FileUtil.h"

namespace {

bool IsPlainFile(const std::string& path)
{
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !IsDevicePath(path);
}

bool EnvironmentVariable(const std::string& name, std::string& value)
{
    std::vector<char> buffer(1024);
    for (int tries = 0; tries < 4; ++tries) {
        DWORD n = ::GetEnvironmentVariableA(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return false;
        if (n < buffer.size()) {
            value.assign(buffer.data(), n);
            return true;
        }
        buffer.resize(n + 1);
    }
    return false;
}

}  // namespace

CKvCommandEnv KvCommandEnvironment(const std::string& folder)
{
    CKvCommandEnv env;
    env.folder = folder;
    env.isFile = IsPlainFile;
    env.getEnv = EnvironmentVariable;
    env.isLeadByte = [](unsigned char c) { return ::IsDBCSLeadByte(c) != FALSE; };
    std::string pathExt;
    if (EnvironmentVariable("PATHEXT", pathExt) && !pathExt.empty())
        env.pathExt = pathExt;
    return env;
}
