// Decrypting several entries at once must give each exactly what decrypting
// it alone gives, however the pieces are cut and the fibers interleave.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/fiber_lanes.h"
#include "support/zip_crypto.h"
#include "tests/common/zip_builder.h"

namespace {

std::vector<uint8_t> Bytes(size_t size, uint32_t seed) {
    const std::string noise = fixture::Noise(size, seed);
    return std::vector<uint8_t>(noise.begin(), noise.end());
}

// What one stream decrypts to alone, from the start, in one call.
std::vector<uint8_t> Alone(std::vector<uint8_t> bytes, const char* password) {
    ZipCryptoKeys keys(password);
    keys.Decrypt(bytes.data(), bytes.size());
    return bytes;
}

}  // namespace

// Streams of unequal lengths (empty ones, one byte, more streams than run
// side by side), decrypted together in two calls each, so that the keys
// must also carry over from one call to the next.
TEST(DecryptTogether, EachStreamAsIfAlone) {
    const std::vector<std::vector<size_t>> cases = {
        {1000}, {1000, 1000}, {1, 70000, 3}, {0, 5, 0, 9}, {4096, 17, 65536, 300},
        {10, 20, 30, 40, 50, 60},  // more than kMaxTogether
    };
    for (const std::vector<size_t>& lengths : cases) {
        const int n = int(lengths.size());
        std::vector<std::vector<uint8_t>> data, expected;
        std::vector<ZipCryptoKeys> keys;
        for (int j = 0; j < n; ++j) {
            data.push_back(Bytes(lengths[j], uint32_t(j + 1)));
            const std::string password = "pw" + std::to_string(j);
            expected.push_back(Alone(data.back(), password.c_str()));
            keys.emplace_back(password.c_str());
        }
        // First the front third of each, then the rest.
        for (int part = 0; part < 2; ++part) {
            std::vector<ZipCryptoKeys*> k;
            std::vector<uint8_t*> p;
            std::vector<size_t> counts;
            for (int j = 0; j < n; ++j) {
                const size_t cut = lengths[j] / 3;
                k.push_back(&keys[j]);
                p.push_back(data[j].data() + (part ? cut : 0));
                counts.push_back(part ? lengths[j] - cut : cut);
            }
            DecryptTogether(k.data(), p.data(), counts.data(), n);
        }
        for (int j = 0; j < n; ++j)
            EXPECT_TRUE(data[j] == expected[j]) << "stream " << j << " of " << n;
    }
}

namespace {

// Each lane decrypts its stream in pieces of its own sizes, noting when it
// asks and when it has the answer.
struct LaneWork {
    FiberLanes* lanes = nullptr;
    std::vector<std::vector<uint8_t>> data;
    std::vector<std::vector<size_t>> pieces;
    std::vector<std::string> events;
};

void DecryptInPieces(int lane, void* context) {
    LaneWork& work = *static_cast<LaneWork*>(context);
    ZipCryptoKeys keys(("pw" + std::to_string(lane)).c_str());
    uint8_t* at = work.data[lane].data();
    for (size_t piece : work.pieces[lane]) {
        work.events.push_back("ask " + std::to_string(lane));
        work.lanes->Decrypt(keys, at, piece);
        work.events.push_back("got " + std::to_string(lane));
        at += piece;
    }
}

}  // namespace

TEST(FiberLanes, EveryLaneGetsItsOwnStreamAndTheyWaitForEachOther) {
    FiberLanes lanes;
    LaneWork work;
    work.lanes = &lanes;
    // Lane 2 asks for nothing at all; lane 1 ends with an empty piece.
    work.pieces = {{100, 65536, 7}, {3000, 0}, {}, {1, 1, 1, 50000}};
    std::vector<std::vector<uint8_t>> expected;
    for (int j = 0; j < 4; ++j) {
        size_t size = 0;
        for (size_t piece : work.pieces[j]) size += piece;
        work.data.push_back(Bytes(size, uint32_t(100 + j)));
        expected.push_back(Alone(work.data.back(), ("pw" + std::to_string(j)).c_str()));
    }
    ASSERT_TRUE(lanes.Run(4, DecryptInPieces, &work));
    for (int j = 0; j < 4; ++j) EXPECT_TRUE(work.data[j] == expected[j]) << "lane " << j;
    // Every lane asks before any is answered: the first pieces were
    // decrypted together, not one lane's after another's.
    std::vector<std::string> firstAsks(work.events.begin(), work.events.begin() + 3);
    EXPECT_EQ((std::vector<std::string>{"ask 0", "ask 1", "ask 3"}), firstAsks);
    // An empty piece is answered at once.
    size_t at = work.events.size() - 1;
    while (at > 0 && work.events[at] != "ask 1") --at;
    ASSERT_LT(at + 1, work.events.size());
    EXPECT_EQ("got 1", work.events[at + 1]);
}

TEST(FiberLanes, RefusesWhatItCannotRunAndDecryptsAtOnceOutsideARun) {
    FiberLanes lanes;
    LaneWork work;
    work.lanes = &lanes;
    work.pieces = {{10}, {10}, {10}, {10}, {10}};
    for (int j = 0; j < 5; ++j) work.data.push_back(Bytes(10, uint32_t(j)));
    EXPECT_FALSE(lanes.Run(0, DecryptInPieces, &work));
    EXPECT_FALSE(lanes.Run(kMaxTogether + 1, DecryptInPieces, &work));
    EXPECT_FALSE(lanes.Run(2, nullptr, &work));
    EXPECT_TRUE(work.events.empty());

    std::vector<uint8_t> bytes = Bytes(500, 9), expected = Alone(bytes, "pw");
    ZipCryptoKeys keys("pw");
    lanes.Decrypt(keys, bytes.data(), bytes.size());
    EXPECT_TRUE(bytes == expected);

    // The thread is a plain thread again after a run, and can run again.
    ASSERT_TRUE(lanes.Run(1, DecryptInPieces, &work));
    ASSERT_TRUE(lanes.Run(2, DecryptInPieces, &work));
    EXPECT_EQ(6u, work.events.size());
    EXPECT_TRUE(ConvertThreadToFiber(nullptr) != nullptr);
    EXPECT_TRUE(ConvertFiberToThread());
}
