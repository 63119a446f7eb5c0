// Figures, not pass/fail: run by hand with --gtest_also_run_disabled_tests
// --gtest_filter=*Bench* through with-http-server.sh.
#include <windows.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "client/update_download.h"
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

TEST(NetBench, DISABLED_DownloadAndUpToDateCheck) {
    REQUIRE_SERVER();
    const size_t kSize = 32u << 20;
    auto body = net_test::Pattern(kSize);
    ASSERT_TRUE(testing_util::WriteAll(net_test::ServedPath(L"bench.bin"), body));
    wchar_t md5[33] = {};
    ASSERT_TRUE(DigestOfBuffer(md5, body.data(), uint32_t(body.size())));

    LARGE_INTEGER t0, t1, t2, t3;
    CInternet net;
    QueryPerformanceCounter(&t0);
    ASSERT_TRUE(net.Download(net_test::Url(L"bench.bin").c_str()));
    QueryPerformanceCounter(&t1);
    printf("CInternet: %u bytes in %.3f s (%.1f MB/s)\n", net.received, Seconds(t0, t1),
           net.received / Seconds(t0, t1) / 1e6);

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
}

}  // namespace
