// The installer's entry: verify the configuration the executable carries,
// show the installer window, run the message loop until it is gone.
#include <windows.h>
#include <objbase.h>

#include "app/install_wnd.h"
#include "client/client_info.h"
#include "client/fixed_string.h"
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
    (void)&g_locale;  // the "chs" C run-time locale, set before the entry
    CoInitialize(nullptr);
    if (!g_clientInfo.LoadFromModule(instance, L"app", 1)) {
        MessageBoxW(nullptr, L"文件校验错误！请到官网下载新版本！", L"错误提示", MB_OK);
        CoUninitialize();
        return 0;
    }
    g_appTitle.Assign(g_clientInfo.GetName());

    CInstallWnd* window = nullptr;
    if (AppInit(instance)) {
        // Window objects live until the process ends (see the window base);
        // only a window that never came to life is freed here.
        window = new CInstallWnd;
        if (!window->Create(WS_POPUP | WS_VISIBLE, 0, nullptr, instance) ||
            g_windowMap.Add(-1, window) == -1) {
            window->Destroy();
            delete window;
            window = nullptr;
        } else {
            window->SetGrey(false);
            window->SetTitle(g_appTitle.c_str());
            window->Place(-1, -1, 600, 400);
            window->Show(SW_SHOW);
            window->Present();
        }
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
