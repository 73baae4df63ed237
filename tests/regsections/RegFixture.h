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
