#pragma once
// The program's own user-interface texts (ids 1 to 20). The interpreter asks
// its host for them; the host keeps them in its resources.
#include <windows.h>
#include <string>

enum {
    IDS_INSTALL_FAILED = 1,      // "安装失败！"
    IDS_INSTALL_SUCCESS = 2,     // "安装成功！"
    IDS_CAPTION = 3,             // "Halvern安装软件包"
    IDS_SUCCESS = 4,             // "成功"
    IDS_FAILURE = 5,             // "失败"
    IDS_RESTORE_PREFIX = 6,      // "还原:"
    IDS_USER_BREAK = 7,          // "用户终止安装！"
    IDS_FOLDER_CREATE_ASK = 8,
    IDS_FOLDER_INVALID = 9,
    IDS_FOLDER_CREATE_FAILED = 10,
    IDS_REMOVE_SUCCESS = 11,     // "移除安装成功！"
    IDS_INSTALL = 12,            // "安装"
    IDS_REMOVE = 13,             // "移除"
    IDS_REMOVE_FAILED = 14,      // "移除安装失败！"
    IDS_PATCH = 15,              // "Patch"
    IDS_CREATE_DIR = 16,         // "创建目录"
    IDS_FILES_UP_TO_DATE = 17,
    IDS_SOME_NOT_COPIED = 18,
    IDS_NEWER_TIMESTAMP = 19,
    IDS_HIGHER_BUILD = 20
};

class CHFS_ProgramTexts {
public:
    // The text in the ANSI code page, like every other 8-bit text of a run;
    // empty when the id is unknown.
    virtual std::string Text(UINT id) const = 0;
    // The same text as UTF-16, for windows, without a trip through the code page.
    virtual std::wstring TextW(UINT id) const = 0;
    virtual ~CHFS_ProgramTexts() {}
};
