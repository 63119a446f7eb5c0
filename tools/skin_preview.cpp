#include "tools/skin_preview.h"

#include <windows.h>

#include <png.h>

#include <cstdio>
#include <memory>

#include "app/install_wnd.h"
#include "support/handle.h"
#include "window/app.h"

namespace {

struct State {
    PreviewState state;
    const wchar_t* name;
};
// In the order a run passes through them (the finish button replaces the
// start button for good).
constexpr State kStates[] = {
    {PreviewState::kReady, L"ready"},
    {PreviewState::kUnticked, L"unticked"},
    {PreviewState::kInstalling, L"installing"},
    {PreviewState::kFinished, L"finished"},
    {PreviewState::kFailed, L"failed"},
};

// A premultiplied channel in straight alpha, rounded.
uint8_t Straight(unsigned channel, unsigned alpha) {
    if (alpha == 0) return 0;
    unsigned value = (channel * 255 + alpha / 2) / alpha;
    return uint8_t(value > 255 ? 255 : value);
}

// A window that is destroyed and freed in one place.
struct WindowDeleter {
    void operator()(CInstallWnd* window) const {
        window->Destroy();
        delete window;
    }
};

// The window objects of the windowing layer stay alive until AppShutdown
// (as in the installer); this only makes sure it runs.
struct WindowingSession {
    ~WindowingSession() { AppShutdown(); }
};

}  // namespace

bool RenderInstallerStates(const std::vector<uint8_t>& payload, const CClientInfo& config,
                           const std::wstring& stub, const std::wstring& installDir,
                           std::vector<PreviewPicture>* pictures, std::wstring* reason) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    AppInit(instance);
    WindowingSession session;
    // The frame (the window's shadow) is the installer's own picture.
    UniqueModule stubModule(LoadLibraryExW(stub.c_str(), nullptr,
                                           LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!stubModule || !LoadDefaultFrame(stubModule.get(), 1)) {
        *reason = stub + L" holds no frame picture (is it the installer?)";
        return false;
    }

    std::unique_ptr<CInstallWnd, WindowDeleter> window(new CInstallWnd);
    window->preview = true;
    window->clientConfig = config;
    if (!installDir.empty()) window->installDir.Assign(installDir.c_str());
    if (!window->OpenPayloadBytes(payload.data(), payload.size())) {
        *reason = L"the skin could not be read back as a payload";
        return false;
    }
    if (!window->Create(WS_POPUP, 0, nullptr, instance)) {
        *reason = L"no window could be made (is there a display?)";
        return false;
    }
    // As the installer places it; never shown.
    window->SetGrey(false);
    window->SetTitle(window->clientConfig.GetName());
    window->Place(-1, -1, 600, 400);
    for (const State& s : kStates) {
        PreviewPicture picture;
        picture.state = s.name;
        window->ShowPreview(s.state);
        if (!window->RenderPicture(&picture.pixels, &picture.width, &picture.height)) {
            *reason = std::wstring(L"the ") + s.name + L" state could not be drawn";
            return false;
        }
        pictures->push_back(std::move(picture));
    }
    return true;
}

bool WritePreviewPng(const std::wstring& path, const PreviewPicture& picture) {
    if (picture.width <= 0 || picture.height <= 0 ||
        picture.pixels.size() != size_t(picture.width) * size_t(picture.height))
        return false;
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file) return false;
    std::unique_ptr<FILE, int (*)(FILE*)> closer(file, fclose);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    std::vector<uint8_t> row(size_t(picture.width) * 4);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, picture.width, picture.height, 8, PNG_COLOR_TYPE_RGBA,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < picture.height; ++y) {
        const uint32_t* source = &picture.pixels[size_t(y) * picture.width];
        for (int x = 0; x < picture.width; ++x) {
            const uint32_t p = source[x];
            const unsigned alpha = p >> 24;
            row[x * 4 + 0] = Straight((p >> 16) & 0xFF, alpha);
            row[x * 4 + 1] = Straight((p >> 8) & 0xFF, alpha);
            row[x * 4 + 2] = Straight(p & 0xFF, alpha);
            row[x * 4 + 3] = uint8_t(alpha);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return fflush(file) == 0;
}
