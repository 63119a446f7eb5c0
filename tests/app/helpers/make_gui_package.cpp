// Prepares the package of the GUI test script: the skin of flat colours and
// a download-way client served by the test HTTP server (SKIN_TEST_HTTP_PORT,
// SKIN_TEST_HTTP_ROOT): the fake client and its files, then one file the
// server holds half-sent until the script releases it ("holdgui" under
// /hold/), so the installing window can be looked at for as long as the
// script needs, then one file the server does not have.
//   make_gui_package.exe OUT.exe INSTALL_DIR\   build it; the registry's
//                                               "path" points at INSTALL_DIR
//   make_gui_package.exe --remove               remove its product again
//   make_gui_package.exe --answer CAPTION ID    press button ID of the open
//                                               message box CAPTION; prints
//                                               its text (UTF-8)
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include <shlobj.h>

#include "client/update_info.h"
#include "support/digest.h"
#include "support/locale.h"
#include "support/zip.h"
#include "tests/app/e2e_util.h"
#include "tests/app/package_fixture.h"
#include "tests/common/test_util.h"

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
    UseChineseLocale();
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
    const wchar_t* port = _wgetenv(L"SKIN_TEST_HTTP_PORT");
    const wchar_t* root = _wgetenv(L"SKIN_TEST_HTTP_ROOT");
    if (!port || !root) {
        fwprintf(stderr, L"make_gui_package: run under the test HTTP server\n");
        return 2;
    }
    const std::wstring host = std::wstring(L"http://127.0.0.1:") + port;
    const std::wstring served = std::wstring(root) + L"gui\\";
    for (const fixture::ZipItem& item : fixture::ClientItems()) {
        std::wstring path = served + L"files\\" + std::wstring(item.name.begin(), item.name.end());
        for (wchar_t& c : path)
            if (c == L'/') c = L'\\';
        SHCreateDirectoryExW(nullptr, path.substr(0, path.rfind(L'\\')).c_str(), nullptr);
        if (!item.directory && !testing_util::WriteAll(path, item.bytes.data(), item.bytes.size()))
            return 1;
    }
    // The server's /hold/ body: 40,000 bytes of (i * 7 + 1) % 251 + 1.
    std::string held(40000, '\0');
    for (size_t i = 0; i < held.size(); ++i) held[i] = char((i * 7 + 1) % 251 + 1);
    wchar_t heldMd5[33] = {};
    if (!DigestOfBuffer(heldMd5, held.data(), uint32_t(held.size()))) return 1;
    CUpdateInfo manifest;
    manifest.SetVersion(L"1.0.0.5");
    manifest.AddDirectory((host + L"/gui/files").c_str(), (served + L"files").c_str(), L"");
    manifest.AddFile(L"held.bin", int32_t(held.size()), heldMd5, (host + L"/hold/holdgui").c_str());
    // Not on the server: the end says one file was not installed.
    manifest.AddFile(L"missing.bin", 10, L"00000000000000000000000000000000",
                     (host + L"/gui/missing.bin").c_str());
    if (!manifest.SaveToFile((served + L"update.xml").c_str())) return 1;
    config.SetConfig((host + L"/gui/update.xml").c_str());
    std::vector<fixture::ZipItem> payload = fixture::SkinItems();
    payload.push_back({"update.xml", "<list version=\"1.0.0.5\">\r\n</list>\n\r"});
    e2e::RemoveProduct(company, L"game", name);
    if (!e2e::WriteRegistry(L"Software\\" + company + L"\\game", L"path", argv[2])) return 1;
    if (!fixture::BuildInstaller(argv[1], &config, fixture::MakeZip(payload, GetArchivePassword())))
        return 1;
    CoUninitialize();
    return 0;
}
