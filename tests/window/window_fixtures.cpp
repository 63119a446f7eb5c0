#include "tests/window/window_fixtures.h"

#include <ostream>

#include <gtest/gtest.h>

#include "window/app.h"

std::ostream& operator<<(std::ostream& out, const LayerEvent& e) {
    return out << "{" << e.layer << ", 0x" << std::hex << e.message << std::dec << ", " << e.a
               << ", " << e.b << "}";
}

ProbeLayer::ProbeLayer(EventLog* log, std::string name, uint32_t argb)
    : CLayer(0, 0), name(std::move(name)), log(log) {
    colour_.Create(1, 1, 32, &argb);
}

ProbeLayer::~ProbeLayer() {
    if (released) *released = true;
}

void ProbeLayer::Paint(IRender* render) {
    ++paints;
    render->DrawImage(*GetRect(), colour_.GetBitmap(), 0, 0, 1, 1, 255, true);
    SetNeedsRedraw(false);
}

bool ProbeLayer::OnMouse(UINT message, int x, int y, UINT) {
    if (log) log->push_back({name, message, x, y});
    return true;
}

bool ProbeLayer::OnWheel(int x, int y, int delta, UINT) {
    if (log) log->push_back({name, kEventWheel, x, y});
    if (log) log->push_back({name, kEventWheel, delta, 0});
    return true;
}

bool ProbeLayer::OnContextMenu(int x, int y, HWND) {
    if (log) log->push_back({name, WM_CONTEXTMENU, x, y});
    return true;
}

bool ProbeLayer::OnKeyDown(UINT key, UINT keyData, UINT) {
    if (log) log->push_back({name, WM_KEYDOWN, int(key), int(keyData)});
    return true;
}

bool ProbeLayer::OnKeyUp(UINT key, UINT keyData, UINT) {
    if (log) log->push_back({name, WM_KEYUP, int(key), int(keyData)});
    return true;
}

bool ProbeLayer::OnChar(UINT character, UINT keyData, UINT) {
    if (log) log->push_back({name, WM_CHAR, int(character), int(keyData)});
    return true;
}

void ProbeLayer::OnFocus() {
    if (log) log->push_back({name, kEventFocus, 0, 0});
}

void ProbeLayer::OnBlur() {
    if (log) log->push_back({name, kEventBlur, 0, 0});
}

int64_t ProbeLayer::QueryA(uintptr_t a, uintptr_t b) {
    queries.emplace_back(reinterpret_cast<const wchar_t*>(a), b);
    return 1;
}

LRESULT TestHost::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) commands.push_back({wParam, lParam});
    if (message == WM_NCMOUSEMOVE || message == WM_NCLBUTTONDOWN) {
        nonClient.emplace_back(message, wParam);
        if (message == WM_NCLBUTTONDOWN) return 0;
    }
    return CDirectUI::HandleMessage(window, message, wParam, lParam);
}

HINSTANCE TestInstance() { return GetModuleHandleW(nullptr); }

std::unique_ptr<TestHost> MakeHost(int width, int height, HWND parent) {
    auto host = std::make_unique<TestHost>();
    EXPECT_TRUE(host->Create(WS_POPUP, 0, parent, parent ? nullptr : TestInstance()));
    host->SetFrame(nullptr, 0, false);
    host->MoveTo(0, 0, width, height);
    return host;
}

ProbeLayer* AddProbe(IWindow& window, EventLog* log, const std::string& name, RECT rect,
                     uint32_t argb) {
    auto* probe = new ProbeLayer(log, name, argb);
    int index = window.AppendLayer(probe);  // the window owns it now
    EXPECT_GE(index, 0);
    RECT content;
    window.GetContentRect(&content);
    Anchor anchor;
    anchor.x = rect.left - content.left;
    anchor.y = rect.top - content.top;
    anchor.width = rect.right - rect.left;
    anchor.height = rect.bottom - rect.top;
    window.LayoutLayer(index, anchor);
    return probe;
}

void PumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        if (msg.message == WM_QUIT) return;
        PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void PumpFor(DWORD milliseconds) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds) {
        PumpMessages();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        PumpMessages();
        if (done()) return true;
        if (GetTickCount() - start > timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

uint32_t PixelAt(IRender* render, int x, int y) {
    auto* bits = static_cast<const uint32_t*>(render->GetBits());
    if (!bits || x < 0 || y < 0 || x >= render->GetWidth() || y >= render->GetHeight()) return 0;
    return bits[y * render->GetWidth() + x];
}

// No test window may be the program's main window: its end would destroy
// every registered window and post WM_QUIT. A plain window takes that role.
class MainWindowEnvironment : public testing::Environment {
public:
    void SetUp() override {
        main_ = CreateWindowExW(0, L"STATIC", L"main", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                TestInstance(), nullptr);
        Windowing().mainWindow = main_;
    }
    void TearDown() override {
        if (Windowing().mainWindow == main_) Windowing().mainWindow = nullptr;
        DestroyWindow(main_);
    }

private:
    HWND main_ = nullptr;
};

static testing::Environment* const kMainWindow =
    testing::AddGlobalTestEnvironment(new MainWindowEnvironment);
