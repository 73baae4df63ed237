#pragma once
#include <gtest/gtest.h>
#include "TestSupport.h"
#include "interpreter/Interpreter.h"

#include <memory>

// An interpreter whose script file is a file of this test's own folder.
class InterpreterTest : public ::testing::Test {
protected:
    InterpreterTest() : dir("sym"), interp(new CHFS_Interpreter(&cb, "setup.ini"))
    {
        interp->m_strScriptFile = dir / "setup.ini";
        // What construction logged (its own reads of the missing script) is not under test.
        cb.logLines.clear();
    }
    void WriteScript(const std::string& text) { ASSERT_TRUE(kvtest::WriteFileBytes(interp->m_strScriptFile, text)); }
    std::string Expand(const std::string& text) { return interp->ExpandSymbols(text); }

    kvtest::TempDir dir;
    kvtest::CRecordingCallback cb;
    std::unique_ptr<CHFS_Interpreter> interp;
};
