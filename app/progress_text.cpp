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
