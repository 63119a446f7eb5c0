// The proposed installation directory, composed without a native window.
#include <gtest/gtest.h>

#include "app/install_wnd.h"

TEST(InstallDir, ComposedFromBaseCompanyAndApp) {
    struct Case {
        const wchar_t* base;
        const wchar_t* company;
        const wchar_t* app;
        const wchar_t* dir;
    } cases[] = {
        {L"C:\\Program Files", L"kestrov", L"test", L"C:\\Program Files\\kestrov\\test\\"},
        {L"D:\\Games\\", L"kestrov", L"test", L"D:\\Games\\kestrov\\test\\"},
        {L"D:\\Games", L"", L"test", L"D:\\Games\\test\\"},
        {L"D:\\Games", L"kestrov", L"", L"D:\\Games\\kestrov\\"},
        {L"D:\\", L"", L"", L"D:\\"},
        {L"D:\\Games", L"星辰", L"游戏", L"D:\\Games\\星辰\\游戏\\"},
        // Names that would climb out of or split the folder level are left out.
        {L"D:\\Games", L"..", L"test", L"D:\\Games\\test\\"},
        {L"D:\\Games", L"a\\..\\..", L"x/y", L"D:\\Games\\"},
    };
    for (const auto& c : cases) {
        auto* window = new CInstallWnd;  // never made native, so it may be freed
        window->clientConfig.SetCompany(c.company);
        window->clientConfig.SetApp(c.app);
        window->ComposeInstallDir(c.base);
        EXPECT_STREQ(c.dir, window->installDir.c_str());
        delete window;
    }
}
