#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/digest.h"
#include "tests/common/test_util.h"

namespace {
std::wstring Md5(const std::string& s) {
    wchar_t out[33] = {};
    if (!DigestOfBuffer(out, s.data(), uint32_t(s.size()))) return L"<fail>";
    return out;
}
}  // namespace

TEST(Md5, Rfc1321Vectors) {
    struct Case {
        std::string input;
        const wchar_t* digest;
    } cases[] = {
        {"a", L"0CC175B9C0F1B6A831C399E269772661"},
        {"abc", L"900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", L"F96B697D7CB7938D525A2F31AAF161D0"},
        {"abcdefghijklmnopqrstuvwxyz", L"C3FCD3D76192E4007DFB496CCA67E13B"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         L"57EDF4A22BE3C955AC49DA2E2107B67A"},
    };
    for (const auto& c : cases) EXPECT_EQ(Md5(c.input), c.digest) << c.input;
}

TEST(Md5, IncrementalUpdatesMatchOneShot) {
    std::string data(1000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = char(i * 7);
    for (uint32_t step : {1u, 3u, 63u, 64u, 65u, 500u}) {
        XMD5 md5;
        for (size_t i = 0; i < data.size(); i += step)
            md5.Update(data.data() + i, uint32_t(std::min<size_t>(step, data.size() - i)));
        uint8_t d[16];
        md5.Final(d);
        wchar_t hex[33] = {};
        ToHex(hex, 32, d, 16, true);
        EXPECT_EQ(std::wstring(hex), Md5(data)) << step;
    }
}

TEST(Md5, EmptyOrNullInputFails) {
    wchar_t out[33] = {};
    EXPECT_FALSE(DigestOfBuffer(out, "", 0));
    EXPECT_FALSE(DigestOfBuffer(out, nullptr, 3));
}

TEST(Md5, FileDigestInBothCases) {
    testing_util::TempDir dir;
    // Larger than one 64 KiB chunk, so the chunked reading is exercised.
    std::string data(200000, 'q');
    for (size_t i = 0; i < data.size(); i += 97) data[i] = char(i);
    ASSERT_TRUE(testing_util::WriteAll(dir / L"f", data.data(), data.size()));
    wchar_t upper[33] = {}, lower[33] = {};
    ASSERT_TRUE(DigestOfFile(upper, (dir / L"f").c_str(), true));
    ASSERT_TRUE(DigestOfFile(lower, (dir / L"f").c_str(), false));
    EXPECT_EQ(std::wstring(upper), Md5(data));
    std::wstring l = lower;
    for (auto& c : l) c = towupper(c);
    EXPECT_EQ(l, std::wstring(upper));
    EXPECT_NE(std::wstring(lower), std::wstring(upper));
    EXPECT_FALSE(DigestOfFile(upper, (dir / L"missing").c_str(), true));
}

TEST(ToHex, CapacityAndCase) {
    const uint8_t bytes[] = {0xAB, 0x01, 0xFF, 0x10};
    wchar_t out[9];
    wmemset(out, L'#', 9);
    EXPECT_EQ(ToHex(out, 5, bytes, 4, true), 4u);
    EXPECT_EQ(std::wstring(out, 5), L"AB01#");
    EXPECT_EQ(ToHex(out, 8, bytes, 4, false), 8u);
    EXPECT_EQ(std::wstring(out, 8), L"ab01ff10");
    EXPECT_EQ(out[8], L'#');  // no terminator written
}
