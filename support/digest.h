// The program's own CRC-16 (it only picks a container's seed) and MD5.
#pragma once

#include <cstdint>

uint16_t Crc16(uint16_t initial, const void* bytes, uint32_t count);

// RFC 1321 MD5.
class XMD5 {
public:
    XMD5() { Init(); }
    virtual ~XMD5() = default;
    void Init();
    void Update(const void* bytes, uint32_t count);
    void Final(uint8_t digest[16]);

private:
    void Transform(const uint8_t block[64]);
    uint32_t state_[4];
    uint64_t bits_;
    uint8_t buffer_[64];
};

// 32 upper-case hex characters, no terminator; false for null or empty input.
bool DigestOfBuffer(wchar_t* out, const void* bytes, uint32_t count);
// MD5 of a file read in 64 KiB chunks; false when it cannot be opened or read.
bool DigestOfFile(wchar_t* out, const wchar_t* path, bool upper);
// Two characters per byte, high nibble first; the count is cut to half the
// capacity; no NUL is written. Answers 2 x the bytes converted.
uint32_t ToHex(wchar_t* out, uint32_t capacity, const void* bytes, uint32_t count, bool upper);
