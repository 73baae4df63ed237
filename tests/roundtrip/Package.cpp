#include "Package.h"

#include "../services/TestServices.h"

#include <cstdio>

namespace rt {

namespace {

const char kUninstallRoot[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

void Put(const std::string& path, const std::string& bytes, const FILETIME& created, const FILETIME& written,
         DWORD attributes = FILE_ATTRIBUTE_NORMAL)
{
    kvtest::WriteFileBytes(path, bytes);
    SetTimes(path, created, written);
    ::SetFileAttributesA(path.c_str(), attributes);
}

}  // namespace

FILETIME MakeTime(int year, int month, int day, int hour, int minute, int second)
{
    SYSTEMTIME st = {};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    FILETIME ft = {};
    ::SystemTimeToFileTime(&st, &ft);
    return ft;
}

bool SetTimes(const std::string& path, const FILETIME& created, const FILETIME& written)
{
    HANDLE h = ::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    BOOL ok = ::SetFileTime(h, &created, &written, &written);
    ::CloseHandle(h);
    return ok != FALSE;
}

CWorld::CWorld(const std::string& tag, const Options& opt) : m_dir("rt-" + tag)
{
    char id[64];
    snprintf(id, sizeof id, "KVRT-%s-%lu", tag.c_str(), ::GetCurrentProcessId());
    m_patchID = id;
    kvtest::RegDeleteTree(HKEY_LOCAL_MACHINE, UninstallKey(), kvtest::kProgramView);
    m_db = new kvtest::CPatchDBRedirect(DBFile());
    m_nBigFilesMB = opt.bigFilesMB;
    LayOutProduct();
    if (opt.withSettings) {
        m_regBase = "SOFTWARE\\KorvexRT\\" + m_patchID;
        LayOutSettings();
    }
    if (opt.withService) {
        m_serviceName = "kvrt_" + tag;
        std::string program;
        kvtest::ReadFileBytes(kvsvc::ServiceExe(), program);
        Put(ServiceProgram(), program, MakeTime(2019, 3, 4, 5, 6, 7), MakeTime(2020, 7, 7, 7, 7, 7));
    }
    WritePackage(opt);
    if (opt.withService) {
        m_service.reset(new kvsvc::CTestService(m_serviceName, "", SERVICE_DEMAND_START, ServiceProgram()));
        m_service->Start();
        m_snap.AddService(m_serviceName);
    }
    m_snap.AddFolder(Product())
        .AddFolder(Backup())
        .AddFolder(Saved())
        .AddRegKey(HKEY_LOCAL_MACHINE, UninstallKey(), kvtest::kProgramView)
        .AddRegKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Norlane\\Korvex", kvtest::kProgramView)
        .AddIni(DBFile());
    if (opt.withSettings) {
        m_snap.AddRegKey(HKEY_LOCAL_MACHINE, m_regBase, kvtest::kProgramView)
            .AddRegKey(HKEY_LOCAL_MACHINE, m_regBase, KEY_WOW64_64KEY)
            .AddIni(SettingsIni());
    }
}

CWorld::~CWorld()
{
    if (!m_regBase.empty())
        RemoveSettings();
    kvtest::RegDeleteTree(HKEY_LOCAL_MACHINE, UninstallKey(), kvtest::kProgramView);
    delete m_db;
}

std::string CWorld::UninstallKey() const { return kUninstallRoot + m_patchID; }

void CWorld::ResetProduct()
{
    kvtest::RemoveTree(Product());
    kvtest::RemoveTree(Backup());
    kvtest::RemoveTree(Saved());
    LayOutProduct();
}

namespace {

// Bytes that differ from block to block, so that a copy cut short or a
// block out of place shows.
std::string BigBytes(int mb, char seed)
{
    std::string bytes(static_cast<size_t>(mb) << 20, seed);
    for (size_t i = 0; i < bytes.size(); i += 4096)
        bytes[i] = static_cast<char>(i >> 12);
    return bytes;
}

}  // namespace

void CWorld::LayOutProduct()
{
    // Distinct, old times and a read-only file: a restore that loses bytes,
    // times or attributes shows in the snapshot.
    FILETIME c = MakeTime(2019, 3, 4, 5, 6, 7), w = MakeTime(2020, 1, 2, 3, 4, 5);
    std::string p = Product();
    Put(p + "\\a.txt", "product a 1.0\r\n", c, w);
    Put(p + "\\bin\\b.dll", std::string("MZ\x90\0old b", 10), c, MakeTime(2020, 2, 2, 2, 2, 2));
    Put(p + "\\bin\\sub\\c.cfg", "c=1\r\n", c, MakeTime(2020, 3, 3, 3, 3, 3));
    Put(p + "\\readme.txt", "old readme\r\n", c, MakeTime(2020, 4, 4, 4, 4, 4), FILE_ATTRIBUTE_READONLY);
    Put(p + "\\conf\\app.cfg", "stamp=original\r\n", c, MakeTime(2020, 5, 5, 5, 5, 5));
    Put(p + "\\conf\\second.cfg", "second=original\r\n", c, MakeTime(2020, 6, 6, 6, 6, 6),
        FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
    Put(p + "\\untouched.txt", "nobody changes me\r\n", c, w);
    // An 8-bit name: its path reaches the record only in escaped form.
    Put(p + "\\conf\\caf\xe9.cfg", "accent=original\r\n", c, MakeTime(2020, 7, 7, 7, 7, 7));
    m_replaced = {p + "\\a.txt", p + "\\bin\\b.dll", p + "\\bin\\sub\\c.cfg", p + "\\readme.txt",
                  p + "\\conf\\second.cfg"};
    for (int i = 1; i <= 3 && m_nBigFilesMB > 0; ++i) {
        std::string big = p + "\\data\\big" + std::to_string(i) + ".bin";
        Put(big, BigBytes(m_nBigFilesMB, static_cast<char>('a' + i)), c, MakeTime(2020, 8, i, 8, 8, 8));
        m_replaced.push_back(big);
    }
}

void CWorld::RemoveSettings()
{
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        kvtest::RegDeleteTree(HKEY_LOCAL_MACHINE, m_regBase, view);
        // The shared parent goes only once it is empty.
        ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\KorvexRT", view, 0);
    }
}

void CWorld::LayOutSettings()
{
    RemoveSettings();
    // Texts the record must carry unchanged: a %NAME% that is not to be
    // expanded, blanks and quotes at the ends, the missing-value marker.
    auto sz = [](const std::string& sub, const std::string& name, const std::string& text, REGSAM view) {
        return kvtest::RegWriteString(HKEY_LOCAL_MACHINE, sub, name, text, view);
    };
    auto dword = [](const std::string& sub, const std::string& name, DWORD v, REGSAM view) {
        return kvtest::RegWriteValue(HKEY_LOCAL_MACHINE, sub, name, REG_DWORD, &v, sizeof v, view);
    };
    const REGSAM own = kvtest::kProgramView;
    const std::string program = m_regBase + "\\Program", native = m_regBase + "\\Native";
    sz(program, "Path", "%PRODUCT%\\old", own);
    dword(program, "Level", 5, own);
    sz(program, "", "program default", own);
    sz(program, "Obsolete", "  \"quoted\" %TEMP% ", own);
    sz(program + "\\Old", "A", "old, a", own);
    dword(program + "\\Old", "B", 0xFFFFFFFFu, own);
    sz(program + "\\Old", "", "old default", own);
    sz(program + "\\Old", "Marker", "(empty)", own);
    sz(native, "Wide", "wide old", KEY_WOW64_64KEY);
    kvtest::WriteFileBytes(SettingsIni(), "top=1\r\n[Main]\r\nPort=80\r\nEmpty=\r\n"
                                          "Literal=%PRODUCT%\\keep\r\nQuoted=\"a b\"\r\n");
}

void CWorld::WritePackage(const Options& opt)
{
    std::string pkg = Pkg();
    kvtest::CreateTree(pkg);
    ::CopyFileA(kvtest::KorvexExe().c_str(), (pkg + "\\Korvex.exe").c_str(), FALSE);
    FILETIME c = MakeTime(2025, 1, 1, 0, 0, 0), w = MakeTime(2025, 6, 1, 12, 0, 0);
    Put(pkg + "\\FileGroup1\\a.txt", "patched a 2.0\r\n", c, w);
    Put(pkg + "\\FileGroup1\\bin\\b.dll", "MZ patched b", c, w);
    Put(pkg + "\\FileGroup2\\bin\\sub\\c.cfg", "c=2\r\n", c, w);
    Put(pkg + "\\FileGroup2\\readme.txt", "new readme\r\n", c, w);
    Put(pkg + "\\FileGroup3\\conf\\second.cfg", "second=patched\r\n", c, w);
    for (int i = 1; i <= 3 && opt.bigFilesMB > 0; ++i)
        Put(pkg + "\\FileGroup1\\data\\big" + std::to_string(i) + ".bin",
            BigBytes(opt.bigFilesMB, static_cast<char>('A' + i)), c, w);
    if (opt.withNewFiles) {
        Put(pkg + "\\FileGroup2\\new\\n1.txt", "new one\r\n", c, w);
        Put(pkg + "\\FileGroup2\\new\\n2.txt", "new two\r\n", c, w);
        Put(pkg + "\\FileGroup3\\tools\\t1.bin", "tool 1", c, w);
        Put(pkg + "\\FileGroup3\\tools\\deep\\t2.bin", "tool 2", c, w);
    }
    kvtest::WriteFileBytes(pkg + "\\templates\\app.cfg.tpl", "stamp=%STAMP%\r\n");
    kvtest::WriteFileBytes(pkg + "\\templates\\remove.tpl", "%PKG%\\Korvex.exe /U:\"%RecordFile%\"\r\n");
    kvtest::WriteFileBytes(pkg + "\\templates\\report.tpl", "stamp=%STAMP% by=%REMOVED_BY%\r\n");

    std::vector<std::string> steps;
    if (opt.withCommands)
        steps.push_back("ProductInstall.CheckRequirement.Pre|Check the product");
    if (opt.updateSymbols)
        steps.push_back("ProductInstall.UpdateSymbols.Stamp|Stamp the symbols");
    if (opt.backupFiles)
        steps.push_back("ProductInstall.BackupFiles.Config|Save the configuration");
    if (opt.withSettings) {
        steps.push_back("ProductInstall.UpdateRegistry.Settings|Update the settings");
        steps.push_back("ProductInstall.RemoveRegistry.Settings|Remove old settings");
        steps.push_back("ProductInstall.UpdateINI.Settings|Update the INI file");
    }
    if (opt.withCommands)
        steps.push_back("ProductInstall.Run.Before|Prepare the product");
    if (opt.withService) {
        steps.push_back("ProductInstall.StopService.Product|Stop the product service");
        steps.push_back("ProductInstall.CopyFileGroupTo.Service|Replace the service program");
    }
    steps.push_back("ProductInstall.CopyFileGroupTo.Files|Copy files");
    if (!opt.failingStepAction.empty())
        steps.push_back("ProductInstall.CopyFileGroupTo.Missing|Copy missing files");
    if (opt.withCommands)
        steps.push_back("ProductInstall.Run.Verify|Verify the product");
    if (opt.withService)
        steps.push_back("ProductInstall.StartService.Product|Start the product service");
    if (opt.replaceText)
        steps.push_back("ProductInstall.ReplaceSymbolsInFile.Config|Write the configuration");

    std::string s;
    s += "[PatchInformation]\r\nKorvexVersion=2.0\r\nPatchID=" + m_patchID +
         "\r\nProductName=Round Trip Product\r\nLanguage=ENU\r\nProductVersion=7.1\r\nBuildNumber=1234\r\n"
         "Platform=x64\r\nPatchDescription=Round trip patch " + m_patchID + "\r\nTimeOutSecond=600\r\n\r\n";
    s += "[ProductInstall.Symbols]\r\nPKG=" + pkg + "\r\nPRODUCT=" + Product() + "\r\nBACKUP=" + Backup() +
         "\r\nSAVED=" + Saved() + "\r\nRecordFile=" + RecordFile() +
         "\r\nSTAMP=before\r\nOLDV=\"%PRODUCT%\\old\"\r\nLITERAL=\"%PRODUCT%\\lit\"\r\n";
    if (opt.withService)
        s += "SVC=" + m_serviceName + "\r\n";
    if (opt.withSettings)
        s += "REGBASE=" + m_regBase + "\r\nSETTINGS=" + SettingsIni() + "\r\n";
    s += "\r\n";
    s += "[ProductInstall.Main]\r\n";
    if (opt.withRecord)
        s += "InstallRecordFile=%RecordFile%\r\n";
    s += "StepCount=" + std::to_string(steps.size()) + "\r\n";
    for (size_t i = 0; i < steps.size(); ++i) {
        std::string n = std::to_string(i + 1);
        size_t bar = steps[i].find('|');
        s += "Step" + n + ".Section=" + steps[i].substr(0, bar) + "\r\n";
        s += "Step" + n + ".Description=" + steps[i].substr(bar + 1) + "\r\n";
        if (steps[i].find(".Missing") != std::string::npos)
            s += "Step" + n + ".Error.Action=" + opt.failingStepAction + "\r\n";
    }
    s += "\r\n[ProductInstall.UpdateSymbols.Stamp]\r\nSTAMP=after\r\nOLDV=replaced\r\n\r\n";
    s += "[ProductInstall.BackupFiles.Config]\r\nFileCount=3\r\nBackup=%SAVED%\r\n"
         "File1=%PRODUCT%\\conf\\app.cfg\r\nFile2=%PRODUCT%\\untouched.txt\r\n"
         "File3=%PRODUCT%\\conf\\caf\xe9.cfg\r\n\r\n";
    s += "[ProductInstall.CopyFileGroupTo.Files]\r\nFileGroupCount=3\r\nFileGroupStartCount=1\r\n\r\n";
    s += "[ProductInstall.CopyFileGroupTo.Missing]\r\nFileGroupCount=1\r\nFileGroupStartCount=4\r\n\r\n";
    s += "[FileGroup1]\r\nDescription=Main files\r\nTarget=%PRODUCT%\r\nBackup=%BACKUP%\r\n";
    s += opt.bigFilesMB > 0 ? "FileCount=3\r\nFile3=data\\*.bin\r\n" : "FileCount=2\r\n";
    s += "File1=a.txt\r\nFile2=bin\\*.dll\r\nOnRollBackFile=KVHF_RollBackExtraAndExistenFile\r\n\r\n";
    s += "[FileGroup2]\r\nDescription=Configuration and new files\r\nTarget=%PRODUCT%\r\nBackup=%BACKUP%\r\n";
    s += opt.withNewFiles ? "FileCount=3\r\n" : "FileCount=2\r\n";
    s += "File1=bin\\sub\\c.cfg\r\nFile2=readme.txt\r\n";
    if (opt.withNewFiles)
        s += "File3=new\\*.txt\r\n";
    s += "OnCopyFail=KVHF_CopyFailRemoveReadonly\r\nOnRollBackFile=KVHF_RollBackExtraAndExistenFile\r\n\r\n";
    s += "[FileGroup3]\r\nDescription=Tools\r\nTarget=%PRODUCT%\r\nBackup=%BACKUP%\r\n";
    s += opt.withNewFiles ? "FileCount=3\r\n" : "FileCount=1\r\n";
    s += "File1=conf\\second.cfg\r\n";
    if (opt.withNewFiles)
        s += "File2=tools\\*.bin\r\nFile3=tools\\deep\\t2.bin\r\n";
    s += "OnCopyFail=KVHF_CopyFailRemoveReadonly\r\nOnRollBackFile=KVHF_RollBackExtraAndExistenFile\r\n\r\n";
    if (opt.withService) {
        // The new program: the same service with bytes appended, so the
        // replacement shows in the product folder.
        std::string program;
        kvtest::ReadFileBytes(kvsvc::ServiceExe(), program);
        Put(pkg + "\\FileGroup5\\svc\\kvrtsvc.exe", program + "patched service 2.0", c, w);
        s += "[ProductInstall.StopService.Product]\r\nServiceCount=1\r\n"
             "Service1.Description=Stopping %SVC%\r\nService1=%SVC%\r\nService1.WaitSeconds=5\r\n\r\n";
        s += "[ProductInstall.StartService.Product]\r\nServiceCount=1\r\n"
             "Service1.Description=Starting %SVC%\r\nService1=%SVC%\r\nService1.WaitSeconds=5\r\n\r\n";
        s += "[ProductInstall.CopyFileGroupTo.Service]\r\nFileGroupCount=1\r\nFileGroupStartCount=5\r\n\r\n";
        s += "[FileGroup5]\r\nDescription=Service program\r\nTarget=%PRODUCT%\r\nBackup=%BACKUP%\r\n"
             "FileCount=1\r\nFile1=svc\\kvrtsvc.exe\r\nOnRollBackFile=KVHF_RollBackExtraAndExistenFile\r\n\r\n";
    }
    if (opt.withSettings) {
        const std::string reg = "Reg:REG_SZ,HKLM,%REGBASE%\\", dw = "Reg:REG_DWORD,HKLM,%REGBASE%\\";
        s += "[ProductInstall.UpdateRegistry.Settings]\r\nRegCount=5\r\n"
             "Reg1.Description=Path\r\nReg1.Key=" + reg + "Program,Path\r\nReg1.Value=%PRODUCT%\\bin\r\n"
             "Reg2.Description=Level\r\nReg2.Key=" + dw + "Program,Level\r\nReg2.Value=0x1F\r\n"
             "Reg3.Description=Default\r\nReg3.Key=" + reg + "Program\r\nReg3.Value=patched default\r\n"
             "Reg4.Description=Wide\r\nReg4.Key=" + reg + "Native,Wide,x64\r\nReg4.Value=wide new\r\n"
             "Reg5.Description=New key\r\nReg5.Key=" + dw + "Native\\New,Added,x64\r\nReg5.Value=7\r\n\r\n";
        s += "[ProductInstall.RemoveRegistry.Settings]\r\nRegCount=3\r\n"
             "Reg1.Description=Obsolete\r\nReg1.Key=" + reg + "Program,Obsolete\r\n"
             "Reg2.Description=Old key\r\nReg2.Key=" + reg + "Program\\Old\r\n"
             "Reg3.Description=Never there\r\nReg3.Key=" + reg + "Program,NeverThere\r\n\r\n";
        s += "[ProductInstall.UpdateINI.Settings]\r\nItemCount=6\r\n"
             "Item1.Key=INI:%SETTINGS%,Main,Port\r\nItem1.Value=8080\r\n"
             "Item2.Key=INI:%SETTINGS%,Main,New\r\nItem2.Value=added\r\n"
             "Item3.Key=INI:%SETTINGS%,Main,Empty\r\nItem3.Value=filled\r\n"
             "Item4.Key=INI:%SETTINGS%,Main,Literal\r\nItem4.Value=%PRODUCT%\\new\r\n"
             "Item5.Key=INI:%SETTINGS%,Main,Quoted\r\nItem5.Value=q\r\n"
             "Item6.Key=INI:%SETTINGS%,,top\r\nItem6.Value=2\r\n\r\n";
    }
    if (opt.withCommands) {
        s += "[ProductInstall.CheckRequirement.Pre]\r\nCheckCount=4\r\n"
             "Check1.Description=Product version\r\nCheck1.Number=7.1.1234\r\n"
             "Check1.Number.Min=7.1.1000\r\nCheck1.Number.Max=7.2\r\n"
             "Check2.Description=Language\r\nCheck2.String=ENU\r\nCheck2.String.List=CHS,ENU\r\n"
             "Check3.Description=Free space\r\nCheck3.DiskSpace=%PRODUCT%\r\nCheck3.DiskSpace.SizeMB=1\r\n"
             "Check4.Description=Product closed\r\nCheck4.ProcessStopped=" + std::string(kBlockerName) +
             "\r\n\r\n";
        s += "[ProductInstall.Run.Before]\r\nRunCount=3\r\n"
             "Run1.Description=Mark the product\r\nRun1.Command=echo ran> ran.txt\r\n"
             "Run1.RollbackCommand=del ran.txt\r\nRun1.Path=%PRODUCT%\r\n"
             "Run2.Description=Remove the second mark\r\nRun2.RollbackCommand=del ran2.txt\r\n"
             "Run2.Path=%PRODUCT%\r\n"
             "Run3.Description=Second mark\r\nRun3.Command=echo two> ran2.txt\r\nRun3.Path=%PRODUCT%\r\n\r\n";
        s += "[ProductInstall.Run.Verify]\r\nRunCount=1\r\nRun1.Description=Verify\r\n"
             "Run1.Command=if exist \"%PKG%\\fail.flag\" dir no_such_file.kv\r\nRun1.Path=%PKG%\r\n\r\n";
    }
    s += "[FileGroup4]\r\nDescription=Not shipped\r\nTarget=%PRODUCT%\r\nBackup=%BACKUP%\r\nFileCount=1\r\n"
         "File1=absent\\*.txt\r\n\r\n";
    // The configuration is rewritten only where a BackupFiles step saves it
    // (nothing else undoes a text replacement). The removal command comes
    // last: the last output's folder names the program of the uninstall entry.
    std::string n = "1";
    s += "[ProductInstall.ReplaceSymbolsInFile.Config]\r\n";
    s += opt.backupFiles ? "FileCount=3\r\n" : "FileCount=1\r\n";
    if (opt.backupFiles) {
        s += "File1.Description=Configuration\r\nFile1.Source=%PKG%\\templates\\app.cfg.tpl\r\n"
             "File1.Output=%PRODUCT%\\conf\\app.cfg\r\n"
             "File2.Description=Accented\r\nFile2.Source=%PKG%\\templates\\app.cfg.tpl\r\n"
             "File2.Output=%PRODUCT%\\conf\\caf\xe9.cfg\r\n";
        n = "3";
    }
    s += "File" + n + ".Description=Removal command\r\nFile" + n + ".Source=%PKG%\\templates\\remove.tpl\r\n"
         "File" + n + ".Output=%PKG%\\uninstall\\remove.cmd\r\n\r\n";
    s += "[ProductRemove.Symbols]\r\nREMOVED_BY=removal\r\n\r\n";
    s += "[ProductRemove.Main]\r\nStepCount=2\r\n"
         "Step1.Section=ProductRemove.Rollback\r\nStep1.Description=Undo the patch\r\n";
    // After a switch from a failed install there is no record to replay (the
    // install's own rollback has undone it): go on to the report.
    if (!opt.failingStepAction.empty())
        s += "Step1.Error.Action=KVHF_CONTINUE\r\n";
    s += "Step2.Section=ProductRemove.ReplaceSymbolsInFile.Report\r\nStep2.Description=Report\r\n\r\n";
    s += "[ProductRemove.Rollback]\r\n\r\n";
    s += "[ProductRemove.ReplaceSymbolsInFile.Report]\r\nFileCount=1\r\n"
         "File1.Source=%PKG%\\templates\\report.tpl\r\nFile1.Output=%PKG%\\report.txt\r\n";
    kvtest::WriteFileBytes(pkg + "\\setup.ini", s);
    if (opt.readOnlyScript)
        ::SetFileAttributesA((pkg + "\\setup.ini").c_str(), FILE_ATTRIBUTE_READONLY);
    kvtest::CreateTree(pkg + "\\uninstall");
}

kvtest::SnapshotState CWorld::Capture() const { return m_snap.Capture(); }

kvtest::SnapshotTolerance CWorld::Traces() const
{
    // The database section keeps the patch's history; nothing else stays,
    // not even the folders the backups were made in.
    std::vector<std::string> keys = {"TimeOutSecond", "TimeStamp", "ResultCode", "Progress", "ErrorMSG"};
    return kvtest::TolerateIniKeys(DBFile(), m_patchID, keys);
}

kvtest::ProcessResult CWorld::Install(const std::string& args) const
{
    return kvtest::RunProcess("\"" + Pkg() + "\\Korvex.exe\" " + args, Pkg());
}

kvtest::ProcessResult CWorld::RunCommand(const std::string& commandLine) const
{
    return kvtest::RunProcess(commandLine, "C:\\");
}

std::string CWorld::UninstallString() const
{
    std::string v;
    kvtest::RegReadString(HKEY_LOCAL_MACHINE, UninstallKey(), "UninstallString", v, kvtest::kProgramView);
    return v;
}


CSmallPatch::CSmallPatch(const kvtest::TempDir& dir, const std::string& tag, const std::string& name)
    : m_pkg(dir / ("pkg" + name)), m_record(dir / ("records\\" + name + ".ini")), m_name(name)
{
    char id[64];
    snprintf(id, sizeof id, "KVRT-%s%s-%lu", tag.c_str(), name.c_str(), ::GetCurrentProcessId());
    m_patchID = id;
    kvtest::CreateTree(m_pkg);
    ::CopyFileA(kvtest::KorvexExe().c_str(), (m_pkg + "\\Korvex.exe").c_str(), FALSE);
}

CSmallPatch::~CSmallPatch() { kvtest::RegDeleteTree(HKEY_LOCAL_MACHINE, UninstallKey(), kvtest::kProgramView); }

std::string CSmallPatch::UninstallKey() const
{
    return kUninstallRoot + m_patchID;
}

void CSmallPatch::WriteScript(int stepCount, const std::string& steps, const std::string& sections) const
{
    kvtest::WriteFileBytes(
        m_pkg + "\\setup.ini",
        "[PatchInformation]\r\nKorvexVersion=2.0\r\nPatchID=" + m_patchID +
            "\r\nProductName=Small Product\r\nLanguage=ENU\r\nProductVersion=7.1\r\nBuildNumber=1\r\n"
            "Platform=x64\r\nPatchDescription=Small patch " + m_name + "\r\nTimeOutSecond=600\r\n"
            "UninstallString=" + m_pkg + "\\setup.ini\r\n\r\n"
            "[ProductInstall.Symbols]\r\nRecordFile=" + m_record + "\r\n\r\n"
            "[ProductInstall.Main]\r\nInstallRecordFile=" + m_record + "\r\nStepCount=" +
            std::to_string(stepCount) + "\r\n" + steps + "\r\n" + sections +
            "\r\n[ProductRemove.Main]\r\nStepCount=1\r\n"
            "Step1.Section=ProductRemove.Rollback\r\nStep1.Description=Undo the patch\r\n\r\n"
            "[ProductRemove.Rollback]\r\n");
}

kvtest::ProcessResult CSmallPatch::Install() const
{
    return kvtest::RunProcess("\"" + m_pkg + "\\Korvex.exe\" /S /G", m_pkg);
}

kvtest::ProcessResult CSmallPatch::Remove() const
{
    return kvtest::RunProcess("\"" + m_pkg + "\\Korvex.exe\" /U:\"" + m_record + "\" /S /G", "C:\\");
}

bool CSmallPatch::Installed() const
{
    return kvtest::Exists(m_record) && kvtest::RegKeyExists(HKEY_LOCAL_MACHINE, UninstallKey(), kvtest::kProgramView);
}

}  // namespace rt
