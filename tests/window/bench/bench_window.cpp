// Figures of the windowing layer (prints, never fails):
//  - the CPU share of a shown, idle window with a dozen layers while the
//    application loop runs for 5 s (the loop sleeps when idle);
//  - frames per second while a button's cross-fade runs without a break.
#include <windows.h>

#include <cstdio>

#include "ui/controls.h"
#include "ui/render.h"
#include "window/app.h"
#include "window/direct_ui.h"
#include "window/window_map.h"

namespace {

class CountingHost : public CDirectUI {
public:
    bool Render(HDC dc) override {
        bool painted = CDirectUI::Render(dc);
        if (painted) ++frames;
        return painted;
    }
    long frames = 0;
};

uint64_t CpuTime100ns() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto value = [](FILETIME t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return value(kernel) + value(user);
}

void FillImage(CImage& image, int width, int height, uint32_t argb) {
    std::vector<uint32_t> pixels(size_t(width) * height, argb);
    image.Create(width, height, 32, pixels.data());
}

enum Phase { kSettle, kIdle, kFade, kDone };
Phase g_phase = kSettle;
DWORD g_phaseStart = 0;
uint64_t g_cpuStart = 0;
long g_framesStart = 0;
CountingHost* g_host = nullptr;
CButtonUI* g_button = nullptr;
bool g_hovered = false;
double g_idleShare = 0, g_fps = 0;
long g_idleFrames = 0;

bool OnIdle(IWindow* window) {
    const DWORD now = GetTickCount();
    const DWORD elapsed = now - g_phaseStart;
    switch (g_phase) {
    case kSettle:
        if (elapsed >= 1000) {
            g_phase = kIdle;
            g_phaseStart = now;
            g_cpuStart = CpuTime100ns();
            g_framesStart = g_host->frames;
        }
        break;
    case kIdle:
        if (elapsed >= 5000) {
            g_idleShare = double(CpuTime100ns() - g_cpuStart) / (double(elapsed) * 10000.0);
            g_idleFrames = g_host->frames - g_framesStart;
            g_phase = kFade;
            g_phaseStart = now;
            g_framesStart = g_host->frames;
        }
        break;
    case kFade:
        // A new fade as soon as the previous one is over: the window never rests.
        if (g_button->GetPreviousState() == g_button->GetState()) {
            g_hovered = !g_hovered;
            g_button->OnMouse(g_hovered ? kLayerMouseEnter : kLayerMouseLeave, 1, 1, 0);
        }
        if (elapsed >= 3000) {
            g_fps = double(g_host->frames - g_framesStart) * 1000.0 / elapsed;
            g_phase = kDone;
            window->Close();
        }
        break;
    case kDone:
        break;
    }
    return true;
}

}  // namespace

int main() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    AppInit(instance);
    g_host = new CountingHost;  // windows live until the process ends
    if (!g_host->Create(WS_POPUP, 0, nullptr, instance) || g_windowMap.Add(-1, g_host) == -1) {
        fprintf(stderr, "no window\n");
        return 1;
    }
    WindowHandler handler = {};
    handler.onIdle = &OnIdle;
    g_host->SetHandler(&handler);

    // Eleven pictures and one three-frame button: a dozen layers.
    for (int i = 0; i < 11; ++i) {
        int index = g_host->AddLayerOfType(kLayerImage);
        auto* picture = static_cast<CImageUI*>(g_host->GetLayer(index));
        FillImage(picture->image, 100, 60, 0xFF000000u | uint32_t(i * 0x151515));
        Anchor anchor;
        anchor.x = (i % 4) * 150;
        anchor.y = (i / 4) * 100;
        anchor.width = 140;
        anchor.height = 90;
        g_host->LayoutLayer(index, anchor);
    }
    int index = g_host->AddLayerOfType(kLayerButton);
    g_button = static_cast<CButtonUI*>(g_host->GetLayer(index));
    FillImage(g_button->image, 120, 3 * 40, 0xFF3060C0);
    g_button->frameCount = 3;
    Anchor anchor;
    anchor.x = 450;
    anchor.y = 300;
    anchor.width = 120;
    anchor.height = 40;
    g_host->LayoutLayer(index, anchor);

    g_host->Place(20, 20, 600, 400);
    g_host->Show(SW_SHOWNOACTIVATE);
    SetMainWindow(g_host->GetHandle());
    const int layers = g_host->GetLayerCount();
    g_phaseStart = GetTickCount();
    RunMessageLoop();
    AppShutdown();

    printf("%d layers, content 600 x 400 in the 6-pixel frame\n", layers);
    printf("idle window, 5 s: CPU share %.2f %% (frames rendered while idle: %ld)\n",
           g_idleShare * 100.0, g_idleFrames);
    printf("cross-fade running: %.1f frames per second\n", g_fps);
    return 0;
}
