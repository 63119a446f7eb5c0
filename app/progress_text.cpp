#include "app/progress_text.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>

#include "support/handle.h"
#include "ui/controls.h"

void FormatPercent(wchar_t* out, size_t capacity, uint32_t total, uint32_t done) {
    if (!out || capacity == 0) return;
    unsigned percent = total ? unsigned(uint64_t(done) * 100 / total) : 100;
    _snwprintf(out, capacity, L"%u%%", percent);
    out[capacity - 1] = 0;
}

int PercentFieldWidth(HFONT font, int minimum) {
    UniqueMemoryDC dc(CreateCompatibleDC(nullptr));
    if (!dc) return minimum;
    // Without a font, text is drawn in the DC's own, as here.
    if (font) SelectObject(dc.get(), font);
    int widest = 0;
    for (uint32_t done = 0; done <= 100; ++done) {
        wchar_t text[16];
        FormatPercent(text, 16, 100, done);
        const int length = int(std::wcslen(text));
        RECT r = {0, 0, 0, 0};
        DrawTextW(dc.get(), text, length, &r, DT_SINGLELINE | DT_NOPREFIX | DT_CALCRECT);
        int width = r.right - r.left;
        // A glyph may draw past its advance (a negative right bearing); the
        // field clips there, so that part counts too.
        ABC abc = {};
        if (GetCharABCWidthsW(dc.get(), text[length - 1], text[length - 1], &abc) && abc.abcC < 0)
            width -= abc.abcC;
        widest = std::max(widest, width);
    }
    return std::max(minimum, widest + CTextUI::kInset);
}

void FormatSizeLine(wchar_t* out, size_t capacity, uint64_t bytesTotal, uint64_t bytesDone,
                    uint32_t bytesPerSecond) {
    if (!out || capacity == 0) return;
    _snwprintf(out, capacity, L"总大小：%.2f MB，已下载：%.2f MB，当前网速：%.2f KB/S",
               double(bytesTotal) / 1024 / 1024, double(bytesDone) / 1024 / 1024,
               double(bytesPerSecond) / 1024);
    out[capacity - 1] = 0;
}

void FormatSizeLine(wchar_t* out, size_t capacity, uint64_t bytesTotal, uint64_t bytesDone,
                    uint32_t bytesPerSecond, uint32_t secondsLeft) {
    FormatSizeLine(out, capacity, bytesTotal, bytesDone, bytesPerSecond);
    if (!out || capacity == 0 || secondsLeft == kUnknownTime) return;
    size_t n = wcslen(out);
    if (n >= capacity) return;
    const uint32_t h = secondsLeft / 3600, m = secondsLeft / 60 % 60, s = secondsLeft % 60;
    if (h > 0)
        _snwprintf(out + n, capacity - n, L"，剩余时间：%u:%02u:%02u", h, m, s);
    else
        _snwprintf(out + n, capacity - n, L"，剩余时间：%u:%02u", m, s);
    out[capacity - 1] = 0;
}

uint32_t SpeedMeter::Update(uint64_t second, uint64_t bytes) {
    const Sample& last = samples_[count_ - 1];
    if (second == last.second) return speed_;
    if (second < last.second || bytes < last.bytes) {
        // A clock or a count going back: measured anew from here.
        samples_[0] = {second, bytes};
        count_ = 1;
        started_ = second;
        speed_ = 0;
        return speed_;
    }
    if (count_ == kSamples) {
        for (uint32_t i = 1; i < kSamples; ++i) samples_[i - 1] = samples_[i];
        --count_;
    }
    samples_[count_++] = {second, bytes};
    // Older than the window goes, but reports may be further apart than it:
    // the one before this always stays, so the gap is averaged over.
    uint32_t drop = 0;
    while (drop + 2 < count_ && samples_[drop].second + window_ < second) ++drop;
    if (drop > 0) {
        for (uint32_t i = drop; i < count_; ++i) samples_[i - drop] = samples_[i];
        count_ -= drop;
    }
    const Sample& oldest = samples_[0];
    uint64_t speed = (bytes - oldest.bytes) / (second - oldest.second);
    speed_ = speed > UINT32_MAX ? UINT32_MAX : uint32_t(speed);
    return speed_;
}

uint32_t SpeedMeter::SecondsLeft(uint64_t remaining) const {
    if (speed_ == 0 || samples_[count_ - 1].second < started_ + window_) return kUnknownTime;
    uint64_t seconds = (remaining + speed_ - 1) / speed_;
    return seconds >= kUnknownTime ? kUnknownTime - 1 : uint32_t(seconds);
}
