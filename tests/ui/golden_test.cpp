// One picture of the whole toolkit: a background, a three-frame button in
// each state, a check box, an edit field with text and a progress bar at
// half, rendered off-screen and compared with tests/ui/golden/scene.png.
// Regenerate the reference with tests/ui/update-golden.sh after a deliberate
// change of the drawing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "support/dialogs.h"
#include "tests/common/test_util.h"
#include "tests/ui/ui_fixtures.h"
#include "ui/controls.h"
#include "ui/render.h"

using namespace ui_fixtures;

namespace {

uint32_t g_clock = 0;
uint32_t Clock() { return g_clock; }

struct Releaser {
    void operator()(ILayer* l) const { l->Release(); }
};
using LayerPtr = std::unique_ptr<ILayer, Releaser>;

bool Load(CImage& image, const std::vector<uint8_t>& png) {
    return image.LoadFromMemory(png.data(), uint32_t(png.size()));
}

// A rounded-looking button strip: a darker 2-pixel border, a translucent
// outer pixel ring, one colour per frame.
std::vector<Rgba> ButtonStrip(int w, int h) {
    const Rgba fills[3] = {{70, 110, 200, 255}, {90, 150, 240, 255}, {40, 70, 150, 255}};
    std::vector<Rgba> out;
    for (int f = 0; f < 3; ++f)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const bool ring = x == 0 || y == 0 || x == w - 1 || y == h - 1;
                const bool border = x < 3 || y < 3 || x >= w - 3 || y >= h - 3;
                Rgba c = fills[f];
                if (border) c = {20, 30, 60, 255};
                if (ring) c.a = 96;
                out.push_back(c);
            }
    return out;
}

}  // namespace

TEST(GoldenTest, SceneMatchesTheReference) {
    const TickSource previous = SetTickSource(Clock);
    const int W = 240, H = 150;
    std::vector<LayerPtr> layers;
    auto add = [&](ILayer* layer, RECT r) {
        layer->SetRect(r);
        layers.emplace_back(layer);
        return layer;
    };

    // Background: a vertical gradient.
    auto* background = new CImageUI(1);
    std::vector<Rgba> bg;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) bg.push_back({uint8_t(230 - y * 8), uint8_t(235 - y * 4), 245, 255});
    ASSERT_TRUE(Load(background->image, EncodePng(16, 16, bg)));
    add(background, RECT{0, 0, W, H});

    // Three buttons in the states normal, hover, pressed (fades finished),
    // drawn with nine-cell margins so the border keeps its width.
    const auto strip = EncodePng(24, 48, ButtonStrip(24, 16));
    const UINT messages[3][2] = {{0, 0}, {kLayerMouseEnter, 0}, {kLayerMouseEnter, WM_LBUTTONDOWN}};
    for (int i = 0; i < 3; ++i) {
        auto* button = new CButtonUI(1);
        ASSERT_TRUE(Load(button->image, strip));
        button->frameCount = 3;
        button->margins = RECT{4, 4, 4, 4};
        button->SetColor(0x00FFFFFF);
        button->text.Assign(i == 0 ? L"Start" : i == 1 ? L"Hover" : L"Press");
        button->font.height = 14;
        button->font.bold = true;
        button->font.CreateHandle();
        for (UINT m : messages[i])
            if (m) button->OnMouse(m, 0, 0, 0);
        add(button, RECT{10 + i * 75, 10, 80 + i * 75, 36});
    }

    auto* check = new CCheckUI(1);
    std::vector<Rgba> box(14 * 14, Rgba{255, 255, 255, 255}), ticked = box;
    for (int y = 0; y < 14; ++y)
        for (int x = 0; x < 14; ++x) {
            if (x == 0 || y == 0 || x == 13 || y == 13) box[y * 14 + x] = ticked[y * 14 + x] = {60, 60, 60, 255};
            else if (x > 3 && x < 10 && y > 3 && y < 10) ticked[y * 14 + x] = {30, 160, 60, 255};
        }
    ASSERT_TRUE(Load(check->image, EncodePng(14, 14, box)));
    ASSERT_TRUE(Load(check->checkedImage, EncodePng(14, 14, ticked)));
    check->SetChecked(true);
    add(check, RECT{10, 48, 24, 62});

    auto* label = new CTextUI(1);
    label->text.Assign(L"I agree 同意");
    label->SetColor(0x00402010);
    label->font.CreateHandle();
    add(label, RECT{26, 45, 200, 65});

    auto* edit = new CEditUI(1);
    std::vector<Rgba> field(12 * 12, Rgba{250, 250, 250, 255});
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 12; ++x)
            if (x < 2 || y < 2 || x > 9 || y > 9) field[y * 12 + x] = {120, 130, 150, 255};
    ASSERT_TRUE(Load(edit->image, EncodePng(12, 12, field)));
    edit->margins = RECT{3, 3, 3, 3};
    edit->text.Assign(L"C:\\Games\\Client\\");
    edit->SetColor(0x00000000);
    edit->font.CreateHandle();
    add(edit, RECT{10, 72, 230, 96});

    auto* bar = new CProgressUI(1);
    std::vector<Rgba> sink(8 * 10, Rgba{200, 205, 215, 255}), fill(8 * 6, Rgba{60, 180, 90, 255});
    std::vector<Rgba> dot(9 * 9, Rgba{0, 0, 0, 0});
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 9; ++x)
            if ((x - 4) * (x - 4) + (y - 4) * (y - 4) <= 16) dot[y * 9 + x] = {255, 255, 255, 220};
    ASSERT_TRUE(Load(bar->image, EncodePng(8, 10, sink)));
    ASSERT_TRUE(Load(bar->fillImage, EncodePng(8, 6, fill)));
    ASSERT_TRUE(Load(bar->dotImage, EncodePng(9, 9, dot)));
    bar->margins = RECT{2, 2, 2, 2};
    bar->value = 50;
    bar->maximum = 100;
    add(bar, RECT{10, 110, 230, 120});

    CRenderGDI render;
    render.Attach(nullptr);
    render.Resize(W, H);
    // First picture: the fades start; then the clock runs past them.
    for (auto& layer : layers) layer->Paint(&render);
    g_clock += 1000;
    for (int pass = 0; pass < 2; ++pass) {
        render.Clear();
        for (auto& layer : layers) layer->Paint(&render);
    }
    for (auto& layer : layers) EXPECT_FALSE(layer->NeedsRedraw());
    SetTickSource(previous);

    const auto* pixels = static_cast<const uint32_t*>(render.GetBits());
    ASSERT_NE(pixels, nullptr);
    const std::wstring reference = testing_util::SourcePath("tests/ui/golden/scene.png");
    const char* update = std::getenv("SKIN_UPDATE_GOLDEN");
    if (update && *update == '1') {
        ASSERT_TRUE(testing_util::WriteAll(reference, EncodeBufferPng(pixels, W, H)));
        GTEST_SKIP() << "reference rewritten";
    }

    CImage golden;
    ASSERT_TRUE(golden.LoadFromFile(reference.c_str())) << "missing reference picture";
    ASSERT_EQ(golden.GetWidth(), W);
    ASSERT_EQ(golden.GetHeight(), H);
    const auto* want = static_cast<const uint32_t*>(golden.GetBits());
    // Shapes and fills must match exactly up to rounding; text antialiasing
    // may differ slightly between font builds, so a few pixels may stray.
    int strays = 0, worst = 0;
    for (int i = 0; i < W * H; ++i) {
        int diff = 0;
        for (int s = 0; s < 32; s += 8)
            diff = std::max(diff, std::abs(int(pixels[i] >> s & 0xFF) - int(want[i] >> s & 0xFF)));
        if (diff > 2) ++strays;
        worst = std::max(worst, diff);
    }
    EXPECT_LE(strays, W * H / 100) << "worst channel difference " << worst;
    // The check mark, the fill and the dot are not text: exact.
    auto at = [&](const uint32_t* p, int x, int y) { return p[y * W + x]; };
    EXPECT_EQ(at(pixels, 17, 55), at(want, 17, 55));
    EXPECT_EQ(at(pixels, 50, 115), at(want, 50, 115));
    EXPECT_EQ(at(pixels, 120, 115), at(want, 120, 115));
}
