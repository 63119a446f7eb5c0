// Pictures made by the tests themselves: PNG and JPEG encoders over memory,
// solid and striped pixel blocks, and a guarded copy that faults on any read
// past its end.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace ui_fixtures {

struct Rgba {
    uint8_t r, g, b, a;
};

struct PngOptions {
    int colorType = 6;  // PNG_COLOR_TYPE_RGB_ALPHA
    int bitDepth = 8;
    bool interlaced = false;
    bool transparentColor = false;  // tRNS for RGB: trnsColor becomes transparent
    Rgba trnsColor = {0, 0, 0, 0};
};

// Straight (not premultiplied) RGBA input, converted to the colour type asked for
// (grey takes the red channel; palette builds one from the colours seen).
std::vector<uint8_t> EncodePng(int width, int height, const std::vector<Rgba>& pixels,
                               const PngOptions& options = {});
// components 3 (RGB), 1 (grey) or 4 (CMYK, from r, g, b, a as C, M, Y, K).
std::vector<uint8_t> EncodeJpeg(int width, int height, const std::vector<Rgba>& pixels,
                                int components = 3, int quality = 95, bool progressive = false);

std::vector<Rgba> Solid(int width, int height, Rgba color);
// A frame strip: frame i of height frameHeight is filled with colors[i].
std::vector<Rgba> Strip(int width, int frameHeight, const std::vector<Rgba>& colors);

// Bytes placed right before an inaccessible page, so an over-read faults.
class GuardedBlock {
public:
    GuardedBlock(const uint8_t* bytes, size_t size);
    ~GuardedBlock();
    GuardedBlock(const GuardedBlock&) = delete;
    GuardedBlock& operator=(const GuardedBlock&) = delete;
    const uint8_t* data() const { return data_; }
    uint32_t size() const { return uint32_t(size_); }

private:
    uint8_t* base_ = nullptr;
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

// Premultiplied BGRA of a straight colour, as the decoder stores it.
uint32_t Premultiplied(Rgba c);
inline uint32_t Bgra(uint8_t b, uint8_t g, uint8_t r, uint8_t a) {
    return uint32_t(b) | uint32_t(g) << 8 | uint32_t(r) << 16 | uint32_t(a) << 24;
}

// Writes premultiplied BGRA pixels (as in a back buffer) to a PNG, straight alpha.
std::vector<uint8_t> EncodeBufferPng(const uint32_t* pixels, int width, int height);

}  // namespace ui_fixtures
