// The install record in-process: what SaveRecord writes, what LoadRecord
// gives back, and the removal step that replays it.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "interpreter/Interpreter.h"
#include "interpreter/ItemList.h"
#include "sections/RollbackSection.h"

namespace {

// A fresh interpreter for every test; the record is read and written
// through it.
class RecordTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_interp.reset(new CHFS_Interpreter(&m_cb, "setup.ini"));
        m_file = m_dir / "record.ini";
    }

    std::string Raw(const std::string& section, const std::string& key)
    {
        char buf[65536];
        DWORD n = ::GetPrivateProfileStringA(section.c_str(), key.c_str(), "<none>", buf, sizeof buf,
                                             m_file.c_str());
        return std::string(buf, n);
    }
    std::vector<std::string> SectionNames()
    {
        std::string names(65536, '\0');
        DWORD n = ::GetPrivateProfileSectionNamesA(&names[0], static_cast<DWORD>(names.size()), m_file.c_str());
        names.resize(n);
        std::vector<std::string> out;
        for (size_t p = 0; p < names.size();) {
            std::string s = names.c_str() + p;
            p += s.size() + 1;
            if (!s.empty())
                out.push_back(s);
        }
        return out;
    }

    kvtest::CRecordingCallback m_cb;
    std::unique_ptr<CHFS_Interpreter> m_interp;
    kvtest::TempDir m_dir{"record"};
    std::string m_file;
};

std::string AllBytes()
{
    std::string s;
    for (int i = 1; i < 256; ++i)
        s += static_cast<char>(i);
    return s;
}

}  // namespace

TEST_F(RecordTest, EveryParameterComesBackUnchanged)
{
    // Texts the profile format would trim, unquote, split or cut, next to
    // ordinary ones that must stay exactly as they are.
    const std::vector<std::string> values = {
        "C:\\Product\\bin\\a.dll",
        "%TEMP%\\old",
        "(empty)",
        " leading",
        "trailing ",
        "\t",
        "\"quoted\"",
        "'single'",
        "\"",
        "\"\"",
        "half\"",
        "line\r\nbreak",
        "lf\nonly",
        "cr\ronly",
        "x=y;z [S]",
        "~KVESC~looks encoded",
        "~KVESC~\\q",
        "back\\x41slash\\",
        "\xd6\xd0\xce\xc4 path",
        AllBytes(),
        std::string(5000, 'L'),
        std::string(6000, '\n'),
    };
    CHFS_ItemList list;
    for (size_t i = 0; i < values.size(); ++i) {
        list.SetStep(static_cast<int>(i % 3) + 1);
        const std::string& v = values[i];
        ASSERT_EQ(0, list.AddItem(static_cast<int>(i) * 7 - 3, v, v + "2", "3" + v));
    }
    ASSERT_EQ(0, list.SaveRecord(m_interp.get(), m_file));

    CHFS_ItemList back;
    ASSERT_EQ(0, back.LoadRecord(m_interp.get(), m_file));
    ASSERT_EQ(list.Size(), back.Size());
    for (size_t i = 0; i < values.size(); ++i) {
        const CHFS_RecordItem& a = list.Items()[i];
        const CHFS_RecordItem& b = back.Items()[i];
        SCOPED_TRACE("item " + std::to_string(i));
        EXPECT_EQ(a.nStep, b.nStep);
        EXPECT_EQ(a.nItemIndex, b.nItemIndex);
        EXPECT_EQ(a.strParam1, b.strParam1);
        EXPECT_EQ(a.strParam2, b.strParam2);
        EXPECT_EQ(a.strParam3, b.strParam3);
    }
}

TEST_F(RecordTest, PlainValuesAreStoredAsTheyAreAndEmptyOnesAreAbsent)
{
    CHFS_ItemList list;
    list.SetStep(4);
    list.AddItem(2, "C:\\Program Files\\Demo\\a.txt", "", "Value with = inside");
    ASSERT_EQ(0, list.SaveRecord(m_interp.get(), m_file));
    EXPECT_EQ("1", Raw("REC_0", "TotalCount"));
    EXPECT_EQ("4", Raw("REC_1", "SectionIndex"));
    EXPECT_EQ("2", Raw("REC_1", "ItemIndex"));
    EXPECT_EQ("C:\\Program Files\\Demo\\a.txt", Raw("REC_1", "Param1"));
    EXPECT_EQ("<none>", Raw("REC_1", "Param2"));
    EXPECT_EQ("Value with = inside", Raw("REC_1", "Param3"));
}

TEST_F(RecordTest, EmptyListWritesOnlyTheCount)
{
    ASSERT_TRUE(kvtest::WriteFileBytes(m_file, "[ProductInstall.Main]\r\nStepCount=0\r\n"));
    CHFS_ItemList list;
    ASSERT_EQ(0, list.SaveRecord(m_interp.get(), m_file));
    EXPECT_EQ("0", Raw("REC_0", "TotalCount"));
    for (const std::string& s : SectionNames())
        EXPECT_NE(0, _stricmp(s.c_str(), "REC_1")) << s;
    CHFS_ItemList back;
    EXPECT_EQ(0, back.LoadRecord(m_interp.get(), m_file));
    EXPECT_EQ(0u, back.Size());
}

TEST_F(RecordTest, RecordsWithoutEncodingReadAsBeforeButUnexpanded)
{
    // A record as older writers left it: raw values, "(empty)" spelled out,
    // quotes around a value, missing parameters.
    ASSERT_TRUE(kvtest::WriteFileBytes(m_file,
                                       "[REC_0]\r\nTotalCount=2\r\n"
                                       "[REC_1]\r\nSectionIndex=3\r\nItemIndex=1\r\nParam1=(empty)\r\n"
                                       "Param2=%TEMP%\\old\r\nParam3=\"quoted\"\r\n"
                                       "[REC_2]\r\nSectionIndex=4\r\nItemIndex=9\r\nParam1=%WINDIR%\r\n"));
    m_interp->SetSymbol("TEMP", "C:\\elsewhere");
    CHFS_ItemList back;
    ASSERT_EQ(0, back.LoadRecord(m_interp.get(), m_file));
    ASSERT_EQ(2u, back.Size());
    const CHFS_RecordItem& a = back.Items()[0];
    EXPECT_EQ(3, a.nStep);
    EXPECT_EQ(1, a.nItemIndex);
    EXPECT_EQ("", a.strParam1);
    EXPECT_EQ("%TEMP%\\old", a.strParam2);
    EXPECT_EQ("quoted", a.strParam3);
    const CHFS_RecordItem& b = back.Items()[1];
    EXPECT_EQ(4, b.nStep);
    EXPECT_EQ(9, b.nItemIndex);
    EXPECT_EQ("%WINDIR%", b.strParam1);
    EXPECT_EQ("", b.strParam3);
    EXPECT_TRUE(m_cb.LogContains("Read item from file '" + m_file + "'!"));
}

TEST_F(RecordTest, ReadableTextIsStoredAsItIsAndOldEscapesStillLoad)
{
    const std::string chinese = "C:\\\xb2\xfa\xc6\xb7\\a.dll";  // 8-bit text of the code page
    CHFS_ItemList list;
    list.SetStep(1);
    list.AddItem(1, chinese, "", "");
    ASSERT_EQ(0, list.SaveRecord(m_interp.get(), m_file));
    EXPECT_EQ(chinese, Raw("REC_1", "Param1"));

    // Written by the escaping that turned every 8-bit byte into \xHH.
    ASSERT_TRUE(kvtest::WriteFileBytes(m_file, "[REC_0]\r\nTotalCount=1\r\n[REC_1]\r\nSectionIndex=1\r\n"
                                               "ItemIndex=2\r\nParam1=~KVESC~C:\\\\\\xB2\\xFA\\xC6\\xB7\\\\a.dll\r\n"));
    CHFS_ItemList back;
    ASSERT_EQ(0, back.LoadRecord(m_interp.get(), m_file));
    ASSERT_EQ(1u, back.Size());
    EXPECT_EQ(chinese, back.Items()[0].strParam1);
}

TEST_F(RecordTest, ARecordAlreadyHoldingItemsIsUpdatedInPlace)
{
    ASSERT_TRUE(kvtest::WriteFileBytes(m_file, "[REC_0]\r\nTotalCount=7\r\n[REC_1]\r\nSectionIndex=9\r\n"));
    CHFS_ItemList list;
    list.SetStep(2);
    list.AddItem(5, "x", "", "");
    ASSERT_EQ(0, list.SaveRecord(m_interp.get(), m_file));
    EXPECT_EQ(1u, kvtest::CountOf(kvtest::ReadFileOr(m_file), "[REC_0]"));
    CHFS_ItemList back;
    ASSERT_EQ(0, back.LoadRecord(m_interp.get(), m_file));
    ASSERT_EQ(1u, back.Size());
    EXPECT_EQ(2, back.Items()[0].nStep);
    EXPECT_EQ("x", back.Items()[0].strParam1);
}

// A record that cannot say what it should undo is damaged, never empty: a
// removal from it must fail and keep it, not succeed having undone nothing.
TEST_F(RecordTest, DamagedRecordsLoadNothing)
{
    const std::string item = "SectionIndex=1\r\nItemIndex=1\r\nParam1=x\r\n";
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"no count", "[REC_1]\r\n" + item},
        {"count no number", "[REC_0]\r\nTotalCount=abc\r\n[REC_1]\r\n" + item},
        {"count with text after it", "[REC_0]\r\nTotalCount=1x\r\n[REC_1]\r\n" + item},
        {"negative count", "[REC_0]\r\nTotalCount=-1\r\n"},
        {"count beyond the list", "[REC_0]\r\nTotalCount=5000\r\n[REC_1]\r\n" + item},
        {"cut in half", "[REC_0]\r\nTotalCount=2\r\n[REC_1]\r\n" + item},
        {"no step", "[REC_0]\r\nTotalCount=1\r\n[REC_1]\r\nItemIndex=1\r\n"},
        {"step no number", "[REC_0]\r\nTotalCount=1\r\n[REC_1]\r\nSectionIndex=x\r\nItemIndex=1\r\n"},
        {"no item index", "[REC_0]\r\nTotalCount=1\r\n[REC_1]\r\nSectionIndex=1\r\n"},
        {"garbage", std::string("\x01\x02garbage\0\0[REC_0", 16)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(kvtest::WriteFileBytes(m_file, c.text));
        CHFS_ItemList back;
        EXPECT_EQ(-2, back.LoadRecord(m_interp.get(), m_file));
        EXPECT_EQ(0u, back.Size());
    }
    CHFS_ItemList none;
    EXPECT_EQ(-2, none.LoadRecord(m_interp.get(), m_dir / "no-such-record.ini"));
    // A record of an install that changed nothing is no damage.
    ASSERT_TRUE(kvtest::WriteFileBytes(m_file, "[REC_0]\r\nTotalCount=0\r\n"));
    EXPECT_EQ(0, none.LoadRecord(m_interp.get(), m_file));
}

TEST_F(RecordTest, DamagedEncodedValueLoadsNoItemAtAll)
{
    // A broken escape must not be undone with a guessed value, nor may the
    // items before it be undone alone.
    ASSERT_TRUE(kvtest::WriteFileBytes(m_file,
                                       "[REC_0]\r\nTotalCount=2\r\n"
                                       "[REC_1]\r\nSectionIndex=1\r\nItemIndex=1\r\nParam1=fine\r\n"
                                       "[REC_2]\r\nSectionIndex=1\r\nItemIndex=2\r\nParam2=~KVESC~bad\\x4\r\n"));
    CHFS_ItemList back;
    EXPECT_NE(0, back.LoadRecord(m_interp.get(), m_file));
    EXPECT_EQ(0u, back.Size());
}

TEST_F(RecordTest, LoadingStopsAtTheListLimit)
{
    CHFS_ItemList list;
    list.SetStep(1);
    for (int i = 0; i < 3; ++i)
        list.AddItem(i, "p", "", "");
    ASSERT_EQ(0, list.SaveRecord(m_interp.get(), m_file));

    CHFS_ItemList full;
    full.SetStep(9);
    for (int i = 0; i < CHFS_ItemList::MAX_ITEMS - 1; ++i)
        full.AddItem(i, "", "", "");
    EXPECT_EQ(0, full.LoadRecord(m_interp.get(), m_file));
    EXPECT_EQ(static_cast<size_t>(CHFS_ItemList::MAX_ITEMS), full.Size());
    EXPECT_EQ(0, full.Items().back().nItemIndex);
    EXPECT_EQ(1, full.Items().back().nStep);
}

TEST_F(RecordTest, RecordCutShortLoadsNothing)
{
    // More items promised than present (up to an absurd count): nothing is
    // replayed, and the load ends at once.
    for (const char* count : {"3", "2147483647"}) {
        SCOPED_TRACE(count);
        ASSERT_TRUE(kvtest::WriteFileBytes(m_file, std::string("[REC_0]\r\nTotalCount=") + count +
                                                       "\r\n[REC_1]\r\nSectionIndex=1\r\nItemIndex=1\r\n"
                                                       "[REC_2]\r\nSectionIndex=1\r\nItemIndex=2\r\n"));
        CHFS_ItemList back;
        EXPECT_NE(0, back.LoadRecord(m_interp.get(), m_file));
        EXPECT_EQ(0u, back.Size());
    }
}

TEST_F(RecordTest, WithoutInterpreterBothRefuse)
{
    CHFS_ItemList list;
    list.AddItem(1, "a", "", "");
    EXPECT_EQ(-1, list.SaveRecord(nullptr, m_file));
    EXPECT_FALSE(kvtest::Exists(m_file));
    EXPECT_EQ(-1, list.LoadRecord(nullptr, m_file));
    EXPECT_EQ(1u, list.Size());
}

TEST_F(RecordTest, RemovalStepWithoutRecordFails)
{
    m_interp->Settings().m_strRecordFile.clear();
    CHFS_RollbackSection section(m_interp.get());
    CHFS_ItemList list;
    size_t before = m_cb.logLines.size();
    EXPECT_EQ(-1, section.Run("ProductRemove.Rollback", list));
    EXPECT_EQ(-2000, section.GetExitCode());
    std::string tail;
    for (size_t i = before; i < m_cb.logLines.size(); ++i)
        tail += m_cb.logLines[i];
    EXPECT_NE(std::string::npos, tail.find("CHFS_RollbackSection::Run('ProductRemove.Rollback') "));
    EXPECT_EQ(std::string::npos, tail.find("Ret="));
}

TEST_F(RecordTest, RemovalStepHandsTheLoadFailureToItsErrorKeys)
{
    ASSERT_TRUE(kvtest::WriteFileBytes(m_file,
                                       "[REC_0]\r\nTotalCount=1\r\n"
                                       "[REC_1]\r\nSectionIndex=1\r\nItemIndex=1\r\nParam1=~KVESC~\\z\r\n"));
    m_interp->Settings().m_strRecordFile = m_file;
    CHFS_RollbackSection section(m_interp.get());
    CHFS_ItemList list;
    int r = section.Run("ProductRemove.Rollback", list);
    EXPECT_LT(r, 0);
    EXPECT_TRUE(m_cb.LogContains("EventHandler('Rollback.Error.'"));
    EXPECT_FALSE(m_cb.LogContains("KVHF_CMD_ROLLBACK_SUCCESS"));
    EXPECT_EQ(0u, list.Size());
    EXPECT_EQ(0, section.Rollback("ProductRemove.Rollback", list));
    EXPECT_TRUE(m_cb.LogContains("CHFS_RollbackSection::Rollback('ProductRemove.Rollback') "));
}

TEST_F(RecordTest, RemovalStepReportsAnEmptyRecordAsSuccess)
{
    ASSERT_TRUE(kvtest::WriteFileBytes(m_file, "[ProductInstall.Main]\r\nStepCount=0\r\n[REC_0]\r\nTotalCount=0\r\n"
                                               "[ProductRemove.Rollback]\r\nRollback.Success.Action=KVHF_GOTOSTEP(7)\r\n"));
    m_interp->m_strScriptFile = m_file;
    m_interp->Settings().m_strRecordFile = m_file;
    CHFS_RollbackSection section(m_interp.get());
    CHFS_ItemList list;
    EXPECT_EQ(7, section.Run("ProductRemove.Rollback", list));
    EXPECT_TRUE(m_cb.LogContains("CHFS_RollbackSection::Run('ProductRemove.Rollback') Ret=KVHF_CMD_ROLLBACK_SUCCESS;"));
    EXPECT_TRUE(m_cb.LogContains("CHFS_RollbackSection::Run('ProductRemove.Rollback') Ret=7"));
}

TEST_F(RecordTest, UnwritableRecordIsReportedNotSilentlyIncomplete)
{
    ASSERT_TRUE(kvtest::WriteFileBytes(m_file, "[ProductInstall.Main]\r\nStepCount=1\r\n"));
    ASSERT_TRUE(::SetFileAttributesA(m_file.c_str(), FILE_ATTRIBUTE_READONLY));
    CHFS_ItemList list;
    list.SetStep(1);
    list.AddItem(1, "C:\\a", "", "");
    EXPECT_LT(list.SaveRecord(m_interp.get(), m_file), 0);
    EXPECT_TRUE(m_cb.LogContains("could not write every item"));
    ::SetFileAttributesA(m_file.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A journal replays added and removed items; a note stands only until the
// next entry, so a run ended mid-group is undone with what it had noted.
TEST_F(RecordTest, JournalNotesStandUntilTheNextEntry)
{
    struct Case {
        const char* name;
        const char* tail;  // entries after the group's item and one note
        std::vector<std::string> params;  // Param1 of the items replayed
    } cases[] = {
        {"ended mid-group", "", {"T", "*T"}},
        {"group stored", "[REC_3]\r\nPop=1\r\n[REC_4]\r\nSectionIndex=1\r\nItemIndex=1\r\nParam1=T\r\nParam2=|a|\r\n",
         {"T"}},
        {"next group", "[REC_3]\r\nSectionIndex=1\r\nItemIndex=2\r\n", {"T", ""}},
        // The entry being written when the run was ended: its change had not begun.
        {"last entry torn", "[REC_3]\r\nSectionIndex=1\r\nItemIn", {"T", "*T"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(kvtest::WriteFileBytes(m_file, std::string("[REC_1]\r\nSectionIndex=1\r\nItemIndex=1\r\nParam1=T\r\n"
                                                               "[REC_2]\r\nSectionIndex=1\r\nItemIndex=1\r\nParam1=*T\r\n"
                                                               "Param2=|a|\r\nNote=1\r\n") +
                                                       c.tail));
        CHFS_ItemList back;
        ASSERT_EQ(0, back.LoadRecord(m_interp.get(), m_file, true));
        std::vector<std::string> got;
        for (const CHFS_RecordItem& it : back.Items())
            got.push_back(it.strParam1);
        EXPECT_EQ(c.params, got);
    }
}
