// Figures, not pass/fail: run by hand with --gtest_also_run_disabled_tests
// --gtest_filter=*Bench* through with-http-server.sh.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "client/update_download.h"
#include "client/update_info.h"
#include "support/digest.h"
#include "support/internet.h"
#include "tests/common/test_util.h"
#include "tests/net/net_fixture.h"

namespace {

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
}

double PeakPrivateMB() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return double(counters.PeakPagefileUsage) / 1048576.0;
}

TEST(NetBench, DISABLED_DownloadAndUpToDateCheck) {
    REQUIRE_SERVER();
    const size_t kSize = 32u << 20;
    auto body = net_test::Pattern(kSize);
    ASSERT_TRUE(testing_util::WriteAll(net_test::ServedPath(L"bench.bin"), body));
    wchar_t md5[33] = {};
    ASSERT_TRUE(DigestOfBuffer(md5, body.data(), uint32_t(body.size())));

    LARGE_INTEGER t0, t1, t2, t3;
    testing_util::TempDir dir;
    UpdateItem item{};
    item.size = int32_t(kSize);
    wcscpy(item.file, L"bench.bin");
    wcscpy(item.url, net_test::Url(L"bench.bin").c_str());
    wcscpy(item.md5, md5);
    QueryPerformanceCounter(&t1);
    ASSERT_TRUE(DownloadItem(dir.path().c_str(), nullptr, &item));
    QueryPerformanceCounter(&t2);
    ASSERT_TRUE(DownloadItem(dir.path().c_str(), nullptr, &item));
    QueryPerformanceCounter(&t3);
    printf("DownloadItem: fetch, verify and write %.3f s; up-to-date check %.3f s\n",
           Seconds(t1, t2), Seconds(t2, t3));
    // Streamed to disk first, so the peak is still the streaming one; the
    // whole body in memory afterwards, for comparison.
    printf("peak private bytes after DownloadItem: %.1f MB\n", PeakPrivateMB());

    CInternet net;
    QueryPerformanceCounter(&t0);
    ASSERT_TRUE(net.Download(net_test::Url(L"bench.bin").c_str()));
    QueryPerformanceCounter(&t1);
    printf("CInternet::Download into memory: %u bytes in %.3f s (%.1f MB/s); peak private bytes %.1f MB\n",
           net.received, Seconds(t0, t1), net.received / Seconds(t0, t1) / 1e6, PeakPrivateMB());
}

class Quiet : public IConcurrentEvents {
    void Bytes(uint64_t) override {}
    void Finished(uint32_t, const UpdateItem*, bool ok) override { failed += !ok; }
    void Notice(const DownloadNotice&) override {}
    bool Stopped() override { return false; }
    bool Wait(uint32_t) override { return true; }

public:
    int failed = 0;
};

// 300 files of 4 to 20 KB from the local server, one connection and more.
TEST(NetBench, DISABLED_ManySmallFilesByConnections) {
    REQUIRE_SERVER();
    CUpdateInfo manifest;
    CreateDirectoryW(net_test::ServedPath(L"many").c_str(), nullptr);
    for (int i = 0; i < 300; ++i) {
        auto body = net_test::Pattern(4096 + (i * 541) % 16384);
        std::wstring name = L"m" + std::to_wstring(i) + L".bin";
        ASSERT_TRUE(testing_util::WriteAll(net_test::ServedPath(L"many\\" + name), body));
        wchar_t md5[33] = {};
        ASSERT_TRUE(DigestOfBuffer(md5, body.data(), uint32_t(body.size())));
        manifest.AddFile(name.c_str(), int32_t(body.size()), md5, net_test::Url(L"many/" + name).c_str());
    }
    for (uint32_t connections : {1u, 2u, 3u, 4u}) {
        testing_util::TempDir dir;
        DownloadPolicy policy;
        policy.connections = connections;
        Quiet events;
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        DownloadConcurrently(dir.path().c_str(), &manifest, policy, events);
        QueryPerformanceCounter(&t1);
        EXPECT_EQ(0, events.failed);
        printf("300 small files, %u connection(s): %.2f s\n", connections, Seconds(t0, t1));
    }
}

class Discard : public IBodySink {
public:
    bool Begin(const HttpAnswer&) override { return true; }
    bool Write(const uint8_t*, uint32_t count) override {
        bytes += count;
        return true;
    }
    uint64_t bytes = 0;
};

// Where one small file's time goes: the request alone on a kept session,
// the request with a session of its own, and the whole fetch-verify-write.
TEST(NetBench, DISABLED_PhasesOfASmallFile) {
    REQUIRE_SERVER();
    const int kFiles = 300;
    std::vector<UpdateItem> items(kFiles);
    CreateDirectoryW(net_test::ServedPath(L"phases").c_str(), nullptr);
    for (int i = 0; i < kFiles; ++i) {
        auto body = net_test::Pattern(4096 + (i * 541) % 16384);
        std::wstring name = L"p" + std::to_wstring(i) + L".bin";
        ASSERT_TRUE(testing_util::WriteAll(net_test::ServedPath(L"phases\\" + name), body));
        UpdateItem& item = items[size_t(i)];
        item.size = int32_t(body.size());
        wcscpy(item.file, name.c_str());
        wcscpy(item.url, net_test::Url(L"phases/" + name).c_str());
        ASSERT_TRUE(DigestOfBuffer(item.md5, body.data(), uint32_t(body.size())));
    }
    LARGE_INTEGER t0, t1;
    {
        CInternet net;
        Discard sink;
        QueryPerformanceCounter(&t0);
        for (const UpdateItem& item : items)
            EXPECT_EQ(FetchEnd::kComplete, net.Fetch(item.url, 0, nullptr, 0, sink, nullptr));
        QueryPerformanceCounter(&t1);
        printf("%d requests, one session: %.2f ms each\n", kFiles, 1000 * Seconds(t0, t1) / kFiles);
    }
    {
        Discard sink;
        QueryPerformanceCounter(&t0);
        for (const UpdateItem& item : items) {
            CInternet net;
            EXPECT_EQ(FetchEnd::kComplete, net.Fetch(item.url, 0, nullptr, 0, sink, nullptr));
        }
        QueryPerformanceCounter(&t1);
        printf("%d requests, a session each: %.2f ms each\n", kFiles, 1000 * Seconds(t0, t1) / kFiles);
    }
    {
        testing_util::TempDir dir;
        QueryPerformanceCounter(&t0);
        for (const UpdateItem& item : items) EXPECT_TRUE(DownloadItem(dir.path().c_str(), nullptr, &item));
        QueryPerformanceCounter(&t1);
        printf("%d files fetched, verified and written: %.2f ms each\n", kFiles,
               1000 * Seconds(t0, t1) / kFiles);
    }
}

}  // namespace

