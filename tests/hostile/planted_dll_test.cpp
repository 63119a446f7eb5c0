// DLLs planted beside the installer and in the folder it is started from,
// under the names of the DLLs it loads at run time (dwmapi.dll for the
// window's blur-behind, wininet.dll for downloads) and of one it imported
// once (msimg32.dll): none of them is loaded, through the window or
// silently, from the archive or by download, and the installation succeeds.
//
// Where Wine differs from Windows: for a load-time import Wine takes its own
// builtin DLL even when a copy lies beside the program, so an import of
// wininet.dll or msimg32.dll passes here although Windows would load the
// planted copy; the import check of the build (check-imports.sh) catches
// those. A LoadLibrary by bare name, as the window once did for dwmapi.dll,
// loads the planted copy under Wine as on Windows.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/install_wnd.h"
#include "support/digest.h"
#include "tests/hostile/hostile_fixture.h"

using testing_util::FileExists;
using testing_util::ReadAll;

namespace {

const wchar_t* const kPlanted[] = {L"dwmapi.dll", L"wininet.dll", L"msimg32.dll"};

std::wstring Env(const wchar_t* name) {
    const wchar_t* v = _wgetenv(name);
    return v ? v : L"";
}

class PlantedDlls : public hostile::Sandbox {
protected:
    void SetUp() override {
        hostile::Sandbox::SetUp();
        if (HasFatalFailure()) return;
        std::vector<uint8_t> planted = ReadAll(testing_util::BinaryPath("bin/planted.dll"));
        ASSERT_FALSE(planted.empty());
        // The packages are built into the top of the tree; the installer is
        // started with workDir as its current directory.
        for (const std::wstring& folder : {temp.path(), workDir})
            for (const wchar_t* name : kPlanted)
                ASSERT_TRUE(testing_util::WriteAll(folder + name, planted));
    }

    // No planted copy noted a load.
    void ExpectNoneLoaded() {
        for (const std::wstring& folder : {temp.path(), workDir})
            for (const wchar_t* name : kPlanted)
                EXPECT_FALSE(FileExists(folder + name + L".loaded"))
                    << "loaded: " << testing_util::Narrow(folder + name);
    }

    // The fake client was started by its quoted full path, in its own folder
    // (the installation directory has a blank in its name).
    void ExpectClientStarted() {
        ASSERT_TRUE(e2e::WaitForFile(Installed(L"started.txt"), 10000));
        std::vector<uint8_t> bytes = ReadAll(Installed(L"started.txt"));
        std::wstring note(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
        std::wstring folder = installDir.substr(0, installDir.size() - 1);
        EXPECT_EQ(L"\"" + installDir + L"client.exe\"\n" + folder, note);
    }
};

}  // namespace

TEST_F(PlantedDlls, ASilentInstallLoadsNoneOfThem) {
    std::wstring exe = Build(PayloadItems(fixture::ClientItems()));
    EXPECT_EQ(0u, RunSilent(exe));
    EXPECT_TRUE(FileExists(Installed(L"readme.txt")));
    ExpectClientStarted();
    ExpectNoneLoaded();
}

TEST_F(PlantedDlls, AnInstallThroughTheWindowLoadsNoneOfThem) {
    std::wstring exe = Build(PayloadItems(fixture::ClientItems()));
    e2e::Installer installer(exe, L"");
    int commands = 0;
    e2e::RunResult run = installer.Watch(
        [](const e2e::Dialog&) { return 0; },
        [&](HWND window) {
            if (!window) return false;
            if (commands == 0) {
                PostMessageW(window, WM_COMMAND, kCmdStart, 0);
                ++commands;
            } else if (commands == 1 && FileExists(Installed(L"uninst.dat"))) {
                PostMessageW(window, WM_COMMAND, kCmdFinish, 0);
                ++commands;
            }
            return false;
        });
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(run.sawWindow);
    EXPECT_TRUE(run.dialogs.empty());
    EXPECT_EQ(2, commands);
    EXPECT_TRUE(FileExists(Installed(L"readme.txt")));
    ExpectClientStarted();
    ExpectNoneLoaded();
}

// Without an inner archive the files come over HTTP, through WinINet.
TEST_F(PlantedDlls, ASilentInstallByDownloadLoadsNoneOfThem) {
    if (Env(L"SKIN_TEST_HTTP_PORT").empty()) GTEST_SKIP() << "no local HTTP server";
    const std::wstring served = Env(L"SKIN_TEST_HTTP_ROOT") + L"planted" + tag + L"\\";
    const std::wstring base = L"http://127.0.0.1:" + Env(L"SKIN_TEST_HTTP_PORT") + L"/planted" + tag;
    ASSERT_EQ(ERROR_SUCCESS, SHCreateDirectoryExW(nullptr, served.c_str(), nullptr));
    const std::string readme = "downloaded";
    ASSERT_TRUE(testing_util::WriteAll(served + L"readme.txt", readme.data(), readme.size()));
    wchar_t md5[33] = {};
    ASSERT_TRUE(DigestOfBuffer(md5, readme.data(), uint32_t(readme.size())));
    std::wstring manifest = L"\xFEFF<list version=\"1.0.0.5\">\r\n<item action=\"0\" "
                            L"file=\"readme.txt\" size=\"" + std::to_wstring(readme.size()) +
                            L"\" md5=\"" + md5 + L"\" url=\"" + base + L"/readme.txt\"/>\n\r</list>";
    ASSERT_TRUE(testing_util::WriteAll(served + L"update.xml", manifest.data(), manifest.size() * 2));
    config.SetConfig((base + L"/update.xml").c_str());

    std::wstring exe = Build(fixture::SkinItems());
    EXPECT_EQ(0u, RunSilent(exe));
    EXPECT_EQ(readme, hostile::Text(ReadAll(Installed(L"readme.txt"))));
    ExpectNoneLoaded();
    testing_util::RemoveTree(served);
}
