// The controls: the hover/press state machine and its cross-fade driven by
// a test clock, frame selection, text placement and the progress bar.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/dialogs.h"
#include "tests/ui/ui_fixtures.h"
#include "ui/controls.h"
#include "ui/render.h"

using namespace ui_fixtures;

namespace {

uint32_t g_now = 0;
uint32_t TestClock() { return g_now; }

// Records what the controls ask the renderer to do; draws nothing.
class RecordingRender : public IRender {
public:
    struct Draw {
        std::string op;
        RECT dest;
        HBITMAP bitmap;
        int sy, sh;
        int alpha;
        RECT clip;  // in force at the time
    };
    struct Text {
        std::wstring text;
        RECT rect;
        UINT format;
        uint32_t color;
        HFONT font;
    };
    std::vector<Draw> draws;
    std::vector<Text> texts;
    RECT clip = {0, 0, 0, 0};
    int clipDepth = 0;
    uint32_t color = 0x11223344;

    bool SetClip(const RECT& r, int) override {
        clip = r;
        ++clipDepth;
        return true;
    }
    void RestoreClip() override {
        clip = RECT{0, 0, 0, 0};
        --clipDepth;
    }
    void ResetClip() override {}
    uint32_t SelectTextColor(uint32_t c) override {
        uint32_t old = color;
        color = c;
        return old;
    }
    uint32_t GetTextColor() override { return color; }
    int GetWidth() override { return 0; }
    int GetHeight() override { return 0; }
    void* GetBits() override { return nullptr; }
    HDC GetDC() override { return nullptr; }
    void Clear() override {}
    void Greyscale() override {}
    void Tint(uint32_t, int) override {}
    bool Attach(HWND) override { return true; }
    void Release() override {}
    void Present(HDC) override {}
    void Resize(int, int) override {}
    int DrawString(const wchar_t* t, int n, const RECT& r, HFONT f, UINT format) override {
        texts.push_back({std::wstring(t, n), r, format, color, f});
        return 1;
    }
    void DrawNineGrid(const RECT& d, HBITMAP b, int, int sy, int, int sh, int, int, int, int,
                      uint8_t alpha, bool, bool) override {
        draws.push_back({"nine", d, b, sy, sh, alpha, clip});
    }
    void DrawImage(const RECT& d, HBITMAP b, int, int sy, int, int sh, uint8_t alpha, bool) override {
        draws.push_back({"image", d, b, sy, sh, alpha, clip});
    }
    void BlendFrom(HDC, const RECT&) override {}
    void BlitPixels(const void*, int, int, bool) override {}
    int MeasureString(const wchar_t*, int, RECT*, HFONT, UINT) override { return 0; }
};

// "frame@alpha" for every frame drawn by a picture, with frame = sy / h.
std::string Picture(ILayer& layer, int frameHeight) {
    RecordingRender r;
    layer.Paint(&r);
    std::string out;
    for (auto& d : r.draws) {
        if (!out.empty()) out += " ";
        out += std::to_string(d.sy / frameHeight) + "@" + std::to_string(d.alpha);
    }
    return out;
}

class ControlsTest : public testing::Test {
protected:
    void SetUp() override {
        previous_ = SetTickSource(TestClock);
        g_now = 100000;
    }
    void TearDown() override { SetTickSource(previous_); }

    // A 3-frame strip, 10 x 30: frame 0 red, 1 green, 2 blue.
    static void LoadStrip(CImage& image) {
        auto png = EncodePng(10, 30, Strip(10, 10, {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}}));
        ASSERT_TRUE(image.LoadPng(png.data(), uint32_t(png.size())));
    }

    TickSource previous_ = nullptr;
};

struct Releaser {
    void operator()(ILayer* l) const { l->Release(); }
};
template <typename T>
std::unique_ptr<T, Releaser> Make() {
    return std::unique_ptr<T, Releaser>(new T(1));
}

}  // namespace

TEST_F(ControlsTest, EnteringFadesOverTwoHundredMilliseconds) {
    auto button = Make<CImageUI>();
    LoadStrip(button->image);
    button->frameCount = 3;
    button->SetRect(RECT{0, 0, 10, 10});
    EXPECT_EQ(Picture(*button, 10), "0@255");
    EXPECT_FALSE(button->NeedsRedraw());

    button->OnMouse(kLayerMouseEnter, 1, 1, 0);
    EXPECT_EQ(button->GetState(), 1);
    EXPECT_EQ(button->GetPreviousState(), 0);
    EXPECT_TRUE(button->NeedsRedraw());
    EXPECT_EQ(button->GetTransitionStart(), 100000u);

    g_now += 100;  // the first picture, drawn 100 ms late, still shows progress 0
    EXPECT_EQ(Picture(*button, 10), "0@255 1@0");
    EXPECT_EQ(button->GetTransitionProgress(), 127);
    EXPECT_TRUE(button->NeedsRedraw());
    EXPECT_EQ(Picture(*button, 10), "0@128 1@127");
    g_now += 100;
    EXPECT_EQ(Picture(*button, 10), "0@128 1@127");  // ends the fade
    EXPECT_EQ(button->GetPreviousState(), 1);
    EXPECT_EQ(button->GetTransitionProgress(), 0);
    // That picture was still mixed: one more shows the new frame whole, and
    // only then does the button rest.
    EXPECT_TRUE(button->NeedsRedraw());
    EXPECT_EQ(Picture(*button, 10), "1@255");
    EXPECT_FALSE(button->NeedsRedraw());

    // The layer's alpha scales both frames.
    button->SetAlpha(100);
    button->OnMouse(WM_LBUTTONDOWN, 1, 1, 0);
    g_now += 50;
    EXPECT_EQ(Picture(*button, 10), "1@100 2@0");
    EXPECT_EQ(Picture(*button, 10), "1@75 2@24");  // p = 63: 192*100/255, 63*100/255
}

TEST_F(ControlsTest, LeavingDuringTheFadeReversesIt) {
    auto button = Make<CImageUI>();
    LoadStrip(button->image);
    button->frameCount = 3;
    button->OnMouse(kLayerMouseEnter, 1, 1, 0);
    g_now += 100;
    Picture(*button, 10);
    ASSERT_EQ(button->GetTransitionProgress(), 127);

    button->OnMouse(kLayerMouseLeave, 1, 1, 0);
    EXPECT_EQ(button->GetTransitionProgress(), 128);
    EXPECT_EQ(button->GetPreviousState(), 1);
    EXPECT_EQ(button->GetState(), 0);
    EXPECT_EQ(Picture(*button, 10), "1@127 0@128");
    g_now += 10;  // the next picture follows the time since the leave
    EXPECT_EQ(Picture(*button, 10), "1@255 0@0");
    EXPECT_EQ(Picture(*button, 10), "1@243 0@12");
    g_now += 500;
    Picture(*button, 10);
    EXPECT_EQ(Picture(*button, 10), "0@255");
}

TEST_F(ControlsTest, StateMachineOfTheMouse) {
    auto layer = Make<CImageUI>();
    layer->SetCursorKind(kCursorHand);
    struct Step {
        UINT message;
        int state;
        bool restarts;  // a transition: new start time and redraw
    } steps[] = {{kLayerMouseEnter, 1, true}, {WM_MOUSEMOVE, 1, false}, {WM_LBUTTONDOWN, 2, true},
                 {WM_MOUSEMOVE, 2, false},    {WM_LBUTTONUP, 1, true},  {WM_RBUTTONDOWN, 1, false},
                 {kLayerMouseLeave, 0, true}};
    for (auto& s : steps) {
        g_now += 1000;
        layer->SetNeedsRedraw(false);
        EXPECT_FALSE(layer->OnMouse(s.message, 3, 3, 0)) << s.message;  // the window always goes on
        EXPECT_EQ(layer->GetState(), s.state) << s.message;
        EXPECT_EQ(layer->NeedsRedraw(), s.restarts) << s.message;
        EXPECT_EQ(layer->GetTransitionStart() == g_now, s.restarts) << s.message;
    }
}

TEST_F(ControlsTest, CursorFollowsTheKind) {
    auto layer = Make<CImageUI>();
    layer->SetCursorKind(kCursorHand);
    HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
    SetCursor(arrow);
    layer->OnMouse(kLayerMouseEnter, 0, 0, 0);
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_HAND));
    SetCursor(arrow);
    layer->OnMouse(WM_MOUSEMOVE, 0, 0, 0);
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_HAND));
    layer->OnMouse(kLayerMouseEnter, 0, 0, 0);  // entered twice: still the arrow to restore
    layer->OnMouse(kLayerMouseLeave, 0, 0, 0);
    EXPECT_EQ(GetCursor(), arrow);

    auto text = Make<CEditUI>();
    text->SetCursorKind(kCursorText);
    text->OnMouse(kLayerMouseEnter, 0, 0, 0);
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_IBEAM));
    text->OnMouse(kLayerMouseLeave, 0, 0, 0);
    EXPECT_EQ(GetCursor(), arrow);
}

// On real pixels: the frame shown is the state's; a check box swaps images.
TEST_F(ControlsTest, FramesOnTheBackBuffer) {
    CRenderGDI render;
    render.Attach(nullptr);
    render.Resize(20, 20);
    auto pixel = [&] { return static_cast<uint32_t*>(render.GetBits())[5 * 20 + 5]; };

    auto button = Make<CImageUI>();
    LoadStrip(button->image);
    button->frameCount = 3;
    button->SetRect(RECT{0, 0, 20, 20});
    const uint32_t colors[3] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF};
    for (int state = 0; state < 3; ++state) {
        button->SetState(state);
        button->OnMouse(WM_MOUSEMOVE, 0, 0, 0);
        // No fade: the previous state is forced equal by a finished fade.
        g_now += 1000;
        button->Paint(&render);
        button->Paint(&render);
        EXPECT_EQ(pixel(), colors[state]) << state;
    }
    // A state without a frame draws nothing.
    button->frameCount = 2;
    render.Clear();
    button->Paint(&render);
    EXPECT_EQ(pixel(), 0u);

    auto check = Make<CCheckUI>();
    check->SetRect(RECT{0, 0, 20, 20});
    auto unchecked = EncodePng(4, 4, Solid(4, 4, {10, 20, 30, 255}));
    auto checked = EncodePng(4, 4, Solid(4, 4, {200, 100, 0, 255}));
    ASSERT_TRUE(check->image.LoadPng(unchecked.data(), uint32_t(unchecked.size())));
    ASSERT_TRUE(check->checkedImage.LoadPng(checked.data(), uint32_t(checked.size())));
    check->Paint(&render);
    EXPECT_EQ(pixel(), Bgra(30, 20, 10, 255));
    check->SetChecked(true);
    check->Paint(&render);
    EXPECT_EQ(pixel(), Bgra(0, 100, 200, 255));
}

TEST_F(ControlsTest, TextPlacementFormatAndColour) {
    auto text = Make<CTextUI>();
    auto button = Make<CButtonUI>();
    auto edit = Make<CEditUI>();
    const RECT r = {10, 20, 110, 40};
    struct Case {
        const char* name;
        ILayer* layer;
        FixedString<511>* field;
        HFONT font;
        LONG left;
        UINT format;
    } cases[] = {{"text", text.get(), &text->text, text->font.Handle(), 13, 0x24},
                 {"button", button.get(), &button->text, button->font.Handle(), 10, 0x25},
                 {"edit", edit.get(), &edit->text, edit->font.Handle(), 13, 0x24 | DT_NOPREFIX}};
    edit->font.height = 20;
    ASSERT_TRUE(edit->font.CreateHandle());
    cases[2].font = edit->font.Handle();
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.layer->SetRect(r);
        c.layer->SetColor(0xFF0000FF);
        c.layer->SetText(L"not shown");
        c.field->Assign(L"安装目录");
        RecordingRender render;
        c.layer->Paint(&render);
        ASSERT_EQ(render.texts.size(), 1u);
        EXPECT_EQ(render.texts[0].text, L"安装目录");
        EXPECT_EQ(render.texts[0].rect.left, c.left);
        EXPECT_EQ(render.texts[0].rect.right, r.right);
        EXPECT_EQ(render.texts[0].rect.top, r.top);
        EXPECT_EQ(render.texts[0].format, c.format);
        EXPECT_EQ(render.texts[0].color, 0xFF0000FFu);
        EXPECT_EQ(render.texts[0].font, c.font);
        EXPECT_EQ(render.color, 0x11223344u);  // restored
        EXPECT_FALSE(c.layer->NeedsRedraw());
    }
    // Over 511 characters the owner's copy is cut.
    std::wstring longText(600, L'x');
    text->text.Assign(longText.c_str());
    RecordingRender render;
    text->Paint(&render);
    EXPECT_EQ(render.texts[0].text.size(), 511u);
}

TEST_F(ControlsTest, ButtonsFinishTheirFadeBeforeResting) {
    auto button = Make<CButtonUI>();
    LoadStrip(button->image);
    button->frameCount = 3;
    button->text.Assign(L"OK");
    button->OnMouse(kLayerMouseEnter, 0, 0, 0);
    RecordingRender render;
    button->Paint(&render);
    EXPECT_TRUE(button->NeedsRedraw());  // the fade goes on although text was drawn
    g_now += 250;
    button->Paint(&render);
    EXPECT_TRUE(button->NeedsRedraw());  // the last mixed picture; the whole frame follows
    button->Paint(&render);
    EXPECT_FALSE(button->NeedsRedraw());

    // Nothing to draw at all must not keep the window repainting.
    auto empty = Make<CImageUI>();
    empty->frameCount = 0;
    empty->Paint(&render);
    EXPECT_FALSE(empty->NeedsRedraw());
}

TEST_F(ControlsTest, ProgressBarGeometry) {
    auto bar = Make<CProgressUI>();
    auto sink = EncodePng(20, 10, Solid(20, 10, {50, 50, 50, 255}));
    auto fill = EncodePng(20, 6, Solid(20, 6, {0, 200, 0, 255}));
    auto dot = EncodePng(9, 15, Solid(9, 15, {255, 255, 255, 255}));
    ASSERT_TRUE(bar->image.LoadPng(sink.data(), uint32_t(sink.size())));
    ASSERT_TRUE(bar->fillImage.LoadPng(fill.data(), uint32_t(fill.size())));
    ASSERT_TRUE(bar->dotImage.LoadPng(dot.data(), uint32_t(dot.size())));
    bar->SetRect(RECT{0, 10, 200, 21});  // 11 high: 11/2 - 6/2 = 2

    struct Case {
        uint32_t value, maximum;
        int fillEnd;
        bool fillDrawn;
    } cases[] = {{50, 100, 100, true}, {0, 100, 0, false}, {100, 100, 200, true},
                 {1, 0, 200, true},    {0, 0, 0, false},   {150, 100, 300, true},
                 {0xFFFFFFFF, 1, 1 << 26, true}};
    for (auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.value << "/" << c.maximum);
        bar->value = c.value;
        bar->maximum = c.maximum;
        EXPECT_EQ(bar->FillEnd(), c.fillEnd);
        RecordingRender render;
        bar->Paint(&render);
        EXPECT_EQ(render.clipDepth, 0);
        ASSERT_EQ(render.draws.size(), c.fillDrawn ? 3u : 2u);
        const auto& sinkDraw = render.draws[0];
        EXPECT_EQ(sinkDraw.bitmap, bar->image.GetBitmap());
        EXPECT_EQ(sinkDraw.dest.right, 200);
        if (c.fillDrawn) {
            const auto& f = render.draws[1];
            EXPECT_EQ(f.bitmap, bar->fillImage.GetBitmap());
            // The whole width, vertically centred, clipped at the fill end.
            EXPECT_EQ(f.dest.left, 0);
            EXPECT_EQ(f.dest.right, 200);
            EXPECT_EQ(f.dest.top, 12);
            EXPECT_EQ(f.dest.bottom, 18);
            EXPECT_EQ(f.clip.right, std::min(c.fillEnd, 200));
            EXPECT_EQ(f.clip.top, 10);
            EXPECT_EQ(f.clip.bottom, 21);
        }
        const auto& d = render.draws.back();
        EXPECT_EQ(d.op, "image");
        EXPECT_EQ(d.dest.left, c.fillEnd - 4);
        EXPECT_EQ(d.dest.right - d.dest.left, 9);
        EXPECT_EQ(d.dest.top, 10 + 5 - 7);
        EXPECT_FALSE(bar->NeedsRedraw());
    }
}

TEST_F(ControlsTest, ProgressBarPixels) {
    CRenderGDI render;
    render.Attach(nullptr);
    render.Resize(400, 20);
    auto bar = Make<CProgressUI>();
    auto sink = EncodePng(4, 4, Solid(4, 4, {50, 50, 50, 255}));
    auto fill = EncodePng(4, 20, Solid(4, 20, {0, 200, 0, 255}));
    auto dot = EncodePng(3, 3, Solid(3, 3, {255, 255, 255, 255}));
    ASSERT_TRUE(bar->image.LoadPng(sink.data(), uint32_t(sink.size())));
    ASSERT_TRUE(bar->fillImage.LoadPng(fill.data(), uint32_t(fill.size())));
    ASSERT_TRUE(bar->dotImage.LoadPng(dot.data(), uint32_t(dot.size())));
    bar->SetRect(RECT{0, 0, 200, 20});
    auto at = [&](int x) { return static_cast<uint32_t*>(render.GetBits())[10 * 400 + x]; };

    bar->value = 50;
    bar->Paint(&render);
    EXPECT_EQ(at(0), Bgra(0, 200, 0, 255));
    EXPECT_EQ(at(98), Bgra(0, 200, 0, 255));
    EXPECT_EQ(at(100), 0xFFFFFFFFu);  // the dot, centred on the end
    EXPECT_EQ(at(102), Bgra(50, 50, 50, 255));
    EXPECT_EQ(at(199), Bgra(50, 50, 50, 255));

    render.Clear();
    bar->value = 150;
    bar->Paint(&render);
    EXPECT_EQ(at(199), Bgra(0, 200, 0, 255));  // stretched over the whole width, not beyond
    EXPECT_EQ(at(200), 0u);
    EXPECT_EQ(at(300), 0xFFFFFFFFu);  // dot 100 pixels beyond the right edge
    EXPECT_EQ(at(302), 0u);
}
