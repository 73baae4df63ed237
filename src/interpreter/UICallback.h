#pragma once
// Everything the interpreter shows, asks or logs goes through one of these;
// the program that hosts the interpreter provides it (a silent one and a
// dialog-driven one).
#include <windows.h>
#include <string>

class CHFS_UICallback {
public:
    // Slot order is part of the design: keep it.
    virtual int SetProgress(int position, int range) = 0;
    virtual int SetTaskText(const std::string& text, int rollback) = 0;
    virtual int AppendDetail(const std::string& text, int rollback) = 0;
    virtual int SetDescription(const std::string& text) = 0;
    virtual int SetReadme(const std::string& text) = 0;
    virtual int SetLicense(const std::string& text) = 0;
    virtual int SetLicenseTitle(const std::string& text) = 0;
    virtual int WriteLog(const std::string& text) = 0;
    virtual int ShowMessage(const std::string& text, UINT type) = 0;

    // Whether the host has a main window a person looks at (a dialog-driven
    // run once its first dialog is up); the trace window is shown only then.
    virtual bool HasMainWindow() { return false; }
    virtual ~CHFS_UICallback() {}
};
