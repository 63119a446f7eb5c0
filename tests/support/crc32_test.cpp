// The folded CRC must give zlib's value for every length, alignment and
// starting value, including the pieces it leaves to zlib (under 64 bytes,
// and the last 1 to 15).
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdint>
#include <string>

#include "support/crc32.h"
#include "tests/common/zip_builder.h"

TEST(Crc32, AgreesWithZlibWhateverTheLengthAlignmentAndStart) {
    const std::string noise = fixture::Noise(70000, 5);
    const auto* bytes = reinterpret_cast<const uint8_t*>(noise.data());
    for (uint32_t start : {0u, 1u, 0xFFFFFFFFu, 0x12345678u}) {
        for (size_t offset : {0, 1, 3, 8, 15}) {
            for (size_t length = 0; length < 300; ++length)
                ASSERT_EQ(crc32(start, bytes + offset, uInt(length)), Crc32(start, bytes + offset, length))
                    << "start " << start << ", offset " << offset << ", length " << length;
            for (size_t length : {1023, 1024, 4096, 65536 + 13, 69000})
                ASSERT_EQ(crc32(start, bytes + offset, uInt(length)), Crc32(start, bytes + offset, length))
                    << "start " << start << ", offset " << offset << ", length " << length;
        }
    }
    // A running value carried across pieces cut anywhere, as a reader does.
    uint32_t running = 0;
    size_t at = 0;
    for (size_t piece : {5, 64, 100, 16, 4000, 63, 65535}) {
        running = Crc32(running, bytes + at, piece);
        at += piece;
    }
    EXPECT_EQ(crc32(0, bytes, uInt(at)), running);
    EXPECT_EQ(0u, Crc32(0, nullptr, 0));
}
