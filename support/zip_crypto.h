// The traditional PKWARE cipher of ZIP entries, and ways to run several
// entries' decryption side by side on one core.
#pragma once

#include <cstddef>
#include <cstdint>

// The three keys of one encrypted entry, decrypting in place.
class ZipCryptoKeys {
public:
    explicit ZipCryptoKeys(const char* password);
    void Decrypt(uint8_t* bytes, size_t count);

private:
    friend void DecryptTogether(ZipCryptoKeys* const keys[], uint8_t* const bytes[],
                                const size_t counts[], int streams);
    uint32_t k0_ = 305419896u, k1_ = 591751049u, k2_ = 878082192u;
};

// Each byte's keys wait on the byte before (two table lookups and a multiply
// in a chain), so one stream leaves most of a core idle. Independent streams
// interleaved in one loop fill it: four run at about three times the speed
// of one. Up to kMaxTogether streams of any lengths.
constexpr int kMaxTogether = 4;
void DecryptTogether(ZipCryptoKeys* const keys[], uint8_t* const bytes[], const size_t counts[],
                     int streams);

// Where a reader sends its decryption. Readers without one decrypt at once.
class IDecryptor {
public:
    virtual void Decrypt(ZipCryptoKeys& keys, uint8_t* bytes, size_t count) = 0;

protected:
    ~IDecryptor() = default;
};
