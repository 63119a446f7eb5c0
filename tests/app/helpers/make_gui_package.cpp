// Prepares the package of the GUI test script: the skin of flat colours, the
// fake client and enough files to watch the installation for a few seconds.
//   make_gui_package.exe OUT.exe INSTALL_DIR\   build it; the registry's
//                                               "path" points at INSTALL_DIR
//   make_gui_package.exe --remove               remove its product again
//   make_gui_package.exe --answer CAPTION ID    press button ID of the open
//                                               message box CAPTION; prints
//                                               its text (UTF-8)
#include <windows.h>
#include <objbase.h>

#include <clocale>
#include <cstdio>
#include <cwchar>
#include <string>

#include "support/zip.h"
#include "tests/app/e2e_util.h"
#include "tests/app/package_fixture.h"

namespace {

struct Search {
    const wchar_t* caption;
    HWND found;
};

BOOL CALLBACK FindBox(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    wchar_t cls[32] = {}, caption[256] = {};
    GetClassNameW(window, cls, 32);
    GetWindowTextW(window, caption, 256);
    if (wcscmp(cls, L"#32770") == 0 && wcscmp(caption, search->caption) == 0 &&
        IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// Message boxes do not take X input in Wine without a window manager, so
// the script answers them from the Windows side.
int Answer(const wchar_t* caption, int button) {
    Search search{caption, nullptr};
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    if (!search.found) return 1;
    wchar_t text[1024] = {};
    GetDlgItemTextW(search.found, 0xFFFF, text, 1024);
    char utf8[4096] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof(utf8) - 1, nullptr, nullptr);
    fputs(utf8, stdout);
    PostMessageW(search.found, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(search.found, button)));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    setlocale(LC_ALL, "chs");
    CoInitialize(nullptr);
    CClientInfo config;
    fixture::TestConfig(config, L"gui");
    std::wstring company = config.GetCompany(), name = config.GetName();
    if (argc == 2 && std::wstring(argv[1]) == L"--remove") {
        e2e::RemoveProduct(company, L"game", name);
        return 0;
    }
    if (argc == 4 && std::wstring(argv[1]) == L"--answer") return Answer(argv[2], _wtoi(argv[3]));
    if (argc != 3) {
        fwprintf(stderr, L"usage: make_gui_package OUT.exe INSTALL_DIR\\ | --remove\n");
        return 2;
    }
    std::vector<fixture::ZipItem> client = fixture::ClientItems();
    // Long enough (many small files) to look at, click and answer while it runs.
    for (int i = 0; i < 8000; ++i)
        client.push_back({"assets/part" + std::to_string(i) + ".bin", fixture::Noise(600, i)});
    // One entry that cannot be installed: the end says so on the status line.
    client.push_back({"broken.bin", fixture::Noise(5000, 1), false, false, "not the password"});
    std::vector<fixture::ZipItem> payload = fixture::SkinItems();
    std::vector<uint8_t> inner = fixture::MakeZip(client, GetArchivePassword());
    payload.push_back({"app.zip", std::string(inner.begin(), inner.end()), false, true});
    payload.push_back({"update.xml", "<list version=\"1.0.0.5\">\r\n</list>\n\r"});
    e2e::RemoveProduct(company, L"game", name);
    if (!e2e::WriteRegistry(L"Software\\" + company + L"\\game", L"path", argv[2])) return 1;
    if (!fixture::BuildInstaller(argv[1], &config, fixture::MakeZip(payload, GetArchivePassword())))
        return 1;
    CoUninitialize();
    return 0;
}
