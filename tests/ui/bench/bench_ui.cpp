// Figures, not a test: frames per second of an installer-sized scene with
// one cross-fade always running, and decode times of skin pictures.
//   bench_ui.exe [picture files to decode...]
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "support/data.h"
#include "support/dialogs.h"
#include "tests/ui/ui_fixtures.h"
#include "ui/controls.h"
#include "ui/render.h"

using namespace ui_fixtures;

namespace {

uint32_t g_clock = 0;
uint32_t Clock() { return g_clock; }

double Now() {
    LARGE_INTEGER c, f;
    QueryPerformanceCounter(&c);
    QueryPerformanceFrequency(&f);
    return double(c.QuadPart) / double(f.QuadPart);
}

struct Releaser {
    void operator()(ILayer* l) const { l->Release(); }
};

template <typename F>
double TimeDecode(const std::vector<uint8_t>& bytes, int rounds, F&& check) {
    CImage image;
    const double start = Now();
    for (int i = 0; i < rounds; ++i) image.LoadFromMemory(bytes.data(), uint32_t(bytes.size()));
    const double each = (Now() - start) / rounds;
    check(image);
    return each;
}

}  // namespace

int main(int argc, char** argv) {
    SetTickSource(Clock);
    std::vector<Rgba> bgPixels;
    for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 600; ++x)
            bgPixels.push_back({uint8_t(x * 255 / 600), uint8_t(y * 255 / 400), 128, 255});
    const auto backgroundPng = EncodePng(600, 400, bgPixels);
    const auto backgroundJpeg = EncodeJpeg(600, 400, bgPixels);
    std::vector<Rgba> strip = Strip(120, 40, {{80, 120, 200, 230}, {100, 160, 240, 230}, {40, 70, 150, 230}});
    const auto buttonPng = EncodePng(120, 120, strip);

    std::vector<std::unique_ptr<ILayer, Releaser>> layers;
    auto* bg = new CImageUI(1);
    bg->image.LoadFromMemory(backgroundPng.data(), uint32_t(backgroundPng.size()));
    bg->SetRect(RECT{0, 0, 600, 400});
    layers.emplace_back(bg);
    CImageUI* fading = nullptr;
    for (int i = 0; i < 8; ++i) {
        auto* b = new CButtonUI(1);
        b->image.LoadFromMemory(buttonPng.data(), uint32_t(buttonPng.size()));
        b->frameCount = 3;
        b->margins = RECT{6, 6, 6, 6};
        b->text.Assign(L"按钮 Button");
        b->font.CreateHandle();
        b->SetRect(RECT{20 + (i % 4) * 140, 40 + (i / 4) * 60, 140 + (i % 4) * 140, 80 + (i / 4) * 60});
        layers.emplace_back(b);
        if (i == 0) fading = b;
    }
    for (int i = 0; i < 5; ++i) {
        auto* t = new CTextUI(1);
        t->text.Assign(L"总大小：12.34 MB，已下载：5.67 MB");
        t->font.CreateHandle();
        t->SetRect(RECT{20, 180 + i * 30, 580, 205 + i * 30});
        layers.emplace_back(t);
    }
    auto* edit = new CEditUI(1);
    edit->text.Assign(L"C:\\Program Files\\Company\\Game\\");
    edit->SetRect(RECT{20, 340, 580, 364});
    layers.emplace_back(edit);
    auto* bar = new CProgressUI(1);
    bar->image.LoadFromMemory(buttonPng.data(), uint32_t(buttonPng.size()));
    bar->fillImage.LoadFromMemory(buttonPng.data(), uint32_t(buttonPng.size()));
    bar->value = 40;
    bar->SetRect(RECT{20, 370, 580, 390});
    layers.emplace_back(bar);

    CRenderGDI render;
    render.Attach(nullptr);
    render.Resize(600, 400);
    const int frames = 300;
    int state = 0;
    const double start = Now();
    for (int f = 0; f < frames; ++f) {
        // Keep one cross-fade running: a new state change every 200 ms of clock.
        if (f % 10 == 0) {
            fading->OnMouse(state ? kLayerMouseLeave : kLayerMouseEnter, 0, 0, 0);
            state ^= 1;
        }
        g_clock += 20;
        render.Clear();
        for (auto& layer : layers) layer->Paint(&render);
    }
    const double elapsed = Now() - start;
    std::printf("scene 600x400, %u layers, one cross-fade: %d frames in %.3f s = %.1f fps, %.3f ms/frame\n",
                unsigned(layers.size()), frames, elapsed, frames / elapsed, elapsed * 1000 / frames);

    // A generated skin of installer-like pictures (noise keeps the files
    // from compressing to nothing, as real artwork does not).
    struct Picture {
        const char* name;
        int w, h;
        bool jpeg;
    } skin[] = {{"bg_main (jpeg)", 600, 400, true}, {"bg_main (png)", 600, 400, false},
                {"btn_start", 160, 150, false},      {"btn_browse", 80, 90, false},
                {"btn_close", 30, 90, false},        {"btn_min", 30, 90, false},
                {"check/checked", 16, 48, false},    {"edit", 40, 30, false},
                {"progress_sink", 40, 12, false},    {"progress_pos", 40, 12, false},
                {"progress_dot", 16, 16, false},     {"logo", 200, 80, false}};
    uint32_t seed = 12345;
    double skinTotal = 0;
    for (const Picture& pic : skin) {
        std::vector<Rgba> px;
        for (int i = 0; i < pic.w * pic.h; ++i) {
            seed = seed * 1103515245 + 12345;
            const uint8_t n = uint8_t(seed >> 24) & 0x1F;
            px.push_back({uint8_t(90 + n), uint8_t(120 + (i % pic.w) / 4 % 64), uint8_t(180 - n), uint8_t(pic.jpeg ? 255 : 200 + n)});
        }
        const auto bytes = pic.jpeg ? EncodeJpeg(pic.w, pic.h, px) : EncodePng(pic.w, pic.h, px);
        int w = 0, h = 0;
        const double each = TimeDecode(bytes, 20, [&](CImage& i) { w = i.GetWidth(); h = i.GetHeight(); });
        if (pic.jpeg || std::string(pic.name) != "bg_main (png)") skinTotal += each;
        std::printf("decode %-16s %8u bytes -> %3dx%3d: %7.3f ms\n", pic.name, unsigned(bytes.size()), w, h, each * 1000);
    }
    std::printf("generated skin (jpeg background + 10 png pictures): %.3f ms to decode\n", skinTotal * 1000);

    double total = 0;
    for (int i = 1; i < argc; ++i) {
        XData bytes;
        if (!bytes.ReadFromFile(argv[i])) {
            std::printf("cannot read %s\n", argv[i]);
            continue;
        }
        std::vector<uint8_t> v(bytes.data, bytes.data + bytes.size);
        CImage image;
        const double each = TimeDecode(v, 5, [&](CImage& img) { image.LoadFromMemory(v.data(), uint32_t(v.size())); (void)img; });
        total += each;
        std::printf("decode %-40s %7u bytes -> %dx%d: %.3f ms\n", argv[i], unsigned(v.size()),
                    image.GetWidth(), image.GetHeight(), each * 1000);
    }
    if (argc > 1) std::printf("skin decode total: %.3f ms\n", total * 1000);
    return 0;
}
