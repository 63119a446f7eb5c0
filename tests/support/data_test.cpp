#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>

#include "support/data.h"
#include "tests/common/test_util.h"

using testing_util::TempDir;

namespace {

void Fill(XData& d, const char* text) {
    uint32_t n = uint32_t(strlen(text));
    ASSERT_TRUE(d.Reserve(n, false));
    memcpy(d.data, text, n);
    d.SetSize(n);
}

}  // namespace

TEST(XData, ResizeRules) {
    XData d;
    EXPECT_EQ(d.data, nullptr);
    ASSERT_TRUE(d.Resize(8, false));
    EXPECT_EQ(d.capacity, 8u);
    EXPECT_EQ(d.size, 0u);
    EXPECT_EQ(d.data[8], 0);
    EXPECT_EQ(d.data[9], 0);

    memcpy(d.data, "abcdefgh", 8);
    d.SetSize(8);
    // Same capacity keeps content unless discarding.
    ASSERT_TRUE(d.Resize(8, false));
    EXPECT_EQ(d.size, 8u);
    // Smaller without discard keeps the first bytes and cuts size.
    ASSERT_TRUE(d.Resize(3, false));
    EXPECT_EQ(d.size, 3u);
    EXPECT_EQ(memcmp(d.data, "abc", 3), 0);
    EXPECT_EQ(d.data[3], 0);  // trailing zeros follow the new capacity
    EXPECT_STREQ(reinterpret_cast<char*>(d.data), "abc");
    // Larger keeps content.
    ASSERT_TRUE(d.Resize(16, false));
    EXPECT_EQ(d.size, 3u);
    EXPECT_EQ(memcmp(d.data, "abc", 3), 0);
    // Discard drops content.
    ASSERT_TRUE(d.Resize(16, true));
    EXPECT_EQ(d.size, 0u);
    ASSERT_TRUE(d.Resize(0, false));
    EXPECT_EQ(d.data, nullptr);
    EXPECT_EQ(d.capacity, 0u);
}

TEST(XData, ReserveNeverShrinksAndSetSizeClamps) {
    XData d;
    Fill(d, "hello");
    uint32_t cap = d.capacity;
    EXPECT_TRUE(d.Reserve(2, true));
    EXPECT_EQ(d.capacity, cap);
    EXPECT_EQ(d.size, 5u);  // discard ignored when nothing changes
    EXPECT_EQ(d.SetSize(1000), cap);
    EXPECT_EQ(d.SetSize(2), 2u);
}

TEST(XData, HugeAllocationFailsEmpty) {
    XData d;
    Fill(d, "abc");
    // No room for the two closing zeros: refused by a 32-bit and a 64-bit
    // build alike (4 GiB itself would succeed in a 64-bit process).
    EXPECT_FALSE(d.Resize(0xFFFFFFFFu, false));
    EXPECT_EQ(d.data, nullptr);
    EXPECT_EQ(d.capacity, 0u);
    EXPECT_EQ(d.size, 0u);
}

TEST(XData, FileRoundTripAndLimits) {
    TempDir dir;
    std::wstring path = dir / L"数据.bin";
    XData d;
    Fill(d, "0123456789");
    ASSERT_TRUE(d.WriteToFile(path.c_str()));
    XData r;
    ASSERT_TRUE(r.ReadFromFile(path.c_str()));
    EXPECT_EQ(r.size, 10u);
    EXPECT_EQ(r.capacity, 10u);
    EXPECT_EQ(memcmp(r.data, "0123456789", 10), 0);

    ASSERT_TRUE(r.ReadFromFile(path.c_str(), 4));  // limit below the length
    EXPECT_EQ(r.size, 4u);
    EXPECT_EQ(memcmp(r.data, "0123", 4), 0);
    ASSERT_TRUE(r.ReadFromFile(path.c_str(), 100));  // limit above: whole file
    EXPECT_EQ(r.size, 10u);

    ASSERT_TRUE(d.WriteToFile(path.c_str(), 3));
    EXPECT_EQ(testing_util::ReadAll(path).size(), 3u);

    // The narrow form takes names in the process code page (936).
    char ansi[MAX_PATH];
    WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, ansi, MAX_PATH, nullptr, nullptr);
    ASSERT_TRUE(r.ReadFromFile(ansi));
    EXPECT_EQ(r.size, 3u);
}

TEST(XData, FailuresLeaveBufferEmpty) {
    TempDir dir;
    XData d;
    Fill(d, "x");
    EXPECT_FALSE(d.ReadFromFile((dir / L"missing").c_str()));
    EXPECT_EQ(d.data, nullptr);
    EXPECT_EQ(d.size, 0u);
    XData empty;
    EXPECT_FALSE(empty.WriteToFile((dir / L"out").c_str()));  // no storage
    EXPECT_FALSE(SaveBytes(nullptr, "a", 1));
    EXPECT_FALSE(SaveBytes((dir / L"out").c_str(), nullptr, 1));
    EXPECT_FALSE(SaveBytes((dir / L"no\\such\\dir").c_str(), "a", 1));
    EXPECT_TRUE(SaveBytes((dir / L"zero").c_str(), "a", 0));
    EXPECT_TRUE(testing_util::FileExists(dir / L"zero"));
}

TEST(XData, EmptyFileReads) {
    TempDir dir;
    ASSERT_TRUE(SaveBytes((dir / L"e").c_str(), "", 0));
    XData d;
    EXPECT_TRUE(d.ReadFromFile((dir / L"e").c_str()));
    EXPECT_EQ(d.size, 0u);
}
