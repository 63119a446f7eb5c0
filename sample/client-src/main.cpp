// The sample game client: shows a small window so a person sees it start,
// and writes client_started.txt beside itself so a script can check that
// the installer launched it from the installation directory.
//   client.exe [--close-after MS]   (or SAMPLE_CLIENT_CLOSE_AFTER=MS)
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <string>

namespace {

const wchar_t kTitle[] = L"\u661F\u8FB0\u7EAA\u5143";  // 星辰纪元
std::wstring g_folder;

std::string Utf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    return out;
}

// One line per start; falls back to %TEMP% when the folder is read-only.
void WriteTrace(const std::wstring& exe) {
    std::wstring line = L"started pid=" + std::to_wstring(GetCurrentProcessId()) + L" exe=" + exe +
                        L" cmdline=" + GetCommandLineW() + L"\r\n";
    std::string bytes = Utf8(line);
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    for (const std::wstring& path : {g_folder + L"client_started.txt",
                                     std::wstring(temp) + L"sample_client_started.txt"}) {
        HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) continue;
        DWORD put = 0;
        BOOL ok = WriteFile(file, bytes.data(), DWORD(bytes.size()), &put, nullptr);
        CloseHandle(file);
        if (ok) return;
    }
}

void Paint(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT r;
    GetClientRect(window, &r);
    TRIVERTEX v[2] = {{0, 0, 0x1E00, 0x3A00, 0x6E00, 0xFF00},
                      {r.right, r.bottom, 0x0A00, 0x1400, 0x2800, 0xFF00}};
    GRADIENT_RECT g = {0, 1};
    GradientFill(dc, v, 2, &g, 1, GRADIENT_FILL_RECT_V);
    SetBkMode(dc, TRANSPARENT);
    HFONT big = CreateFontW(40, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY,
                            0, L"Microsoft YaHei");
    HFONT small = CreateFontW(16, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                              CLEARTYPE_QUALITY, 0, L"Microsoft YaHei");
    HGDIOBJ old = SelectObject(dc, big);
    SetTextColor(dc, RGB(0xFF, 0xE7, 0xA3));
    RECT title = {0, 40, r.right, 100};
    DrawTextW(dc, kTitle, -1, &title, DT_CENTER | DT_SINGLELINE);
    SelectObject(dc, small);
    SetTextColor(dc, RGB(0xE8, 0xEE, 0xF8));
    RECT line = {0, 110, r.right, 140};
    DrawTextW(dc, L"\u5BA2\u6237\u7AEF\u5DF2\u542F\u52A8", -1, &line, DT_CENTER | DT_SINGLELINE);  // 客户端已启动
    RECT where = {16, 150, r.right - 16, r.bottom - 10};
    DrawTextW(dc, g_folder.c_str(), -1, &where, DT_CENTER | DT_WORDBREAK | DT_PATH_ELLIPSIS);
    SelectObject(dc, old);
    DeleteObject(big);
    DeleteObject(small);
    EndPaint(window, &ps);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
    switch (message) {
        case WM_PAINT:
            Paint(window);
            return 0;
        case WM_TIMER:
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(window, message, wp, lp);
}

UINT CloseAfter() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    UINT ms = 0;
    for (int i = 1; argv && i + 1 < argc; ++i)
        if (std::wcscmp(argv[i], L"--close-after") == 0) ms = UINT(_wtoi(argv[i + 1]));
    if (argv) LocalFree(argv);
    wchar_t value[32] = {};
    if (!ms && GetEnvironmentVariableW(L"SAMPLE_CLIENT_CLOSE_AFTER", value, 32)) ms = UINT(_wtoi(value));
    return ms;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, wchar_t*, int show) {
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    g_folder = exe;
    g_folder.erase(g_folder.find_last_of(L'\\') + 1);
    WriteTrace(exe);

    WNDCLASSW wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.lpszClassName = L"SampleGameClient";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, kTitle, WS_OVERLAPPEDWINDOW & ~WS_THICKFRAME,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 480, 260, nullptr, nullptr, instance,
                                  nullptr);
    if (!window) return 1;
    if (UINT ms = CloseAfter()) SetTimer(window, 1, ms, nullptr);
    ShowWindow(window, show);
    UpdateWindow(window);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
