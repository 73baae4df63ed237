#include "sections/CheckVersionSection.h"

#include <cstdlib>

#include "interpreter/Interpreter.h"

#include <tlhelp32.h>

#include "interpreter/ProgramTexts.h"
#include "sections/ScriptNumbers.h"
#include "util/StrFormat.h"
#include "util/SystemLib.h"
#include "util/WinHandles.h"

namespace {

const int kNoValueKey = -2205;
const unsigned long long kBytesPerMB = 1048576ull;

std::string CheckKey(int i, const char* suffix)
{
    return KvFormat("Check%d.%s", i, suffix);
}

typedef BOOL(WINAPI* GetDiskFreeSpaceExFn)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);

// The root the classic call takes: the drive and a backslash.
std::string DriveRoot(const std::string& path)
{
    char drive[_MAX_DRIVE] = {0};
    if (path.size() < MAX_PATH)
        _splitpath(path.c_str(), drive, nullptr, nullptr, nullptr);
    return drive[0] ? std::string(drive) + "\\" : path;
}

}  // namespace

int CHFS_CheckVersionSection::GetExitCode() { return m_nExitCode; }

int CHFS_CheckVersionSection::Rollback(const std::string&, CHFS_ItemList&) { return 0; }

int CHFS_CheckVersionSection::CompareNumbers(const std::string& a, const std::string& b)
{
    return KvCompareCheckNumbers(a, b);
}

int CHFS_CheckVersionSection::CheckDiskSpaceMB(const std::string& path, int requiredMB)
{
    unsigned long long freeMB = 0;
    GetDiskFreeSpaceExFn freeSpaceEx = reinterpret_cast<GetDiskFreeSpaceExFn>(
        reinterpret_cast<void (*)()>(GetSystemProcAddress("Kernel32.dll", "GetDiskFreeSpaceExA")));
    if (freeSpaceEx) {
        ULARGE_INTEGER available, total, totalFree;
        if (!freeSpaceEx(path.c_str(), &available, &total, &totalFree))
            return -2;
        freeMB = totalFree.QuadPart / kBytesPerMB;
    } else {
        DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
        if (!::GetDiskFreeSpaceA(DriveRoot(path).c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters,
                                 &clusters))
            return -2;
        freeMB = static_cast<unsigned long long>(freeClusters) * bytesPerSector * sectorsPerCluster / kBytesPerMB;
    }
    // Sign-extended: a negative requirement is never met.
    const unsigned long long required = static_cast<unsigned long long>(static_cast<long long>(requiredMB));
    if (freeMB < required)
        return -1;
    return freeMB == required ? 0 : 1;
}

bool CHFS_CheckVersionSection::CheckIfProcessStoppedOrAbsent(const std::string& name)
{
    // Processes only: the module and heap parts of a full snapshot add
    // nothing to the list and can make the whole snapshot fail.
    CHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        m_pInterpreter->Log("CheckIfProcessStoppedOrAbsent: Failed to call CreateToolhelp32Snapshot()=%d",
                            static_cast<int>(::GetLastError()));
        return true;
    }
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    if (!::Process32First(snapshot.Get(), &entry)) {
        m_pInterpreter->Log("CheckIfProcessStoppedOrAbsent: Failed to call Process32First()=%d",
                            static_cast<int>(::GetLastError()));
        return true;
    }
    do {
        entry.szExeFile[sizeof(entry.szExeFile) - 1] = '\0';
        std::string exe(entry.szExeFile);
        size_t slash = exe.find_last_of('\\');
        if (slash != std::string::npos)
            exe.erase(0, slash + 1);
        if (::lstrcmpiA(exe.c_str(), name.c_str()) == 0)
            return false;
        entry.dwSize = sizeof entry;
    } while (::Process32Next(snapshot.Get(), &entry));
    return true;
}

int CHFS_CheckVersionSection::RunCheck(int i, std::string& value)
{
    value = ReadKey(CheckKey(i, "Number"), false);
    if (value != KORVEX_MISSING) {
        std::string min = ReadKey(CheckKey(i, "Number.Min"), true);
        if (min != KORVEX_MISSING && CompareNumbers(value, min) < 0) {
            m_pInterpreter->Log("CheckNumberMin(Min='%s',value='%s') failed!", min.c_str(), value.c_str());
            return -2200;
        }
        std::string max = ReadKey(CheckKey(i, "Number.Max"), true);
        if (max != KORVEX_MISSING && CompareNumbers(value, max) > 0) {
            m_pInterpreter->Log("CheckNumberMax(Max='%s',value='%s') failed!", max.c_str(), value.c_str());
            return -2201;
        }
        return 0;
    }

    value = ReadKey(CheckKey(i, "String"), false);
    if (value != KORVEX_MISSING) {
        const std::string list = "," + ReadKey(CheckKey(i, "String.List"), true) + ",";
        const std::string item = "," + value + ",";
        if (list.find(item) == std::string::npos) {
            m_pInterpreter->Log("CheckString(list='%s',value='%s') failed!", list.c_str(), item.c_str());
            return -2202;
        }
        return 0;
    }

    value = ReadKey(CheckKey(i, "DiskSpace"), false);
    if (value != KORVEX_MISSING) {
        std::string size = ReadKey(CheckKey(i, "DiskSpace.SizeMB"), true);
        if (size == KORVEX_MISSING)
            return 0;
        const int required = KvParseInt(size);
        if (CheckDiskSpaceMB(value, required) < 0) {
            m_pInterpreter->Log("CheckDiskSpaceMB('%s',%d) failed!", value.c_str(), required);
            return -2203;
        }
        return 0;
    }

    value = ReadKey(CheckKey(i, "ProcessStopped"), false);
    if (value != KORVEX_MISSING) {
        if (!CheckIfProcessStoppedOrAbsent(value)) {
            m_pInterpreter->Log("CheckIfProcessStoppedOrAbsent('%s') not stopped", value.c_str());
            return -2204;
        }
        return 0;
    }
    return kNoValueKey;
}

int CHFS_CheckVersionSection::Run(const std::string& sectionName, CHFS_ItemList&)
{
    m_nExitCode = -2000;
    SetSectionName(sectionName);
    const int count = ReadCount("CheckCount", true);
    int result = 0;

    int i = 1;
    while (i <= count) {
        m_pInterpreter->AppendDetail(ReadKey(CheckKey(i, "Description"), true), 0);
        std::string value;
        const int code = RunCheck(i, value);
        if (code == kNoValueKey) {
            m_pInterpreter->Log("*** Syntax error : Check item %d not found !", i);
            m_nExitCode = kNoValueKey;
            return -1;
        }

        if (code == 0) {
            m_pInterpreter->AppendDetail(KvFormat(" - %s\r\n", value.c_str()), 0);
            result = EventHandler(CheckKey(i, "Success."), 0);
        } else {
            m_nExitCode = code;
            std::string message = ReadKey(CheckKey(i, "CustomizedFailureMsg"), true);
            // The word for failure is a program text: it reaches the window as
            // UTF-16 whatever the code page.
            CHFS_UIText line;
            if (message == KORVEX_MISSING)
                line = " - " + value + " (" + m_pInterpreter->UIText(IDS_FAILURE) + ")\r\n";
            else if (message.empty())
                line = CHFS_UIText(" - " + value + "\r\n");
            else
                line = CHFS_UIText(" - " + value + " (" + message + ")\r\n");
            m_pInterpreter->AppendDetail(line, 0);
            result = EventHandler(CheckKey(i, "Error."), -1);
        }

        if (result == KVHF_CONTINUE) {
            result = 0;
            ++i;
        } else if (result == KVHF_RETRY) {
            result = 0;
        } else if (result == 0) {
            ++i;
        } else {
            return result;
        }
    }
    return result;
}
