// The download way against a server that lies: a manifest with climbing
// paths, wrong sizes and digests, endless lengths and stalls. Nothing lands
// outside the installation directory or is deleted there, the run ends with
// 1603 within the time-outs, and only files that match their entry stay.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "app/install_worker.h"
#include "client/update_download.h"
#include "support/digest.h"
#include "support/internet.h"
#include "tests/hostile/hostile_fixture.h"

using hostile::Text;
using testing_util::FileExists;
using testing_util::ReadAll;

namespace {

std::wstring Env(const wchar_t* name) {
    const wchar_t* v = _wgetenv(name);
    return v ? v : L"";
}

std::wstring Md5(const std::string& bytes) {
    wchar_t digest[33] = {};
    DigestOfBuffer(digest, bytes.data(), uint32_t(bytes.size()));
    return digest;
}

// What http_server.py sends for its scripted answers.
std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = char((i * 7 + 1) % 251 + 1);
    return s;
}

class LyingServer : public hostile::Sandbox {
protected:
    void SetUp() override {
        hostile::Sandbox::SetUp();
        if (Env(L"SKIN_TEST_HTTP_PORT").empty()) GTEST_SKIP() << "no local HTTP server";
        served = Env(L"SKIN_TEST_HTTP_ROOT") + L"hostile" + tag + L"\\";
        base = L"http://127.0.0.1:" + Env(L"SKIN_TEST_HTTP_PORT");
        SHCreateDirectoryExW(nullptr, (served + L"files").c_str(), nullptr);
    }
    void TearDown() override {
        testing_util::RemoveTree(served);
        hostile::Sandbox::TearDown();
    }
    std::wstring FileUrl(const std::wstring& name) { return base + L"/hostile" + tag + L"/files/" + name; }
    void ServeFile(const std::wstring& name, const std::string& bytes) {
        ASSERT_TRUE(testing_util::WriteAll(served + L"files\\" + name, bytes.data(), bytes.size()));
    }
    // The manifest as the server hands it out: UTF-16LE with its mark.
    std::wstring ServeManifest(const std::wstring& xml) {
        std::wstring text = L"\xFEFF" + xml;
        EXPECT_TRUE(testing_util::WriteAll(served + L"update.xml", text.data(), text.size() * 2));
        return base + L"/hostile" + tag + L"/update.xml";
    }
    static std::wstring Item(int action, const std::wstring& file, const std::wstring& size,
                             const std::wstring& md5, const std::wstring& url) {
        return L"<item action=\"" + std::to_wstring(action) + L"\" file=\"" + file + L"\" size=\"" +
               size + L"\" md5=\"" + md5 + L"\" url=\"" + url + L"\"/>\n\r";
    }
    std::wstring served, base;
};

}  // namespace

TEST_F(LyingServer, AManifestThatLiesInstallsOnlyWhatMatchesAndStaysInside) {
    const std::string good = "good bytes", other = "other bytes";
    ServeFile(L"good.txt", good);
    ServeFile(L"other.txt", other);
    // Files that are already there: one the manifest tries to delete from
    // outside, one inside that a lying entry must not replace.
    ASSERT_TRUE(CreateDirectoryW(installDir.c_str(), nullptr));
    ASSERT_TRUE(testing_util::WriteAll(Installed(L"old.txt"), "old", 3));
    const std::wstring goodMd5 = Md5(good), otherMd5 = Md5(other);
    const std::wstring goodUrl = FileUrl(L"good.txt"), otherUrl = FileUrl(L"other.txt");
    const std::wstring bad = base + L"/bad/";
    std::wstring xml = L"<list version=\"1.0.0.5\">\r\n";
    // Names that climb, are absolute or name devices: refused.
    for (const wchar_t* file : {L"..\\..\\evil1.txt", L"..\\keep.txt", L"C:\\evil2.txt", L"\\evil3.txt",
                                L"a\\..\\..\\evil4.txt", L"x\\. .\\..\\evil5.txt", L"CON", L"nul.txt",
                                L"\\\\server\\share\\evil6.txt", L"ok.txt:stream", L"", L"."})
        xml += Item(0, file, std::to_wstring(good.size()), goodMd5, goodUrl);
    // Deletions outside the directory: refused, nothing goes.
    xml += Item(1, L"..\\keep.txt", L"0", L"", goodUrl);
    xml += Item(1, L"..\\..\\outer\\keep.txt", L"0", L"", goodUrl);
    // Sizes and digests that do not match the body: not written.
    xml += Item(0, L"old.txt", std::to_wstring(other.size() + 1), otherMd5, otherUrl);
    xml += Item(0, L"short.txt", std::to_wstring(other.size() - 1), otherMd5, otherUrl);
    xml += Item(0, L"digest.txt", std::to_wstring(other.size()), goodMd5, otherUrl);
    xml += Item(0, L"negative.txt", L"-5", otherMd5, otherUrl);
    xml += Item(0, L"zero.txt", L"0", otherMd5, otherUrl);
    xml += Item(0, L"overflow.txt", L"99999999999999999999", otherMd5, otherUrl);
    // Lying or hostile answers: an endless length, more than announced,
    // fewer than announced, no length, an error page.
    xml += Item(0, L"huge.bin", L"0", goodMd5, bad + L"huge");
    xml += Item(0, L"huge2.bin", L"100", goodMd5, bad + L"huge");
    xml += Item(0, L"longer.bin", L"100", Md5(Pattern(100)), bad + L"longer");
    xml += Item(0, L"cut.bin", L"40000", Md5(Pattern(40000)), bad + L"cut");
    xml += Item(0, L"nolength.bin", L"1000", Md5(Pattern(1000)), bad + L"nolength");
    xml += Item(0, L"404.bin", L"800", goodMd5, bad + L"404");
    // Addresses that are no HTTP.
    xml += Item(0, L"file.bin", std::to_wstring(good.size()), goodMd5, L"file:///C:/windows/win.ini");
    xml += Item(0, L"noscheme.bin", std::to_wstring(good.size()), goodMd5, L"good.txt");
    // And one honest entry.
    xml += Item(0, L"sub\\good.txt", std::to_wstring(good.size()), goodMd5, goodUrl);
    xml += L"</list>\n\r";
    config.SetConfig(ServeManifest(xml).c_str());

    std::wstring exe = Build(fixture::SkinItems());
    DWORD start = GetTickCount();
    EXPECT_EQ(1603u, RunSilent(exe));
    EXPECT_LT(GetTickCount() - start, 45000u) << "stalled beyond the time-outs";
    ExpectOutsideUnchanged();

    EXPECT_EQ(good, Text(ReadAll(Installed(L"sub\\good.txt"))));
    EXPECT_EQ("old", Text(ReadAll(Installed(L"old.txt"))));
    std::set<std::wstring> tree;
    hostile::ListTree(installDir, &tree);
    std::set<std::wstring> allowed = {Installed(L"sub\\"), Installed(L"sub\\good.txt"),
                                      Installed(L"old.txt"), Installed(L"uninst.dat")};
    for (const std::wstring& p : tree)
        EXPECT_TRUE(allowed.count(p)) << "unexpected: " << testing_util::Narrow(p);
    // Partial: registered, but not as the manifest's release.
    EXPECT_EQ(L"1.0.0.5", e2e::RegistryValue(productKey, L"version"));
    EXPECT_EQ(L"", e2e::RegistryValue(productKey, L"md5"));
}

// The manifest itself cannot be had or read: nothing is installed or
// registered, and a stalling server is given up within the time-outs: a
// stall is worth another try, so four attempts of the 7 s receive time-out
// and the waits of 1, 2 and 4 s between them (35 s), and the run's start.
TEST_F(LyingServer, AnUnusableManifestFailsCleanly) {
    const std::string good = "good bytes";
    ServeFile(L"good.txt", good);
    std::wstring item = Item(0, L"good.txt", std::to_wstring(good.size()), Md5(good), FileUrl(L"good.txt"));
    struct Case {
        const char* what;
        std::wstring url;  // empty: served from `body`
        std::wstring body;
    } cases[] = {
        {"unterminated list tag", L"", L"<list version=\"1.0" + item},
        {"endless length", base + L"/bad/huge", L""},
        {"stalls half-way", base + L"/bad/slow", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing_util::RemoveTree(installDir);
        config.SetConfig((c.url.empty() ? ServeManifest(c.body) : c.url).c_str());
        std::wstring exe = Build(fixture::SkinItems());
        DWORD start = GetTickCount();
        EXPECT_EQ(1603u, RunSilent(exe));
        EXPECT_LT(GetTickCount() - start, 50000u) << "stalled beyond the time-outs";
        ExpectOutsideUnchanged();
        ExpectNotRegistered();
        EXPECT_FALSE(FileExists(Installed(L"good.txt")));
        ResetProduct();
    }
}

namespace {

struct MaxReport : IInstallReport {
    void Progress(const wchar_t*, uint32_t total, uint32_t done, uint64_t, uint64_t) override {
        ++reports;
        if (done > total) ++beyond;
        lastTotal = total;
    }
    bool StopRequested() override { return false; }
    int reports = 0, beyond = 0;
    uint32_t lastTotal = 0;
};

}  // namespace

// Sizes whose sum passes 32 bits: the counts saturate instead of wrapping,
// so the progress never runs past its total.
TEST_F(LyingServer, SizesBeyondThirtyTwoBitsDoNotWrapTheProgress) {
    std::wstring xml = L"<list version=\"1.0.0.5\">\r\n";
    for (int i = 0; i < 3; ++i)
        xml += Item(0, L"big" + std::to_wstring(i) + L".bin", L"2147483647",
                    L"00000000000000000000000000000000", base + L"/bad/404");
    xml += L"</list>\n\r";
    std::wstring url = ServeManifest(xml);
    InstallJob job;
    job.installDir = installDir.c_str();
    job.manifestUrl = url.c_str();
    MaxReport report;
    InstallResult result = RunInstall(job, report);
    EXPECT_EQ(InstallOutcome::kDownloaded, result.outcome);
    EXPECT_EQ(3u, result.failed);
    EXPECT_TRUE(result.NothingInstalled());
    EXPECT_GT(report.reports, 0);
    EXPECT_EQ(0, report.beyond);
    EXPECT_EQ(UINT32_MAX, report.lastTotal);
}

// A server that sends a byte now and then is never silent long enough for
// the receive time-out; the low-speed limit gives it up.
TEST_F(LyingServer, ATricklingServerIsGivenUp) {
    CInternet net;
    net.SetLowSpeedLimit(100, 1500);  // the default is 1 KB a minute
    DWORD start = GetTickCount();
    std::wstring url = base + L"/bad/trickle";
    EXPECT_FALSE(net.Download(url.c_str()));
    // Not before the limit's window has passed; and long before the body's
    // end (the server would need 200 s for it), which the count shows
    // without leaning on how busy this machine is.
    EXPECT_GE(GetTickCount() - start, 1500u);
    EXPECT_GT(net.received, 0u);
    EXPECT_LT(net.received, 1000u);
}

// An entry of 0 bytes whose address serves a large body: the body is refused
// by its announced length before any of it is read into memory.
TEST_F(LyingServer, AnEmptyEntryDoesNotDownloadALargeBody) {
    std::string big = fixture::Noise(3 * 1024 * 1024, 5);
    ServeFile(L"big.bin", big);
    UpdateItem item = {};
    item.action = kUpdateAdd;
    item.size = 0;
    wcscpy(item.file, L"empty.bin");
    wcscpy(item.md5, Md5("").c_str());
    wcscpy(item.url, FileUrl(L"big.bin").c_str());
    int chunks = 0;
    DownloadProgress progress = {};
    progress.callback = [](uint32_t, uint32_t, const wchar_t* file, void* user) {
        if (!file) ++*static_cast<int*>(user);
    };
    progress.user = &chunks;
    ASSERT_TRUE(CreateDirectoryW(installDir.c_str(), nullptr));
    EXPECT_FALSE(DownloadItem(installDir.c_str(), &progress, &item));
    EXPECT_EQ(0, chunks) << "body bytes were read";
    EXPECT_FALSE(FileExists(Installed(L"empty.bin")));
}
