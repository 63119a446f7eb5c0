#include "support/digest.h"

#include <windows.h>

#include <cstring>
#include <memory>

#include "support/handle.h"

namespace {

// The constant is used unreflected in a right-shifting loop: not a published
// CRC, but containers written by the packer depend on it.
struct Crc16Table {
    uint16_t entry[256];
    Crc16Table() {
        for (unsigned i = 0; i < 256; ++i) {
            unsigned c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0x8005u : (c >> 1);
            entry[i] = static_cast<uint16_t>(c);
        }
    }
};

inline uint32_t Rotl(uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

constexpr uint32_t kSines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr int kShifts[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                         5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                         4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                         6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

}  // namespace

uint16_t Crc16(uint16_t initial, const void* bytes, uint32_t count) {
    if (!bytes || count == 0) return initial;
    static const Crc16Table table;  // built once, on first use
    const auto* p = static_cast<const uint8_t*>(bytes);
    uint16_t c = static_cast<uint16_t>(~initial);
    for (uint32_t i = 0; i < count; ++i) c = (c >> 8) ^ table.entry[(p[i] ^ c) & 0xFF];
    return static_cast<uint16_t>(~c);
}

void XMD5::Init() {
    state_[0] = 0x67452301;
    state_[1] = 0xefcdab89;
    state_[2] = 0x98badcfe;
    state_[3] = 0x10325476;
    bits_ = 0;
}

// Each round has its own mixing function and word order; the rounds are
// unrolled (a loop choosing the function per step ran at half the speed).
template <int Round>
inline uint32_t Mix(uint32_t b, uint32_t c, uint32_t d) {
    if (Round == 0) return d ^ (b & (c ^ d));
    if (Round == 1) return c ^ (d & (b ^ c));
    if (Round == 2) return b ^ c ^ d;
    return c ^ (b | ~d);
}

template <int Round>
inline void Md5Round(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, const uint32_t m[16]) {
    constexpr int kFirst[4] = {0, 1, 5, 0}, kStride[4] = {1, 5, 3, 7};
#pragma GCC unroll 16
    for (int k = 0; k < 16; ++k) {
        const int i = Round * 16 + k;
        const uint32_t f = Mix<Round>(b, c, d);
        const uint32_t t = d;
        d = c;
        c = b;
        b = b + Rotl(a + f + kSines[i] + m[(kFirst[Round] + kStride[Round] * k) & 15], kShifts[i]);
        a = t;
    }
}

void XMD5::Transform(const uint8_t block[64]) {
    uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = uint32_t(block[i * 4]) | uint32_t(block[i * 4 + 1]) << 8 |
               uint32_t(block[i * 4 + 2]) << 16 | uint32_t(block[i * 4 + 3]) << 24;
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    Md5Round<0>(a, b, c, d, m);
    Md5Round<1>(a, b, c, d, m);
    Md5Round<2>(a, b, c, d, m);
    Md5Round<3>(a, b, c, d, m);
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

void XMD5::Update(const void* bytes, uint32_t count) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    uint32_t used = static_cast<uint32_t>((bits_ >> 3) & 63);
    bits_ += uint64_t(count) << 3;
    if (used) {
        uint32_t take = 64 - used;
        if (count < take) {
            std::memcpy(buffer_ + used, p, count);
            return;
        }
        std::memcpy(buffer_ + used, p, take);
        Transform(buffer_);
        p += take;
        count -= take;
    }
    for (; count >= 64; p += 64, count -= 64) Transform(p);
    std::memcpy(buffer_, p, count);
}

void XMD5::Final(uint8_t digest[16]) {
    uint8_t length[8];
    for (int i = 0; i < 8; ++i) length[i] = static_cast<uint8_t>(bits_ >> (8 * i));
    static const uint8_t pad[64] = {0x80};
    uint32_t used = static_cast<uint32_t>((bits_ >> 3) & 63);
    Update(pad, used < 56 ? 56 - used : 120 - used);
    Update(length, 8);
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 4; ++k) digest[i * 4 + k] = static_cast<uint8_t>(state_[i] >> (8 * k));
    Init();
}

uint32_t ToHex(wchar_t* out, uint32_t capacity, const void* bytes, uint32_t count, bool upper) {
    if (!out || !bytes) return 0;
    const wchar_t* digits = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
    if (count > capacity / 2) count = capacity / 2;
    const auto* p = static_cast<const uint8_t*>(bytes);
    for (uint32_t i = 0; i < count; ++i) {
        out[2 * i] = digits[p[i] >> 4];
        out[2 * i + 1] = digits[p[i] & 15];
    }
    return 2 * count;
}

bool DigestOfBuffer(wchar_t* out, const void* bytes, uint32_t count) {
    if (!out || !bytes || count == 0) return false;
    XMD5 md5;
    md5.Update(bytes, count);
    uint8_t digest[16];
    md5.Final(digest);
    ToHex(out, 32, digest, 16, true);
    return true;
}

bool DigestOfFile(wchar_t* out, const wchar_t* path, bool upper) {
    if (!out || !path) return false;
    UniqueFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    constexpr DWORD kChunk = 65536;
    std::unique_ptr<uint8_t[]> chunk(new (std::nothrow) uint8_t[kChunk]);
    if (!chunk) return false;
    XMD5 md5;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), chunk.get(), kChunk, &got, nullptr)) return false;
        if (got == 0) break;
        md5.Update(chunk.get(), got);
    }
    uint8_t digest[16];
    md5.Final(digest);
    ToHex(out, 32, digest, 16, upper);
    return true;
}
