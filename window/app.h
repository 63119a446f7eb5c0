// The windowing layer's process-wide state, its start-up and shutdown, and
// the application message loop that renders idle windows.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "support/handle.h"
#include "ui/image.h"

struct WindowingState {
    HINSTANCE instance = nullptr;
    DWORD uiThreadId = 0;
    UniqueIcon bigIcon;  // replaced by AppInit's reload, gone with AppShutdown
    UniqueIcon smallIcon;
    IImage* defaultFrame = nullptr;  // handed to every window by Create, not owned by it
    int defaultFrameWidth = 0;
    bool defaultFrameCentre = false;
    std::unique_ptr<IImage> ownedFrame;  // the loaded default frame
    HWND mainWindow = nullptr;     // set by SetMainWindow; its end ends the program
    bool loopRunning = false;
    bool hotkeyForwarding = true;
    HACCEL accelerators = nullptr;  // never set; TranslateAcceleratorW then passes everything
};

// The single instance of the process.
WindowingState& Windowing();

// Remembers the instance and thread, loads the application icons (resource 1)
// and the default frame image ("png" resource 1). Always true.
bool AppInit(HINSTANCE instance);
// The "png" resource id of the module becomes the default frame (width 6).
bool LoadDefaultFrame(HINSTANCE instance, int id);
// The application's choice of the window whose end is the end of the
// program: its WM_DESTROY destroys every registered window and posts
// WM_QUIT, and the message loop returns once it is gone.
void SetMainWindow(HWND window);
// Pumps messages; renders windows while the queue is empty; sleeps 10 ms when
// every window is idle; returns on WM_QUIT or once the main window is gone.
void RunMessageLoop();
// Destroys every registered window and frees the frame image and the icons.
void AppShutdown();

// Icon sizes of AppInit: the big one is rounded up to a multiple of 16.
inline int RoundIconSize(int size) { return (size + 15) / 16 * 16; }
