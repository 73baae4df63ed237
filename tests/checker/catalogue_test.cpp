// A catalogue of broken packages: each finding of the checker at least once,
// and next to each broken key one that is right and must stay unreported.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "checker/Checker.h"
#include "checker_support.h"

using namespace kvcheck;

namespace {

struct Expect {
    const char* kind;  // null: no finding for this section and key (whose message holds text)
    const char* section;
    const char* key;
    const char* text;  // a part of the message, or ""
};

struct Case {
    const char* name;
    const char* script;
    std::vector<const char*> files;  // created in the package
    std::vector<Expect> expect;
};

const char* const kAny = nullptr;

const Case kCases[] = {
    {"dispatch",
     R"([ProductInstall.Main]
StepCount=8
Step1.Section=ProductInstall.Frobnicate.X
Step2.Section=ProductRemove.BackupFiles.S
Step4.Section=ProductInstall.BackupFiles.Nowhere
Step5.Section=productinstall.BackupFiles.S
Step6.Section=ProductInstall.backupFiles.S
Step7.Section=ProductInstall.Rollback
Step8.Section=ProductInstall.BackupFiles.S
Step9.Section=ProductInstall.BackupFiles.S
Step0.Description=zero
[ProductInstall.BackupFiles.S]
FileCount=1
Backup=C:\kvchk\bak
File1=C:\kvchk\a.txt
)",
     {},
     {{kUnknownType, "ProductInstall.Main", "Step1.Section", "ProductInstall.Frobnicate.X"},
      {kOtherProcedure, "ProductInstall.Main", "Step2.Section", "ProductRemove."},
      {kMissingStep, "ProductInstall.Main", "Step3.Section", ""},
      {kMissingSection, "ProductInstall.Main", "Step4.Section", "Nowhere"},
      {kWrongCase, "ProductInstall.Main", "Step5.Section", "ProductInstall."},
      {kWrongCase, "ProductInstall.Main", "Step6.Section", "ProductInstall.BackupFiles"},
      {kUnknownType, "ProductInstall.Main", "Step7.Section", "ProductRemove.Main"},
      {kAny, "ProductInstall.Main", "Step8.Section", ""},
      {kBeyondCount, "ProductInstall.Main", "Step9.Section", ""},
      {kBeyondCount, "ProductInstall.Main", "Step0.Description", ""},
      {kAny, "ProductInstall.BackupFiles.S", "File1", ""}}},

    {"keywords",
     R"([ProductInstall.Main]
StepCount=3
Step1.Section=ProductInstall.CopyFileGroupTo.G
Step1.Error.Action=kvhf_continue
Step1.Success.AskYesNo=Go on?
Step1.Success.Yes=KVHF_GOTOSTEP(2)
Step1.Success.No=Abort
Step1.Error.Default=kvhf_gotostep(2)
Step2.Section=ProductInstall.Run.R
Step2.Error.Action=KVHF_GOTOSTEP()
Step3.Section=ProductInstall.GetUserInput.U
[ProductInstall.CopyFileGroupTo.G]
FileGroupCount=1
[FileGroup1]
Target=C:\kvchk\t
Backup=C:\kvchk\b
FileCount=1
File1=a.txt
OnCopyNewFile=kvhf_onlycopyafterlastmodifieddate
OnRollBackFile=KVHF_RollBackExtraAndExistingFile
OnCopyFail=KVHF_CopyFailReboot
[ProductInstall.Run.R]
RunCount=2
Run1.Command=x.exe
Run1.CommandType=kvhf_runathidedialog
Run1.RollbackCommandType=KVHF_RunAtBackground
Run2.Command=y.exe
Run2.CommandType=Background
Run2.Error.Retry=KVHF_RETRY
[ProductInstall.GetUserInput.U]
InputCount=2
Input1.Type=KVHF_Input_EditBox
Input1.RefSymbol=A
Input2.Type=KVHF_INPUT_FOLDER_SELECT
Input2.RefSymbol=B
)",
     {"FileGroup1\\a.txt"},
     {{kWrongCase, "ProductInstall.Main", "Step1.Error.Action", "KVHF_CONTINUE"},
      {kAny, "ProductInstall.Main", "Step1.Success.Yes", ""},
      {kUnknownKeyword, "ProductInstall.Main", "Step1.Success.No", "Abort"},
      {kWrongCase, "ProductInstall.Main", "Step1.Error.Default", "KVHF_GOTOSTEP(2)"},
      {kUnknownKeyword, "ProductInstall.Main", "Step2.Error.Action", "step 0"},
      {kWrongCase, "FileGroup1", "OnCopyNewFile", "KVHF_OnlyCopyAfterLastModifiedDate"},
      {kUnknownKeyword, "FileGroup1", "OnRollBackFile", ""},
      {kAny, "FileGroup1", "OnCopyFail", ""},
      {kWrongCase, "ProductInstall.Run.R", "Run1.CommandType", "KVHF_RunAtHideDialog"},
      {kAny, "ProductInstall.Run.R", "Run1.RollbackCommandType", ""},
      {kUnknownKeyword, "ProductInstall.Run.R", "Run2.CommandType", "command interpreter"},
      {kAny, "ProductInstall.Run.R", "Run2.Error.Retry", ""},
      {kWrongCase, "ProductInstall.GetUserInput.U", "Input1.Type", "KVHF_INPUT_EDITBOX"},
      {kAny, "ProductInstall.GetUserInput.U", "Input2.Type", ""}}},

    {"counts",
     R"([ProductInstall.Main]
StepCount=9
Step1.Section=ProductInstall.StopService.S
Step2.Section=ProductInstall.UpdateRegistry.R
Step3.Section=ProductInstall.UpdateINI.I
Step4.Section=ProductInstall.CheckRequirement.C
Step5.Section=ProductInstall.GetUserInput.U
Step6.Section=ProductInstall.ReplaceSymbolsInFile.F
Step7.Section=ProductInstall.CopyFileGroupTo.G
Step8.Section=ProductInstall.Run.R
Step9.Section=ProductInstall.BackupFiles.B
[ProductInstall.StopService.S]
ServiceCount=5
Service1=Spooler
Service5=Other
Service6=Other
Service6.Description=never
[ProductInstall.UpdateRegistry.R]
RegCount=-1
[ProductInstall.UpdateINI.I]
ItemCount=3x
[ProductInstall.CheckRequirement.C]
Check1.Number=1
[ProductInstall.GetUserInput.U]
InputCount=70000
[ProductInstall.ReplaceSymbolsInFile.F]
FileCount=2
File1.Source=a
File2.Source=b
File2.Output=c
[ProductInstall.CopyFileGroupTo.G]
FileGroupCount=1
FileGroupStartCount=one
[ProductInstall.Run.R]
RunCount=1
Run1.Command=x.exe
Run2.Command=y.exe
[ProductInstall.BackupFiles.B]
FileCount=2
Backup=C:\kvchk\b
File2=C:\kvchk\x
File01=C:\kvchk\y
)",
     {},
     {{kMissingItem, "ProductInstall.StopService.S", "Service2", "Service2 to Service4"},
      {kBeyondCount, "ProductInstall.StopService.S", "Service6", "ServiceCount=5"},
      {kAny, "ProductInstall.StopService.S", "Service6.Description", ""},
      {kBadCount, "ProductInstall.UpdateRegistry.R", "RegCount", "negative"},
      {kBadCount, "ProductInstall.UpdateINI.I", "ItemCount", "reads 3"},
      {kBadCount, "ProductInstall.CheckRequirement.C", "CheckCount", "missing"},
      {kBadCount, "ProductInstall.GetUserInput.U", "InputCount", "4096"},
      {kMissingItem, "ProductInstall.ReplaceSymbolsInFile.F", "File1.Output", ""},
      {kAny, "ProductInstall.ReplaceSymbolsInFile.F", "File2.Output", ""},
      {kBadCount, "ProductInstall.CopyFileGroupTo.G", "FileGroupStartCount", ""},
      {kBeyondCount, "ProductInstall.Run.R", "Run2.Command", ""},
      {kMissingItem, "ProductInstall.BackupFiles.B", "File1", ""},
      {kBeyondCount, "ProductInstall.BackupFiles.B", "File01", "leading zeros"}}},

    {"step count beyond the limit",
     "[ProductInstall.Main]\nStepCount=5000\nStep1.Section=ProductInstall.Nothing\n",
     {},
     {{kBadCount, "ProductInstall.Main", "StepCount", "4096"}}},

    {"record without a removal",
     "[ProductInstall.Main]\nInstallRecordFile=C:\\kvchk\\r.rec\n",
     {},
     {{kBadCount, "ProductInstall.Main", "StepCount", "no step runs"},
      {kNoRemovalRollback, "ProductInstall.Main", "InstallRecordFile", "no ProductRemove.Main"}}},

    {"record with a removal that does not roll back",
     R"([ProductInstall.Main]
InstallRecordFile=C:\kvchk\r.rec
StepCount=1
Step1.Section=ProductInstall.CopyFileGroupTo.G
[ProductInstall.CopyFileGroupTo.G]
FileGroupStartCount=2
[ProductRemove.Main]
StepCount=1
Step1.Section=ProductRemove.BackupFiles.B
[ProductRemove.BackupFiles.B]
FileCount=0
)",
     {},
     {{kNoRemovalRollback, "ProductInstall.Main", "InstallRecordFile", "no ProductRemove.Rollback step"},
      {kBadCount, "ProductInstall.CopyFileGroupTo.G", "FileGroupCount", "missing"},
      {kMissingItem, "ProductRemove.BackupFiles.B", "Backup", ""}}},

    {"file groups",
     R"([ProductInstall.Main]
StepCount=1
Step1.Section=ProductInstall.CopyFileGroupTo.G
[ProductInstall.CopyFileGroupTo.G]
FileGroupStartCount=2
FileGroupCount=4
[FileGroup2]
Target=C:\kvchk\t
Backup=C:\kvchk\b
FileCount=3
File1=bin\*.dll
File2=missing.txt
File3=sub\?.cfg
[FileGroup3]
Target=C:\kvchk\t
Backup=C:\kvchk\b
FileCount=1
File1=a.txt
[FileGroup6]
FileCount=0
)",
     {"FileGroup2\\bin\\x.dll", "FileGroup2\\a.cfg"},
     {{kAny, "FileGroup2", "File1", ""},
      {kMissingFile, "FileGroup2", "File2", "missing.txt"},
      {kMissingFile, "FileGroup2", "File3", "sub"},
      {kMissingFolder, "FileGroup3", "", "FileGroup3"},
      {kMissingSection, "ProductInstall.CopyFileGroupTo.G", "FileGroupCount", "[FileGroup4] to [FileGroup5]"},
      {kAny, "FileGroup6", "", ""}}},

    {"references",
     R"([ProductInstall.Symbols]
R1=[Reg:REG_SZ,HKLM]
R2=[Reg:REG_BINARY,HKLM,SOFTWARE\X,V]
R3=[Reg:REG_SZ,HKEY_CLASSES_ROOT,X]
R4=[Reg:REG_SZ,HKLM,SOFTWARE\X,V,X64]
R5=[Reg:REG_DWORD,hklm,SOFTWARE\X,V,x64]
R6=[Reg:REG_SZ,HKLM,SOFTWARE\X,V
I1=[INI:C:\kvchk\a.ini,,]
I2=[INI:C:\kvchk\a.ini,,Key]
F1=[FileInfo:C:\kvchk\a.dll]
F2=[FileInfo:C:\kvchk\a.dll,fileversion]
S1=[ServiceStatus:]
S2=[ServiceStatus:Spooler]
[ProductInstall.Main]
StepCount=4
Step1.Section=ProductInstall.UpdateRegistry.R
Step2.Section=ProductInstall.UpdateINI.I
Step3.Section=ProductInstall.UpdateSymbols.U
Step4.Section=ProductInstall.RemoveRegistry.D
[ProductInstall.UpdateRegistry.R]
RegCount=3
Reg1.Key=Reg:REG_SZ,HKLM
Reg1.Value=1
Reg2.Key=[Reg:REG_SZ,HKLM,SOFTWARE\X,N]
Reg2.Value=1
Reg3.Key=Reg:reg_dword,HKLM,SOFTWARE\X,N
Reg3.Value=1
[ProductInstall.RemoveRegistry.D]
RegCount=1
Reg1.Key=Reg:REG_SZ,HKLM,SOFTWARE\X
[ProductInstall.UpdateINI.I]
ItemCount=2
Item1.Key=INI:C:\kvchk\a.ini,Sec,
Item1.Value=1
Item2.Key=INI:C:\kvchk\a.ini,Sec,K
Item2.Value=2
[ProductInstall.UpdateSymbols.U]
R1=[FileInfo:C:\kvchk\a.dll,FILESIZE]
)",
     {},
     {{kBadReference, "ProductInstall.Symbols", "R1", "no registry description"},
      {kBadReference, "ProductInstall.Symbols", "R2", "REG_BINARY"},
      {kBadReference, "ProductInstall.Symbols", "R3", "HKEY_CLASSES_ROOT"},
      {kWrongCase, "ProductInstall.Symbols", "R4", "x64"},
      {kAny, "ProductInstall.Symbols", "R5", ""},
      {kBadReference, "ProductInstall.Symbols", "R6", "closing"},
      {kBadReference, "ProductInstall.Symbols", "I1", ""},
      {kAny, "ProductInstall.Symbols", "I2", ""},
      {kBadReference, "ProductInstall.Symbols", "F1", ""},
      {kWrongCase, "ProductInstall.Symbols", "F2", "FileVersion"},
      {kBadReference, "ProductInstall.Symbols", "S1", "no service"},
      {kAny, "ProductInstall.Symbols", "S2", ""},
      {kBadReference, "ProductInstall.UpdateRegistry.R", "Reg1.Key", ""},
      {kBadReference, "ProductInstall.UpdateRegistry.R", "Reg2.Key", "brackets"},
      {kWrongCase, "ProductInstall.UpdateRegistry.R", "Reg3.Key", "REG_DWORD"},
      {kAny, "ProductInstall.RemoveRegistry.D", "Reg1.Key", ""},
      {kBadReference, "ProductInstall.UpdateINI.I", "Item1.Key", ""},
      {kAny, "ProductInstall.UpdateINI.I", "Item2.Key", ""},
      {kWrongCase, "ProductInstall.UpdateSymbols.U", "R1", "FileSize"}}},

    {"symbols",
     R"([ProductInstall.Symbols]
A=%B%\x
B=C:\kvchk
LIT="%NOTDEFINED%"
C=%ALSO_UNDEFINED%
[ProductRemove.Symbols]
RONLY=C:\r
[ProductInstall.Main]
StepCount=4
Step1.Section=ProductInstall.GetUserInput.U
Step1.Description=%RONLY%
Step2.Section=ProductInstall.BackupFiles.B
Step3.Section=ProductInstall.UpdateSymbols.S
Step4.Section=ProductInstall.Run.R
[ProductInstall.GetUserInput.U]
InputCount=1
Input1.Type=KVHF_INPUT_EDITBOX
Input1.RefSymbol=ANSWER
[ProductInstall.BackupFiles.B]
FileCount=3
Backup=%A%\%ANSWER%\%x41%
File1=%NOWHERE%\a.txt
File2=%windir%\b.txt
File3=""%LITERAL%""
[ProductInstall.UpdateSymbols.S]
ANSWER=%B%
WINDIR=x
GHOST=1
[ProductInstall.Run.R]
RunCount=1
Run1.Command=cmd /c echo %PATH% %NOT_AN_ENVIRONMENT_VARIABLE_KV%
[ProductRemove.Main]
StepCount=1
Step1.Section=ProductRemove.Rollback
Step1.Description=%RONLY% %ANSWER%
)",
     {},
     {{kAny, "ProductInstall.Symbols", "A", ""},
      {kAny, "ProductInstall.Symbols", "LIT", ""},
      {kUndefinedSymbol, "ProductInstall.Symbols", "C", "%ALSO_UNDEFINED%"},
      {kUndefinedSymbol, "ProductInstall.Main", "Step1.Description", "%RONLY%"},
      {kAny, "ProductInstall.BackupFiles.B", "Backup", ""},
      {kUndefinedSymbol, "ProductInstall.BackupFiles.B", "File1", "%NOWHERE%"},
      {kUndefinedSymbol, "ProductInstall.BackupFiles.B", "File2", "%WINDIR%?"},
      {kAny, "ProductInstall.BackupFiles.B", "File3", ""},
      {kAny, "ProductInstall.UpdateSymbols.S", "ANSWER", ""},
      {kUndefinedSymbol, "ProductInstall.UpdateSymbols.S", "WINDIR", "built-in"},
      {kUndefinedSymbol, "ProductInstall.UpdateSymbols.S", "GHOST", ""},
      {kUndefinedSymbol, "ProductInstall.Run.R", "Run1.Command", "%NOT_AN_ENVIRONMENT_VARIABLE_KV%"},
      {kAny, "ProductInstall.Run.R", "Run1.Command", "%PATH%"},
      {kAny, "ProductRemove.Main", "Step1.Description", ""}}},

    {"patch information",
     "[PatchInformation]\nKorvexVersion=2.0\nPatchID=KvCheck\nProductName=P\n"
     "[ProductInstall.Main]\nStepCount=0\n",
     {},
     {{kPatchInformation, "PatchInformation", "Language", ""},
      {kBadCount, "ProductInstall.Main", "StepCount", "no step runs"}}},

    {"patch information version",
     "[PatchInformation]\nKorvexVersion=2.1\n[ProductInstall.Main]\nStepCount=0\n",
     {},
     {{kPatchInformation, "PatchInformation", "KorvexVersion", "2.1"}}},

    {"commands",
     R"([ProductInstall.Symbols]
INJ=hi & reg add HKLM\Software\X /f
[ProductInstall.Main]
StepCount=1
Step1.Section=ProductInstall.Run.R
[ProductInstall.Run.R]
RunCount=11
Run1.Command=missing_tool.exe /x
Run2.Command=net stop kvnone
Run3.Command=echo hi & reg add HKLM\Software\X /f
Run4.Command=echo %INJ%
Run5.Command=start /wait reg add HKLM\Software\X /f
Run6.Command=dir & kvtool.exe 1
Run7.Command=kvtool.exe 2
Run7.CommandType=KVHF_RunAtHideDialog
Run8.Command=kvtool.exe 3
Run8.CommandType=KVHF_RunAtHideDialog
Run8.Timeout=120
Run9.Command=kvtool.exe 4
Run9.Timeout=2 min
Run10.Command=kvtool.exe 5
Run10.Path=C:\kvchk\elsewhere
Run11.Command=dir /b > list.txt
Run11.RollbackCommand=if exist list.txt reg delete HKLM\Software\X /f
)",
     {"kvtool.exe"},
     {{kMissingProgram, "ProductInstall.Run.R", "Run1.Command", "MISSING_TOOL.EXE' is not in the package"},
      {kCommandRefused, "ProductInstall.Run.R", "Run2.Command", "'NET'"},
      {kCommandRefused, "ProductInstall.Run.R", "Run3.Command", "'reg'"},
      {kCommandRefused, "ProductInstall.Run.R", "Run4.Command", "added '&'"},
      {kCommandRefused, "ProductInstall.Run.R", "Run5.Command", "'reg'"},
      {kCommandLine, "ProductInstall.Run.R", "Run6.Command", "separators"},
      {kNoTimeout, "ProductInstall.Run.R", "Run7.Command", "Run7.Timeout"},
      {kAny, "ProductInstall.Run.R", "Run8.Command", ""},
      {kMisreadNumber, "ProductInstall.Run.R", "Run9.Timeout", "2 min"},
      {kCommandLine, "ProductInstall.Run.R", "Run10.Command", "not part of the package"},
      {kAny, "ProductInstall.Run.R", "Run11.Command", ""},
      {kCommandRefused, "ProductInstall.Run.R", "Run11.RollbackCommand", "'reg'"}}},

    {"values",
     R"([ProductInstall.Symbols]
SELF=%SELF%x
I1=[INI:app.ini,Sec,Key]
I2=[INI:C:\kvchk\app.ini,Sec,Key]
[ProductInstall.Main]
StepCount=2x
Step1.Section=ProductInstall.CheckRequirement.C
Step2.Section=ProductInstall.Run.Nowhere
[ProductInstall.CheckRequirement.C]
CheckCount=6
Check1.DiskSpace=C:\
Check1.DiskSpace.SizeMB=1e9
Check2.DiskSpace=C:\
Check2.DiskSpace.SizeMB=100
Check3.Number=5.0
Check3.Number.Min=0x10
Check4.Number=%SELF%
Check4.Number.Max=5.2
Check5.ProcessStopped=C:\kvchk\app.exe
Check6.ProcessStopped=app.exe
)",
     {},
     {{kBadCount, "ProductInstall.Main", "StepCount", "reads 2"},
      {kMissingSection, "ProductInstall.Main", "Step2.Section", ""},
      {kSelfReference, "ProductInstall.Symbols", "SELF", "%SELF% refers to itself"},
      {kRelativePath, "ProductInstall.Symbols", "I1", "Windows folder"},
      {kAny, "ProductInstall.Symbols", "I2", ""},
      {kMisreadNumber, "ProductInstall.CheckRequirement.C", "Check1.DiskSpace.SizeMB", "reads it as 1"},
      {kAny, "ProductInstall.CheckRequirement.C", "Check2.DiskSpace.SizeMB", ""},
      {kMisreadNumber, "ProductInstall.CheckRequirement.C", "Check3.Number.Min", "0x10"},
      {kAny, "ProductInstall.CheckRequirement.C", "Check4.Number.Max", ""},
      {kProcessPath, "ProductInstall.CheckRequirement.C", "Check5.ProcessStopped", "never matches"},
      {kAny, "ProductInstall.CheckRequirement.C", "Check6.ProcessStopped", ""}}},

    {"settings and files",
     R"([ProductInstall.Symbols]
BREAK=a%x0d%%x0a%[Injected]
[ProductInstall.Main]
StepCount=5
Step1.Section=ProductInstall.UpdateRegistry.R
Step2.Section=ProductInstall.UpdateINI.I
Step3.Section=ProductInstall.GetUserInput.U
Step4.Section=ProductInstall.ReplaceSymbolsInFile.T
Step5.Section=ProductInstall.CopyFileGroupTo.G
[ProductInstall.UpdateRegistry.R]
RegCount=4
Reg1.Key=Reg:REG_DWORD,HKLM,SOFTWARE\KvChk,A
Reg1.Value=4294967296
Reg2.Key=Reg:REG_DWORD,HKLM,SOFTWARE\KvChk,B
Reg2.Value=0X1F
Reg3.Key=Reg:REG_DWORD,HKLM,SOFTWARE\KvChk,C
Reg3.Value=0xffffffff
Reg4.Key=Reg:REG_SZ,HKLM,SOFTWARE\KvChk,D
Reg4.Value=0X1F
[ProductInstall.UpdateINI.I]
ItemCount=5
Item1.Key=INI:app.ini,Sec,Key
Item1.Value=1
Item2.Key=INI:C:\kvchk\a.ini,Sec],Key
Item2.Value=1
Item3.Key=INI:C:\kvchk\a.ini,Sec,Key=Value
Item3.Value=1
Item4.Key=INI:C:\kvchk\a.ini,Sec,Key
Item4.Value=%BREAK%
Item5.Key=INI:C:\kvchk\a.ini,Sec, Port
Item5.Value=80
[ProductInstall.GetUserInput.U]
InputCount=1
Input1.Type=KVHF_INPUT_EDITBOX
Input1.RefSymbol=A
Input1.Min=0
Input1.Max=0x7fffffff
[ProductInstall.ReplaceSymbolsInFile.T]
FileCount=3
File1.Source=%SOURCEDIR%tpl\missing.tpl
File1.Output=C:\kvchk\out1.txt
File2.Source=%SOURCEDIR%tpl\here.tpl
File2.Output=C:\kvchk\out2.txt
File3.Source=tpl\here.tpl
File3.Output=C:\kvchk\out3.txt
[ProductInstall.CopyFileGroupTo.G]
FileGroupCount=1
[FileGroup1]
Target=C:\kvchk\t
Backup=C:\kvchk\b
FileCount=2
File1=..\tpl\here.tpl
File2=a.txt
FileVersion=6.10
FileBuildNumber=1e3
FileMaintenanceNumber=7
)",
     {"tpl\\here.tpl", "FileGroup1\\a.txt"},
     {{kMisreadNumber, "ProductInstall.UpdateRegistry.R", "Reg1.Value", "beyond 32 bits"},
      {kMisreadNumber, "ProductInstall.UpdateRegistry.R", "Reg2.Value", "lower-case"},
      {kAny, "ProductInstall.UpdateRegistry.R", "Reg3.Value", ""},
      {kAny, "ProductInstall.UpdateRegistry.R", "Reg4.Value", ""},
      {kRelativePath, "ProductInstall.UpdateINI.I", "Item1.Key", "app.ini"},
      {kIniUnwritable, "ProductInstall.UpdateINI.I", "Item2.Key", "']'"},
      {kIniUnwritable, "ProductInstall.UpdateINI.I", "Item3.Key", "'='"},
      {kIniUnwritable, "ProductInstall.UpdateINI.I", "Item4.Value", "line break"},
      {kIniKeyBlanks, "ProductInstall.UpdateINI.I", "Item5.Key", "'Port'"},
      {kMisreadNumber, "ProductInstall.GetUserInput.U", "Input1.Max", "reads it as 0"},
      {kAny, "ProductInstall.GetUserInput.U", "Input1.Min", ""},
      {kMissingFile, "ProductInstall.ReplaceSymbolsInFile.T", "File1.Source", "missing.tpl"},
      {kAny, "ProductInstall.ReplaceSymbolsInFile.T", "File2.Source", ""},
      {kRelativePath, "ProductInstall.ReplaceSymbolsInFile.T", "File3.Source", "%SOURCEDIR%"},
      {kLeavesFolder, "FileGroup1", "File1", "-2304"},
      {kAny, "FileGroup1", "File2", ""},
      {kFileVersion, "FileGroup1", "FileVersion", "6.1"},
      {kMisreadNumber, "FileGroup1", "FileBuildNumber", "reads it as 1"},
      {kAny, "FileGroup1", "FileMaintenanceNumber", ""}}},

    {"sealed and altered",
     "[ProductInstall.Main]\nStepCount=1\nStep1.Section=ProductInstall.CopyFileGroupTo.G\n"
     "[ProductInstall.CopyFileGroupTo.G]\nFileGroupCount=1\n"
     "[FileGroup1]\nTarget=C:\\kvchk\\t\nBackup=C:\\kvchk\\b\nFileCount=1\nFile1=a.txt\n",
     {"FileGroup1\\a.txt", "FileGroup1\\added.txt",
      "package.sha256|; Korvex package manifest 1\r\n"
      "0000000000000000000000000000000000000000000000000000000000000000  FileGroup1\\a.txt\r\n"},
     {{kPackageAltered, "package.sha256", "setup.ini", "not listed"},
      {kPackageAltered, "package.sha256", "FileGroup1\\a.txt", "differs from the manifest"},
      {kPackageAltered, "package.sha256", "FileGroup1\\added.txt", "not listed"}}},
};

bool Matches(const kvcheck::Finding& f, const Expect& e)
{
    return f.section == e.section && f.key == e.key && f.message.find(e.text) != std::string::npos;
}

}  // namespace

TEST(CheckerCatalogue, EachBrokenPackageGivesItsFindings)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        kvtest::TempDir dir("chk");
        kvtest::WriteFileBytes(dir / "setup.ini", kvtest::WithCrLf(c.script));
        // "path|content", or a path alone for a file holding "x".
        for (const std::string file : c.files) {
            const size_t bar = file.find('|');
            kvtest::WriteFileBytes(dir / file.substr(0, bar), bar == std::string::npos ? "x" : file.substr(bar + 1));
        }

        kvcheck::CPackageChecker checker(dir.Path());
        EXPECT_EQ(checker.Run(), kvcheck::kExitFindings) << checker.Error();
        const std::string all = kvtest::FindingLines(checker.Findings());
        for (const Expect& e : c.expect) {
            bool found = false;
            for (const kvcheck::Finding& f : checker.Findings())
                found = found || (Matches(f, e) && (!e.kind || f.kind == e.kind));
            if (e.kind) {
                EXPECT_TRUE(found) << e.kind << " [" << e.section << "] " << e.key << " '" << e.text << "'\n" << all;
            } else {
                EXPECT_FALSE(found) << "[" << e.section << "] " << e.key << " '" << e.text << "'\n" << all;
            }
        }
    }
}

TEST(CheckerCatalogue, EveryKindOfFindingIsCatalogued)
{
    const char* const kinds[] = {kvcheck::kUnknownType,    kvcheck::kOtherProcedure,   kvcheck::kMissingStep,
                                 kvcheck::kMissingSection, kvcheck::kWrongCase,         kvcheck::kUnknownKeyword,
                                 kvcheck::kBeyondCount,    kvcheck::kMissingItem,       kvcheck::kBadCount,
                                 kvcheck::kMissingFolder,  kvcheck::kMissingFile,       kvcheck::kBadReference,
                                 kvcheck::kUndefinedSymbol, kvcheck::kNoRemovalRollback, kvcheck::kPatchInformation,
                                 kvcheck::kCommandRefused, kvcheck::kMissingProgram, kvcheck::kSelfReference,
                                 kvcheck::kMisreadNumber,  kvcheck::kLeavesFolder,     kvcheck::kProcessPath,
                                 kvcheck::kIniUnwritable,  kvcheck::kPackageAltered,   kvcheck::kCommandLine,
                                 kvcheck::kNoTimeout,      kvcheck::kRelativePath,     kvcheck::kFileVersion,
                                 kvcheck::kIniKeyBlanks};
    for (const char* kind : kinds) {
        bool catalogued = false;
        for (const Case& c : kCases)
            for (const Expect& e : c.expect)
                catalogued = catalogued || (e.kind && std::string(e.kind) == kind);
        EXPECT_TRUE(catalogued) << kind;
    }
}
