#include "app/progress_text.h"

#include <cstdio>

void FormatPercent(wchar_t* out, size_t capacity, uint32_t total, uint32_t done) {
    if (!out || capacity == 0) return;
    unsigned percent = total ? unsigned(uint64_t(done) * 100 / total) : 100;
    _snwprintf(out, capacity, L"%u%%", percent);
    out[capacity - 1] = 0;
}

void FormatSizeLine(wchar_t* out, size_t capacity, uint64_t bytesTotal, uint64_t bytesDone,
                    uint32_t bytesPerSecond) {
    if (!out || capacity == 0) return;
    _snwprintf(out, capacity, L"总大小：%.2f MB，已下载：%.2f MB，当前网速：%.2f KB/S",
               double(bytesTotal) / 1024 / 1024, double(bytesDone) / 1024 / 1024,
               double(bytesPerSecond) / 1024);
    out[capacity - 1] = 0;
}

uint32_t SpeedMeter::Update(uint64_t second, uint64_t bytes) {
    if (second == second_) return speed_;
    // Reports may be further apart than a second: average over the gap.
    uint64_t elapsed = second > second_ ? second - second_ : 1;
    uint64_t delta = bytes > bytes_ ? bytes - bytes_ : 0;
    uint64_t speed = delta / elapsed;
    speed_ = speed > UINT32_MAX ? UINT32_MAX : uint32_t(speed);
    second_ = second;
    bytes_ = bytes;
    return speed_;
}
