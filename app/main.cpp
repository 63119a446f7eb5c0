// The installer's entry: verify the configuration the executable carries,
// show the installer window, run the message loop until it is gone.
#include <windows.h>
#include <objbase.h>

#include "app/install_wnd.h"
#include "support/fixed_string.h"
#include "window/app.h"
#include "support/locale.h"
#include "support/system_dll.h"
#include "window/window_map.h"

namespace {

FixedString<127> g_appTitle;

// How long a worker stopped by the end of the program may take to leave the
// file it is writing (its partial file is removed, the target kept).
constexpr DWORD kWorkerStopGraceMs = 5000;

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    // Before anything can load a DLL by name: the program runs elevated from
    // a folder anyone may have left a DLL in. (The static objects made
    // before the entry load none.)
    RestrictDllSearch();
    UseChineseLocale();
    CoInitialize(nullptr);
    const bool silent = IsSilentCommandLine(GetCommandLineW());

    // Window objects live until the process ends (see the window base); only
    // a window that never came to life is freed here.
    CInstallWnd* window = new CInstallWnd;
    window->silent = silent;
    if (!window->clientConfig.LoadFromModule(instance, L"app", 1)) {
        delete window;
        int exitCode = ReportDamagedPackage(nullptr, silent);
        CoUninitialize();
        return exitCode;
    }
    g_appTitle.Assign(window->clientConfig.GetName());

    if (!AppInit(instance) || !window->Create(WS_POPUP | WS_VISIBLE, 0, nullptr, instance) ||
        g_windowMap.Add(-1, window) == -1) {
        window->Destroy();
        delete window;
        window = nullptr;
    } else {
        // The installer window is the program: its end ends the message loop.
        SetMainWindow(window->GetHandle());
        window->SetGrey(false);
        window->SetTitle(g_appTitle.c_str());
        window->Place(-1, -1, 600, 400);
        window->Show(SW_SHOW);
        window->Present();
    }
    RunMessageLoop();

    int exitCode = 0;
    if (window) {
        window->StopWorker(kWorkerStopGraceMs);
        exitCode = window->ExitCode();
    }
    AppShutdown();
    CoUninitialize();
    return exitCode;
}
