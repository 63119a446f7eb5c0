// The back buffer and its drawing operations, checked on the DIB's pixels.
#include <gtest/gtest.h>

#include <vector>

#include "tests/ui/ui_fixtures.h"
#include "ui/image.h"
#include "ui/render.h"

using namespace ui_fixtures;

namespace {

class RenderTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(render.Attach(nullptr));
        render.Resize(kW, kH);
    }
    // Makes the buffer (if needed) and fills it with one value.
    void Fill(uint32_t value) {
        std::vector<uint32_t> px(size_t(kW) * kH, value);
        render.BlitPixels(px.data(), kW, kH, false);
        ASSERT_NE(render.GetBits(), nullptr);
    }
    uint32_t At(int x, int y) { return static_cast<uint32_t*>(render.GetBits())[y * kW + x]; }
    // A DIB-section image of one premultiplied value per cell of a grid.
    static void MakeImage(CImage& image, int w, int h, uint32_t (*color)(int x, int y)) {
        std::vector<uint32_t> px(size_t(w) * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) px[size_t(y) * w + x] = color(x, y);
        ASSERT_TRUE(image.Create(w, h, 32, px.data()));
    }

    static constexpr int kW = 320, kH = 120;
    CRenderGDI render;
};

constexpr uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF;

// Wine's StretchBlt in HALFTONE mode writes alpha 0 into a 32-bit DIB (BitBlt
// keeps the source's alpha), so opaque stretched copies compare colour only.
constexpr uint32_t Rgb(uint32_t p) { return p & 0xFFFFFF; }

}  // namespace

TEST_F(RenderTest, BufferIsMadeLazilyAndKeptAcrossEqualResize) {
    EXPECT_EQ(render.GetBits(), nullptr);
    EXPECT_EQ(render.GetWidth(), kW);
    EXPECT_NE(render.GetDC(), nullptr);
    Fill(0x12345678);
    void* bits = render.GetBits();
    render.Resize(kW, kH);
    EXPECT_EQ(render.GetBits(), bits);
    EXPECT_EQ(At(5, 5), 0x12345678u);
    render.Clear();
    EXPECT_EQ(At(kW - 1, kH - 1), 0u);
    render.Resize(10, 10);
    EXPECT_EQ(render.GetBits(), nullptr);
    render.Clear();  // no buffer: nothing to do, no crash
    std::vector<uint32_t> small(100, 7);
    render.BlitPixels(small.data(), 10, 10, false);
    ASSERT_NE(render.GetBits(), nullptr);
    EXPECT_EQ(static_cast<uint32_t*>(render.GetBits())[99], 7u);
}

TEST_F(RenderTest, DrawImageBlendsCopiesAndStretches) {
    CImage image;
    MakeImage(image, 4, 4, [](int x, int) { return x < 2 ? 0x80800000u : kBlue; });  // half red
    Fill(0);
    render.DrawImage(RECT{0, 0, 4, 4}, image.GetBitmap(), 0, 0, 4, 4, 255, true);
    EXPECT_EQ(At(0, 0), 0x80800000u);
    EXPECT_EQ(At(3, 3), kBlue);

    Fill(kGreen);
    render.DrawImage(RECT{0, 0, 4, 4}, image.GetBitmap(), 0, 0, 4, 4, 255, true);
    // Premultiplied over: 0x80 red + green * (255 - 128) / 255.
    const uint32_t p = At(0, 0);
    EXPECT_NEAR(int(p >> 8 & 0xFF), 127, 1);
    EXPECT_EQ(p >> 16 & 0xFF, 0x80u);
    EXPECT_EQ(p >> 24, 0xFFu);

    // Constant alpha scales the whole source (Wine rounds, Windows truncates).
    Fill(0);
    render.DrawImage(RECT{0, 0, 4, 4}, image.GetBitmap(), 2, 0, 2, 4, 128, true);
    EXPECT_NEAR(int(At(1, 1) & 0xFF), 128, 1);
    EXPECT_NEAR(int(At(1, 1) >> 24), 128, 1);

    // Opaque copies ignore both alphas; a different size stretches.
    Fill(kGreen);
    render.DrawImage(RECT{10, 0, 14, 4}, image.GetBitmap(), 0, 0, 4, 4, 7, false);
    EXPECT_EQ(At(10, 0), 0x80800000u);
    render.DrawImage(RECT{20, 0, 60, 8}, image.GetBitmap(), 2, 0, 2, 4, 7, false);
    EXPECT_EQ(Rgb(At(20, 0)), Rgb(kBlue));
    EXPECT_EQ(Rgb(At(59, 7)), Rgb(kBlue));
    EXPECT_EQ(At(60, 7), kGreen);

    render.DrawImage(RECT{0, 0, 4, 4}, nullptr, 0, 0, 4, 4, 255, true);  // nothing, no crash
}

// Nine distinct cells in a 60 x 30 source with margins 20, 10, 20, 10 onto
// a 300 x 100 destination: corners keep their size, edges and centre stretch.
TEST_F(RenderTest, NineGridPutsEveryCellInItsPlace) {
    auto cellColor = [](int x, int y) {
        const int col = x < 20 ? 0 : x < 40 ? 1 : 2, row = y < 10 ? 0 : y < 20 ? 1 : 2;
        return 0xFF000000u | uint32_t(col * 3 + row + 1) * 0x10u;
    };
    CImage image;
    std::vector<uint32_t> px(60 * 30);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 60; ++x) px[y * 60 + x] = cellColor(x, y);
    ASSERT_TRUE(image.Create(60, 30, 32, px.data()));

    const RECT dest = {10, 10, 310, 110};
    // Destination edges of the columns and rows.
    const int xs[4] = {10, 30, 290, 310}, ys[4] = {10, 20, 100, 110};
    for (int blended = 0; blended < 2; ++blended) {
        for (int centre = 0; centre < 2; ++centre) {
            SCOPED_TRACE(testing::Message() << "blended " << blended << " centre " << centre);
            Fill(0);
            render.DrawNineGrid(dest, image.GetBitmap(), 0, 0, 60, 30, 20, 10, 20, 10, 255,
                                blended != 0, centre != 0);
            for (int col = 0; col < 3; ++col) {
                for (int row = 0; row < 3; ++row) {
                    const bool skipped = blended && !centre && col == 1 && row == 1;
                    const uint32_t want =
                        skipped ? 0u : 0xFF000000u | uint32_t(col * 3 + row + 1) * 0x10u;
                    // Sample the cell's corners and middle.
                    const int x0 = xs[col], x1 = xs[col + 1] - 1, y0 = ys[row], y1 = ys[row + 1] - 1;
                    const int pts[3][2] = {{x0, y0}, {x1, y1}, {(x0 + x1) / 2, (y0 + y1) / 2}};
                    // Opaque mode stretches edges and centre (colour only, see Rgb).
                    const bool stretched = !blended && !(col != 1 && row != 1);
                    for (auto& pt : pts)
                        EXPECT_EQ(stretched ? Rgb(At(pt[0], pt[1])) : At(pt[0], pt[1]),
                                  stretched ? Rgb(want) : want)
                            << "cell " << col << "," << row << " at " << pt[0] << "," << pt[1];
                }
            }
            EXPECT_EQ(At(9, 50), 0u);
            EXPECT_EQ(At(310, 50), 0u);
            EXPECT_EQ(At(100, 9), 0u);
        }
    }
}

TEST_F(RenderTest, NineGridWithSideMarginsOnly) {
    // 60 wide: 20 red, 20 green, 20 blue columns; 300 wide destination.
    CImage image;
    MakeImage(image, 60, 4, [](int x, int) { return x < 20 ? kRed : x < 40 ? kGreen : kBlue; });
    for (int blended = 0; blended < 2; ++blended) {
        Fill(0);
        render.DrawNineGrid(RECT{0, 0, 300, 8}, image.GetBitmap(), 0, 0, 60, 4, 20, 0, 20, 0, 255,
                            blended != 0, true);
        // Without top and bottom margins every cell is stretched vertically.
        const uint32_t mask = blended ? 0xFFFFFFFF : 0xFFFFFF;
        EXPECT_EQ(At(0, 0) & mask, kRed & mask);
        EXPECT_EQ(At(19, 7) & mask, kRed & mask);
        EXPECT_EQ(At(20, 0) & mask, kGreen & mask);
        EXPECT_EQ(At(279, 7) & mask, kGreen & mask);
        EXPECT_EQ(At(280, 0) & mask, kBlue & mask);
        EXPECT_EQ(At(299, 7) & mask, kBlue & mask);
        EXPECT_EQ(At(300, 0), 0u);
    }
}

// Too small for its margins, the destination shows the cells drawn later on
// top: columns left to right, and within a column top to bottom.
TEST_F(RenderTest, NineGridCellOrderDecidesOverlaps) {
    CImage image;
    std::vector<uint32_t> px(60 * 30);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 60; ++x)
            px[y * 60 + x] = 0xFF000000u | uint32_t((x < 20 ? 0 : x < 40 ? 1 : 2) * 3 + (y < 10 ? 0 : y < 20 ? 1 : 2) + 1) * 0x10u;
    ASSERT_TRUE(image.Create(60, 30, 32, px.data()));
    for (int blended = 0; blended < 2; ++blended) {
        Fill(0);
        // 30 x 15: the right column (x 10..30) overlaps the left (0..20), the
        // bottom row (y 5..15) the top (0..10); middle column and row vanish.
        render.DrawNineGrid(RECT{0, 0, 30, 15}, image.GetBitmap(), 0, 0, 60, 30, 20, 10, 20, 10,
                            255, blended != 0, true);
        EXPECT_EQ(At(5, 2), 0xFF000010u) << blended;   // top-left alone
        EXPECT_EQ(At(15, 2), 0xFF000070u) << blended;  // top-right over top-left
        EXPECT_EQ(At(5, 7), 0xFF000030u) << blended;   // bottom-left over top-left
        EXPECT_EQ(At(15, 7), 0xFF000090u) << blended;  // bottom-right over all
        EXPECT_EQ(At(30, 7), 0u) << blended;
    }
}

TEST_F(RenderTest, DrawStringLeavesNoTransparentPixelInItsRectangle) {
    Fill(0);
    render.SelectTextColor(0x000000FF);
    const RECT r = {10, 10, 150, 40};
    const wchar_t text[] = L"Setup 安装";
    EXPECT_GT(render.DrawString(text, -1, r, nullptr, DT_SINGLELINE | DT_VCENTER), 0);
    int glyph = 0;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const uint32_t p = At(x, y);
            const bool inside = x >= r.left && x < r.right && y >= r.top && y < r.bottom;
            if (inside) {
                ASSERT_EQ(p >> 24, 0xFFu) << x << "," << y;
                if (p & 0xFF0000) ++glyph;  // red text: COLORREF 0x0000FF
                ASSERT_EQ(p & 0x00FFFF, 0u) << x << "," << y;
            } else {
                ASSERT_EQ(p, 0u) << x << "," << y;
            }
        }
    }
    EXPECT_GT(glyph, 20);
    EXPECT_EQ(render.DrawString(nullptr, 5, r, nullptr, 0), 0);
    EXPECT_EQ(render.DrawString(text, 0, r, nullptr, 0), 0);
    // A rectangle reaching outside the buffer is cut to it.
    render.DrawString(text, -1, RECT{-50, -50, kW + 50, kH + 50}, nullptr, 0);
    EXPECT_EQ(At(0, 0) >> 24, 0xFFu);
}

TEST_F(RenderTest, MeasureStringAnswersTheTextHeight) {
    RECT r = {0, 0, 0, 0};
    const int h = render.MeasureString(L"Hello", 5, &r, nullptr, DT_SINGLELINE);
    EXPECT_GT(h, 5);
    EXPECT_EQ(r.bottom - r.top, h);
    EXPECT_GT(r.right, 10);
    EXPECT_EQ(render.MeasureString(nullptr, 5, &r, nullptr, 0), 0);
    EXPECT_EQ(render.MeasureString(L"x", 0, &r, nullptr, 0), 0);
}

TEST_F(RenderTest, ClipHasTwoLevels) {
    CImage image;
    MakeImage(image, 1, 1, [](int, int) { return kRed; });
    auto paintAll = [&] {
        Fill(0);
        render.DrawImage(RECT{0, 0, kW, kH}, image.GetBitmap(), 0, 0, 1, 1, 255, true);
    };
    Fill(0);
    EXPECT_TRUE(render.SetClip(RECT{0, 0, 10, 10}, RGN_COPY));
    EXPECT_TRUE(render.SetClip(RECT{20, 0, 30, 10}, RGN_COPY));
    EXPECT_TRUE(render.SetClip(RECT{40, 0, 50, 10}, RGN_COPY));
    paintAll();
    EXPECT_EQ(At(45, 5), kRed);
    EXPECT_EQ(At(25, 5), 0u);

    render.RestoreClip();  // the second region again
    paintAll();
    EXPECT_EQ(At(25, 5), kRed);
    EXPECT_EQ(At(45, 5), 0u);
    EXPECT_EQ(At(5, 5), 0u);

    render.RestoreClip();  // the first was discarded by the third: no clip
    paintAll();
    EXPECT_EQ(At(5, 5), kRed);
    EXPECT_EQ(At(200, 100), kRed);

    EXPECT_FALSE(render.SetClip(RECT{5, 5, 5, 5}, RGN_COPY));  // empty
    render.ResetClip();
    paintAll();
    EXPECT_EQ(At(100, 50), kRed);
    EXPECT_EQ(render.ClipRect().right, 0);

    CRenderGDI detached;  // no DC yet
    EXPECT_FALSE(detached.SetClip(RECT{0, 0, 1, 1}, RGN_COPY));
    detached.RestoreClip();
    detached.ResetClip();
}

TEST_F(RenderTest, PixelPasses) {
    // Greyscale: (r + g + b) / 3, alpha kept.
    Fill(Bgra(10, 20, 40, 200));
    render.Greyscale();
    EXPECT_EQ(At(3, 3), Bgra(23, 23, 23, 200));

    // Tint with strength 0x80 toward 0xRRGGBB = 0x0000FF (blue byte first).
    Fill(Bgra(100, 50, 0, 255));
    render.Tint(0x800000FF, 0);
    EXPECT_EQ(At(0, 0), Bgra(uint8_t((100 * 127 + 255 * 128) >> 8), uint8_t((50 * 127) >> 8), 0, 255));

    // Inset: the border stays.
    Fill(Bgra(100, 100, 100, 255));
    render.Tint(0xFF000000, 4);
    EXPECT_EQ(At(3, 50), Bgra(100, 100, 100, 255));
    EXPECT_EQ(At(4, 4), Bgra(0, 0, 0, 255));
    EXPECT_EQ(At(kW - 5, kH - 5), Bgra(0, 0, 0, 255));
    EXPECT_EQ(At(kW - 4, kH - 5), Bgra(100, 100, 100, 255));
    render.Tint(0xFF000000, kH / 2);  // nothing left inside: no change
    EXPECT_EQ(At(3, 50), Bgra(100, 100, 100, 255));
}

TEST_F(RenderTest, BlitPixelsCopiesOrBlends) {
    Fill(Bgra(200, 100, 50, 255));
    std::vector<uint32_t> src(size_t(kW) * 2, 0);
    src[0] = Bgra(10, 10, 10, 255);  // replaces
    src[1] = Bgra(64, 0, 0, 128);    // blends, alpha included
    src[2] = Bgra(99, 99, 99, 0);    // leaves
    render.BlitPixels(src.data(), kW, 2, true);
    EXPECT_EQ(At(0, 0), Bgra(10, 10, 10, 255));
    EXPECT_EQ(At(1, 0), Bgra(uint8_t((64 * 128 + 200 * 127) >> 8), uint8_t((100 * 127) >> 8),
                             uint8_t((50 * 127) >> 8), uint8_t((128 * 128 + 255 * 127) >> 8)));
    EXPECT_EQ(At(2, 0), Bgra(200, 100, 50, 255));
    EXPECT_EQ(At(0, 2), Bgra(200, 100, 50, 255));  // only two rows given

    render.BlitPixels(src.data(), kW, 1, false);
    EXPECT_EQ(At(2, 0), Bgra(99, 99, 99, 0));
    // A narrower source would shear the rows: it is refused.
    render.BlitPixels(src.data(), kW - 1, 2, false);
    EXPECT_EQ(At(kW - 1, 0), 0u);
    EXPECT_EQ(At(0, 1), Bgra(200, 100, 50, 255));
    EXPECT_EQ(At(5, 2), Bgra(200, 100, 50, 255));
}

TEST_F(RenderTest, BlendFromAndPresent) {
    CImage source;
    MakeImage(source, 8, 8, [](int, int) { return 0x80008000u; });
    UniqueMemoryDC sourceDC(CreateCompatibleDC(nullptr));
    ScopedSelect select(sourceDC.get(), source.GetBitmap());
    Fill(0xFF0000FF);
    render.BlendFrom(sourceDC.get(), RECT{2, 2, 6, 6});
    EXPECT_EQ(At(1, 1), 0xFF0000FFu);
    const uint32_t p = At(3, 3);
    EXPECT_EQ(p >> 8 & 0xFF, 0x80u);
    EXPECT_NEAR(int(p & 0xFF), 127, 1);

    CImage target;
    std::vector<uint32_t> zero(size_t(kW) * kH, 0);
    ASSERT_TRUE(target.Create(kW, kH, 32, zero.data()));
    UniqueMemoryDC targetDC(CreateCompatibleDC(nullptr));
    ScopedSelect selectTarget(targetDC.get(), target.GetBitmap());
    render.Present(targetDC.get());
    GdiFlush();
    EXPECT_EQ(static_cast<uint32_t*>(target.GetBits())[3 * kW + 3], p);
    EXPECT_EQ(static_cast<uint32_t*>(target.GetBits())[kW * kH - 1], 0xFF0000FFu);
}

TEST_F(RenderTest, TextColourIsRememberedAndApplied) {
    EXPECT_EQ(render.GetTextColor(), 0u);
    EXPECT_EQ(render.SelectTextColor(0xFF123456), 0u);
    EXPECT_EQ(render.SelectTextColor(0x00ABCDEF), 0xFF123456u);
    EXPECT_EQ(::GetTextColor(render.GetDC()), COLORREF(0xABCDEF));
}
