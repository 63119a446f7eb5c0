// Removal by the installed-file record: only what is listed, inside the
// directory, folders only when empty.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "client/app_file.h"
#include "support/handle.h"
#include "tests/common/test_util.h"
#include "uninst/uninstall.h"

using testing_util::FileExists;
using testing_util::TempDir;
using testing_util::WriteAll;

TEST(RemoveRecorded, RemovesOnlyWhatIsListedInsideTheDirectory) {
    TempDir temp;
    const std::wstring dir = temp / L"game\\";
    const std::wstring outside = temp / L"outside.txt";
    const std::wstring elsewhere = temp / L"elsewhere\\";
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(elsewhere.c_str(), nullptr));
    for (const wchar_t* folder : {L"data", L"data\\maps", L"saves", L"empty"})
        ASSERT_TRUE(CreateDirectoryW((dir + folder).c_str(), nullptr));
    for (const wchar_t* file : {L"client.exe", L"data\\a.pak", L"data\\maps\\m1.map", L"readonly.txt",
                                L"saves\\mine.sav", L"unins000.exe"})
        ASSERT_TRUE(WriteAll(dir + file, "x", 1));
    SetFileAttributesW((dir + L"readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(WriteAll(outside, "keep", 4));
    ASSERT_TRUE(WriteAll(elsewhere + L"x.txt", "keep", 4));

    CAppFile record;
    for (const wchar_t* name :
         {L"data\\", L"data\\maps\\", L"data\\a.pak", L"data\\maps\\m1.map", L"client.exe", L"readonly.txt",
          L"saves\\", L"empty\\", L"unins000.exe", L"gone.txt",
          // hostile: climbing out, absolute, with a drive, a stream
          L"..\\outside.txt", L"data\\..\\..\\outside.txt", outside.c_str(), L"\\outside.txt",
          L"C:outside.txt", L"..\\elsewhere\\", L"client.exe:stream"})
        record.AddEntry(name);

    RemovalResult result = RemoveRecorded(dir, record, dir + L"unins000.exe");
    EXPECT_EQ(0u, result.failed);
    EXPECT_EQ(7u, result.skipped);
    for (const wchar_t* gone : {L"client.exe", L"data\\a.pak", L"data\\maps\\m1.map", L"readonly.txt", L"data",
                                L"empty"})
        EXPECT_FALSE(FileExists(dir + gone)) << testing_util::Narrow(gone);
    // The player's save keeps its folder; the running uninstaller stays.
    EXPECT_TRUE(FileExists(dir + L"saves\\mine.sav"));
    EXPECT_TRUE(FileExists(dir + L"unins000.exe"));
    EXPECT_TRUE(FileExists(outside));
    EXPECT_TRUE(FileExists(elsewhere + L"x.txt"));
    EXPECT_TRUE(FileExists(dir));
}

// A file another program holds open stays and is counted; the rest goes.
TEST(RemoveRecorded, CountsAFileInUseAndRemovesTheRest) {
    TempDir temp;
    const std::wstring dir = temp / L"game\\";
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((dir + L"bin").c_str(), nullptr));
    ASSERT_TRUE(WriteAll(dir + L"bin\\game.exe", "x", 1));
    ASSERT_TRUE(WriteAll(dir + L"readme.txt", "x", 1));
    CAppFile record;
    record.AddEntry(L"bin\\");
    record.AddEntry(L"bin\\game.exe");
    record.AddEntry(L"readme.txt");
    UniqueFile held(CreateFileW((dir + L"bin\\game.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    RemovalResult result = RemoveRecorded(dir, record, L"");
    EXPECT_EQ(1u, result.failed);
    EXPECT_FALSE(FileExists(dir + L"readme.txt"));
    EXPECT_TRUE(FileExists(dir + L"bin\\game.exe"));
    held.reset();
    result = RemoveRecorded(dir, record, L"");
    EXPECT_EQ(0u, result.failed);
    EXPECT_FALSE(FileExists(dir + L"bin"));
}
