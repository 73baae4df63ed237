#pragma once
// The Run and CheckRequirement sections in-process: an interpreter with a
// recording callback, a script of the test's own and a work folder holding
// the exit-code program.
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
    // A question first runs onAsk: what the user does before answering.
    class CCallback : public kvtest::CRecordingCallback {
    public:
        int ShowMessage(const std::string& text, UINT type) override
        {
            if (onAsk)
                onAsk();
            return kvtest::CRecordingCallback::ShowMessage(text, type);
        }
        std::function<void()> onAsk;
    };

    void SetUp() override
    {
        work = dir / "work";
        ASSERT_TRUE(kvtest::CreateTree(work));
        ASSERT_TRUE(::CopyFileA((kvtest::FixtureDir() + "\\kvexit.exe").c_str(), (work + "\\kvexit.exe").c_str(),
                                FALSE));
        MakeInterpreter(true);
    }
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
    // Lines the exit-code program wrote in the work folder, oldest first.
    std::vector<std::string> Ran() const
    {
        std::vector<std::string> lines;
        std::string text = kvtest::ReadFileOr(work + "\\kvexit.log");
        for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }

    kvtest::TempDir dir{"cmds"};
    std::string work;
    CCallback cb;
    std::unique_ptr<CHFS_Interpreter> interp;
    CHFS_ItemList list;
};
