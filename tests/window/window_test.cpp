// The window base on real windows: creation styles, placement with the
// frame, the caption rule, size limits, the modal loop, and what Render puts
// into the back buffer (frame, layers, grey, dim).
#include <gtest/gtest.h>

#include "tests/window/window_fixtures.h"
#include "window/app.h"

#include <imm.h>

#include <string>
#include <vector>

namespace {

DWORD StyleOf(HWND window) { return DWORD(GetWindowLongW(window, GWL_STYLE)); }
DWORD ExStyleOf(HWND window) { return DWORD(GetWindowLongW(window, GWL_EXSTYLE)); }

RECT OuterRect(IWindow& window) {
    RECT rect = {};
    window.GetOuterRect(&rect);
    return rect;
}

}  // namespace

TEST(WindowCreate, StylesWithAndWithoutParent) {
    auto owner = MakeHost();
    struct Case {
        bool withParent;
        bool minMaxAndAppWindow;
    };
    for (Case c : {Case{false, true}, Case{true, false}}) {
        SCOPED_TRACE(c.withParent ? "with parent" : "without parent");
        CWindow window;
        HWND parent = c.withParent ? owner->GetHandle() : nullptr;
        // With a parent the instance is taken from it.
        ASSERT_TRUE(window.Create(WS_POPUP, 0, parent, c.withParent ? nullptr : TestInstance()));
        HWND handle = window.GetHandle();
        EXPECT_EQ(window.GetParentHandle(), parent);
        EXPECT_EQ((StyleOf(handle) & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) != 0, c.minMaxAndAppWindow);
        EXPECT_EQ((ExStyleOf(handle) & WS_EX_APPWINDOW) != 0, c.minMaxAndAppWindow);
        EXPECT_TRUE(window.HasStyle(WS_CLIPSIBLINGS | WS_CLIPCHILDREN));
        EXPECT_FALSE(window.HasStyle(WS_CAPTION));
        EXPECT_EQ(GetWindowLongPtrW(handle, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&window));
        wchar_t className[8] = {};
        GetClassNameW(handle, className, 8);
        EXPECT_STREQ(className, L" ");
        // No CS_DBLCLKS: double-click messages never arrive.
        EXPECT_EQ(GetClassLongW(handle, GCL_STYLE), DWORD(CS_HREDRAW | CS_VREDRAW));
        EXPECT_NE(window.GetRender(), nullptr);
        EXPECT_FALSE(window.Create(WS_POPUP, 0, parent, TestInstance())) << "created twice";
    }
}

TEST(WindowCreate, NeedsAnInstanceOrAParentWindow) {
    CWindow window;
    EXPECT_FALSE(window.Create(WS_POPUP, 0, nullptr, nullptr));
    EXPECT_EQ(window.GetHandle(), nullptr);
    // The object stays usable for a second attempt.
    EXPECT_TRUE(window.Create(WS_POPUP, 0, nullptr, TestInstance()));
}

TEST(WindowCreate, OperationsWithoutANativeWindowAnswerFalse) {
    CWindow window;
    RECT rect;
    EXPECT_FALSE(window.Place(-1, -1, 600, 400));
    EXPECT_FALSE(window.GetOuterRect(&rect));
    EXPECT_FALSE(window.Render(nullptr));
    EXPECT_FALSE(window.Present());
    EXPECT_FALSE(window.IsVisible());
    EXPECT_FALSE(window.SetText(L"x"));
    EXPECT_EQ(window.RunModal(), 0);
    EXPECT_FALSE(window.AddTrayIcon(1, nullptr, L"tip", WM_APP));
}

TEST(WindowPlace, ContentAreaWithFrame) {
    const int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
    CImage frame;
    ASSERT_TRUE(frame.LoadPngResource(TestInstance(), 1));
    struct Case {
        const char* name;
        bool blur;
        bool layered;
        int grow;  // pixels added on every side
    };
    const Case cases[] = {
        {"blur requested (the default)", true, false, 6},
        {"layered", false, true, 6},
        {"neither", false, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CWindow window;
        ASSERT_TRUE(window.Create(WS_POPUP, 0, nullptr, TestInstance()));
        window.SetFrame(&frame, 6, false);
        window.SetBlurBehind(c.blur);
        window.SetLayered(c.layered);
        EXPECT_TRUE(window.Place(-1, -1, 600, 400));
        RECT outer = OuterRect(window);
        EXPECT_EQ(outer.right - outer.left, 600 + 2 * c.grow);
        EXPECT_EQ(outer.bottom - outer.top, 400 + 2 * c.grow);
        EXPECT_EQ(outer.left, (screenW - 600) / 2 - c.grow);
        EXPECT_EQ(outer.top, (screenH - 400) / 2 - c.grow);
        RECT content;
        ASSERT_TRUE(window.GetContentRect(&content));
        EXPECT_EQ(content.left, c.grow);
        EXPECT_EQ(content.right - content.left, 600);
        EXPECT_EQ(content.bottom - content.top, 400);

        // Plain values are an offset and a size.
        window.Place(10, 20, 200, 100);
        outer = OuterRect(window);
        EXPECT_EQ(outer.left, 10 - c.grow);
        EXPECT_EQ(outer.top, 20 - c.grow);
        EXPECT_EQ(outer.right - outer.left, 200 + 2 * c.grow);

        window.CenterOn(nullptr, 200, 100);
        outer = OuterRect(window);
        EXPECT_EQ(outer.right - outer.left, 200 + 2 * c.grow);
        EXPECT_EQ(outer.left, (screenW - 200 - 2 * c.grow) >> 1);
    }
}

TEST(WindowPlace, MaximizedWindowHasNoFrame) {
    CImage frame;
    ASSERT_TRUE(frame.LoadPngResource(TestInstance(), 1));
    CWindow window;
    ASSERT_TRUE(window.Create(WS_POPUP, 0, nullptr, TestInstance()));
    window.SetFrame(&frame, 6, false);
    window.Place(0, 0, 300, 200);
    window.Maximize();
    ASSERT_TRUE(window.IsMaximized());
    RECT client, content;
    GetClientRect(window.GetHandle(), &client);
    ASSERT_TRUE(window.GetContentRect(&content));
    EXPECT_TRUE(EqualRect(&client, &content));
    // Placing restores it first.
    window.Place(0, 0, 300, 200);
    EXPECT_FALSE(window.IsMaximized());
    window.Show(SW_HIDE);
}

TEST(WindowTitle, CaptionRule) {
    const std::wstring longTitle(200, L'T');
    struct Case {
        const wchar_t* title;
        const wchar_t* subtitle;
        std::wstring caption;
    };
    const Case cases[] = {
        {L"", L"", L""},
        {L"游戏", L"", L"游戏"},
        {L"", L"准备安装", L"准备安装"},
        {L"游戏", L"准备安装", L"游戏 - 准备安装"},
        {longTitle.c_str(), L"", std::wstring(127, L'T')},
    };
    CWindow window;
    ASSERT_TRUE(window.Create(WS_POPUP, 0, nullptr, TestInstance()));
    for (const Case& c : cases) {
        window.SetTitle(c.title);
        window.SetSubtitle(c.subtitle);
        wchar_t text[1024] = {};
        window.GetText(text, 1024);
        EXPECT_EQ(std::wstring(text), c.caption);
    }
    EXPECT_EQ(std::wstring(window.GetTitle()).size(), 127u);
}

TEST(WindowLimits, AppliedOnWindowPosChanging) {
    CImage frame;
    ASSERT_TRUE(frame.LoadPngResource(TestInstance(), 1));
    struct Case {
        const char* name;
        bool withFrame;
        int requestW, requestH;
        int expectW, expectH;
    };
    // Limits: min 100 x 80, max 300 x 200; a frame of 6 adds 12 to each.
    const Case cases[] = {
        {"below min", false, 50, 40, 100, 80},
        {"above max", false, 900, 900, 300, 200},
        {"inside", false, 150, 150, 150, 150},
        {"below min, framed", true, 50, 40, 112, 92},
        {"above max, framed", true, 900, 900, 312, 212},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CWindow window;
        ASSERT_TRUE(window.Create(WS_POPUP, 0, nullptr, TestInstance()));
        window.SetFrame(c.withFrame ? &frame : nullptr, c.withFrame ? 6 : 0, false);
        window.SetMinSize(100, 80);
        window.SetMaxSize(300, 200);
        window.MoveTo(0, 0, c.requestW, c.requestH);
        RECT outer = OuterRect(window);
        EXPECT_EQ(outer.right - outer.left, c.expectW);
        EXPECT_EQ(outer.bottom - outer.top, c.expectH);
    }
    CWindow unlimited;
    ASSERT_TRUE(unlimited.Create(WS_POPUP, 0, nullptr, TestInstance()));
    unlimited.SetMinSize(-1, -1);
    unlimited.SetMaxSize(-1, -1);
    unlimited.MoveTo(0, 0, 1, 3000);
    RECT outer = OuterRect(unlimited);
    EXPECT_EQ(outer.right - outer.left, 1);
    EXPECT_EQ(outer.bottom - outer.top, 3000);
}

TEST(WindowLimits, DefaultMaxHeightIsTheWorkArea) {
    RECT work;
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    CWindow window;
    EXPECT_EQ(window.GetMaxHeight(), work.bottom - work.top);
    EXPECT_EQ(window.GetMaxWidth(), -1);
}

// ---------------------------------------------------------------- modal loop

namespace {
HWND g_modalOwner = nullptr;
bool g_ownerEnabledDuringModal = true;

bool EndModalOnIdle(IWindow* window) {
    g_ownerEnabledDuringModal = IsWindowEnabled(g_modalOwner) != FALSE;
    window->EndModal(7);
    return true;
}
}  // namespace

TEST(WindowModal, DisablesTheOwnerAndAnswersTheEndCode) {
    auto owner = MakeHost();
    CWindow dialog;
    ASSERT_TRUE(dialog.Create(WS_POPUP, 0, owner->GetHandle(), nullptr));
    WindowHandler handler = {};
    handler.onIdle = &EndModalOnIdle;
    dialog.SetHandler(&handler);
    g_modalOwner = owner->GetHandle();
    g_ownerEnabledDuringModal = true;

    EXPECT_EQ(dialog.RunModal(), 7);
    EXPECT_FALSE(g_ownerEnabledDuringModal);
    EXPECT_TRUE(IsWindowEnabled(owner->GetHandle()));
    EXPECT_FALSE(dialog.IsModalRunning());
}

TEST(WindowModal, QuitEndsTheLoopAndIsPostedAgain) {
    auto owner = MakeHost();
    CWindow dialog;
    ASSERT_TRUE(dialog.Create(WS_POPUP, 0, owner->GetHandle(), nullptr));
    PostQuitMessage(3);
    EXPECT_EQ(dialog.RunModal(), 0);
    EXPECT_FALSE(dialog.IsModalRunning());
    EXPECT_TRUE(IsWindowEnabled(owner->GetHandle()));
    // The loop took the quit (code 3) and posted a new one for the outer loop.
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 0u);
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

// ---------------------------------------------------------------- rendering

namespace {

int Alpha(uint32_t p) { return int(p >> 24); }
int Red(uint32_t p) { return int((p >> 16) & 0xFF); }
int Green(uint32_t p) { return int((p >> 8) & 0xFF); }
int Blue(uint32_t p) { return int(p & 0xFF); }

}  // namespace

TEST(WindowRender, FrameLayersGreyAndDim) {
    CImage frame;  // opaque rgb(40, 160, 220)
    ASSERT_TRUE(frame.LoadPngResource(TestInstance(), 1));
    struct Case {
        const char* name;
        bool enabled;
        bool grey;
        int frameAlpha;
        int frameBlue;  // premultiplied by the frame alpha; the frame turns grey too
        uint32_t content;  // expected 0xAARRGGBB at the centre
    };
    // Layer colour rgb(30, 60, 90): grey (30+60+90)/3 = 60; the dim tint
    // 0x60000000 scales every channel by 159/256.
    const Case cases[] = {
        {"enabled", true, false, 255, 220, 0xFF1E3C5A},
        {"grey", true, true, 255, (40 + 160 + 220) / 3, 0xFF3C3C3C},
        {"disabled", false, false, 198, 220 * 198 / 255, 0xFF122537},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CWindow window;
        ASSERT_TRUE(window.Create(WS_POPUP, 0, nullptr, TestInstance()));
        window.SetFrame(&frame, 6, false);
        window.Place(0, 0, 100, 80);
        RECT content;
        window.GetContentRect(&content);
        AddProbe(window, nullptr, "face", content, 0xFF1E3C5A);
        window.SetGrey(c.grey);
        EnableWindow(window.GetHandle(), c.enabled);
        EXPECT_EQ(window.IsEnabled(), c.enabled);
        window.InvalidateLayers(true);
        ASSERT_TRUE(window.Render(nullptr));
        IRender* render = window.GetRender();
        ASSERT_EQ(render->GetWidth(), 112);
        uint32_t border = PixelAt(render, 2, 2);
        EXPECT_NEAR(Alpha(border), c.frameAlpha, 1);
        EXPECT_NEAR(Blue(border), c.frameBlue, 1);
        uint32_t centre = PixelAt(render, 56, 46);
        EXPECT_EQ(Alpha(centre), Alpha(c.content));
        EXPECT_NEAR(Red(centre), Red(c.content), 1);
        EXPECT_NEAR(Green(centre), Green(c.content), 1);
        EXPECT_NEAR(Blue(centre), Blue(c.content), 1);
        // The first content pixel is tinted too, the last frame pixel is not.
        if (!c.enabled) {
            EXPECT_NEAR(Blue(PixelAt(render, 6, 6)), Blue(c.content), 1);
            EXPECT_NEAR(Blue(PixelAt(render, 5, 5)), c.frameBlue, 1);
        }
        // Nothing changed since: nothing to render.
        EXPECT_FALSE(window.Render(nullptr));
    }
}

TEST(WindowRender, OnlyVisibleDirtyLayersCauseAPaint) {
    auto host = MakeHost(100, 80);
    EXPECT_FALSE(host->Render(nullptr)) << "no layers";
    ProbeLayer* probe = AddProbe(*host, nullptr, "p", {0, 0, 50, 50});
    ProbeLayer* hidden = AddProbe(*host, nullptr, "h", {50, 0, 100, 50});
    hidden->SetVisible(false);
    EXPECT_TRUE(host->HasDirtyLayer());
    EXPECT_TRUE(host->Render(nullptr));
    EXPECT_EQ(probe->paints, 1);
    EXPECT_EQ(hidden->paints, 0) << "an invisible layer is never painted";
    EXPECT_FALSE(host->HasDirtyLayer()) << "the hidden layer's flag does not count";
    EXPECT_FALSE(host->Render(nullptr));
    probe->SetNeedsRedraw(true);
    EXPECT_TRUE(host->OnIdle() == false) << "a paint keeps the loop from sleeping";
    EXPECT_EQ(probe->paints, 2);
    EXPECT_TRUE(host->OnIdle()) << "then idle";
}

TEST(WindowRender, FallsBackToLayeredWhenBlurCannotBeUsed) {
    // Wine has no compositor: blur-behind never becomes active, and the
    // window presents itself as a layered window instead.
    auto host = MakeHost(100, 80);
    EXPECT_TRUE(host->IsBlurBehind());
    EXPECT_FALSE(host->IsBlurActive());
    EXPECT_TRUE(host->HasExStyle(WS_EX_LAYERED));
    host->SetBlurBehind(false);
    host->SetLayered(false);
    EXPECT_FALSE(host->HasExStyle(WS_EX_LAYERED));
    host->SetLayered(true);
    EXPECT_TRUE(host->HasExStyle(WS_EX_LAYERED | WS_EX_APPWINDOW));
}

TEST(WindowRender, ResizeRepaintsEverything) {
    auto host = MakeHost(100, 80);
    ProbeLayer* probe = AddProbe(*host, nullptr, "p", {0, 0, 50, 50});
    ASSERT_TRUE(host->Render(nullptr));
    ASSERT_EQ(probe->paints, 1);
    host->MoveTo(0, 0, 160, 120);
    EXPECT_EQ(host->GetRender()->GetWidth(), 160);
    EXPECT_EQ(probe->paints, 2) << "a layered window is rendered again at its new size";
}

TEST(WindowLayersLoaded, ContentLoadingThatNeverStartsKeepsPainting) {
    auto host = MakeHost(100, 80);
    // Plain layers take no content: painting must not stay switched off.
    EXPECT_FALSE(host->SetBackgroundContentA(1234));
    EXPECT_EQ(host->GetLayerCount(), 1);
    EXPECT_TRUE(host->IsPaintingEnabled());
    EXPECT_FALSE(host->SetBackgroundContentB(0));
    EXPECT_EQ(host->AddContentLayerC(0, Anchor{}), -1);
    EXPECT_EQ(host->AddContentLayerD(99, Anchor{}), 1);
    EXPECT_TRUE(host->IsPaintingEnabled());
    host->OnLayersLoaded(0);
    EXPECT_TRUE(host->IsVisible()) << "shown once its layers are loaded";
    host->Show(SW_HIDE);
}

// ---------------------------------------------------------------- messages

namespace {
std::vector<std::string> g_calls;
bool g_allowClose = true;
bool RecordClick(IWindow*, int id) {
    g_calls.push_back("click " + std::to_string(id));
    return true;
}
bool RecordAccelerator(IWindow*, int id) {
    g_calls.push_back("accelerator " + std::to_string(id));
    return true;
}
bool RecordOther(IWindow*, int id, int code) {
    g_calls.push_back("other " + std::to_string(id) + " " + std::to_string(code));
    return false;
}
bool AskClose(IWindow*) { return g_allowClose; }
}  // namespace

TEST(WindowMessages, CommandsByNotificationCode) {
    auto host = MakeHost();
    WindowHandler handler = {};
    handler.onClickCommand = &RecordClick;
    handler.onAcceleratorCommand = &RecordAccelerator;
    handler.onOtherCommand = &RecordOther;
    g_calls.clear();
    EXPECT_EQ(SendMessageW(host->GetHandle(), WM_COMMAND, MAKEWPARAM(4100, 0), 0), 0);
    host->SetHandler(&handler);
    SendMessageW(host->GetHandle(), WM_COMMAND, MAKEWPARAM(4100, 0), 0);
    SendMessageW(host->GetHandle(), WM_COMMAND, MAKEWPARAM(7, 1), 0);
    SendMessageW(host->GetHandle(), WM_COMMAND, MAKEWPARAM(9, 0x300), 0);
    const std::vector<std::string> expected = {"click 4100", "accelerator 7", "other 9 768"};
    EXPECT_EQ(g_calls, expected) << "without a handler nothing is called";
}

TEST(WindowMessages, CloseQueryCanKeepTheWindow) {
    auto host = MakeHost();
    WindowHandler handler = {};
    handler.onCloseQuery = &AskClose;
    host->SetHandler(&handler);
    g_allowClose = false;
    SendMessageW(host->GetHandle(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(IsWindow(host->GetHandle()));
    g_allowClose = true;
    HWND handle = host->GetHandle();
    SendMessageW(handle, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(handle));
    EXPECT_EQ(host->GetHandle(), nullptr);
}

TEST(WindowMessages, ToolWindowsDoNotActivateOnClick) {
    CWindow tool;
    ASSERT_TRUE(tool.Create(WS_POPUP, WS_EX_TOOLWINDOW, nullptr, TestInstance()));
    EXPECT_EQ(SendMessageW(tool.GetHandle(), WM_MOUSEACTIVATE, 0, MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN)),
              MA_NOACTIVATE);
    CWindow plain;
    ASSERT_TRUE(plain.Create(WS_POPUP, 0, nullptr, TestInstance()));
    EXPECT_NE(SendMessageW(plain.GetHandle(), WM_MOUSEACTIVATE, 0, MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN)),
              MA_NOACTIVATE);
}

TEST(WindowMessages, InputMethodSwitch) {
    auto host = MakeHost();
    HWND h = host->GetHandle();
    HIMC context = ImmGetContext(h);
    if (!context) GTEST_SKIP() << "no input context on this system";
    ImmReleaseContext(h, context);
    host->EnableIme(false);
    HIMC off = ImmGetContext(h);
    EXPECT_EQ(off, nullptr) << "detached";
    if (off) ImmReleaseContext(h, off);
    host->EnableIme(false);  // twice: the saved context is kept, not lost
    host->EnableIme(true);
    HIMC back = ImmGetContext(h);
    EXPECT_EQ(back, context);
    if (back) ImmReleaseContext(h, back);
}

namespace {
std::vector<std::wstring> g_layerEvents;
void OnLayerText(IWindow*, ILayer* layer, const wchar_t* text) {
    g_layerEvents.push_back(L"text " + std::wstring(layer->GetText()) + L" " + text);
}
void OnLayerCaption(IWindow* window, ILayer*, const wchar_t* text) {
    g_layerEvents.push_back(L"caption " + std::wstring(text) + L" " + window->GetSubtitle());
}
void OnLoaded(IWindow*, uintptr_t value) { g_layerEvents.push_back(L"loaded " + std::to_wstring(value)); }
}  // namespace

TEST(WindowLayerHandler, TextCaptionAndLoadedReachTheirEntries) {
    auto host = MakeHost();
    ProbeLayer* probe = AddProbe(*host, nullptr, "p", {0, 0, 10, 10});
    LayerEventHandler handler = {};
    handler.onTextChanged = &OnLayerText;
    handler.onCaptionChanged = &OnLayerCaption;
    handler.onLayersLoaded = &OnLoaded;
    host->SetLayerHandler(&handler);
    g_layerEvents.clear();
    host->ChangeLayerText(probe, L"一");
    host->ChangeLayerCaption(probe, L"二");
    host->OnLayersLoaded(42);
    host->Show(SW_HIDE);
    const std::vector<std::wstring> expected = {L"text 一 一", L"caption 二 二", L"loaded 42"};
    EXPECT_EQ(g_layerEvents, expected);
    EXPECT_STREQ(probe->GetCaption(), L"二");
    wchar_t caption[64] = {};
    host->GetText(caption, 64);
    EXPECT_STREQ(caption, L"二") << "the caption becomes the subtitle";
}
