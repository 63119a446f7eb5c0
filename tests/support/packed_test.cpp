#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/data.h"
#include "support/digest.h"
#include "support/packed.h"
#include "tests/common/test_util.h"

TEST(Crc16, KnownValues) {
    EXPECT_EQ(Crc16(0, "abc", 3), 0x60EE);
    EXPECT_EQ(Crc16(0, "123456789", 9), 0xC284);
    EXPECT_EQ(Crc16(0x1234, nullptr, 5), 0x1234);
    EXPECT_EQ(Crc16(0x1234, "a", 0), 0x1234);
    // Chaining continues the same sum.
    EXPECT_EQ(Crc16(Crc16(0, "1234", 4), "56789", 5), 0xC284);
}

TEST(Scramble, RoundTripsEveryLengthAndSeveralSeeds) {
    const uint16_t seeds[] = {0, 1, 0x7FFF, 0xABCD, 0xFFFF};
    for (uint32_t n = 1; n <= 64; ++n) {
        std::vector<uint8_t> plain(n);
        for (uint32_t i = 0; i < n; ++i) plain[i] = uint8_t(i * 37 + n);
        for (uint16_t seed : seeds) {
            uint32_t key = PackedKey(n, seed);
            std::vector<uint8_t> b = plain;
            ASSERT_TRUE(Scramble(b.data(), n, key, PackedPasses(key)));
            if (n > 4) {
                EXPECT_NE(b, plain) << n;
            }
            ASSERT_TRUE(Unscramble(b.data(), n, key, PackedPasses(key)));
            EXPECT_EQ(b, plain) << "length " << n << " seed " << seed;
        }
    }
}

TEST(Scramble, OneByteOnlyXorsK2ThenK3) {
    uint32_t key = 0x11223344;  // k2 = 0x22, k3 = 0x11
    uint8_t b = 0x5A;
    ASSERT_TRUE(Scramble(&b, 1, key, 3));
    uint8_t expect = 0x5A;
    for (int i = 0; i < 3; ++i) expect = uint8_t(expect ^ 0x22 ^ 0x11);
    EXPECT_EQ(b, expect);
}

TEST(Scramble, KnownVector) {
    // Hand-computed: one pass over {1, 2} with k0=0x10, k1=0x20, k2=0x30, k3=0x40.
    uint8_t b[2] = {1, 2};
    ASSERT_TRUE(Scramble(b, 2, 0x40302010, 1));
    // b0 = 1^0x30 = 0x31; b1 = (0x31+2)^0x10 = 0x23; b1 ^= 0x40 -> 0x63;
    // b0 = (0x63+0x31)^0x20 = 0xB4
    EXPECT_EQ(b[0], 0xB4);
    EXPECT_EQ(b[1], 0x63);
}

TEST(Scramble, RefusesBadArguments) {
    uint8_t b[4] = {};
    EXPECT_FALSE(Scramble(nullptr, 4, 1, 3));
    EXPECT_FALSE(Scramble(b, 0, 1, 3));
    EXPECT_FALSE(Scramble(b, 4, 1, 0));
    EXPECT_FALSE(Unscramble(nullptr, 4, 1, 3));
    EXPECT_FALSE(Unscramble(b, 0, 1, 3));
    EXPECT_FALSE(Unscramble(b, 4, 1, 0));
}

namespace {
std::vector<uint8_t> Pack(const std::string& text) {
    std::vector<uint8_t> out(text.size() + kPackedHeaderSize);
    uint32_t n = WritePacked(out.data(), uint32_t(out.size()), text.data(), uint32_t(text.size()));
    EXPECT_EQ(n, out.size());
    return out;
}
}  // namespace

TEST(Packed, WriterLayoutAndSeed) {
    std::string text = "hello container";
    auto c = Pack(text);
    EXPECT_EQ(memcmp(c.data(), kPackedMagic, 4), 0);
    uint32_t length = c[4] | c[5] << 8 | c[6] << 16 | c[7] << 24;
    EXPECT_EQ(length, text.size());
    // The seed covers two zero bytes and the first L - 2 plaintext bytes.
    std::vector<uint8_t> seeded(2, 0);
    seeded.insert(seeded.end(), text.begin(), text.end() - 2);
    uint16_t seed = Crc16(0, seeded.data(), uint32_t(seeded.size()));
    EXPECT_EQ(c[8] | c[9] << 8, seed);
    EXPECT_NE(memcmp(c.data() + 10, text.data(), text.size()), 0);
}

TEST(Packed, UnwrapCases) {
    std::string text = "payload bytes";
    auto c = Pack(text);
    std::vector<uint8_t> out(64, 0xCC);

    EXPECT_EQ(Unwrap(out.data(), 64, c.data(), uint32_t(c.size())), text.size());
    EXPECT_EQ(memcmp(out.data(), text.data(), text.size()), 0);

    // Not a container: copied unchanged.
    EXPECT_EQ(Unwrap(out.data(), 64, "plain", 5), 5u);
    EXPECT_EQ(memcmp(out.data(), "plain", 5), 0);
    EXPECT_EQ(Unwrap(out.data(), 4, "plain", 5), 0u);  // too big for the destination

    // Stated length one larger than the bytes that follow.
    auto bad = c;
    bad[4] = uint8_t(text.size() + 1);
    EXPECT_EQ(Unwrap(out.data(), 64, bad.data(), uint32_t(bad.size())), 0u);
    // A length that would wrap a 32-bit sum.
    bad = c;
    bad[4] = bad[5] = bad[6] = bad[7] = 0xFF;
    EXPECT_EQ(Unwrap(out.data(), 64, bad.data(), uint32_t(bad.size())), 0u);
    // Zero length.
    bad = c;
    bad[4] = bad[5] = bad[6] = bad[7] = 0;
    EXPECT_EQ(Unwrap(out.data(), 64, bad.data(), uint32_t(bad.size())), 0u);
    // Truncated header.
    EXPECT_EQ(Unwrap(out.data(), 64, c.data(), 7), 0u);
    // Null and empty arguments.
    EXPECT_EQ(Unwrap(nullptr, 64, c.data(), uint32_t(c.size())), 0u);
    EXPECT_EQ(Unwrap(out.data(), 0, c.data(), uint32_t(c.size())), 0u);
    EXPECT_EQ(Unwrap(out.data(), 64, nullptr, 5), 0u);
    EXPECT_EQ(Unwrap(out.data(), 64, c.data(), 0), 0u);
}

TEST(Packed, UnwrapNeverWritesPastCapacity) {
    std::string text(40, 'z');
    auto c = Pack(text);
    std::vector<uint8_t> out(64, 0xCC);
    EXPECT_EQ(Unwrap(out.data(), 39, c.data(), uint32_t(c.size())), 0u);
    for (uint8_t b : out) EXPECT_EQ(b, 0xCC);
    EXPECT_EQ(Unwrap(out.data(), 40, c.data(), uint32_t(c.size())), 40u);
    EXPECT_EQ(out[40], 0xCC);
}

TEST(Packed, AnySeedDecodes) {
    std::string text = "seed is not checked";
    auto c = Pack(text);
    // Re-scramble with another seed: readers must accept it.
    std::vector<uint8_t> other = c;
    memcpy(other.data() + 10, text.data(), text.size());
    other[8] = 0x34;
    other[9] = 0x12;
    uint32_t key = PackedKey(uint32_t(text.size()), 0x1234);
    ASSERT_TRUE(Scramble(other.data() + 10, uint32_t(text.size()), key, PackedPasses(key)));
    std::vector<uint8_t> out(64);
    ASSERT_EQ(Unwrap(out.data(), 64, other.data(), uint32_t(other.size())), text.size());
    EXPECT_EQ(memcmp(out.data(), text.data(), text.size()), 0);
}

TEST(Packed, WriterRefusals) {
    uint8_t out[16];
    EXPECT_EQ(WritePacked(out, 16, "abcdefg", 7), 0u);  // 17 bytes needed
    EXPECT_EQ(WritePacked(out, 16, "abcdef", 6), 16u);
    EXPECT_EQ(WritePacked(out, 16, "", 0), 0u);
    EXPECT_EQ(WritePacked(nullptr, 16, "a", 1), 0u);
}

TEST(Resources, MissingModuleOrResource) {
    XData out;
    EXPECT_EQ(GetResource(nullptr, 0, nullptr, L"APP", 1), 0u);
    EXPECT_EQ(GetResource(nullptr, 0, GetModuleHandleW(nullptr), nullptr, 1), 0u);
    EXPECT_EQ(GetResource(nullptr, 0, GetModuleHandleW(nullptr), L"NOPE", 1), 0u);
    EXPECT_FALSE(LoadPackedResource(out, GetModuleHandleW(nullptr), L"NOPE", 1));
    EXPECT_EQ(out.size, 0u);
    EXPECT_FALSE(LoadPackedResourceFromFile(out, L"C:\\no\\such.exe", L"APP", 1));
}
