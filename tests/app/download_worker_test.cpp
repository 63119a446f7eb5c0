// The install worker's download way against the local HTTP server: retries
// shown on the status line, a stop that ends a retry's wait at once.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/install_worker.h"
#include "client/update_download.h"
#include "client/update_info.h"
#include "support/digest.h"
#include "support/handle.h"
#include "tests/common/test_util.h"

using testing_util::ReadAll;
using testing_util::TempDir;

namespace {

std::wstring Env(const wchar_t* name) {
    const wchar_t* v = _wgetenv(name);
    return v ? v : L"";
}

std::vector<uint8_t> Noise(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) {
        seed = seed * 1103515245u + 12345u;
        b = uint8_t(seed >> 16);
    }
    return v;
}

// Safe to read from the test's thread while the worker runs.
class SharedReport : public IInstallReport {
public:
    SharedReport() : noticed_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    void Progress(const wchar_t* name, uint32_t, uint32_t done, uint64_t, uint64_t) override {
        std::lock_guard<std::mutex> lock(lock_);
        if (name) names.push_back(name);
        if (done < lastDone) wentBack = true;
        lastDone = done;
    }
    bool StopRequested() override { return stop.load(); }
    void Notice(const wchar_t* name, const wchar_t* text) override {
        {
            std::lock_guard<std::mutex> lock(lock_);
            notices.push_back(std::wstring(name) + L": " + text);
        }
        SetEvent(noticed_.get());
    }
    bool WaitForNotice(DWORD ms) { return WaitForSingleObject(noticed_.get(), ms) == WAIT_OBJECT_0; }

    std::atomic<bool> stop{false};
    std::vector<std::wstring> names, notices;
    uint32_t lastDone = 0;
    bool wentBack = false;

private:
    std::mutex lock_;
    UniqueKernelHandle noticed_;
};

class DownloadWorker : public ::testing::Test {
protected:
    void SetUp() override {
        if (Env(L"SKIN_TEST_HTTP_PORT").empty()) GTEST_SKIP() << "no local HTTP server";
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        // The server keeps counts per file: every run of a test has its own folder.
        static int runs = 0;
        tag = L"dw" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++runs) +
              L"-" + std::wstring(info->name(), info->name() + strlen(info->name()));
        served = Env(L"SKIN_TEST_HTTP_ROOT") + tag + L"\\";
        ASSERT_TRUE(CreateDirectoryW(served.c_str(), nullptr));
        installDir = dir.path() + L"game\\";
    }
    void TearDown() override { testing_util::RemoveTree(served); }

    std::wstring Url(const std::wstring& path) const {
        return L"http://127.0.0.1:" + Env(L"SKIN_TEST_HTTP_PORT") + L"/" + path;
    }
    // Serves bytes as name and lists them in the manifest at
    // /serve/options/<tag>/name.
    void Add(const std::wstring& name, const std::vector<uint8_t>& bytes, const std::wstring& options) {
        ASSERT_TRUE(testing_util::WriteAll(served + name, bytes));
        wchar_t digest[33] = {};
        ASSERT_TRUE(DigestOfBuffer(digest, bytes.data(), uint32_t(bytes.size())));
        manifest.AddFile(name.c_str(), int32_t(bytes.size()), digest,
                         Url(L"serve/" + options + L"/" + tag + L"/" + name).c_str());
    }
    // Writes the manifest, to be fetched plain or under /serve/options/.
    void SaveManifest(const std::wstring& options = L"") {
        manifest.SetVersion(L"1.0.0.5");
        EXPECT_TRUE(manifest.SaveToFile((served + L"update.xml").c_str()));
        manifestUrl = Url((options.empty() ? L"" : L"serve/" + options + L"/") + tag + L"/update.xml");
    }
    // A job of the download way: the saved manifest into installDir.
    InstallJob Job() const {
        InstallJob job;
        job.installDir = installDir.c_str();
        job.manifestUrl = manifestUrl.c_str();
        return job;
    }
    size_t Requests(const std::wstring& name) {
        size_t lines = 0;
        for (uint8_t b : ReadAll(served + name + L".log")) lines += b == '\n';
        return lines;
    }

    TempDir dir;
    std::wstring tag, served, installDir, manifestUrl;
    CUpdateInfo manifest;
};

// A run that fetched the manifest, handled every file and reported its end.
::testing::AssertionResult Downloaded(const InstallResult& result, uint32_t entries, uint32_t failed,
                                      uint32_t installed) {
    if (result.outcome == InstallOutcome::kDownloaded && result.entries == entries &&
        result.failed == failed && result.installed == installed && result.completed)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "outcome " << int(result.outcome) << " (downloaded is " << int(InstallOutcome::kDownloaded)
           << "), " << result.entries << " entries, " << result.failed << " failed, " << result.installed
           << " installed, " << (result.completed ? "completed" : "not completed");
}

// A manifest and a file whose first answers are 503 arrive on the second
// attempt, a file that is not found fails at once; the status line was told
// of each.
TEST_F(DownloadWorker, ARetryIsShownAndTheFileArrives) {
    const auto bytes = Noise(50000, 3);
    Add(L"retry.bin", bytes, L"fail503x1");
    Add(L"gone.bin", bytes, L"fail404x9");
    SaveManifest(L"fail503x1");
    InstallJob job = Job();
    SharedReport report;
    EXPECT_TRUE(Downloaded(RunInstall(job, report), 2, 1, 1));
    EXPECT_TRUE(ReadAll(installDir + L"retry.bin") == bytes);
    EXPECT_EQ(2u, Requests(L"retry.bin"));
    EXPECT_EQ(1u, Requests(L"gone.bin"));
    EXPECT_EQ(2u, Requests(L"update.xml"));
    EXPECT_EQ(L"update.xml: 正在重试 (2/4)…", report.notices.at(0));
    // The two files are fetched side by side: their notices come as they happen.
    std::sort(report.notices.begin() + 1, report.notices.end());
    EXPECT_EQ((std::vector<std::wstring>{L"update.xml: 正在重试 (2/4)…", L"gone.bin: 下载失败 (HTTP 404)",
                                         L"retry.bin: 正在重试 (2/4)…"}),
              report.notices);
    EXPECT_EQ(std::vector<std::wstring>{L"retry.bin"}, report.names);
}

// The server asks for 20 s before the next try; a stop during that wait
// ends the worker long before it would have elapsed.
TEST_F(DownloadWorker, AStopEndsARetryWaitAtOnce) {
    Add(L"busy.bin", Noise(1000, 4), L"fail503x9,after20");
    SaveManifest();
    InstallJob job = Job();
    SharedReport report;
    InstallResult result;
    std::atomic<DWORD> ended{0};
    std::thread worker([&] {
        result = RunInstall(job, report);
        ended.store(GetTickCount());
    });
    const bool noticed = report.WaitForNotice(15000);
    Sleep(200);  // well inside the wait
    const DWORD stopped = GetTickCount();
    report.stop.store(true);
    worker.join();
    ASSERT_TRUE(noticed);
    EXPECT_LT(ended.load() - stopped, 3000u) << "the wait was not ended by the stop";
    EXPECT_EQ(InstallOutcome::kStopped, result.outcome);
    EXPECT_EQ(1u, Requests(L"busy.bin"));
    EXPECT_FALSE(testing_util::FileExists(installDir + L"busy.bin"));
}

// Three hundred small files through the pool: every one in place and
// verified, named in manifest order, the bytes counted exactly, one missing
// file counted as failed; the server never saw more requests at once than
// the pool has connections, and did see several.
TEST_F(DownloadWorker, ThePoolFetchesSeveralAtOnceAndReportsInOrder) {
    std::vector<std::wstring> names;
    std::vector<std::vector<uint8_t>> bodies;
    uint64_t total = 0;
    for (int i = 0; i < 300; ++i) {
        names.push_back(L"f" + std::to_wstring(i) + L".bin");
        bodies.push_back(Noise(100 + (i * 37) % 900, i));
        total += bodies.back().size();
        Add(names.back(), bodies.back(), L"peak");
    }
    manifest.AddFile(L"missing.bin", 10, L"00000000000000000000000000000000",
                     Url(L"serve/peak/" + tag + L"/missing.bin").c_str());
    SaveManifest();
    InstallJob job = Job();
    SharedReport report;
    EXPECT_TRUE(Downloaded(RunInstall(job, report), 301, 1, 300));
    EXPECT_EQ(total + 10, report.lastDone);
    EXPECT_FALSE(report.wentBack);
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_TRUE(ReadAll(installDir + names[i]) == bodies[i]) << testing_util::Narrow(names[i]);
    EXPECT_EQ(names, report.names);
    const std::vector<uint8_t> peak = ReadAll(served + L"peak.txt");
    ASSERT_EQ(1u, peak.size());
    EXPECT_GE(peak[0], '2');
    EXPECT_LE(peak[0], '0' + int(DownloadPolicy().connections));
}

// Two installer runs: the first is allowed one attempt, its transfer is cut
// at 40 % and the run counts the file as failed, keeping what arrived; the
// second asks only for the rest and installs the whole file.
TEST_F(DownloadWorker, ASecondRunContinuesACutTransfer) {
    const auto bytes = Noise(3 * 1024 * 1024, 7);
    Add(L"big.bin", bytes, L"cut40");
    SaveManifest();
    InstallJob job = Job();

    DownloadProgress first = {};
    first.policy.attempts = 1;
    job.downloadProgress = &first;
    SharedReport report1;
    InstallResult run1 = RunInstall(job, report1);
    EXPECT_EQ(1u, run1.failed);
    EXPECT_EQ(0u, run1.installed);
    EXPECT_FALSE(testing_util::FileExists(installDir + L"big.bin"));
    EXPECT_EQ(bytes.size() * 40 / 100, ReadAll(installDir + L"~dlbig.bin.part").size());

    DownloadProgress second = {};
    job.downloadProgress = &second;
    SharedReport report2;
    InstallResult run2 = RunInstall(job, report2);
    EXPECT_EQ(0u, run2.failed);
    EXPECT_EQ(1u, run2.installed);
    EXPECT_TRUE(ReadAll(installDir + L"big.bin") == bytes);
    EXPECT_FALSE(testing_util::FileExists(installDir + L"~dlbig.bin.part"));
    EXPECT_FALSE(testing_util::FileExists(installDir + L"~dlbig.bin.part.etag"));
    EXPECT_EQ(32u, wcslen(second.digest)) << "the release is recorded";
    const std::vector<uint8_t> log = ReadAll(served + L"big.bin.log");
    const std::string text(log.begin(), log.end());
    EXPECT_NE(std::string::npos,
              text.find("range=bytes=" + std::to_string(bytes.size() * 40 / 100) + "- "))
        << text;
    EXPECT_EQ(2u, Requests(L"big.bin"));
}

// A server whose certificate no one vouches for (self-signed): the file is
// not fetched, the attempt is not repeated, and the status line says why.
TEST_F(DownloadWorker, ACertificateThatIsNotTrustedFailsTheFileWithItsReason) {
    const std::wstring tls = Env(L"SKIN_TEST_HTTPS_PORT");
    if (tls.empty()) GTEST_SKIP() << "no HTTPS server (openssl missing)";
    const auto bytes = Noise(2000, 9);
    ASSERT_TRUE(testing_util::WriteAll(served + L"secure.bin", bytes));
    wchar_t digest[33] = {};
    ASSERT_TRUE(DigestOfBuffer(digest, bytes.data(), uint32_t(bytes.size())));
    manifest.AddFile(L"secure.bin", int32_t(bytes.size()), digest,
                     (L"https://127.0.0.1:" + tls + L"/serve/-/" + tag + L"/secure.bin").c_str());
    SaveManifest();
    InstallJob job = Job();
    SharedReport report;
    InstallResult result = RunInstall(job, report);
    EXPECT_EQ(1u, result.failed);
    EXPECT_FALSE(testing_util::FileExists(installDir + L"secure.bin"));
    EXPECT_EQ(std::vector<std::wstring>{L"secure.bin: 服务器证书无效，未下载"}, report.notices);
    EXPECT_EQ(0u, Requests(L"secure.bin")) << "no request got through";
}

// Partial files an earlier release left (no entry of this manifest has those
// names) stay while a file failed, and go once every file is in place; a
// player's files that only look alike stay.
TEST_F(DownloadWorker, LeftPartialFilesGoOnceEveryFileIsInPlace) {
    // data\\b.bin is not served at first: the first run fails it.
    const std::vector<uint8_t> later(10, 'x');
    wchar_t digest[33] = {};
    ASSERT_TRUE(DigestOfBuffer(digest, later.data(), uint32_t(later.size())));
    Add(L"a.bin", Noise(3000, 1), L"-");
    manifest.AddFile(L"data\\b.bin", 10, digest, Url(L"serve/-/" + tag + L"/later.bin").c_str());
    SaveManifest();
    ASSERT_TRUE(CreateDirectoryW(installDir.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((installDir + L"data").c_str(), nullptr));
    const std::vector<std::wstring> stale = {L"~dlold.bin.part", L"~dlold.bin.part.etag",
                                             L"data\\~dlgone.pak.part"};
    const std::vector<std::wstring> players = {L"~dlnotes.partial", L"keep.part", L"data\\~dl.txt"};
    for (const auto& name : stale) ASSERT_TRUE(testing_util::WriteAll(installDir + name, Noise(10, 2)));
    for (const auto& name : players) ASSERT_TRUE(testing_util::WriteAll(installDir + name, Noise(10, 3)));

    InstallJob job = Job();
    SharedReport first;
    EXPECT_EQ(1u, RunInstall(job, first).failed);
    for (const auto& name : stale) EXPECT_TRUE(testing_util::FileExists(installDir + name)) << testing_util::Narrow(name);

    ASSERT_TRUE(testing_util::WriteAll(served + L"later.bin", later));
    SharedReport second;
    EXPECT_EQ(0u, RunInstall(job, second).failed);
    for (const auto& name : stale) EXPECT_FALSE(testing_util::FileExists(installDir + name)) << testing_util::Narrow(name);
    for (const auto& name : players) EXPECT_TRUE(testing_util::FileExists(installDir + name)) << testing_util::Narrow(name);
}

}  // namespace
