// installer.exe end to end under Wine: packages built here (configuration
// and payload resources in a copy of the program), run silently or played
// through their message boxes and window commands.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "app/install_wnd.h"
#include "client/update_info.h"
#include "support/digest.h"
#include "support/handle.h"
#include "support/zip.h"
#include "tests/app/e2e_util.h"
#include "tests/app/package_fixture.h"
#include "tests/common/test_util.h"

using e2e::Dialog;
using fixture::ZipItem;
using testing_util::FileExists;
using testing_util::ReadAll;

namespace {

std::wstring Env(const wchar_t* name) {
    const wchar_t* v = _wgetenv(name);
    return v ? v : L"";
}

std::wstring Widen(const std::string& s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), int(s.size()), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.c_str(), int(s.size()), &w[0], n);
    return w;
}

std::string Text(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

std::vector<uint8_t> Utf16(const std::wstring& s) {
    std::vector<uint8_t> out = {0xFF, 0xFE};
    for (wchar_t c : s) {
        out.push_back(uint8_t(c & 0xFF));
        out.push_back(uint8_t(c >> 8));
    }
    return out;
}

const char kManifest[] = "<list version=\"1.0.0.5\">\r\n</list>\n\r";

int Never(const Dialog&) { return 0; }

// Runs a package whose newer installation is kept: the message is answered
// with OK, then the finish button starts the installed client (posted again,
// as a click would be, until the window goes; the window exists, zero-sized,
// while the message shows).
e2e::RunResult RunAnsweringOkThenFinish(const std::wstring& exe, const wchar_t* args) {
    e2e::Installer installer(exe, args);
    bool answered = false;
    DWORD lastPost = 0;
    return installer.Watch(
        [&](const Dialog&) {
            answered = true;
            return IDOK;
        },
        [&](HWND window) {
            if (window && answered && GetTickCount() - lastPost > 500) {
                lastPost = GetTickCount();
                PostMessageW(window, WM_COMMAND, kCmdFinish, 0);
            }
            return false;
        });
}

class InstallerRun : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<unsigned> counter{0};
        tag = std::to_wstring(GetCurrentProcessId()) + L"x" + std::to_wstring(counter++);
        fixture::TestConfig(config, tag);
        company = config.GetCompany();
        name = config.GetName();
        productKey = L"Software\\" + company + L"\\game";
        installDir = temp.path() + L"游戏 目录\\";
        // Windows gives every profile a Quick Launch folder; a fresh Wine
        // prefix has none, and the installer only puts a shortcut into it.
        std::wstring quickLaunch = e2e::ShortcutPaths(name)[2];
        SHCreateDirectoryExW(nullptr, quickLaunch.substr(0, quickLaunch.rfind(L'\\')).c_str(),
                             nullptr);
    }
    void TearDown() override { e2e::RemoveProduct(company, L"game", name); }

    // The previous installation the registry points the installer at.
    void PresetPath() { ASSERT_TRUE(e2e::WriteRegistry(productKey, L"path", installDir)); }
    // An earlier installation of a version: its records and its client.
    void InstallEarlier(const wchar_t* version) {
        PresetPath();
        ASSERT_TRUE(e2e::WriteRegistry(productKey, L"version", version));
        CreateDirectoryW(installDir.c_str(), nullptr);
        ASSERT_TRUE(CopyFileW(testing_util::BinaryPath("bin/fake_client.exe").c_str(),
                              (installDir + L"client.exe").c_str(), FALSE));
    }

    std::vector<ZipItem> PayloadItems(const std::vector<ZipItem>& client) {
        std::vector<ZipItem> items = fixture::SkinItems();
        std::vector<uint8_t> inner = fixture::MakeZip(client, GetArchivePassword());
        items.push_back(fixture::InnerArchiveItem(inner));
        items.push_back({"update.xml", kManifest});
        return items;
    }

    std::wstring Build(const std::vector<ZipItem>& payload, bool withConfig = true) {
        std::wstring exe = temp / (L"setup" + std::to_wstring(builds++) + L".exe");
        EXPECT_TRUE(fixture::BuildInstaller(exe, withConfig ? &config : nullptr,
                                            fixture::MakeZip(payload, GetArchivePassword())));
        return exe;
    }

    void ExpectNothingInstalled() {
        EXPECT_FALSE(FileExists(installDir + L"uninst.dat"));
        EXPECT_FALSE(FileExists(installDir + L"readme.txt"));
        for (const std::wstring& link : e2e::ShortcutPaths(name))
            EXPECT_FALSE(FileExists(link)) << testing_util::Narrow(link);
    }

    testing_util::TempDir temp;
    CClientInfo config;
    std::wstring tag, company, name, productKey, installDir;
    int builds = 0;
};

}  // namespace

TEST_F(InstallerRun, SilentInstallWritesFilesRecordsRegistryAndShortcutsThenStartsTheClient) {
    PresetPath();
    std::vector<ZipItem> client = fixture::ClientItems();
    std::wstring exe = Build(PayloadItems(client));
    e2e::RunResult run = e2e::Run(exe, L"silent", Never);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(run.dialogs.empty());

    for (const ZipItem& item : client) {
        if (item.directory) continue;
        std::wstring path = installDir + Widen(item.name);
        for (auto& c : path)
            if (c == L'/') c = L'\\';
        EXPECT_TRUE(Text(ReadAll(path)) == item.bytes) << item.name;
    }
    EXPECT_EQ(Utf16(L"client.exe|data\\|data\\levels\\level1.dat|readme.txt|unins000.exe|"),
              ReadAll(installDir + L"uninst.dat"));

    wchar_t digest[33] = {};
    ASSERT_TRUE(DigestOfBuffer(digest, kManifest, sizeof(kManifest) - 1));
    EXPECT_EQ(L"1.0.0.5", e2e::RegistryValue(productKey, L"version"));
    EXPECT_EQ(installDir, e2e::RegistryValue(productKey, L"path"));
    EXPECT_EQ(digest, e2e::RegistryValue(productKey, L"md5"));
    EXPECT_EQ(installDir + L"client.exe", e2e::RegistryValue(productKey, L"main"));
    std::wstring uninstallKey =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + company + L"game";
    EXPECT_EQ(name, e2e::RegistryValue(uninstallKey, L"DisplayName"));
    EXPECT_EQ(L"1.0.0.5", e2e::RegistryValue(uninstallKey, L"DisplayVersion"));
    EXPECT_EQ(L"Kestrov Test", e2e::RegistryValue(uninstallKey, L"Publisher"));
    EXPECT_EQ(installDir + L"client.exe", e2e::RegistryValue(uninstallKey, L"DisplayIcon"));
    EXPECT_EQ(L"\"" + installDir + L"unins000.exe\"", e2e::RegistryValue(uninstallKey, L"UninstallString"));

    std::vector<std::wstring> links = e2e::ShortcutPaths(name);
    for (size_t i = 0; i < links.size(); ++i) {
        ASSERT_TRUE(FileExists(links[i])) << testing_util::Narrow(links[i]);
        std::wstring target = e2e::ShortcutTarget(links[i]);
        EXPECT_EQ(_wcsicmp(target.c_str(),
                           (installDir + (i < 4 ? L"client.exe" : L"unins000.exe")).c_str()),
                  0)
            << testing_util::Narrow(target);
    }
    EXPECT_TRUE(e2e::WaitForFile(installDir + L"started.txt", 10000));
}

// A damaged entry: the rest is installed and registered, the run reports the
// failure through its exit code, and the damaged file is not left behind.
TEST_F(InstallerRun, SilentInstallWithAFileThatCannotBeInstalledExitsWith1603) {
    PresetPath();
    std::vector<ZipItem> client = fixture::ClientItems();
    client.push_back({"broken.bin", fixture::Noise(20000, 5), false, false, "not the password"});
    std::wstring exe = Build(PayloadItems(client));
    e2e::RunResult run = e2e::Run(exe, L"silent", Never);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(1603u, run.exitCode);
    EXPECT_TRUE(FileExists(installDir + L"readme.txt"));
    EXPECT_FALSE(FileExists(installDir + L"broken.bin"));
    EXPECT_EQ(L"1.0.0.5", e2e::RegistryValue(productKey, L"version"));
}

// No earlier installation: the proposed folder is the program-files folder
// of this build, then company, then app; the records point there.
TEST_F(InstallerRun, AFirstInstallationGoesToTheProgramFilesFolder) {
    wchar_t programFiles[MAX_PATH] = {};
    ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, programFiles, CSIDL_PROGRAM_FILES, FALSE));
    const std::wstring expected = std::wstring(programFiles) + L"\\" + company + L"\\game\\";
    ASSERT_EQ(L"", e2e::RegistryValue(productKey, L"path"));
    e2e::RunResult run = e2e::Run(Build(PayloadItems(fixture::ClientItems())), L"silent", Never);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(expected, e2e::RegistryValue(productKey, L"path"));
    EXPECT_EQ("欢迎", Text(ReadAll(expected + L"readme.txt")));
    EXPECT_TRUE(FileExists(expected + L"uninst.dat"));
    EXPECT_TRUE(e2e::WaitForFile(expected + L"started.txt", 10000));
    testing_util::RemoveTree(std::wstring(programFiles) + L"\\" + company);
}

// A package too large for a resource: the payload is the .zip file beside
// the program (--zip-beside).
TEST_F(InstallerRun, APayloadBesideTheProgramIsInstalled) {
    PresetPath();
    std::wstring exe = temp / L"beside.exe";
    ASSERT_TRUE(fixture::BuildInstaller(exe, &config, {}));  // no payload resource
    ASSERT_TRUE(testing_util::WriteAll(temp / L"beside.zip",
                                       fixture::MakeZip(PayloadItems(fixture::ClientItems()),
                                                        GetArchivePassword())));
    e2e::RunResult run = e2e::Run(exe, L"silent", Never);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ("欢迎", Text(ReadAll(installDir + L"readme.txt")));
    EXPECT_TRUE(FileExists(installDir + L"data\\levels\\level1.dat"));
    EXPECT_EQ(L"1.0.0.5", e2e::RegistryValue(productKey, L"version"));
}

// A repair over a file another program holds open: that entry fails and the
// old file stays whole (the new copy never replaces it half); the rest is
// repaired and the run says it failed.
TEST_F(InstallerRun, ARepairOverAFileInUseKeepsTheOldFile) {
    PresetPath();
    ASSERT_TRUE(e2e::WriteRegistry(productKey, L"version", L"1.0.0.5"));
    CreateDirectoryW(installDir.c_str(), nullptr);
    ASSERT_TRUE(testing_util::WriteAll(installDir + L"readme.txt", "old text", 8));
    ASSERT_TRUE(testing_util::WriteAll(installDir + L"unins000.exe", "old", 3));
    ASSERT_TRUE(testing_util::WriteAll(installDir + L"uninst.dat", Utf16(L"readme.txt|unins000.exe|")));
    e2e::RunResult run;
    {
        UniqueFile inUse(CreateFileW((installDir + L"readme.txt").c_str(), GENERIC_READ,
                                     FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(inUse);
        run = e2e::Run(Build(PayloadItems(fixture::ClientItems())), L"silent", Never);
    }
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(1603u, run.exitCode);
    EXPECT_EQ("old text", Text(ReadAll(installDir + L"readme.txt")));
    EXPECT_EQ("uninstaller placeholder", Text(ReadAll(installDir + L"unins000.exe")));
    EXPECT_EQ(0u, testing_util::CountTempFiles(installDir)) << "a new copy was left beside the file in use";
    // The file in use is the earlier installation's and stays recorded,
    // though this run could not write it.
    std::string record = Text(ReadAll(installDir + L"uninst.dat"));
    EXPECT_NE(std::string::npos, record.find(Text(Utf16(L"readme.txt|")).substr(2)));
    EXPECT_NE(std::string::npos, record.find(Text(Utf16(L"data\\levels\\level1.dat|")).substr(2)));
}

// A package without its configuration is damaged: the check message (none
// when silent, where nobody could answer it) and the failure exit code.
TEST_F(InstallerRun, WithoutItsConfigurationTheProgramShowsTheVerificationMessage) {
    std::wstring exe = Build(PayloadItems(fixture::ClientItems()), /*withConfig=*/false);
    e2e::RunResult run = e2e::Run(exe, L"", [](const Dialog&) { return IDOK; });
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(1603u, run.exitCode);
    ASSERT_EQ(1u, run.dialogs.size());
    EXPECT_EQ(L"错误提示", run.dialogs[0].caption);
    EXPECT_EQ(L"文件校验错误！请到官网下载新版本！", run.dialogs[0].text);
    EXPECT_FALSE(run.sawWindow);

    run = e2e::Run(exe, L"silent", Never);
    ASSERT_TRUE(run.exited) << "a silent run waits for an answer";
    EXPECT_EQ(1603u, run.exitCode);
    EXPECT_TRUE(run.dialogs.empty());
    ExpectNothingInstalled();
}

// Only the exact first argument "silent" makes the run unattended.
TEST_F(InstallerRun, OtherSpellingsOfSilentShowTheWindowAndWait) {
    PresetPath();
    std::wstring exe = Build(PayloadItems(fixture::ClientItems()));
    for (const wchar_t* args : {L"SILENT", L"/silent", L"x silent"}) {
        SCOPED_TRACE(testing_util::Narrow(args));
        e2e::Installer installer(exe, args);
        bool closed = false;
        // A silent run would be installing before its window shows, and
        // closing would then be refused or asked about; a window in the
        // ready state closes at once without a word.
        e2e::RunResult run = installer.Watch(Never, [&](HWND window) {
            if (!window || !IsWindowVisible(window) || closed) return false;
            PostMessageW(window, WM_CLOSE, 0, 0);
            closed = true;
            return false;
        });
        ASSERT_TRUE(run.exited);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_TRUE(closed);
        EXPECT_TRUE(run.dialogs.empty());
        ExpectNothingInstalled();
    }
}

// --- the version check

// Versions compare by number: 1.0.0.10 and 2.3.4.10 are the newer ones.
TEST_F(InstallerRun, ANewerInstalledVersionIsKeptAndItsClientStarted) {
    struct Case {
        const wchar_t* installed;
        const wchar_t* package;
    } cases[] = {{L"1.0.0.6", L"1.0.0.5"}, {L"2.3.4.10", L"2.3.4.9"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing_util::Narrow(c.installed));
        ASSERT_NO_FATAL_FAILURE(InstallEarlier(c.installed));
        config.SetVersion(c.package);
        std::wstring exe = Build(PayloadItems(fixture::ClientItems()));
        e2e::RunResult run = RunAnsweringOkThenFinish(exe, L"");
        ASSERT_TRUE(run.exited);
        EXPECT_EQ(0u, run.exitCode);
        ASSERT_EQ(1u, run.dialogs.size());
        EXPECT_EQ(L"安装提示", run.dialogs[0].caption);
        EXPECT_EQ(std::wstring(L"对不起！您的电脑里已经安装了更新版本（") + c.installed + L"）的" +
                      name + L"。\n当前安装包版本（" + c.package + L"）过旧无法安装！\n",
                  run.dialogs[0].text);
        EXPECT_TRUE(e2e::WaitForFile(installDir + L"started.txt", 10000));
        ExpectNothingInstalled();
        EXPECT_EQ(c.installed, e2e::RegistryValue(productKey, L"version"));
        EXPECT_EQ(L"", e2e::RegistryValue(productKey, L"md5"));
        e2e::RemoveProduct(company, L"game", name);
        testing_util::RemoveTree(installDir);
    }
}

TEST_F(InstallerRun, TheSameVersionAsksForRepair) {
    struct Case {
        int answer;
        bool installs;
    } cases[] = {{IDNO, false}, {IDYES, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer == IDYES ? "yes" : "no");
        PresetPath();
        ASSERT_TRUE(e2e::WriteRegistry(productKey, L"version", L"1.0.0.5"));
        std::wstring exe = Build(PayloadItems(fixture::ClientItems()));
        e2e::Installer installer(exe, L"");
        bool answered = false;
        int commands = 0;
        e2e::RunResult run = installer.Watch(
            [&](const Dialog&) {
                answered = true;
                return c.answer;
            },
            [&](HWND window) {
                // Yes leaves the ready state: start, and at the end finish.
                if (!c.installs || !window || !answered) return false;
                if (commands == 0) {
                    PostMessageW(window, WM_COMMAND, kCmdStart, 0);
                    ++commands;
                } else if (commands == 1 && FileExists(installDir + L"uninst.dat")) {
                    PostMessageW(window, WM_COMMAND, kCmdFinish, 0);
                    ++commands;
                }
                return false;
            });
        ASSERT_TRUE(run.exited);
        EXPECT_EQ(0u, run.exitCode);
        ASSERT_EQ(1u, run.dialogs.size());
        EXPECT_EQ(L"您的电脑里已经安装了当前版本（1.0.0.5）的" + name + L"，需要修复吗？\n",
                  run.dialogs[0].text);
        if (c.installs) {
            EXPECT_TRUE(FileExists(installDir + L"readme.txt"));
            EXPECT_TRUE(e2e::WaitForFile(installDir + L"started.txt", 10000));
        } else {
            ExpectNothingInstalled();
        }
        e2e::RemoveProduct(company, L"game", name);
        testing_util::RemoveTree(installDir);
    }
}

// Unattended runs ask nothing and decide before anything is written: a newer
// installation is kept (its client started), the same version is repaired,
// an older one upgraded. An empty installed version tells nothing: the
// package installs as on a first installation.
TEST_F(InstallerRun, SilentRunsDecideTheVersionCheckWithoutAsking) {
    struct Case {
        const wchar_t* installed;
        const wchar_t* package;
        bool installs;
    } cases[] = {
        {L"1.0.0.6", L"1.0.0.5", false},
        {L"2.3.4.10", L"2.3.4.9", false},  // before it as text, newer as a number
        {L"1.0.9.0", L"1.0.10.0", true},
        {L"1.0.0.5", L"1.0.0.5", true},
        {L"1.0.0.5.0", L"1.0.0.5", true},  // the same version: repaired
        {L"", L"1.0.0.5", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing_util::Narrow(c.installed) + " / " + testing_util::Narrow(c.package));
        ASSERT_NO_FATAL_FAILURE(InstallEarlier(c.installed));
        config.SetVersion(c.package);
        std::wstring exe = Build(PayloadItems(fixture::ClientItems()));
        e2e::RunResult run = e2e::Run(exe, L"silent", Never);
        ASSERT_TRUE(run.exited);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_TRUE(run.dialogs.empty());
        EXPECT_TRUE(e2e::WaitForFile(installDir + L"started.txt", 10000));
        EXPECT_EQ(c.installs, FileExists(installDir + L"uninst.dat"));
        EXPECT_EQ(c.installs, FileExists(installDir + L"readme.txt"));
        EXPECT_EQ(c.installs ? c.package : c.installed, e2e::RegistryValue(productKey, L"version"));
        EXPECT_EQ(c.installs, !e2e::RegistryValue(productKey, L"md5").empty());
        e2e::RemoveProduct(company, L"game", name);
        testing_util::RemoveTree(installDir);
    }
}

// An inner archive without entries still completes and registers.
TEST_F(InstallerRun, AnEmptyClientArchiveCompletes) {
    PresetPath();
    std::wstring exe = Build(PayloadItems({}));
    e2e::RunResult run = e2e::Run(exe, L"silent", Never);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(Utf16(L""), ReadAll(installDir + L"uninst.dat"));
    EXPECT_EQ(L"1.0.0.5", e2e::RegistryValue(productKey, L"version"));
}

// --- closing while installing (see also the download way below)

// --- the download way

class DownloadRun : public InstallerRun {
protected:
    void SetUp() override {
        InstallerRun::SetUp();
        if (Env(L"SKIN_TEST_HTTP_PORT").empty()) GTEST_SKIP() << "no local HTTP server";
        served = Env(L"SKIN_TEST_HTTP_ROOT") + L"e2e" + tag + L"\\";
        base = L"http://127.0.0.1:" + Env(L"SKIN_TEST_HTTP_PORT") + L"/e2e" + tag;
    }
    void TearDown() override {
        testing_util::RemoveTree(served);
        InstallerRun::TearDown();
    }
    // Serves the client files and their manifest; answers the manifest's bytes.
    std::vector<uint8_t> Serve(const std::vector<ZipItem>& files, const std::wstring& missing) {
        SHCreateDirectoryExW(nullptr, served.c_str(), nullptr);
        for (const ZipItem& f : files) {
            std::wstring path = served + L"files\\" + Widen(f.name);
            for (auto& c : path)
                if (c == L'/') c = L'\\';
            std::wstring parent = path.substr(0, path.rfind(L'\\'));
            SHCreateDirectoryExW(nullptr, parent.c_str(), nullptr);
            EXPECT_TRUE(testing_util::WriteAll(path, f.bytes.data(), f.bytes.size()));
        }
        CUpdateInfo manifest;
        manifest.SetVersion(L"1.0.0.5");
        manifest.AddDirectory((base + L"/files").c_str(), (served + L"files").c_str(), L"");
        if (!missing.empty())
            manifest.AddFile(missing.c_str(), 10, L"00000000000000000000000000000000",
                             (base + L"/files/" + missing).c_str());
        EXPECT_TRUE(manifest.SaveToFile((served + L"update.xml").c_str()));
        return ReadAll(served + L"update.xml");
    }
    std::wstring served, base;
};

TEST_F(DownloadRun, WithoutInnerArchiveTheManifestFilesAreDownloaded) {
    PresetPath();
    std::vector<ZipItem> files = {{"client.exe", Text(ReadAll(testing_util::BinaryPath(
                                                     "bin/fake_client.exe")))},
                                  {"data/level.dat", fixture::Noise(70000, 9)},
                                  {"readme.txt", "hello"}};
    std::vector<uint8_t> manifest = Serve(files, L"");
    config.SetConfig((base + L"/update.xml").c_str());
    std::wstring exe = Build(fixture::SkinItems());
    e2e::RunResult run = e2e::Run(exe, L"silent", Never);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(0u, run.exitCode);
    for (const ZipItem& f : files) {
        std::wstring path = installDir + Widen(f.name);
        for (auto& c : path)
            if (c == L'/') c = L'\\';
        EXPECT_TRUE(Text(ReadAll(path)) == f.bytes) << f.name;
    }
    wchar_t digest[33] = {};
    ASSERT_TRUE(DigestOfBuffer(digest, manifest.data(), uint32_t(manifest.size())));
    EXPECT_EQ(digest, e2e::RegistryValue(productKey, L"md5"));
    std::string record = Text(ReadAll(installDir + L"uninst.dat"));
    EXPECT_NE(std::string::npos, record.find(Text(Utf16(L"readme.txt|")).substr(2)));
    EXPECT_TRUE(e2e::WaitForFile(installDir + L"started.txt", 10000));
}

// The installer itself, silent: a file whose first answer is a 503 is
// fetched again after the wait, one whose body is cut at 40 % is continued
// from the cut; the run succeeds and records the release.
TEST_F(DownloadRun, ATransientFailureIsRetriedAndACutFileContinued) {
    PresetPath();
    SHCreateDirectoryExW(nullptr, served.c_str(), nullptr);
    const std::wstring serve = base.substr(0, base.rfind(L'/')) + L"/serve/";
    const std::wstring folder = base.substr(base.rfind(L'/') + 1);
    struct File {
        const wchar_t* name;
        const wchar_t* options;
        std::string bytes;
    } files[] = {{L"retry.bin", L"fail503x1", fixture::Noise(70000, 11)},
                 {L"big.bin", L"cut40", fixture::Noise(2 * 1024 * 1024, 12)}};
    CUpdateInfo manifest;
    manifest.SetVersion(L"1.0.0.5");
    for (const File& f : files) {
        ASSERT_TRUE(testing_util::WriteAll(served + f.name, f.bytes.data(), f.bytes.size()));
        wchar_t digest[33] = {};
        ASSERT_TRUE(DigestOfBuffer(digest, f.bytes.data(), uint32_t(f.bytes.size())));
        manifest.AddFile(f.name, int32_t(f.bytes.size()), digest,
                         (serve + f.options + L"/" + folder + L"/" + f.name).c_str());
    }
    ASSERT_TRUE(manifest.SaveToFile((served + L"update.xml").c_str()));
    config.SetConfig((base + L"/update.xml").c_str());
    e2e::RunResult run = e2e::Run(Build(fixture::SkinItems()), L"silent", Never);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(0u, run.exitCode);
    for (const File& f : files) {
        EXPECT_TRUE(Text(ReadAll(installDir + f.name)) == f.bytes) << testing_util::Narrow(f.name);
        const std::string log = Text(ReadAll(served + f.name + L".log"));
        EXPECT_EQ(2, std::count(log.begin(), log.end(), '\n')) << log;
    }
    const std::string cut = std::to_string(files[1].bytes.size() * 40 / 100);
    EXPECT_NE(std::string::npos, Text(ReadAll(served + L"big.bin.log")).find("range=bytes=" + cut + "- "));
    EXPECT_FALSE(FileExists(installDir + L"~dlbig.bin.part"));
    EXPECT_NE(L"", e2e::RegistryValue(productKey, L"md5"));
}

TEST_F(DownloadRun, AManifestWithoutFilesCompletes) {
    PresetPath();
    Serve({}, L"");
    config.SetConfig((base + L"/update.xml").c_str());
    e2e::RunResult run = e2e::Run(Build(fixture::SkinItems()), L"silent", Never);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(Utf16(L""), ReadAll(installDir + L"uninst.dat"));
    EXPECT_EQ(L"1.0.0.5", e2e::RegistryValue(productKey, L"version"));
}

TEST_F(DownloadRun, FailedDownloadsAreReportedByTheExitCode) {
    PresetPath();
    struct Case {
        const char* what;
        bool manifestThere;
        bool registered;
    } cases[] = {{"a listed file is missing", true, true}, {"the manifest is missing", false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing_util::RemoveTree(installDir);
        Serve({{"readme.txt", "hello"}}, L"missing.bin");
        config.SetConfig((base + (c.manifestThere ? L"/update.xml" : L"/nothing.xml")).c_str());
        std::wstring exe = Build(fixture::SkinItems());
        e2e::RunResult run = e2e::Run(exe, L"silent", Never);
        ASSERT_TRUE(run.exited);
        EXPECT_EQ(1603u, run.exitCode);
        EXPECT_EQ(c.registered, !e2e::RegistryValue(productKey, L"version").empty());
        // A partial installation does not claim the manifest's release.
        EXPECT_EQ(L"", e2e::RegistryValue(productKey, L"md5"));
        // The record names what was put in place, not what was listed.
        std::string record = Text(ReadAll(installDir + L"uninst.dat"));
        EXPECT_EQ(c.registered, record.find(Text(Utf16(L"readme.txt|")).substr(2)) != std::string::npos);
        EXPECT_EQ(std::string::npos, record.find(Text(Utf16(L"missing.bin")).substr(2)));
        e2e::RemoveProduct(company, L"game", name);
        PresetPath();
    }
}

// The test server's /hold/ body: pattern(40000), whose second half comes
// when the test releases it.
std::string HeldBody() {
    std::string body(40000, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = char((i * 7 + 1) % 251 + 1);
    return body;
}

// While a download is held by the server (so the installation is surely
// under way, however fast the machine): the close button asks and No keeps
// installing, Alt+F4 is refused; after the release the run ends normally
// and closing asks nothing.
TEST_F(DownloadRun, ClosingWhileInstallingAsksAndAltF4IsRefused) {
    PresetPath();
    const std::wstring gate = L"hold" + tag;
    const std::wstring root = Env(L"SKIN_TEST_HTTP_ROOT");
    const std::string body = HeldBody();
    wchar_t digest[33] = {};
    ASSERT_TRUE(DigestOfBuffer(digest, body.data(), uint32_t(body.size())));
    SHCreateDirectoryExW(nullptr, served.c_str(), nullptr);
    CUpdateInfo manifest;
    manifest.SetVersion(L"1.0.0.5");
    manifest.AddFile(L"held.bin", int32_t(body.size()), digest, (base.substr(0, base.rfind(L'/')) +
                                                                 L"/hold/" + gate).c_str());
    ASSERT_TRUE(manifest.SaveToFile((served + L"update.xml").c_str()));
    config.SetConfig((base + L"/update.xml").c_str());

    e2e::Installer installer(Build(fixture::SkinItems()), L"");
    enum { kStart, kWaitHeld, kWaitAnswer, kWaitDone, kDone } step = kStart;
    bool answered = false, stillInstallingAfterNo = false, stillOpenAfterAltF4 = false;
    e2e::RunResult run = installer.Watch(
        [&](const Dialog&) {
            answered = true;
            return IDNO;
        },
        [&](HWND window) {
            if (!window || !IsWindowVisible(window)) return false;
            switch (step) {
                case kStart:
                    PostMessageW(window, WM_COMMAND, kCmdStart, 0);
                    step = kWaitHeld;
                    break;
                case kWaitHeld:
                    if (FileExists(root + gate + L".started")) {
                        PostMessageW(window, WM_COMMAND, kCmdClose, 0);
                        step = kWaitAnswer;
                    }
                    break;
                case kWaitAnswer:
                    if (answered) {
                        // Handled before SendMessage returns: what Alt+F4 sends.
                        DWORD_PTR result = 0;
                        SendMessageTimeoutW(window, WM_CLOSE, 0, 0, SMTO_NORMAL, 30000, &result);
                        stillOpenAfterAltF4 = IsWindow(window) != FALSE;
                        stillInstallingAfterNo = !FileExists(installDir + L"uninst.dat");
                        EXPECT_TRUE(testing_util::WriteAll(root + gate + L".release", "", 0));
                        step = kWaitDone;
                    }
                    break;
                case kWaitDone:
                    if (FileExists(installDir + L"uninst.dat")) {
                        PostMessageW(window, WM_COMMAND, kCmdClose, 0);  // no question now
                        step = kDone;
                    }
                    break;
                case kDone:
                    break;
            }
            return false;
        },
        120000);
    DeleteFileW((root + gate + L".started").c_str());
    DeleteFileW((root + gate + L".release").c_str());
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(0u, run.exitCode);
    ASSERT_EQ(1u, run.dialogs.size());
    EXPECT_EQ(L"安装提示", run.dialogs[0].caption);
    EXPECT_EQ(L"注意：中止当前安装有可能导致软件无法使用！\n确定要中止吗？", run.dialogs[0].text);
    EXPECT_TRUE(stillInstallingAfterNo);
    EXPECT_TRUE(stillOpenAfterAltF4);
    EXPECT_TRUE(Text(ReadAll(installDir + L"held.bin")) == body);
    EXPECT_FALSE(FileExists(installDir + L"started.txt"));  // closed, not finished
}

// Aborted while a download is held by the server, so the installation is
// surely under way however fast the machine: the files before it are
// replaced, the held one keeps its old bytes, those after it (fetched
// alongside by the other connections) are either old or whole, no partial
// copy stays behind, and nothing is recorded or registered. (The archive
// way's stop is the worker's own test: it stops in the same loop.)
TEST_F(DownloadRun, AbortingAnInstallationLeavesNoPartialFiles) {
    PresetPath();
    const std::wstring gate = L"abort" + tag;
    const std::wstring root = Env(L"SKIN_TEST_HTTP_ROOT");
    const std::string held = HeldBody();
    SHCreateDirectoryExW(nullptr, served.c_str(), nullptr);
    CreateDirectoryW(installDir.c_str(), nullptr);
    struct File {
        const wchar_t* name;
        std::string bytes;  // empty: the held body
    };
    const File files[] = {{L"before1.bin", fixture::Noise(30000, 1)},
                          {L"before2.bin", fixture::Noise(30000, 2)},
                          {L"held.bin", ""},
                          {L"after1.bin", fixture::Noise(30000, 3)},
                          {L"after2.bin", fixture::Noise(30000, 4)}};
    CUpdateInfo manifest;
    manifest.SetVersion(L"1.0.0.5");
    for (const File& f : files) {
        const std::string& bytes = f.bytes.empty() ? held : f.bytes;
        wchar_t digest[33] = {};
        ASSERT_TRUE(DigestOfBuffer(digest, bytes.data(), uint32_t(bytes.size())));
        std::wstring url = f.bytes.empty()
                               ? base.substr(0, base.rfind(L'/')) + L"/hold/" + gate
                               : base + L"/" + f.name;
        if (!f.bytes.empty()) {
            ASSERT_TRUE(testing_util::WriteAll(served + f.name, bytes.data(), bytes.size()));
        }
        manifest.AddFile(f.name, int32_t(bytes.size()), digest, url.c_str());
        ASSERT_TRUE(testing_util::WriteAll(installDir + f.name, "old", 3));
    }
    ASSERT_TRUE(manifest.SaveToFile((served + L"update.xml").c_str()));
    config.SetConfig((base + L"/update.xml").c_str());

    e2e::Installer installer(Build(fixture::SkinItems()), L"");
    bool started = false, closing = false;
    e2e::RunResult run = installer.Watch(
        [](const Dialog&) { return IDYES; },
        [&](HWND window) {
            if (!window || !IsWindowVisible(window)) return false;
            if (!started) {
                started = true;
                PostMessageW(window, WM_COMMAND, kCmdStart, 0);
            } else if (!closing && FileExists(root + gate + L".started")) {
                closing = true;
                PostMessageW(window, WM_COMMAND, kCmdClose, 0);
            }
            return false;
        },
        120000);
    // Lets the server's handler end; the installer is gone by now.
    EXPECT_TRUE(testing_util::WriteAll(root + gate + L".release", "", 0));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(0u, run.exitCode);
    ASSERT_EQ(1u, run.dialogs.size());
    EXPECT_EQ(L"注意：中止当前安装有可能导致软件无法使用！\n确定要中止吗？", run.dialogs[0].text);
    for (const File& f : files) {
        const std::string now = Text(ReadAll(installDir + f.name));
        if (std::wcsncmp(f.name, L"before", 6) == 0)
            EXPECT_TRUE(now == f.bytes) << testing_util::Narrow(f.name);
        else if (f.bytes.empty())
            EXPECT_EQ("old", now) << testing_util::Narrow(f.name);
        else
            EXPECT_TRUE(now == "old" || now == f.bytes) << testing_util::Narrow(f.name);
    }
    EXPECT_FALSE(FileExists(installDir + L"~dlheld.bin.part")) << "kept without a validator";
    EXPECT_EQ(0u, testing_util::CountTempFiles(installDir)) << "a partial copy was left behind";
    EXPECT_FALSE(FileExists(installDir + L"uninst.dat"));
    EXPECT_EQ(L"", e2e::RegistryValue(productKey, L"version"));
    Sleep(600);  // the handler sees the release within half a second
    DeleteFileW((root + gate + L".started").c_str());
    DeleteFileW((root + gate + L".release").c_str());
}

// A manifest of more entries than the reader takes (10,000) cannot be read
// whole: nothing is fetched, written or registered.
TEST_F(DownloadRun, AManifestBeyondTheEntryLimitIsRefused) {
    PresetPath();
    SHCreateDirectoryExW(nullptr, served.c_str(), nullptr);
    ASSERT_TRUE(testing_util::WriteAll(served + L"one.txt", "1", 1));
    std::wstring xml = L"\xFEFF<list version=\"1.0.0.5\">\r\n";
    for (int i = 0; i <= 10000; ++i)
        xml += L"<item file=\"f" + std::to_wstring(i) + L".txt\" size=\"1\" md5=\"C4CA4238A0B923820DCC509A6F75849B\" "
               L"url=\"" + base + L"/one.txt\" action=\"0\"/>\r\n";
    xml += L"</list>\r\n";
    ASSERT_TRUE(testing_util::WriteAll(served + L"update.xml", xml.data(), xml.size() * sizeof(wchar_t)));
    config.SetConfig((base + L"/update.xml").c_str());
    e2e::RunResult run = e2e::Run(Build(fixture::SkinItems()), L"silent", Never);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(1603u, run.exitCode);
    EXPECT_FALSE(FileExists(installDir + L"f0.txt"));
    ExpectNothingInstalled();
    EXPECT_EQ(L"", e2e::RegistryValue(productKey, L"version"));
}

// The download way protects a newer installation as the archive way does:
// nothing is fetched or written, the installed client is started.
TEST_F(DownloadRun, ANewerInstalledVersionIsNotOverwritten) {
    Serve({{"readme.txt", "hello"}}, L"");
    config.SetConfig((base + L"/update.xml").c_str());
    for (bool silentRun : {true, false}) {
        SCOPED_TRACE(silentRun ? "silent" : "window");
        ASSERT_NO_FATAL_FAILURE(InstallEarlier(L"1.0.0.6"));
        e2e::RunResult run =
            RunAnsweringOkThenFinish(Build(fixture::SkinItems()), silentRun ? L"silent" : L"");
        ASSERT_TRUE(run.exited);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_EQ(silentRun ? 0u : 1u, run.dialogs.size());
        EXPECT_TRUE(e2e::WaitForFile(installDir + L"started.txt", 10000));
        ExpectNothingInstalled();
        EXPECT_EQ(L"1.0.0.6", e2e::RegistryValue(productKey, L"version"));
        e2e::RemoveProduct(company, L"game", name);
        testing_util::RemoveTree(installDir);
    }
}

// A product key or uninstall entry that cannot be written is a failed
// installation. Here the uninstall entry's name is too long for a key name
// while the product key still fits.
TEST_F(InstallerRun, AnUninstallEntryThatCannotBeWrittenFailsTheRun) {
    const std::wstring longCompany = company + std::wstring(120 - company.size(), L'c');
    const std::wstring longApp(100, L'a');
    config.SetCompany(longCompany.c_str());
    config.SetApp(longApp.c_str());
    const std::wstring key = L"Software\\" + longCompany + L"\\" + longApp;
    ASSERT_TRUE(e2e::WriteRegistry(key, L"path", installDir));
    e2e::RunResult run = e2e::Run(Build(PayloadItems(fixture::ClientItems())), L"silent", Never);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(1603u, run.exitCode);
    EXPECT_TRUE(FileExists(installDir + L"readme.txt"));
    EXPECT_EQ(L"1.0.0.5", e2e::RegistryValue(key, L"version"));  // what could be written stays
    testing_util::DeleteRecordKey(key);
    testing_util::DeleteRecordKey(L"Software\\" + longCompany);
    e2e::RemoveProduct(company, L"game", name);
}

// --- the sample package, made by the packaging tool

namespace {

// Relative paths of every file and folder under dir ("a\\b", folders with a
// trailing backslash).
void ListTree(const std::wstring& dir, const std::wstring& prefix, std::vector<std::wstring>* out) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring n = data.cFileName;
        if (n == L"." || n == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out->push_back(prefix + n + L"\\");
            ListTree(dir + n + L"\\", prefix + n + L"\\", out);
        } else {
            out->push_back(prefix + n);
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

// Packs sample/ with the packaging tool into exe; false without the tool.
bool BuildSamplePackage(const std::wstring& exe, DWORD* code) {
    std::wstring tool = testing_util::BinaryPath("bin/mkinstaller.exe");
    std::wstring client = testing_util::BinaryPath("sample/client");
    if (!FileExists(tool) || !FileExists(client + L"\\client.exe")) return false;
    std::wstring line = L"\"" + tool + L"\" --stub \"" + testing_util::BinaryPath("bin/installer.exe") +
                        L"\" --config \"" + testing_util::SourcePath("sample/app.txt") + L"\" --skin \"" +
                        testing_util::SourcePath("sample/skin") + L"\" --client \"" + client +
                        L"\" --out \"" + exe + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    *code = 1;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return true;
    UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
    WaitForSingleObject(process.get(), 120000);
    GetExitCodeProcess(process.get(), code);
    return true;
}

DWORD UninstallNumber(const std::wstring& key, const wchar_t* name) {
    UniqueKey k;
    DWORD value = 0, size = sizeof(value), type = 0;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, k.put()) !=
            ERROR_SUCCESS ||
        RegQueryValueExW(k.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        return 0;
    return value;
}

}  // namespace

TEST(SamplePackage, MkinstallerPackageInstallsSilently) {
    std::wstring client = testing_util::BinaryPath("sample/client\\");
    testing_util::TempDir temp;
    std::wstring exe = temp / L"setup.exe";
    DWORD code = 1;
    if (!BuildSamplePackage(exe, &code)) GTEST_SKIP() << "no packaging tool";
    ASSERT_EQ(0u, code);

    // As sample/app.txt names the product.
    const std::wstring company = L"XingChen", app = L"starfall", name = L"星辰纪元";
    std::wstring productKey = L"Software\\" + company + L"\\" + app;
    std::wstring installDir = temp.path() + L"starfall\\";
    e2e::RemoveProduct(company, app, name);
    ASSERT_TRUE(e2e::WriteRegistry(productKey, L"path", installDir));
    SetEnvironmentVariableW(L"SAMPLE_CLIENT_CLOSE_AFTER", L"500");  // the started client ends
    e2e::RunResult run = e2e::Run(exe, L"silent", Never);
    SetEnvironmentVariableW(L"SAMPLE_CLIENT_CLOSE_AFTER", nullptr);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(0u, run.exitCode);

    std::vector<std::wstring> expected;
    ListTree(client, L"", &expected);
    ASSERT_FALSE(expected.empty());
    // The packaging tool adds the uninstaller the configuration names.
    EXPECT_TRUE(FileExists(installDir + L"unins000.exe"));
    for (const std::wstring& rel : expected) {
        if (rel.back() == L'\\') {
            EXPECT_TRUE(FileExists(installDir + rel)) << testing_util::Narrow(rel);
        } else {
            EXPECT_EQ(ReadAll(client + rel), ReadAll(installDir + rel)) << testing_util::Narrow(rel);
        }
    }
    // uninst.dat names exactly the client's files and folders.
    std::vector<uint8_t> record = ReadAll(installDir + L"uninst.dat");
    ASSERT_GE(record.size(), 2u);
    std::wstring text(reinterpret_cast<const wchar_t*>(record.data() + 2), (record.size() - 2) / 2);
    std::vector<std::wstring> listed;
    for (size_t at = 0, bar; (bar = text.find(L'|', at)) != std::wstring::npos; at = bar + 1)
        listed.push_back(text.substr(at, bar - at));
    expected.push_back(L"unins000.exe");
    std::sort(listed.begin(), listed.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, listed);

    EXPECT_EQ(L"1.0.0.0", e2e::RegistryValue(productKey, L"version"));
    EXPECT_EQ(32u, e2e::RegistryValue(productKey, L"md5").size());
    for (const std::wstring& link : e2e::ShortcutPaths(name)) {
        if (link.find(L"Quick Launch") != std::wstring::npos) continue;  // no such folder in Wine
        EXPECT_TRUE(FileExists(link)) << testing_util::Narrow(link);
    }
    EXPECT_TRUE(e2e::WaitForFile(installDir + L"client_started.txt", 10000));
    Sleep(1000);  // let the sample client end before its folder goes
    e2e::RemoveProduct(company, app, name);
}

// The uninstaller the packaging tool adds: No changes nothing; a file in use
// stays (exit 1603) with everything a second run needs, which then finishes;
// what the player made stays; the product's records, shortcuts and the
// uninstaller itself go, no copy of it is left, and installing again is a
// first installation with the same result.
TEST(SamplePackage, TheUninstallerRemovesWhatWasInstalledAndNothingElse) {
    testing_util::TempDir temp;
    std::wstring exe = temp / L"setup.exe";
    DWORD code = 1;
    if (!BuildSamplePackage(exe, &code)) GTEST_SKIP() << "no packaging tool";
    ASSERT_EQ(0u, code);
    const std::wstring company = L"XingChen", app = L"starfall", name = L"星辰纪元";
    const std::wstring productKey = L"Software\\" + company + L"\\" + app;
    const std::wstring uninstallKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + company + app;
    const std::wstring installDir = temp.path() + L"星辰 starfall\\";
    const std::wstring uninstaller = installDir + L"unins000.exe";
    e2e::RemoveProduct(company, app, name);
    ASSERT_TRUE(e2e::WriteRegistry(productKey, L"path", installDir));
    SetEnvironmentVariableW(L"SAMPLE_CLIENT_CLOSE_AFTER", L"300");
    ScopeExit restore([&] {
        SetEnvironmentVariableW(L"SAMPLE_CLIENT_CLOSE_AFTER", nullptr);
        e2e::RemoveProduct(company, app, name);
    });
    e2e::RunResult run = e2e::Run(exe, L"silent", Never);
    ASSERT_TRUE(run.exited);
    ASSERT_EQ(0u, run.exitCode);
    e2e::WaitForFile(installDir + L"client_started.txt", 10000);
    Sleep(800);  // the sample client ends

    EXPECT_EQ(L"\"" + uninstaller + L"\"", e2e::RegistryValue(uninstallKey, L"UninstallString"));
    EXPECT_EQ(L"\"" + uninstaller + L"\" silent", e2e::RegistryValue(uninstallKey, L"QuietUninstallString"));
    EXPECT_EQ(installDir, e2e::RegistryValue(uninstallKey, L"InstallLocation"));
    EXPECT_EQ(installDir + L"client.exe", e2e::RegistryValue(uninstallKey, L"DisplayIcon"));
    EXPECT_GT(UninstallNumber(uninstallKey, L"EstimatedSize"), 0u);

    std::vector<std::wstring> installed;
    ListTree(installDir, L"", &installed);
    std::sort(installed.begin(), installed.end());

    // No: nothing changes.
    run = e2e::Run(uninstaller, L"", [](const Dialog&) { return IDNO; });
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(1602u, run.exitCode);
    ASSERT_EQ(1u, run.dialogs.size());
    EXPECT_NE(std::wstring::npos, run.dialogs[0].text.find(name)) << testing_util::Narrow(run.dialogs[0].text);
    std::vector<std::wstring> after;
    ListTree(installDir, L"", &after);
    std::sort(after.begin(), after.end());
    EXPECT_EQ(installed, after);

    // Refusals, nothing removed: the product registered elsewhere, and no
    // readable record.
    ASSERT_TRUE(e2e::WriteRegistry(productKey, L"path", temp.path() + L"other\\"));
    run = e2e::Run(uninstaller, L"silent", Never);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(2u, run.exitCode);
    ASSERT_TRUE(e2e::WriteRegistry(productKey, L"path", installDir));
    ASSERT_TRUE(MoveFileW((installDir + L"uninst.dat").c_str(), (installDir + L"uninst.dat.away").c_str()));
    run = e2e::Run(uninstaller, L"silent", Never);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(2u, run.exitCode);
    ASSERT_TRUE(MoveFileW((installDir + L"uninst.dat.away").c_str(), (installDir + L"uninst.dat").c_str()));
    after.clear();
    ListTree(installDir, L"", &after);
    std::sort(after.begin(), after.end());
    EXPECT_EQ(installed, after);

    // What the player made.
    ASSERT_TRUE(testing_util::WriteAll(installDir + L"saves\\slot1.sav", "progress", 8));
    CreateDirectoryW((installDir + L"截图").c_str(), nullptr);
    ASSERT_TRUE(testing_util::WriteAll(installDir + L"截图\\shot.png", "png", 3));

    // A file in use: the rest goes, the exit code says it failed, and the
    // record, the entries and the uninstaller stay for a second run.
    std::wstring busy = installDir + L"client.exe";
    {
        UniqueFile held(CreateFileW(busy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        run = e2e::Run(uninstaller, L"silent", Never);
        ASSERT_TRUE(run.exited);
        EXPECT_EQ(1603u, run.exitCode);
        EXPECT_TRUE(run.dialogs.empty());
        EXPECT_TRUE(FileExists(busy));
        EXPECT_TRUE(FileExists(installDir + L"uninst.dat"));
        EXPECT_TRUE(FileExists(uninstaller));
        EXPECT_EQ(L"1.0.0.0", e2e::RegistryValue(productKey, L"version"));
        EXPECT_FALSE(e2e::RegistryValue(uninstallKey, L"UninstallString").empty());
    }
    run = e2e::Run(uninstaller, L"silent", Never);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(0u, run.exitCode);

    // The uninstaller's own file goes once it has ended, with the emptied
    // folders; what the game (the sample client's start mark) and the player
    // made stays.
    for (int i = 0; i < 100 && FileExists(uninstaller); ++i) Sleep(100);
    EXPECT_FALSE(FileExists(uninstaller));
    std::vector<std::wstring> left;
    ListTree(installDir, L"", &left);
    std::sort(left.begin(), left.end());
    EXPECT_EQ((std::vector<std::wstring>{L"client_started.txt", L"saves\\", L"saves\\slot1.sav", L"截图\\",
                                         L"截图\\shot.png"}),
              left);
    EXPECT_EQ(L"", e2e::RegistryValue(productKey, L"version"));
    EXPECT_EQ(L"", e2e::RegistryValue(uninstallKey, L"UninstallString"));
    for (const std::wstring& link : e2e::ShortcutPaths(name)) EXPECT_FALSE(FileExists(link)) << testing_util::Narrow(link);
    // Nor is a copy of it left in the temporary folder.
    wchar_t tempFolder[MAX_PATH];
    GetTempPathW(MAX_PATH, tempFolder);
    std::vector<std::wstring> temps;
    ListTree(tempFolder, L"", &temps);
    for (int i = 0; i < 50; ++i) {
        temps.clear();
        ListTree(tempFolder, L"", &temps);
        if (std::none_of(temps.begin(), temps.end(), [](const std::wstring& t) {
                return t.find(L"unins.exe") != std::wstring::npos;
            }))
            break;
        Sleep(100);
    }
    for (const std::wstring& t : temps) EXPECT_EQ(std::wstring::npos, t.find(L"unins.exe")) << testing_util::Narrow(t);

    // Installing again is a first installation, with the same result.
    testing_util::RemoveTree(installDir);
    ASSERT_TRUE(e2e::WriteRegistry(productKey, L"path", installDir));
    run = e2e::Run(exe, L"silent", Never);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(0u, run.exitCode);
    e2e::WaitForFile(installDir + L"client_started.txt", 10000);
    Sleep(800);
    std::vector<std::wstring> again;
    ListTree(installDir, L"", &again);
    std::sort(again.begin(), again.end());
    EXPECT_EQ(installed, again);
}
