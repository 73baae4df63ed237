// Which folder paths the picker accepts.
#include <gtest/gtest.h>

#include "app/PathDialog.h"

TEST(FolderPath, DriveRootAndValidNamesOnly)
{
    struct Case {
        const wchar_t* path;
        bool valid;
    } cases[] = {
        {L"C:\\", true},
        {L"z:\\a", true},
        {L"C:\\Program Files\\Halvern\\v1.2", true},
        {L"C:\\a b\\c", true},
        // A double-byte character whose ANSI form has a backslash byte.
        {L"C:\\\x8868\\x", true},
        {L"C:", false},
        {L"C:a", false},
        {L"1:\\a", false},
        {L"\\\\server\\share", false},
        {L"C:\\a\\", false},
        {L"C:\\a\\\\b", false},
        {L"C:\\ a", false},
        {L"C:\\a ", false},
        {L"C:\\a.", false},
        {L"C:\\.a", false},
        {L"C:\\\ta", false},
        {L"C:\\a|b", false},
        {L"C:\\a/b", false},
        {L"C:\\a:b", false},
        {L"C:\\a*", false},
        {L"C:\\a?", false},
        {L"C:\\\"a\"", false},
        {L"C:\\<a>", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsValidFolderPath(c.path), c.valid) << testing::PrintToString(std::wstring(c.path));
}
