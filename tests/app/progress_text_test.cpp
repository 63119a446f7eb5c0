#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/install_wnd.h"
#include "app/progress_text.h"
#include "support/handle.h"
#include "ui/controls.h"
#include "ui/render.h"
#include "ui/theme.h"

TEST(ProgressText, PercentOfEntriesOrBytes) {
    struct Case {
        uint32_t total, done;
        const wchar_t* text;
    } cases[] = {
        {100, 57, L"57%"},
        {200, 101, L"50%"},                 // truncated
        {100000000, 50000000, L"50%"},      // no 32-bit overflow in done * 100
        {4000000000u, 4000000000u, L"100%"},
        {3, 0, L"0%"},
        {0, 0, L"100%"},                    // nothing to install is complete
    };
    for (const Case& c : cases) {
        wchar_t out[16];
        FormatPercent(out, 16, c.total, c.done);
        EXPECT_STREQ(c.text, out) << c.total << " " << c.done;
    }
}

TEST(ProgressText, SizeLineShowsMegabytesAndKilobytesPerSecond) {
    wchar_t out[128];
    FormatSizeLine(out, 128, 5u * 1024 * 1024 + 524288, 1048576, 2048 + 512);
    EXPECT_STREQ(L"总大小：5.50 MB，已下载：1.00 MB，当前网速：2.50 KB/S", out);
    FormatSizeLine(out, 128, 6000000000ull, 0, 0);  // clients beyond 4 GiB
    EXPECT_STREQ(L"总大小：5722.05 MB，已下载：0.00 MB，当前网速：0.00 KB/S", out);
}

TEST(ProgressText, SpeedChangesAtMostOncePerWholeSecond) {
    SpeedMeter meter;
    meter.Start(100);
    EXPECT_EQ(0u, meter.Update(100, 5000));     // same second: unchanged
    EXPECT_EQ(8000u, meter.Update(101, 8000));  // 8000 bytes in the second
    EXPECT_EQ(8000u, meter.Update(101, 20000)); // within it: the last speed again
    // The bytes remembered are those of the first report in a second (8000).
    EXPECT_EQ(10000u, meter.Update(104, 38000));  // 30000 over three seconds
    EXPECT_EQ(0u, meter.Update(105, 38000));    // nothing new
    EXPECT_EQ(0u, meter.Update(106, 1000));     // bytes going back count as none
}

// Over five seconds a burst is smoothed, a pause lowers the speed step by
// step, and the time left is given once a whole window has been measured.
TEST(ProgressText, SpeedOverAWindowAndTheTimeLeftOnceSteady) {
    SpeedMeter meter(5);
    meter.Start(0);
    const uint64_t total = 1000000;
    struct Step {
        uint64_t second, bytes;
        uint32_t speed, left;
    } steps[] = {
        {1, 10000, 10000, kUnknownTime},   // one second measured: no estimate
        {2, 20000, 10000, kUnknownTime},
        {4, 40000, 10000, kUnknownTime},
        {5, 100000, 20000, 45},            // a burst: 100000 over five seconds
        {6, 110000, 20000, 45},            // 100000 over seconds 1 to 6
        {7, 110000, 18000, 50},            // nothing new: 90000 over 2 to 7
        {12, 110000, 0, kUnknownTime},     // a long pause: nothing over the gap
        {13, 5000, 0, kUnknownTime},       // begun again: measured anew
        {14, 15000, 10000, kUnknownTime},
        {18, 55000, 10000, 95},
    };
    for (const Step& s : steps) {
        EXPECT_EQ(s.speed, meter.Update(s.second, s.bytes)) << s.second;
        EXPECT_EQ(s.left, meter.SecondsLeft(total - s.bytes)) << s.second;
    }
}

TEST(ProgressText, SizeLineWithTheTimeLeft) {
    struct Case {
        uint32_t seconds;
        const wchar_t* tail;
    } cases[] = {
        {kUnknownTime, L""},
        {0, L"，剩余时间：0:00"},
        {75, L"，剩余时间：1:15"},
        {3600 + 62, L"，剩余时间：1:01:02"},
    };
    for (const Case& c : cases) {
        wchar_t out[128];
        FormatSizeLine(out, 128, 5u * 1024 * 1024 + 524288, 1048576, 2048 + 512, c.seconds);
        EXPECT_EQ(std::wstring(L"总大小：5.50 MB，已下载：1.00 MB，当前网速：2.50 KB/S") + c.tail, out);
    }
    wchar_t small[44];
    FormatSizeLine(small, 44, 0, 0, 0, 75);  // cut to the buffer, still ended
    EXPECT_EQ(std::wstring(L"总大小：0.00 MB，已下载：0.00 MB，当前网速：0.00 KB/S，剩余时间"), small);
}

// The status line is the install directory and the entry's name; in the
// window's width a deep path loses its middle, never the file's name.
TEST(ProgressText, StatusLineKeepsTheFileNameOfADeepPath) {
    CFont font;  // the status line's font: Arial 15
    ASSERT_TRUE(font.CreateHandle());
    UniqueMemoryDC dc(CreateCompatibleDC(nullptr));
    ASSERT_TRUE(dc);
    ScopedSelect selected(dc.get(), font.Handle());
    const std::wstring name = L"音效_第12号音轨.ogg";
    const std::wstring path = L"C:\\Program Files\\XingChen\\starfall\\资源\\音效\\"
                              L"背景音乐与环境音效合集\\第一章_星辰纪元主题曲\\非常深的目录\\" + name;
    // The line's widest in the 600-pixel window: 20 left, 90 right (more when
    // the percentage needs it), 3 inset.
    const int width = 600 - 20 - 90 - 3;
    SIZE whole = {};
    GetTextExtentPoint32W(dc.get(), path.c_str(), int(path.size()), &whole);
    ASSERT_GT(whole.cx, width) << "the path must be too long for the line";

    std::vector<wchar_t> shown(path.begin(), path.end());
    shown.resize(path.size() + 8, 0);  // room for the ellipsis
    RECT r = {0, 0, width, 20};
    DrawTextW(dc.get(), shown.data(), -1, &r, kStatusTextFormat | DT_MODIFYSTRING);
    std::wstring text(shown.data());
    EXPECT_NE(text, path);
    EXPECT_NE(text.find(L"..."), std::wstring::npos) << "shortened in the middle";
    ASSERT_GE(text.size(), name.size() + 1);
    EXPECT_EQ(text.substr(text.size() - name.size() - 1), L"\\" + name);
    SIZE drawn = {};
    GetTextExtentPoint32W(dc.get(), text.c_str(), int(text.size()), &drawn);
    EXPECT_LE(drawn.cx, width);
}

namespace {

// The colour of every pixel of a text field drawn into a fresh back buffer
// (alpha left out: the renderer makes the field's own rectangle opaque).
std::vector<uint32_t> DrawnField(CTextUI& field, int width) {
    CRenderGDI render;
    render.Attach(nullptr);
    render.Resize(400, 80);
    field.SetRect(RECT{0, 0, width, 80});
    field.Paint(&render);
    const auto* bits = static_cast<const uint32_t*>(render.GetBits());
    std::vector<uint32_t> colours;
    for (int i = 0; bits && i < 400 * 80; ++i) colours.push_back(bits[i] & 0xFFFFFF);
    return colours;
}

}  // namespace

// "100%" in the percentage field, drawn as the window draws it: in the width
// the field is given, every pixel of the text is there, as in a field with
// room to spare.
TEST(ProgressText, PercentFieldShowsAHundredPercentWhole) {
    struct Case {
        int height;
        bool bold;
        const wchar_t* face;
    } cases[] = {
        {kPercentFontHeight, true, L"Arial"},  // the window's
        {48, true, L"Arial"},
        {40, false, L"WenQuanYi Micro Hei"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.height << (c.bold ? " bold" : ""));
        CTextUI field;
        field.font.height = c.height;
        field.font.bold = c.bold;
        wcscpy(field.font.face, c.face);
        ASSERT_TRUE(field.font.CreateHandle());
        field.SetColor(0xFFFFFF);
        field.text.Assign(L"100%");

        const int width = PercentFieldWidth(field.font.Handle(), kPercentFieldWidth);
        const std::vector<uint32_t> roomy = DrawnField(field, 400);
        ASSERT_GT(std::count_if(roomy.begin(), roomy.end(), [](uint32_t p) { return p != 0; }), 50)
            << "the text is drawn";
        EXPECT_EQ(roomy, DrawnField(field, width)) << "field width " << width;
        // The comparison sees a cut: a few pixels less and the text loses some.
        EXPECT_NE(roomy, DrawnField(field, width - 10)) << "field width " << width - 10;
    }
}
