#include "Fixture.h"

class Tables : public InterpreterTest {};

TEST_F(Tables, GlobalHidesScriptAndUpdateNeedsAScriptName)
{
    interp->SetGlobalSymbol("NAME", "global");
    interp->SetSymbol("NAME", "script");
    EXPECT_EQ(interp->GetSymbol("NAME"), "global");
    EXPECT_EQ(interp->GetSymbol("name"), "");
    EXPECT_TRUE(cb.LogContains("@ Update Global Symbol table: 'NAME'='global'"));
    EXPECT_TRUE(cb.LogContains("@ Update Symbol table: 'NAME'='script'"));

    interp->SetGlobalSymbol("ONLY_GLOBAL", "g");
    EXPECT_EQ(interp->UpdateSymbol("ONLY_GLOBAL", "new"), -1);
    EXPECT_TRUE(cb.LogContains("Error! Can't Update undefine symbol 'ONLY_GLOBAL' to 'new'"));
    EXPECT_FALSE(interp->m_scriptSymbols.Contains("ONLY_GLOBAL"));

    EXPECT_EQ(interp->UpdateSymbol("NAME", "changed"), 0);
    EXPECT_EQ(*interp->m_scriptSymbols.Find("NAME"), "changed");
}

TEST_F(Tables, PatchInformationIsNeverExpanded)
{
    interp->SetPatchInfo("PatchID", "KB1");
    EXPECT_TRUE(cb.LogContains("@ Update Patch Information: 'PatchID'='KB1'"));
    EXPECT_EQ(interp->GetPatchInfo("PatchID"), "KB1");
    EXPECT_EQ(interp->GetPatchInfo("Missing"), "");
    EXPECT_EQ(Expand("%PatchID%"), "%PatchID%");
    EXPECT_EQ(interp->GetSymbol("PatchID"), "");
}

TEST_F(Tables, ScriptTextGoesThroughLogsAsData)
{
    // A value full of conversion specifiers must reach the log unchanged.
    interp->SetSymbol("FMT", "%s%n%d");
    EXPECT_TRUE(cb.LogContains("'FMT'='%s%n%d'"));
}

class SymbolSection : public InterpreterTest {};

TEST_F(SymbolSection, LinesInFileOrder)
{
    WriteScript("[ProductInstall.Symbols]\r\n"
                "A=%B%\r\n"
                "B=x\r\n"
                "NOEQUALS\r\n"
                "EMPTY=\r\n"
                "TWICE=first\r\n"
                "TWICE=second\r\n"
                "C=%B%\\%A%\r\n"
                "EQ=a=b\r\n"
                "Q=\"%TEMP%\"\r\n");
    interp->SetGlobalSymbol("TEMP", "C:\\TEMP\\");
    EXPECT_EQ(interp->InitVariables("ProductInstall.Symbols"), 0);
    EXPECT_EQ(*interp->m_scriptSymbols.Find("A"), "%B%");
    EXPECT_EQ(Expand("%A%"), "x");
    EXPECT_FALSE(interp->m_scriptSymbols.Contains("NOEQUALS"));
    ASSERT_TRUE(interp->m_scriptSymbols.Contains("EMPTY"));
    EXPECT_EQ(*interp->m_scriptSymbols.Find("EMPTY"), "");
    EXPECT_EQ(*interp->m_scriptSymbols.Find("C"), "x\\x");
    EXPECT_EQ(*interp->m_scriptSymbols.Find("EQ"), "a=b");
    // Section reading keeps the quotes; the quote rule takes them off unexpanded.
    EXPECT_EQ(*interp->m_scriptSymbols.Find("Q"), "%TEMP%");
    EXPECT_TRUE(cb.LogContains("GetPrivateProfileSection('ProductInstall.Symbols') size="));
    EXPECT_TRUE(cb.LogContains("@ Update Symbol table: 'TWICE'='first'"));
    EXPECT_EQ(*interp->m_scriptSymbols.Find("TWICE"), "second");
}

TEST_F(SymbolSection, MissingSectionLoadsNothing)
{
    WriteScript("[Other]\r\nA=1\r\n");
    EXPECT_EQ(interp->InitVariables("ProductInstall.Symbols"), 0);
    EXPECT_EQ(interp->m_scriptSymbols.Size(), 0u);
    EXPECT_TRUE(cb.LogContains("GetPrivateProfileSection('ProductInstall.Symbols') size=0"));
}

TEST_F(SymbolSection, ReferenceMarkersGoToTheirResolver)
{
    // Without a marker the value stays; with one it is replaced as a whole.
    // The registry marker is tested first, wherever it stands.
    WriteScript("[ProductInstall.Symbols]\r\n"
                "PLAIN=[NotAMarker:x]\r\n"
                "SVC=[ServiceStatus:KorvexNoSuchService]\r\n"
                "BOTH=[ServiceStatus:x][Reg:bad]\r\n");
    EXPECT_EQ(interp->InitVariables("ProductInstall.Symbols"), 0);
    EXPECT_EQ(*interp->m_scriptSymbols.Find("PLAIN"), "[NotAMarker:x]");
    EXPECT_EQ(*interp->m_scriptSymbols.Find("SVC"), "0");
    EXPECT_EQ(*interp->m_scriptSymbols.Find("BOTH"), "");
}

TEST_F(SymbolSection, OversizedSectionIsRefusedWhole)
{
    // 70,000 characters of section text do not fit the 65,536-byte buffer.
    std::string script = "[Big]\r\n";
    for (int i = 0; i < 1000; ++i)
        script += "K" + std::to_string(i) + "=" + std::string(64, 'v') + "\r\n";
    WriteScript(script);
    EXPECT_EQ(interp->InitVariables("Big"), -1);
    EXPECT_EQ(interp->m_scriptSymbols.Size(), 0u);
    EXPECT_TRUE(cb.LogContains("Buffer overflow! bufsize=65536 real_size=")) << cb.LogText();
}

namespace {

// A section whose lines, each counted with its NUL, add up to total characters.
std::string SectionOfLength(const std::string& name, size_t total, size_t& lines, size_t& lastLength)
{
    std::string body;
    lines = 0;
    while (body.size() + 70 + 80 < total) {
        body += "K" + std::to_string(lines++) + "=" + std::string(60, 'v') + std::string(1, '\0');
    }
    std::string last = "L=";
    lastLength = total - body.size() - last.size() - 1;
    last += std::string(lastLength, 'w');
    body += last + std::string(1, '\0');
    ++lines;
    std::string script = "[" + name + "]\r\n";
    for (char c : body)
        script += c == '\0' ? std::string("\r\n") : std::string(1, c);
    return script;
}

}  // namespace

TEST_F(SymbolSection, BufferBoundary)
{
    // Lines plus the list's final NUL fill the 65,536-byte buffer exactly: loaded.
    size_t fitLines = 0, fitLast = 0, overLines = 0, overLast = 0;
    WriteScript(SectionOfLength("Fit", 65535, fitLines, fitLast) +
                SectionOfLength("Over", 65536, overLines, overLast));
    EXPECT_EQ(interp->InitVariables("Fit"), 0);
    EXPECT_EQ(interp->m_scriptSymbols.Size(), fitLines);
    EXPECT_FALSE(cb.LogContains("Buffer overflow")) << cb.LogText().substr(0, 400);
    ASSERT_TRUE(interp->m_scriptSymbols.Contains("L"));
    EXPECT_EQ(interp->m_scriptSymbols.Find("L")->size(), fitLast);

    // One character more does not fit.
    kvtest::CRecordingCallback cb2;
    CHFS_Interpreter other(&cb2, "setup.ini");
    other.m_strScriptFile = interp->m_strScriptFile;
    EXPECT_EQ(other.InitVariables("Over"), -1);
    EXPECT_EQ(other.m_scriptSymbols.Size(), 0u);
    EXPECT_TRUE(cb2.LogContains("Buffer overflow! bufsize=65536 real_size=65536")) << cb2.LogText();
}

class RecordSymbols : public InterpreterTest {};

TEST_F(RecordSymbols, SaveThenLoadGivesEveryValueBack)
{
    std::vector<std::pair<std::string, std::string>> values = {
        {"PLAIN", "C:\\Program Files\\App"},
        {"EMPTY", ""},
        {"EQUALS", "a=b;c"},
        {"SPACES_INSIDE", "two words"},
        {"BLANK_ENDS", "  padded  "},
        {"DQUOTED", "\"quoted\""},
        {"SQUOTED", "'single'"},
        {"TWO_QUOTES", "\"\""},
        {"ONE_QUOTE", "\""},
        {"BACKSLASH_END", "C:\\dir\\"},
        {"CRLF", "line1\r\nline2"},
        {"lower", "case-sensitive name"},
        // Kept literal in the table (a quoted section value): not expanded on the way back.
        {"LITERAL", "%TEMP%\\lit"},
        {"LONE_PERCENT", "100%"},
        {"a%b", "name with a percent sign"},
        {"QUOTE_AND_REF", "\"%WINDIR%\" /x"},
    };
    interp->InitBuiltinSymbols();
    for (const auto& v : values)
        interp->SetSymbol(v.first, v.second);
    std::string record = dir / "record.ini";
    EXPECT_EQ(interp->SaveSymbols(record), 0);

    kvtest::CRecordingCallback cb2;
    CHFS_Interpreter other(&cb2, "setup.ini");
    other.InitBuiltinSymbols();
    EXPECT_EQ(other.LoadSymbols(record), 0);
    EXPECT_EQ(other.m_scriptSymbols.Size(), values.size());
    for (const auto& v : values) {
        const std::string* got = other.m_scriptSymbols.Find(v.first);
        ASSERT_NE(got, nullptr) << v.first;
        EXPECT_EQ(*got, v.second) << v.first;
    }
    // The plain convention of the record: an empty value as two quotes.
    EXPECT_NE(kvtest::ReadFileOr(record).find("=\"\"\r\n"), std::string::npos);
}

TEST_F(RecordSymbols, EmptyTableAndMissingSection)
{
    std::string record = dir / "record.ini";
    EXPECT_EQ(interp->SaveSymbols(record), 0);
    char buf[64] = {0};
    ::GetPrivateProfileStringA("Symbols", "TotalCount", "", buf, sizeof buf, record.c_str());
    EXPECT_STREQ(buf, "0");
    ::GetPrivateProfileStringA("Symbols", "Name.1", "none", buf, sizeof buf, record.c_str());
    EXPECT_STREQ(buf, "none");

    std::string other = dir / "other.ini";
    ASSERT_TRUE(kvtest::WriteFileBytes(other, "[Else]\r\nA=1\r\n"));
    EXPECT_EQ(interp->LoadSymbols(other), 0);
    EXPECT_EQ(interp->m_scriptSymbols.Size(), 0u);
}

TEST_F(RecordSymbols, GapsAndDamagedCounts)
{
    std::string record = dir / "record.ini";
    ASSERT_TRUE(kvtest::WriteFileBytes(record, "[Symbols]\r\nTotalCount=2000000000\r\n"
                                               "Name.1=A\r\nValue.1=1\r\n"
                                               "Name.3=C\r\n"
                                               "Name.4=D\r\nValue.4=%A%-4\r\n"));
    interp->SetSymbol("A", "x");
    DWORD start = ::GetTickCount();
    interp->LoadSymbols(record);
    EXPECT_LT(::GetTickCount() - start, 20000u);
    EXPECT_EQ(*interp->m_scriptSymbols.Find("A"), "1");
    EXPECT_FALSE(interp->m_scriptSymbols.Contains(""));
    EXPECT_EQ(*interp->m_scriptSymbols.Find("C"), "");
    // Plainly stored values are expanded against the table as it stands.
    EXPECT_EQ(*interp->m_scriptSymbols.Find("D"), "1-4");
}

TEST_F(SymbolSection, CallerTagAndTableOfEachLoader)
{
    WriteScript("[ProductInstall.Symbols]\r\n"
                "R=[Reg:REG_SZ,HKLM,SOFTWARE\\KorvexNoSuchKey,Name]\r\n"
                "[PatchInformation]\r\n"
                "PatchID=%x41%1\r\n"
                "P=[Reg:REG_SZ,HKLM,SOFTWARE\\KorvexNoSuchKey,Name]\r\n");
    interp->InitBuiltinSymbols();
    EXPECT_EQ(interp->InitVariables("ProductInstall.Symbols"), 0);
    EXPECT_EQ(*interp->m_scriptSymbols.Find("R"), "");
    EXPECT_TRUE(cb.LogContains("CHFS_Interpreter::InitVariables() => CHFS_Interpreter::GetRegVariable()"))
        << cb.LogText();

    // The patch information goes to its own table, expanded, with its own tag;
    // the checks that follow the load are not under test here.
    cb.logLines.clear();
    interp->InitPatchInfo("PatchInformation");
    EXPECT_EQ(interp->GetPatchInfo("PatchID"), "A1");
    EXPECT_TRUE(interp->m_patchInfo.Contains("P"));
    EXPECT_FALSE(interp->m_scriptSymbols.Contains("PatchID"));
    EXPECT_TRUE(cb.LogContains("@ Update Patch Information: 'PatchID'='A1'"));
    EXPECT_TRUE(cb.LogContains("CHFS_Interpreter::InitPatchInfo() => CHFS_Interpreter::GetRegVariable()"))
        << cb.LogText();
}
