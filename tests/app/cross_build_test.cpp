// The 32-bit and the 64-bit installer on one Windows: both keep their records
// in the registry's 32-bit view, so an installation made by one is found,
// repaired and protected from a downgrade by the other.
//
// The other build's installer.exe comes from SKIN_TEST_OTHER_INSTALLER (a
// Linux path, as scripts/run-tests.sh sets it where both builds run); the
// test is skipped without it.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/zip.h"
#include "tests/app/e2e_util.h"
#include "tests/app/package_fixture.h"
#include "tests/common/test_util.h"

using fixture::ZipItem;
using testing_util::FileExists;

namespace {

std::wstring OtherInstaller() {
    const wchar_t* v = _wgetenv(L"SKIN_TEST_OTHER_INSTALLER");
    if (!v || !v[0]) return L"";
    std::wstring path = v;
    if (path[0] == L'/') {  // Wine shows the Linux root as drive Z:
        for (wchar_t& c : path)
            if (c == L'/') c = L'\\';
        path = L"Z:" + path;
    }
    return FileExists(path) ? path : L"";
}

int Never(const e2e::Dialog&) { return 0; }

}  // namespace

TEST(CrossBuild, EachBuildFindsRepairsAndProtectsTheOthersInstallation) {
    const std::wstring other = OtherInstaller();
    if (other.empty()) GTEST_SKIP() << "the other build's installer does not run here";
    const std::wstring own = testing_util::BinaryPath("bin/installer.exe");
    static std::atomic<unsigned> counter{0};

    struct Order {
        const char* what;
        std::wstring first, second;
    } orders[] = {{"other then own", other, own}, {"own then other", own, other}};
    for (const Order& order : orders) {
        SCOPED_TRACE(order.what);
        testing_util::TempDir temp;
        CClientInfo config;
        fixture::TestConfig(config, L"x" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                                        std::to_wstring(counter++));
        const std::wstring company = config.GetCompany(), name = config.GetName();
        const std::wstring productKey = L"Software\\" + company + L"\\game";
        e2e::RemoveProduct(company, L"game", name);

        auto package = [&](const std::wstring& stub, const wchar_t* version) {
            config.SetVersion(version);
            std::vector<ZipItem> items = fixture::SkinItems();
            items.push_back(
                fixture::InnerArchiveItem(fixture::MakeZip(fixture::ClientItems(), GetArchivePassword())));
            items.push_back({"update.xml", "<list version=\"1.0.0.5\">\r\n</list>\n"});
            std::wstring exe = temp / (std::wstring(version) + L".exe");
            EXPECT_TRUE(fixture::BuildInstaller(exe, &config, fixture::MakeZip(items, GetArchivePassword()),
                                                stub));
            return exe;
        };

        // A first installation, into the folder the first build proposes.
        e2e::RunResult run = e2e::Run(package(order.first, L"1.0.0.5"), L"silent", Never);
        ASSERT_TRUE(run.exited);
        ASSERT_EQ(0u, run.exitCode);
        const std::wstring dir = e2e::RegistryValue(productKey, L"path");
        ASSERT_FALSE(dir.empty());
        ASSERT_TRUE(FileExists(dir + L"readme.txt"));
        EXPECT_TRUE(e2e::WaitForFile(dir + L"started.txt", 10000));

        // The other build, same version: repairs in the folder the records name.
        ASSERT_TRUE(DeleteFileW((dir + L"readme.txt").c_str()));
        run = e2e::Run(package(order.second, L"1.0.0.5"), L"silent", Never);
        ASSERT_TRUE(run.exited);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_TRUE(FileExists(dir + L"readme.txt"));
        EXPECT_EQ(dir, e2e::RegistryValue(productKey, L"path"));

        // The other build, older version: the installation is kept as it is
        // and its client started.
        ASSERT_TRUE(DeleteFileW((dir + L"readme.txt").c_str()));
        DeleteFileW((dir + L"started.txt").c_str());
        run = e2e::Run(package(order.second, L"1.0.0.4"), L"silent", Never);
        ASSERT_TRUE(run.exited);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_TRUE(e2e::WaitForFile(dir + L"started.txt", 10000));
        EXPECT_FALSE(FileExists(dir + L"readme.txt"));
        EXPECT_EQ(L"1.0.0.5", e2e::RegistryValue(productKey, L"version"));

        e2e::RemoveProduct(company, L"game", name);
        testing_util::RemoveTree(dir);
    }
}
