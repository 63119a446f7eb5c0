// Shared pieces of the window tests: a layer that records what the window
// hands it and paints one colour, a host that records the commands it sends
// itself, and helpers for the message queue.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/image.h"
#include "ui/layer.h"
#include "ui/render.h"
#include "window/direct_ui.h"

struct LayerEvent {
    std::string layer;
    UINT message;
    int a;  // x, key or character
    int b;  // y or key information
    bool operator==(const LayerEvent& o) const {
        return layer == o.layer && message == o.message && a == o.a && b == o.b;
    }
};
std::ostream& operator<<(std::ostream& out, const LayerEvent& e);
using EventLog = std::vector<LayerEvent>;

// Synthetic message numbers for the log of non-mouse hooks.
constexpr UINT kEventFocus = 0x10001;
constexpr UINT kEventBlur = 0x10002;
constexpr UINT kEventWheel = 0x10003;

class ProbeLayer : public CLayer {
public:
    // argb: the colour painted over the whole rectangle (premultiplied).
    ProbeLayer(EventLog* log, std::string name, uint32_t argb = 0xFF0000FF);

    void Paint(IRender* render) override;
    bool OnMouse(UINT message, int x, int y, UINT keyFlags) override;
    bool OnWheel(int x, int y, int delta, UINT keyFlags) override;
    bool OnContextMenu(int x, int y, HWND source) override;
    bool OnKeyDown(UINT key, UINT keyData, UINT reserved) override;
    bool OnKeyUp(UINT key, UINT keyData, UINT reserved) override;
    bool OnChar(UINT character, UINT keyData, UINT reserved) override;
    void OnFocus() override;
    void OnBlur() override;
    int64_t QueryA(uintptr_t a, uintptr_t b) override;
    bool IsIdle() override { return idle; }

    std::string name;
    EventLog* log;
    int paints = 0;
    bool idle = true;
    bool* released = nullptr;  // set when the window releases the layer
    std::vector<std::pair<std::wstring, uintptr_t>> queries;

protected:
    ~ProbeLayer() override;

private:
    CImage colour_;
};

// Records WM_COMMAND and the non-client messages the sizing grips produce;
// swallows WM_NCLBUTTONDOWN so that no system sizing loop starts in a test.
class TestHost : public CDirectUI {
public:
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

    struct Command {
        WPARAM wParam;
        LPARAM lParam;
    };
    std::vector<Command> commands;
    std::vector<std::pair<UINT, WPARAM>> nonClient;
};

HINSTANCE TestInstance();
// A popup host created hidden at (0, 0) with the given content size.
std::unique_ptr<TestHost> MakeHost(int width = 300, int height = 200, HWND parent = nullptr);
// Appends a probe at the rectangle (window client coordinates).
ProbeLayer* AddProbe(IWindow& window, EventLog* log, const std::string& name, RECT rect,
                     uint32_t argb = 0xFF0000FF);
// Dispatches everything queued (never WM_QUIT, which is left to the caller).
void PumpMessages();
// Dispatches messages for about the given time.
void PumpFor(DWORD milliseconds);
// Pumps until `done` answers true; false when it did not within the time-out
// (which only a hung run reaches).
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000);
// One pixel of the renderer as 0xAARRGGBB.
uint32_t PixelAt(IRender* render, int x, int y);
