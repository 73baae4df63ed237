#pragma once
// An interpreter bound to a recording callback and a script of the test's own.
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "TestSupport.h"
#include "app/KorvexApp.h"
#include "interpreter/Interpreter.h"
#include "interpreter/ItemList.h"

// Keeps the application flags a test changes and puts them back.
class CAppFlagsGuard {
public:
    CAppFlagsGuard()
        : m_app(GetKorvexApp()), m_silent(m_app->m_bSilent), m_uninstall(m_app->m_bUninstall),
          m_remote(m_app->m_bRemoteProgress), m_keep(m_app->m_bKeepRecord), m_record(m_app->m_strRecordFile),
          m_interp(m_app->m_pInterpreter)
    {
    }
    ~CAppFlagsGuard()
    {
        m_app->m_bSilent = m_silent;
        m_app->m_bUninstall = m_uninstall;
        m_app->m_bRemoteProgress = m_remote;
        m_app->m_bKeepRecord = m_keep;
        m_app->m_strRecordFile = m_record;
        m_app->m_pInterpreter = m_interp;
    }

private:
    CKorvexApp* m_app;
    int m_silent, m_uninstall, m_remote, m_keep;
    std::string m_record;
    CHFS_Interpreter* m_interp;
};

class InterpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        GetKorvexApp()->m_bSilent = 0;
        interp.reset(new CHFS_Interpreter(&cb, "setup.ini"));
        // The record is written through the application's interpreter.
        GetKorvexApp()->m_pInterpreter = interp.get();
        script = dir / "script.ini";
        interp->m_strScriptFile = script;
    }
    void TearDown() override
    {
        GetKorvexApp()->m_pInterpreter = nullptr;
        interp.reset();
    }

    void WriteScript(const std::string& text) { ASSERT_TRUE(kvtest::WriteFileBytes(script, text)); }
    bool Logged(const std::string& s) const { return cb.LogContains(s); }

    CAppFlagsGuard flags;
    kvtest::TempDir dir{"interp"};
    kvtest::CRecordingCallback cb;
    std::unique_ptr<CHFS_Interpreter> interp;
    std::string script;
};
