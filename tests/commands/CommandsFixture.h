#pragma once
// The Run and CheckRequirement sections in-process: an interpreter with a
// recording callback, a script of the test's own and a work folder that
// holds the exit-code program.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "interpreter/Interpreter.h"
#include "interpreter/ItemList.h"

class CommandsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        work = dir / "work";
        ASSERT_TRUE(kvtest::CreateTree(work));
        ASSERT_TRUE(::CopyFileA((kvtest::FixtureDir() + "\\kvexit.exe").c_str(), (work + "\\kvexit.exe").c_str(),
                                FALSE));
        MakeInterpreter(true);
    }
    void TearDown() override { interp.reset(); }

    void MakeInterpreter(bool silent)
    {
        CHFS_RunSettings settings;
        settings.m_bSilent = silent ? 1 : 0;
        interp.reset(new CHFS_Interpreter(&cb, "setup.ini", settings, kvtest::ProgramTexts()));
        interp->m_strScriptFile = dir / "setup.ini";
        list.SetStep(3);
    }
    void Script(const std::string& text) { ASSERT_TRUE(kvtest::WriteFileBytes(dir / "setup.ini", text)); }
    bool Logged(const std::string& s) const { return cb.LogContains(s); }
    bool Shown(const std::string& s, int rollback = 0) const
    {
        for (size_t i = 0; i < cb.details.size(); ++i)
            if (cb.details[i] == s && cb.detailRollback[i] == rollback)
                return true;
        return false;
    }
    // Lines the exit-code program wrote in the work folder, oldest first.
    std::vector<std::string> Ran() const
    {
        std::vector<std::string> lines;
        std::string text = kvtest::ReadFileOr(work + "\\kvexit.log");
        for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }
    std::vector<int> Recorded() const
    {
        std::vector<int> v;
        for (const CHFS_RecordItem& i : list.Items())
            v.push_back(i.nItemIndex);
        return v;
    }

    // Keeps the pane's rollback flag beside each detail line; a question
    // first runs onAsk (what the user does before answering).
    class CCallback : public kvtest::CRecordingCallback {
    public:
        int ShowMessage(const std::string& text, UINT type) override
        {
            if (onAsk)
                onAsk();
            return kvtest::CRecordingCallback::ShowMessage(text, type);
        }
        std::function<void()> onAsk;
        int AppendDetail(const std::string& text, int rollback) override
        {
            detailRollback.push_back(rollback);
            return kvtest::CRecordingCallback::AppendDetail(text, rollback);
        }
        std::vector<int> detailRollback;
    };

    kvtest::TempDir dir{"cmds"};
    std::string work;
    CCallback cb;
    std::unique_ptr<CHFS_Interpreter> interp;
    CHFS_ItemList list;
};
