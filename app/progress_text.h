// The texts of the progress display and the speed behind them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// "57%": done * 100 / total without 32-bit overflow; a run with nothing to
// do (total 0) is complete, 100%.
void FormatPercent(wchar_t* out, size_t capacity, uint32_t total, uint32_t done);
// The width of a text field (CTextUI) that shows every text FormatPercent
// gives, 0% to 100%, whole in font: the widest of them as GDI draws it on one
// line, with any overhang of its last glyph, plus the field's inset. Never
// less than minimum, so a narrow font keeps the skin's layout.
int PercentFieldWidth(HFONT font, int minimum);
// "总大小：… MB，已下载：… MB，当前网速：… KB/S" from byte counts.
void FormatSizeLine(wchar_t* out, size_t capacity, uint64_t bytesTotal, uint64_t bytesDone,
                    uint32_t bytesPerSecond);

// Bytes per second, recomputed at most once per whole second of the clock
// given; between two changes the last speed is answered again.
class SpeedMeter {
public:
    void Start(uint64_t second) {
        second_ = second;
        bytes_ = 0;
        speed_ = 0;
    }
    uint32_t Update(uint64_t second, uint64_t bytes);

private:
    uint64_t second_ = 0;
    uint64_t bytes_ = 0;
    uint32_t speed_ = 0;
};
