#include "support/zip_crypto.h"

#include <zlib.h>

#include <algorithm>

namespace {

// The keys take in one byte of plain text.
inline void Mix(const z_crc_t* table, uint32_t& k0, uint32_t& k1, uint32_t& k2, uint8_t c) {
    k0 = uint32_t(table[(k0 ^ c) & 0xFF]) ^ (k0 >> 8);
    k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
    k2 = uint32_t(table[(k2 ^ (k1 >> 24)) & 0xFF]) ^ (k2 >> 8);
}

inline uint8_t Step(const z_crc_t* table, uint32_t& k0, uint32_t& k1, uint32_t& k2, uint8_t byte) {
    const uint32_t t = (k2 & 0xFFFF) | 2;
    const uint8_t c = uint8_t(byte ^ uint8_t((t * (t ^ 1)) >> 8));
    Mix(table, k0, k1, k2, c);
    return c;
}

// The first count bytes of N streams, in one loop. The keys and the table
// are locals: a byte store may alias anything in memory, which would
// otherwise be loaded again inside the chain.
template <int N>
void Interleaved(uint8_t* const bytes[], size_t count, uint32_t (*state)[3]) {
    const z_crc_t* table = get_crc_table();
    uint32_t k0[N], k1[N], k2[N];
    uint8_t* p[N];
    for (int j = 0; j < N; ++j) {
        k0[j] = state[j][0], k1[j] = state[j][1], k2[j] = state[j][2];
        p[j] = bytes[j];
    }
    for (size_t i = 0; i < count; ++i)
        for (int j = 0; j < N; ++j) p[j][i] = Step(table, k0[j], k1[j], k2[j], p[j][i]);
    for (int j = 0; j < N; ++j) state[j][0] = k0[j], state[j][1] = k1[j], state[j][2] = k2[j];
}

}  // namespace

ZipCryptoKeys::ZipCryptoKeys(const char* password) {
    const z_crc_t* table = get_crc_table();
    for (const char* p = password; *p; ++p) Mix(table, k0_, k1_, k2_, uint8_t(*p));
}

void ZipCryptoKeys::Decrypt(uint8_t* bytes, size_t count) {
    uint32_t state[1][3] = {{k0_, k1_, k2_}};
    uint8_t* const p[1] = {bytes};
    Interleaved<1>(p, count, state);
    k0_ = state[0][0], k1_ = state[0][1], k2_ = state[0][2];
}

void DecryptTogether(ZipCryptoKeys* const keys[], uint8_t* const bytes[], const size_t counts[],
                     int streams) {
    // Streams still going, and how far each is.
    ZipCryptoKeys* k[kMaxTogether];
    uint8_t* p[kMaxTogether];
    size_t left[kMaxTogether];
    uint32_t state[kMaxTogether][3];
    int n = 0;
    for (int j = 0; j < streams; ++j) {
        if (counts[j] == 0) continue;
        if (n == kMaxTogether) {  // more than the loop takes: this one alone
            keys[j]->Decrypt(bytes[j], counts[j]);
            continue;
        }
        k[n] = keys[j], p[n] = bytes[j], left[n] = counts[j];
        state[n][0] = keys[j]->k0_, state[n][1] = keys[j]->k1_, state[n][2] = keys[j]->k2_;
        ++n;
    }
    // All together as far as the shortest, then the rest without it.
    while (n > 0) {
        const size_t step = *std::min_element(left, left + n);
        switch (n) {
            case 4: Interleaved<4>(p, step, state); break;
            case 3: Interleaved<3>(p, step, state); break;
            case 2: Interleaved<2>(p, step, state); break;
            default: Interleaved<1>(p, step, state); break;
        }
        int kept = 0;
        for (int j = 0; j < n; ++j) {
            left[j] -= step;
            p[j] += step;
            if (left[j] > 0) {
                k[kept] = k[j], p[kept] = p[j], left[kept] = left[j];
                std::copy(state[j], state[j] + 3, state[kept]);
                ++kept;
            } else {
                k[j]->k0_ = state[j][0], k[j]->k1_ = state[j][1], k[j]->k2_ = state[j][2];
            }
        }
        n = kept;
    }
}
