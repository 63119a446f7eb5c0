// The anchor rule: where a layer (or a window on the screen) goes inside its
// parent's rectangle.
#pragma once

#include <windows.h>

#include <cstdint>

// Eight signed 16-bit values held as four 32-bit ones, the first of each pair
// in the low half: x / x mode, y / y mode, width / right margin,
// height / bottom margin. All zero fills the parent.
struct Anchor {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;

    static constexpr int32_t Pack(int16_t low, int16_t high) {
        return int32_t(uint32_t(uint16_t(low)) | (uint32_t(uint16_t(high)) << 16));
    }
    static constexpr int16_t Low(int32_t v) { return int16_t(uint16_t(uint32_t(v) & 0xFFFF)); }
    static constexpr int16_t High(int32_t v) { return int16_t(uint16_t(uint32_t(v) >> 16)); }
};

void AnchoredRect(RECT* out, const RECT& parent, const Anchor& anchor);
