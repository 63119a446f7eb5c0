// Shows a window of coloured layers (opaque and half transparent, inside the
// default frame) on the display, writes the renderer's picture and the
// window's screen rectangle into the folder given as the argument, then
// waits for the file "done" there (at most 30 s) and closes.
//   window_show.exe <folder>
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "ui/image.h"
#include "ui/layer.h"
#include "ui/render.h"
#include "window/app.h"
#include "window/direct_ui.h"
#include "window/window_map.h"

namespace {

class ColourLayer : public CLayer {
public:
    explicit ColourLayer(uint32_t premultipliedArgb) : CLayer(0, 0) {
        colour_.Create(1, 1, 32, &premultipliedArgb);
    }
    void Paint(IRender* render) override {
        render->DrawImage(*GetRect(), colour_.GetBitmap(), 0, 0, 1, 1, 255, true);
        SetNeedsRedraw(false);
    }

private:
    CImage colour_;
};

std::wstring g_folder;
DWORD g_firstPaint = 0;
bool g_written = false;
DWORD g_start = 0;

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The picture as the screen must show it: premultiplied colours are what a
// per-pixel-alpha window looks like over a black desktop.
bool WritePicture(IWindow* window) {
    IRender* render = window->GetRender();
    auto* bits = static_cast<const uint32_t*>(render ? render->GetBits() : nullptr);
    if (!bits) return false;
    const int w = render->GetWidth(), h = render->GetHeight();
    FILE* out = _wfopen((g_folder + L"\\expected.ppm").c_str(), L"wb");
    if (!out) return false;
    fprintf(out, "P6\n%d %d\n255\n", w, h);
    for (int i = 0; i < w * h; ++i) {
        const uint32_t p = bits[i];
        const unsigned char rgb[3] = {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)};
        fwrite(rgb, 1, 3, out);
    }
    fclose(out);
    RECT outer;
    window->GetOuterRect(&outer);
    out = _wfopen((g_folder + L"\\rect.txt").c_str(), L"w");
    if (!out) return false;
    fprintf(out, "%ld %ld %ld %ld\n", outer.left, outer.top, outer.right - outer.left,
            outer.bottom - outer.top);
    fclose(out);
    out = _wfopen((g_folder + L"\\ready").c_str(), L"w");
    if (out) fclose(out);
    return true;
}

bool OnIdle(IWindow* window) {
    const DWORD now = GetTickCount();
    if (!g_firstPaint && window->GetRender() && window->GetRender()->GetBits()) g_firstPaint = now;
    // Give the display a moment to show the first picture.
    if (g_firstPaint && !g_written && now - g_firstPaint > 500) {
        g_written = true;
        if (!WritePicture(window)) window->Close();
    }
    if (Exists(g_folder + L"\\done") || now - g_start > 30000) window->Close();
    return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc < 2) return 2;
    g_folder = argv[1];
    LocalFree(argv);
    g_start = GetTickCount();

    AppInit(instance);
    auto* window = new CDirectUI;  // lives until the process ends, like every window
    if (!window->Create(WS_POPUP, 0, nullptr, instance) || g_windowMap.Add(-1, window) == -1)
        return 3;
    WindowHandler handler = {};
    handler.onIdle = &OnIdle;
    window->SetHandler(&handler);

    const struct {
        RECT rect;  // in the 300 x 200 content
        uint32_t argb;
    } layers[] = {
        {{0, 0, 300, 200}, 0xFF204060},     // background
        {{20, 20, 120, 90}, 0xFFE03010},    // opaque red
        {{140, 20, 280, 90}, 0x80008000},   // green at half alpha (premultiplied)
        {{20, 110, 280, 180}, 0xFFF0F0F0},  // near white
        {{60, 130, 100, 160}, 0x00000000},  // a hole: the background shows
    };
    for (const auto& l : layers) {
        int index = window->AppendLayer(new ColourLayer(l.argb));
        Anchor anchor;
        anchor.x = l.rect.left;
        anchor.y = l.rect.top;
        anchor.width = l.rect.right - l.rect.left;
        anchor.height = l.rect.bottom - l.rect.top;
        window->LayoutLayer(index, anchor);
    }
    window->SetTitle(L"window_show");
    window->Place(100, 120, 300, 200);
    window->Show(SW_SHOWNOACTIVATE);
    RunMessageLoop();
    AppShutdown();
    return g_written ? 0 : 4;
}
