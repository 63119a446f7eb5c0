#include "tests/hostile/hostile_fixture.h"

#include <shlobj.h>

#include <atomic>

#include "support/handle.h"
#include "support/packed.h"
#include "support/zip.h"

namespace hostile {

std::wstring Widen(const std::string& s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), int(s.size()), nullptr, 0);
    std::wstring w(n, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, s.c_str(), int(s.size()), &w[0], n);
    return w;
}

std::string Text(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

void ListTree(const std::wstring& dir, std::set<std::wstring>* out) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring n = data.cFileName;
        if (n == L"." || n == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out->insert(dir + n + L"\\");
            ListTree(dir + n + L"\\", out);
        } else {
            out->insert(dir + n);
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

std::set<std::wstring> ListTop(const std::wstring& dir) {
    std::set<std::wstring> out;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((dir + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return out;
    do {
        out.insert(data.cFileName);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return out;
}

std::vector<uint8_t> Packed(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> packed(bytes.size() + kPackedHeaderSize);
    uint32_t n = WritePacked(packed.data(), uint32_t(packed.size()), bytes.data(),
                             uint32_t(bytes.size()));
    packed.resize(n);
    return packed;
}

bool BuildWithTail(const std::wstring& out, CClientInfo& config, const std::vector<uint8_t>& tail) {
    if (!CopyFileW(testing_util::BinaryPath("bin/installer.exe").c_str(), out.c_str(), FALSE))
        return false;
    std::vector<uint8_t> app(kClientInfoBufferSize);
    uint32_t n = config.SaveToData(app.data(), uint32_t(app.size()), true);
    if (n == 0) return false;
    // One update for both resources: each update rewrites the whole file.
    UniqueResourceUpdate update(BeginUpdateResourceW(out.c_str(), FALSE));
    if (!update || !UpdateResourceW(update.get(), L"APP", MAKEINTRESOURCEW(1), 2052, app.data(), n))
        return false;
    if (!tail.empty() && !UpdateResourceW(update.get(), L"TAIL", MAKEINTRESOURCEW(1), 2052,
                                          const_cast<uint8_t*>(tail.data()), DWORD(tail.size())))
        return false;
    return EndUpdateResourceW(update.release(), FALSE) != FALSE;
}

void Sandbox::SetUp() {
    static std::atomic<unsigned> counter{0};
    tag = L"h" + std::to_wstring(GetCurrentProcessId()) + L"x" + std::to_wstring(counter++);
    fixture::TestConfig(config, tag);
    company = config.GetCompany();
    name = config.GetName();
    productKey = L"Software\\" + company + L"\\game";
    // Two levels between the installation directory and the top of the
    // tree, so that a name climbing one or two levels stays observable.
    installDir = temp.path() + L"outer\\middle\\安装 目录\\";
    workDir = temp.path() + L"cwd\\";
    CreateDirectoryW(workDir.c_str(), nullptr);
    SHCreateDirectoryExW(nullptr, (temp.path() + L"outer\\middle").c_str(), nullptr);
    sentinel = temp.path() + L"outer\\keep.txt";
    sentinelBytes_ = "must survive";
    ASSERT_TRUE(testing_util::WriteAll(sentinel, sentinelBytes_.data(), sentinelBytes_.size()));
    // The installer inherits this folder: a relative path that escaped the
    // installation directory would land here.
    GetCurrentDirectoryW(MAX_PATH, oldWorkDir_);
    SetCurrentDirectoryW(workDir.c_str());
    ASSERT_TRUE(e2e::WriteRegistry(productKey, L"path", installDir));
}

void Sandbox::ResetProduct() {
    e2e::RemoveProduct(company, L"game", name);
    testing_util::RemoveTree(installDir);
    ASSERT_TRUE(e2e::WriteRegistry(productKey, L"path", installDir));
}

void Sandbox::TearDown() {
    SetCurrentDirectoryW(oldWorkDir_);
    e2e::RemoveProduct(company, L"game", name);
}

std::vector<fixture::ZipItem> Sandbox::PayloadItems(const std::vector<fixture::ZipItem>& client) {
    std::vector<fixture::ZipItem> items = fixture::SkinItems();
    items.push_back(fixture::InnerArchiveItem(fixture::MakeZip(client, GetArchivePassword())));
    items.push_back({"update.xml", "<list version=\"1.0.0.5\">\r\n</list>\n\r"});
    return items;
}

std::vector<uint8_t> Sandbox::Payload(const std::vector<fixture::ZipItem>& items) {
    return fixture::MakeZip(items, GetArchivePassword());
}

std::wstring Sandbox::Build(const std::vector<fixture::ZipItem>& payloadItems) {
    return BuildTail(Packed(Payload(payloadItems)));
}

std::wstring Sandbox::BuildTail(const std::vector<uint8_t>& tail) {
    std::wstring exe = temp / (L"setup" + std::to_wstring(builds++) + L".exe");
    EXPECT_TRUE(BuildWithTail(exe, config, tail));
    return exe;
}

DWORD Sandbox::RunSilent(const std::wstring& exe) {
    Snapshot();
    e2e::RunResult run = e2e::Run(exe, L"silent", [](const e2e::Dialog&) { return 0; }, 60000);
    EXPECT_TRUE(run.exited) << "the installer did not end";
    EXPECT_TRUE(run.dialogs.empty());
    return run.exited ? run.exitCode : ~0u;
}

void Sandbox::Snapshot() {
    treeBefore_.clear();
    ListTree(temp.path(), &treeBefore_);
    driveCBefore_ = ListTop(L"C:\\");
    driveZBefore_ = ListTop(L"Z:\\");
}

void Sandbox::ExpectOutsideUnchanged() {
    std::set<std::wstring> after;
    ListTree(temp.path(), &after);
    auto outside = [&](const std::set<std::wstring>& all) {
        std::set<std::wstring> out;
        for (const std::wstring& p : all)
            if (_wcsnicmp(p.c_str(), installDir.c_str(), installDir.size()) != 0 && p != installDir)
                out.insert(p);
        return out;
    };
    std::set<std::wstring> before = outside(treeBefore_), now = outside(after);
    for (const std::wstring& p : now)
        EXPECT_TRUE(before.count(p)) << "appeared outside: " << testing_util::Narrow(p);
    for (const std::wstring& p : before)
        EXPECT_TRUE(now.count(p)) << "went from outside: " << testing_util::Narrow(p);
    EXPECT_EQ(sentinelBytes_, Text(testing_util::ReadAll(sentinel)));
    EXPECT_EQ(driveCBefore_, ListTop(L"C:\\"));
    EXPECT_EQ(driveZBefore_, ListTop(L"Z:\\"));
}

void Sandbox::ExpectNotRegistered() {
    EXPECT_EQ(L"", e2e::RegistryValue(productKey, L"version"));
    EXPECT_EQ(L"", e2e::RegistryValue(productKey, L"md5"));
    EXPECT_FALSE(testing_util::FileExists(installDir + L"uninst.dat"));
    for (const std::wstring& link : e2e::ShortcutPaths(name))
        EXPECT_FALSE(testing_util::FileExists(link)) << testing_util::Narrow(link);
}

}  // namespace hostile
