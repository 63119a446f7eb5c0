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
// The same with "，剩余时间：m:ss" (or h:mm:ss) after it, unless secondsLeft
// is kUnknownTime.
constexpr uint32_t kUnknownTime = UINT32_MAX;
void FormatSizeLine(wchar_t* out, size_t capacity, uint64_t bytesTotal, uint64_t bytesDone,
                    uint32_t bytesPerSecond, uint32_t secondsLeft);

// Bytes per second, recomputed at most once per whole second of the clock
// given, over the last `window` seconds (at least the gap to the report
// before); between two changes the last speed is answered again. Bytes
// going back (a download begun again) start the measure anew.
class SpeedMeter {
public:
    explicit SpeedMeter(uint32_t window = 1)
        : window_(window < 1 ? 1 : window > kSamples - 1 ? kSamples - 1 : window) {}
    void Start(uint64_t second) {
        count_ = 1;
        samples_[0] = {second, 0};
        started_ = second;
        speed_ = 0;
    }
    uint32_t Update(uint64_t second, uint64_t bytes);
    // The time `remaining` bytes take at the current speed, once a whole
    // window has been measured since the start (the speed is steady then);
    // kUnknownTime before, or while nothing arrives.
    uint32_t SecondsLeft(uint64_t remaining) const;

private:
    static constexpr uint32_t kSamples = 8;
    struct Sample {
        uint64_t second;
        uint64_t bytes;
    };
    uint32_t window_;
    Sample samples_[kSamples] = {};  // oldest first, one per second reported
    uint32_t count_ = 1;
    uint64_t started_ = 0;
    uint32_t speed_ = 0;
};
