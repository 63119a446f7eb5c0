// The packed container (FF FD FD FF, 32-bit length, 16-bit seed, scrambled
// bytes) in which the executable carries its configuration and payload, and
// the reading of raw and packed resources.
#pragma once

#include <windows.h>

#include <cstdint>

class XData;

constexpr uint8_t kPackedMagic[4] = {0xFF, 0xFD, 0xFD, 0xFF};
constexpr uint32_t kPackedHeaderSize = 10;

inline uint32_t PackedKey(uint32_t length, uint16_t seed) { return length + uint32_t(seed) * 65536u; }
inline uint32_t PackedPasses(uint32_t key) { return key % 4 + 3; }

bool Scramble(uint8_t* bytes, uint32_t length, uint32_t key, uint32_t passes);
bool Unscramble(uint8_t* bytes, uint32_t length, uint32_t key, uint32_t passes);

// True when the bytes start with the container magic (at least 4 readable).
bool IsPacked(const void* bytes, uint32_t size);

// Copies a container's plaintext (or non-container data verbatim) into the
// destination; answers the bytes produced, 0 on any failure. Never writes
// past the destination's capacity nor reads past the source's size.
uint32_t Unwrap(void* destination, uint32_t capacity, const void* source, uint32_t sourceSize);

// Writes a container holding the plaintext into out (zero-filled first):
// header, CRC-16 seed over the seed field and the plaintext, scrambled data.
// Answers length + 10, or 0 when the output is too small or length is 0.
uint32_t WritePacked(void* out, uint32_t capacity, const void* plaintext, uint32_t length);

// Raw resource bytes: with a null destination answers the resource size,
// otherwise copies min(capacity, size) bytes and answers that count.
uint32_t GetResource(void* destination, uint32_t capacity, HMODULE module, const wchar_t* type,
                     uint16_t id);
// The resource's bytes where the module maps them (valid while it stays
// loaded), or null.
const uint8_t* FindResourceBytes(HMODULE module, const wchar_t* type, uint16_t id, uint32_t* size);
bool LoadPackedResource(XData& out, HMODULE module, const wchar_t* type, uint16_t id);
// Maps the executable as data (its code never runs) for the same lookup.
bool LoadPackedResourceFromFile(XData& out, const wchar_t* file, const wchar_t* type, uint16_t id);
