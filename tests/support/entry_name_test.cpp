#include <gtest/gtest.h>

#include "support/entry_name.h"
#include "tests/common/test_util.h"

// One table for every caller: extraction and removal take entry names (a
// folder's may end with a separator), download takes file names.
TEST(EntryName, StaysInsideTheDirectory) {
    struct Case {
        const wchar_t* name;
        bool entry;  // IsContainedEntryName
        bool file;   // IsContainedFileName
    } cases[] = {
        {L"client.exe", true, true},
        {L"data\\sub\\file.bin", true, true},
        {L"data/sub/file.bin", true, true},
        {L"data\\", true, false},
        {L"data/", true, false},
        {L"a.b.c", true, true},
        {L"..", false, false},
        {L"..\\evil.dll", false, false},
        {L"../evil.dll", false, false},
        {L"data\\..\\..\\x", false, false},
        {L"\\abs\\file", false, false},
        {L"/abs/file", false, false},
        {L"C:\\x", false, false},
        {L"x:stream", false, false},
        {L"a\\\\b", false, false},
        {L"", false, false},
        {L"CON", false, false},
        {L"con.txt", false, false},
        {L"nul .txt", false, false},
        {L"data\\LPT1.log", false, false},
        {L"COM0", false, false},
        {L"lpt0.txt", false, false},
        {L"COM\u00B9", false, false},
        {L"LPT\u00B3.dat", false, false},
        {L"COM10", true, true},
        {L"CONSOLE", true, true},
        {L"console.log", true, true},
        {L"...", false, false},
        {L". .\\x", false, false},
        {L"a\\.. ", false, false},
        {L"what?.txt", false, false},
        {L"tab\there", false, false},
        {L"\u5730\u56FE\\\u6587\u4EF6 1.pak", true, true},
        {L"..a", true, true},
        {L"a..b\\c", true, true},
        {L"x.", true, true},
        {L"com10", true, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.entry, IsContainedEntryName(c.name)) << testing_util::Narrow(c.name);
        EXPECT_EQ(c.file, IsContainedFileName(c.name)) << testing_util::Narrow(c.name);
    }
    EXPECT_FALSE(IsContainedEntryName(nullptr));
    EXPECT_FALSE(IsContainedFileName(nullptr));
}
