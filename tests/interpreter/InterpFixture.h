#pragma once
// An interpreter bound to a recording callback and a script of the test's own.
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "TestSupport.h"
#include "interpreter/Interpreter.h"
#include "interpreter/ItemList.h"

class InterpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        interp.reset(new CHFS_Interpreter(&cb, "setup.ini", CHFS_RunSettings(), kvtest::ProgramTexts()));
        script = dir / "script.ini";
        interp->m_strScriptFile = script;
    }
    void TearDown() override { interp.reset(); }
    CHFS_RunSettings& Settings() { return interp->Settings(); }

    void WriteScript(const std::string& text) { ASSERT_TRUE(kvtest::WriteFileBytes(script, text)); }
    bool Logged(const std::string& s) const { return cb.LogContains(s); }

    kvtest::TempDir dir{"interp"};
    kvtest::CRecordingCallback cb;
    std::unique_ptr<CHFS_Interpreter> interp;
    std::string script;
};
