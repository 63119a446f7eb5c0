#include "window/app.h"

#include "ui/image.h"
#include "window/window_map.h"

WindowingState& Windowing() {
    static WindowingState state;
    return state;
}

static HICON LoadAppIcon(HINSTANCE instance, int width, int height) {
    return static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, width, height, LR_DEFAULTCOLOR));
}

bool AppInit(HINSTANCE instance) {
    WindowingState& state = Windowing();
    state.instance = instance;
    state.uiThreadId = GetCurrentThreadId();

    state.bigIcon.reset(LoadAppIcon(instance, RoundIconSize(GetSystemMetrics(SM_CXICON)),
                                    RoundIconSize(GetSystemMetrics(SM_CYICON))));
    state.smallIcon.reset(
        LoadAppIcon(instance, GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON)));

    LoadDefaultFrame(instance, 1);
    return true;
}

bool LoadDefaultFrame(HINSTANCE instance, int id) {
    std::unique_ptr<IImage> image(new CImage);
    if (!image->LoadPngResource(instance, uint16_t(id))) return false;
    WindowingState& state = Windowing();
    state.defaultFrame = image.get();
    state.defaultFrameWidth = 6;
    state.defaultFrameCentre = false;
    state.ownedFrame = std::move(image);  // the earlier one goes
    return true;
}

void SetMainWindow(HWND window) { Windowing().mainWindow = window; }

void RunMessageLoop() {
    WindowingState& state = Windowing();
    state.loopRunning = true;
    MSG msg;
    for (;;) {
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) break;
            if (!state.accelerators || !TranslateAcceleratorW(msg.hwnd, state.accelerators, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            continue;
        }
        if (!g_windowMap.AllIdle()) continue;  // something is animating: go on at once
        if (!IsWindow(state.mainWindow)) break;
        // Sleeps up to 10 ms, but wakes at once when input arrives.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    state.loopRunning = false;
}

void AppShutdown() {
    g_windowMap.DestroyAll();
    WindowingState& state = Windowing();
    state.hotkeyForwarding = false;
    state.defaultFrame = nullptr;
    state.defaultFrameWidth = 0;
    state.defaultFrameCentre = false;
    state.ownedFrame.reset();
    state.bigIcon.reset();
    state.smallIcon.reset();
    state.instance = nullptr;
}
