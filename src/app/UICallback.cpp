// STUB(issue 2): replaced by the callbacks.
#include "app/UICallback.h"
#include <cstdio>

int KorvexWriteLogLine(const std::string& path, const std::string& text)
{ FILE* f = fopen(path.c_str(), "a+t"); if (!f) return -1; fputs(text.c_str(), f); fputs("\n", f); fclose(f); return 0; }
CSilentCallback::CSilentCallback(const std::string& p) : m_strLogPath(p) {}
int CSilentCallback::SetProgress(int, int) { return 0; }
int CSilentCallback::SetTaskText(const std::string&, int) { return 0; }
int CSilentCallback::AppendDetail(const std::string&, int) { return 0; }
int CSilentCallback::SetDescription(const std::string&) { return 0; }
int CSilentCallback::SetReadme(const std::string&) { return 0; }
int CSilentCallback::SetLicense(const std::string&) { return 0; }
int CSilentCallback::SetLicenseTitle(const std::string&) { return 0; }
int CSilentCallback::WriteLog(const std::string& t) { return KorvexWriteLogLine(m_strLogPath, t); }
int CSilentCallback::ShowMessage(const std::string&, UINT) { return 0; }
CUICallback::CUICallback(const std::string& p) : m_strLogPath(p) {}
int CUICallback::SetProgress(int, int) { return 0; }
int CUICallback::SetTaskText(const std::string&, int) { return 0; }
int CUICallback::AppendDetail(const std::string&, int) { return 0; }
int CUICallback::SetDescription(const std::string&) { return 0; }
int CUICallback::SetReadme(const std::string&) { return 0; }
int CUICallback::SetLicense(const std::string&) { return 0; }
int CUICallback::SetLicenseTitle(const std::string&) { return 0; }
int CUICallback::WriteLog(const std::string& t) { return KorvexWriteLogLine(m_strLogPath, t); }
int CUICallback::ShowMessage(const std::string&, UINT) { return 0; }
