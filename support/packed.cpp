#include "support/packed.h"

#include <cstring>

#include "support/data.h"
#include "support/digest.h"
#include "support/handle.h"

namespace {

struct KeyBytes {
    uint8_t k0, k1, k2, k3;
    explicit KeyBytes(uint32_t key)
        : k0(uint8_t(key)), k1(uint8_t(key >> 8)), k2(uint8_t(key >> 16)), k3(uint8_t(key >> 24)) {}
};

uint32_t ReadLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

bool Scramble(uint8_t* b, uint32_t n, uint32_t key, uint32_t passes) {
    if (!b || n == 0 || passes == 0) return false;
    const KeyBytes k(key);
    for (uint32_t pass = 0; pass < passes; ++pass) {
        b[0] ^= k.k2;
        for (uint32_t i = 1; i < n; ++i) b[i] = uint8_t((b[i - 1] + b[i]) ^ k.k0);
        b[n - 1] ^= k.k3;
        for (uint32_t i = n - 1; i-- > 0;) b[i] = uint8_t((b[i + 1] + b[i]) ^ k.k1);
    }
    return true;
}

bool Unscramble(uint8_t* b, uint32_t n, uint32_t key, uint32_t passes) {
    if (!b || n == 0 || passes == 0) return false;
    const KeyBytes k(key);
    for (uint32_t pass = 0; pass < passes; ++pass) {
        for (uint32_t i = 0; i + 1 < n; ++i) b[i] = uint8_t((b[i] ^ k.k1) - b[i + 1]);
        b[n - 1] ^= k.k3;
        for (uint32_t i = n - 1; i >= 1; --i) b[i] = uint8_t((b[i] ^ k.k0) - b[i - 1]);
        b[0] ^= k.k2;
    }
    return true;
}

bool IsPacked(const void* bytes, uint32_t size) {
    return bytes && size >= 4 && std::memcmp(bytes, kPackedMagic, 4) == 0;
}

uint32_t Unwrap(void* destination, uint32_t capacity, const void* source, uint32_t sourceSize) {
    if (!destination || !source || capacity == 0 || sourceSize == 0) return 0;
    const auto* src = static_cast<const uint8_t*>(source);
    if (IsPacked(src, sourceSize)) {
        if (sourceSize < kPackedHeaderSize) return 0;
        uint32_t length = ReadLe32(src + 4);
        uint16_t seed = uint16_t(src[8] | src[9] << 8);
        // 64-bit sums: a forged length must not wrap around the checks.
        if (uint64_t(length) + kPackedHeaderSize > sourceSize || length > capacity) return 0;
        if (length == 0) return 0;
        auto* dst = static_cast<uint8_t*>(destination);
        std::memcpy(dst, src + kPackedHeaderSize, length);
        uint32_t key = PackedKey(length, seed);
        if (!Unscramble(dst, length, key, PackedPasses(key))) return 0;
        return length;
    }
    if (sourceSize > capacity) return 0;
    std::memcpy(destination, source, sourceSize);
    return sourceSize;
}

uint32_t WritePacked(void* out, uint32_t capacity, const void* plaintext, uint32_t length) {
    if (!out || !plaintext || length == 0) return 0;
    if (uint64_t(length) + kPackedHeaderSize > capacity) return 0;
    auto* p = static_cast<uint8_t*>(out);
    std::memset(p, 0, capacity);
    std::memcpy(p, kPackedMagic, 4);
    for (int i = 0; i < 4; ++i) p[4 + i] = uint8_t(length >> (8 * i));
    std::memcpy(p + kPackedHeaderSize, plaintext, length);
    // The seed is taken while its own field still holds two zero bytes.
    uint16_t seed = Crc16(0, p + 8, length);
    p[8] = uint8_t(seed);
    p[9] = uint8_t(seed >> 8);
    uint32_t key = PackedKey(length, seed);
    Scramble(p + kPackedHeaderSize, length, key, PackedPasses(key));
    return length + kPackedHeaderSize;
}

// Locked resource memory lives as long as the module; no release needed.
const uint8_t* FindResourceBytes(HMODULE module, const wchar_t* type, uint16_t id, uint32_t* size) {
    *size = 0;
    if (!module || !type) return nullptr;
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!info) return nullptr;
    DWORD n = SizeofResource(module, info);
    HGLOBAL handle = LoadResource(module, info);
    const void* bytes = handle ? LockResource(handle) : nullptr;
    if (!bytes || n == 0) return nullptr;
    *size = n;
    return static_cast<const uint8_t*>(bytes);
}

uint32_t GetResource(void* destination, uint32_t capacity, HMODULE module, const wchar_t* type,
                     uint16_t id) {
    uint32_t size = 0;
    const uint8_t* bytes = FindResourceBytes(module, type, id, &size);
    if (!bytes) return 0;
    if (!destination) return size;
    uint32_t n = capacity < size ? capacity : size;
    std::memcpy(destination, bytes, n);
    return n;
}

bool LoadPackedResource(XData& out, HMODULE module, const wchar_t* type, uint16_t id) {
    out.SetSize(0);
    uint32_t size = 0;
    // Unwrapped straight from the mapped resource: the payload is large and
    // a temporary copy would only cost time and memory.
    const uint8_t* bytes = FindResourceBytes(module, type, id, &size);
    if (!bytes) return false;
    if (!out.Resize(size, true)) return false;
    uint32_t produced = Unwrap(out.data, out.capacity, bytes, size);
    out.SetSize(produced);
    return produced != 0;
}

bool LoadPackedResourceFromFile(XData& out, const wchar_t* file, const wchar_t* type, uint16_t id) {
    out.SetSize(0);
    if (!file) return false;
    UniqueModule module(LoadLibraryExW(file, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module) return false;
    return LoadPackedResource(out, module.get(), type, id);
}
