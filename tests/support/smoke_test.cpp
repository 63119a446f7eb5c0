#include <windows.h>
#include <gtest/gtest.h>
#include "tests/common/test_util.h"

TEST(Environment, CodePageIs936) { EXPECT_EQ(GetACP(), 936u); }

TEST(Environment, ChineseFileNamesRoundTrip) {
    testing_util::TempDir dir;
    std::wstring name = dir / L"测试 目录";
    ASSERT_TRUE(CreateDirectoryW(name.c_str(), nullptr));
    ASSERT_TRUE(testing_util::WriteAll(name + L"\\文件 1.txt", "x", 1));
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((name + L"\\*.txt").c_str(), &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(fd.cFileName, L"文件 1.txt");
    FindClose(h);
}
