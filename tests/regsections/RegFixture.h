#pragma once
// An interpreter in a silent run whose script is a file of the test's own
// folder, an item list at step 3, and the registry helpers the registry and
// INI section tests share.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Snapshot.h"
#include "TestSupport.h"
#include "interpreter/Interpreter.h"
#include "interpreter/ItemList.h"
#include "sections/RemoveRegistrySection.h"
#include "sections/UpdateRegistrySection.h"

class SectionFixture {
protected:
    SectionFixture()
    {
        CHFS_RunSettings silent;
        silent.m_bSilent = 1;
        interp.reset(new CHFS_Interpreter(&cb, "setup.ini", silent));
        interp->m_strScriptFile = dir / "setup.ini";
        cb.logLines.clear();
        list.SetStep(3);
    }
    void Script(const std::string& text) { ASSERT_TRUE(kvtest::WriteFileBytes(dir / "setup.ini", text)); }
    bool Logged(const std::string& s) const { return cb.LogContains(s); }
    // A raw line is the text alone; a logged line carries a time stamp first.
    bool RawLine(const std::string& s) const
    {
        for (const std::string& l : cb.logLines)
            if (l == s)
                return true;
        return false;
    }
    bool StampedLine(const std::string& s) const
    {
        for (const std::string& l : cb.logLines)
            if (l.size() > s.size() && l[0] == '[' && l.compare(l.size() - s.size(), s.size(), s) == 0)
                return true;
        return false;
    }
    // Item index, Param1, Param2, Param3 of every recorded item, oldest first.
    std::vector<std::vector<std::string>> Records() const
    {
        std::vector<std::vector<std::string>> v;
        for (const CHFS_RecordItem& i : list.Items())
            v.push_back({std::to_string(i.nItemIndex), i.strParam1, i.strParam2, i.strParam3});
        return v;
    }
    void FillList()
    {
        while (list.AddItem(99, "filler", "", "") == 0) {
        }
    }

    kvtest::TempDir dir{"regsec"};
    kvtest::CRecordingCallback cb;
    std::unique_ptr<CHFS_Interpreter> interp;
    CHFS_ItemList list;
};

// The registry section tests: a key of their own below HKLM, in the view of
// the case.
inline const char kBase[] = "SOFTWARE\\KorvexRegSectionTest";
inline const char kUpdate[] = "ProductInstall.UpdateRegistry.T";
inline const char kRemove[] = "ProductInstall.RemoveRegistry.T";

struct ViewCase {
    const char* flag;  // the description's flag field, comma included
    REGSAM view;       // where the program writes with it
    const char* name;
};
// Without a flag the program's own view; with "x64" the 64-bit view, which
// in the 64-bit build is the same one.
inline void PrintTo(const ViewCase& c, std::ostream* os) { *os << c.name; }
inline const ViewCase kViews[] = {{"", kvtest::kProgramView, "ProgramView"}, {",x64", KEY_WOW64_64KEY, "View64"}};

inline std::string Dword(DWORD v) { return std::string(reinterpret_cast<const char*>(&v), 4); }
inline std::string Sz(const std::string& s) { return s + std::string(1, '\0'); }

class RegSectionTest : public SectionFixture, public ::testing::TestWithParam<ViewCase> {
protected:
    void SetUp() override
    {
        Clean();
        ASSERT_TRUE(Put("", "Keep", REG_SZ, Sz("parent")));
    }
    void TearDown() override { Clean(); }
    static void Clean()
    {
        kvtest::RegDeleteTree(HKEY_LOCAL_MACHINE, kBase, KEY_WOW64_64KEY);
        kvtest::RegDeleteTree(HKEY_LOCAL_MACHINE, kBase, KEY_WOW64_32KEY);
    }
    REGSAM View() const { return GetParam().view; }
    std::string Path(const std::string& sub) const { return std::string(kBase) + sub; }
    // "Reg:type,HKLM,path,name" with the case's flag; an empty name with a
    // flag needs the empty field written out.
    std::string Desc(const char* type, const std::string& sub, const std::string& name) const
    {
        std::string d = std::string("Reg:") + type + ",HKLM," + Path(sub);
        if (!name.empty() || *GetParam().flag)
            d += "," + name;
        return d + GetParam().flag;
    }
    bool Put(const std::string& sub, const std::string& name, DWORD type, const std::string& bytes) const
    {
        return kvtest::RegWriteValue(HKEY_LOCAL_MACHINE, Path(sub), name, type, bytes.data(),
                                     static_cast<DWORD>(bytes.size()), View());
    }
    // "type:bytes" of a value, "missing" when it is not there.
    std::string Get(const std::string& sub, const std::string& name) const
    {
        DWORD type = 0;
        std::string data;
        if (!kvtest::RegReadValue(HKEY_LOCAL_MACHINE, Path(sub), name, type, data, View()))
            return "missing";
        return std::to_string(type) + ":" + data;
    }
    bool KeyThere(const std::string& sub) const { return kvtest::RegKeyExists(HKEY_LOCAL_MACHINE, Path(sub), View()); }
    kvtest::SnapshotState Snap() const
    {
        kvtest::CSnapshot s;
        s.AddRegKey(HKEY_LOCAL_MACHINE, kBase, View());
        return s.Capture();
    }
    // A section of numbered items: each entry is "Key|Value|extra lines", an
    // empty part leaving that key out.
    void Items(const char* section, const std::vector<std::string>& items) { Script(ItemsText(section, items)); }
    std::string ItemsText(const char* section, const std::vector<std::string>& items) const
    {
        std::string s = std::string("[") + section + "]\r\nRegCount=" + std::to_string(items.size()) + "\r\n";
        for (size_t i = 0; i < items.size(); ++i) {
            std::string n = "Reg" + std::to_string(i + 1);
            size_t a = items[i].find('|'), b = items[i].find('|', a + 1);
            std::string key = items[i].substr(0, a), value = items[i].substr(a + 1, b - a - 1);
            s += n + ".Description=item " + std::to_string(i + 1) + "\r\n";
            if (!key.empty())
                s += n + ".Key=" + key + "\r\n";
            if (!value.empty())
                s += n + ".Value=" + value + "\r\n";
            if (b != std::string::npos)
                s += items[i].substr(b + 1);
        }
        return s;
    }
};

