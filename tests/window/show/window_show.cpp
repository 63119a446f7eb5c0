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

constexpr RECT kBackdrop = {60, 260, 460, 460};  // screen coordinates

std::wstring g_folder;
DWORD g_firstPaint = 0;
bool g_written = false;
DWORD g_start = 0;

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The picture as the screen must show it. Without a compositor (Wine on a
// bare X server) a per-pixel-alpha window shows its premultiplied colours as
// they are, i.e. over black, and lets through only where it is fully
// transparent: there the white backdrop or the black desktop shows.
bool WritePicture(IWindow* window) {
    IRender* render = window->GetRender();
    auto* bits = static_cast<const uint32_t*>(render ? render->GetBits() : nullptr);
    if (!bits) return false;
    RECT outer;
    window->GetOuterRect(&outer);
    const int w = render->GetWidth(), h = render->GetHeight();
    FILE* out = _wfopen((g_folder + L"\\expected.ppm").c_str(), L"wb");
    if (!out) return false;
    fprintf(out, "P6\n%d %d\n255\n", w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint32_t p = bits[y * w + x];
            if ((p >> 24) == 0) {
                POINT screen = {outer.left + x, outer.top + y};
                p = PtInRect(&kBackdrop, screen) ? 0xFFFFFFFF : 0xFF000000;
            }
            const unsigned char rgb[3] = {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)};
            fwrite(rgb, 1, 3, out);
        }
    }
    fclose(out);
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
    // A white window behind the lower part: where the layered window is fully
    // transparent, the screen must show it.
    WNDCLASSW backdropClass = {};
    backdropClass.lpfnWndProc = DefWindowProcW;
    backdropClass.hInstance = instance;
    backdropClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    backdropClass.lpszClassName = L"backdrop";
    RegisterClassW(&backdropClass);
    CreateWindowExW(0, L"backdrop", L"", WS_POPUP | WS_VISIBLE, kBackdrop.left, kBackdrop.top,
                    kBackdrop.right - kBackdrop.left, kBackdrop.bottom - kBackdrop.top, nullptr,
                    nullptr, instance, nullptr);
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
        {{0, 0, 300, 120}, 0xFF204060},     // background of the upper part only
        {{20, 20, 120, 90}, 0xFFE03010},    // opaque red
        {{140, 20, 280, 170}, 0x80008000},  // green at half alpha, partly over nothing
        {{20, 130, 120, 180}, 0xFFF0F0F0},  // near white
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
    SetMainWindow(window->GetHandle());
    RunMessageLoop();
    AppShutdown();
    return g_written ? 0 : 4;
}
