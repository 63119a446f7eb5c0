#include "client/update_download.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <iterator>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "support/digest.h"
#include "support/handle.h"
#include "support/internet.h"
#include "tests/common/test_util.h"
#include "tests/net/net_fixture.h"

using net_test::Pattern;
using net_test::ServedPath;
using net_test::Url;
using testing_util::FileExists;
using testing_util::ReadAll;
using testing_util::TempDir;
using testing_util::WriteAll;

namespace {

struct ReportEntry {
    uint32_t total;
    uint32_t done;
    std::wstring file;  // "-" for null
    bool operator==(const ReportEntry& o) const {
        return total == o.total && done == o.done && file == o.file;
    }
};

void PrintTo(const ReportEntry& r, std::ostream* os) {
    *os << "(" << r.total << ", " << r.done << ", " << testing_util::Narrow(r.file) << ")";
}


std::wstring Md5(const std::vector<uint8_t>& bytes, bool upper = true) {
    wchar_t out[33] = {};
    EXPECT_TRUE(DigestOfBuffer(out, bytes.data(), uint32_t(bytes.size())));
    std::wstring s = out;
    if (!upper)
        for (auto& c : s) c = towlower(c);
    return s;
}

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// Served files live in one folder per test so that tests never share names.
class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_SERVER();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter_) +
                  L"-" + std::wstring(info->name(), info->name() + strlen(info->name()));
        for (auto& c : folder_)
            if (c == L'/') c = L'_';
        ASSERT_TRUE(CreateDirectoryW(ServedPath(folder_).c_str(), nullptr));
        install = root.path() + L"inst\\";
        ASSERT_TRUE(CreateDirectoryW(install.c_str(), nullptr));
        progress.callback = [](uint32_t total, uint32_t done, const wchar_t* file, void* self) {
            static_cast<DownloadTest*>(self)->reports.push_back({total, done, file ? file : L"-"});
        };
        progress.user = this;
        // Retry waits are recorded, not waited out; notices are kept.
        progress.wait = [](uint32_t ms, void* self) {
            auto* test = static_cast<DownloadTest*>(self);
            test->waits.push_back(ms);
            return !test->stopInWait;
        };
        progress.notice = [](const DownloadNotice& n, void* self) {
            static_cast<DownloadTest*>(self)->notices.push_back(n);
        };
    }

    std::wstring Serve(const std::wstring& name, const std::vector<uint8_t>& bytes) {
        EXPECT_TRUE(WriteAll(ServedPath(folder_ + L"\\" + name), bytes));
        return Url(folder_ + L"/" + name);
    }
    std::wstring Unserved(const std::wstring& name) { return Url(folder_ + L"/" + name); }
    // This test's served folder and its address.
    std::wstring Folder() const { return ServedPath(folder_ + L"\\"); }
    std::wstring FolderUrl() const { return Url(folder_); }

    static UpdateItem Item(int32_t action, const std::wstring& file, int32_t size,
                           const std::wstring& md5, const std::wstring& url) {
        UpdateItem item{};
        item.action = action;
        item.size = size;
        wcsncpy(item.file, file.c_str(), 511);
        wcsncpy(item.url, url.c_str(), 767);
        wcsncpy(item.md5, md5.c_str(), 33);
        return item;
    }

    // Manifest text as the server hands it out: UTF-16LE with its mark.
    static std::vector<uint8_t> ManifestBytes(const std::vector<UpdateItem>& items) {
        std::wstring text = L"<list version=\"1.0\">\r\n";
        for (const auto& i : items)
            text += L"<item action=\"" + std::to_wstring(i.action) + L"\" file=\"" + i.file +
                    L"\" size=\"" + std::to_wstring(i.size) + L"\" md5=\"" + i.md5 +
                    L"\" url=\"" + i.url + L"\"/>\n\r";
        text += L"</list>\n\r";
        std::vector<uint8_t> bytes(2 + text.size() * sizeof(wchar_t));
        bytes[0] = 0xFF;
        bytes[1] = 0xFE;
        memcpy(bytes.data() + 2, text.data(), text.size() * sizeof(wchar_t));
        return bytes;
    }

    bool Apply(const std::vector<uint8_t>& manifest) {
        return ApplyManifest(&progress, install.c_str(), manifest.data(),
                             uint32_t(manifest.size()));
    }

    // Names in a folder, to show that no temporary file was left behind.
    static std::vector<std::wstring> List(const std::wstring& dir) {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((dir + L"*").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE) return names;
        do {
            std::wstring n = fd.cFileName;
            if (n != L"." && n != L"..") names.push_back(n);
        } while (FindNextFileW(h, &fd));
        FindClose(h);
        return names;
    }

    // Lines of the server's log of a file served from this test's folder
    // under /serve/OPTIONS/.
    std::vector<std::string> ServerLog(const std::wstring& name) {
        std::vector<std::string> lines;
        std::string line;
        for (uint8_t b : ReadAll(Folder() + name + L".log")) {
            if (b != '\n') {
                line += char(b);
                continue;
            }
            lines.push_back(line);
            line.clear();
        }
        return lines;
    }
    std::wstring ServedUrl(const std::wstring& options, const std::wstring& name) {
        return Url(L"serve/" + options + L"/" + folder_ + L"/" + name);
    }

    // A file whose transfer is cut at 40 % and whose range request (logged
    // beginning with asked) the server answers so (logged ending in
    // answered) that the kept bytes cannot be continued: the download still
    // succeeds, by starting over with a third request for everything.
    void ExpectStartsOver(const std::wstring& name, size_t size, const std::wstring& options,
                          const std::string& asked, const std::string& answered) {
        const auto body = Pattern(size);
        Serve(name, body);
        UpdateItem item = Item(0, name, int32_t(size), Md5(body), ServedUrl(options, name));
        EXPECT_TRUE(DownloadItem(install.c_str(), &progress, &item));
        EXPECT_EQ(body, ReadAll(install + name));
        std::vector<std::string> log = ServerLog(name);
        ASSERT_EQ(3u, log.size());
        EXPECT_EQ("range=- if-range=- status=200", log[0]);
        EXPECT_EQ(0u, log[1].find(asked));
        EXPECT_EQ(answered, log[1].substr(log[1].rfind(' ') + 1));
        EXPECT_EQ("range=- if-range=- status=200", log[2]);
        EXPECT_EQ(List(install), std::vector<std::wstring>{name});
        // The refused body was not read on top of what was kept.
        for (const ReportEntry& r : reports) EXPECT_LE(r.done, size);
    }

    TempDir root;
    std::wstring install;
    DownloadProgress progress{};
    std::vector<ReportEntry> reports;
    std::vector<uint32_t> waits;
    std::vector<DownloadNotice> notices;
    bool stopInWait = false;

private:
    std::wstring folder_;
    static inline int counter_ = 0;
};

TEST_F(DownloadTest, TwoEntriesReportTotalDoneAndNamesInOrder) {
    auto a = Pattern(100), b = Bytes(std::string(50, 'b'));
    std::vector<UpdateItem> items = {Item(0, L"sub\\a.bin", 100, Md5(a), Serve(L"a.bin", a)),
                                     Item(0, L"b.bin", 50, Md5(b), Serve(L"b.bin", b))};
    auto manifest = ManifestBytes(items);
    EXPECT_TRUE(Apply(manifest));
    const std::vector<ReportEntry> expected = {
        {150, 0, L"-"},   {150, 0, L"sub\\a.bin"}, {150, 100, L"-"}, {150, 100, L"-"},
        {150, 100, L"b.bin"}, {150, 150, L"-"},   {150, 150, L"-"}, {150, 150, L"-"}};
    EXPECT_EQ(reports, expected);
    EXPECT_EQ(progress.total, 150u);
    EXPECT_EQ(progress.done, 150u);
    EXPECT_EQ(ReadAll(install + L"sub\\a.bin"), a);
    EXPECT_EQ(ReadAll(install + L"b.bin"), b);
    EXPECT_EQ(std::wstring(progress.digest), Md5(manifest));
    EXPECT_EQ(List(install + L"sub\\"), std::vector<std::wstring>{L"a.bin"});
}

TEST_F(DownloadTest, ManifestFetchedFromServer) {
    auto a = Bytes("first file");
    std::vector<UpdateItem> items = {
        Item(0, L"中文\\文件.txt", 10, Md5(a), Serve(L"a.txt", a))};
    auto manifest = ManifestBytes(items);
    std::wstring address = Serve(L"update.xml", manifest);
    DownloadManifestAndFiles(address.c_str(), install.c_str(), &progress);
    EXPECT_EQ(ReadAll(install + L"中文\\文件.txt"), a);
    EXPECT_EQ(std::wstring(progress.digest), Md5(manifest));
}

// Names with blanks, Chinese characters and characters that mean something
// in an address; the packaging tool lists them with AddDirectory.
TEST_F(DownloadTest, NamesThatNeedEscapingArriveUnderTheirOwnNames) {
    const std::wstring sub = L"资源 目录\\";
    const std::vector<std::wstring> names = {L"文件 0000.bin", L"a#b.bin", L"100%.bin",
                                             L"50%41.bin", L"c++ & d.bin", L"x+y=z&w.bin"};
    ASSERT_TRUE(CreateDirectoryW((Folder() + sub).c_str(), nullptr));
    for (size_t i = 0; i < names.size(); ++i)
        ASSERT_TRUE(WriteAll(Folder() + sub + names[i], Pattern(100 + i)));
    CUpdateInfo listed;
    ASSERT_EQ(int(names.size()), listed.AddDirectory(FolderUrl().c_str(), Folder().c_str(), nullptr));
    std::vector<UpdateItem> items;
    for (uint32_t i = 0; i < listed.Count(); ++i) items.push_back(*listed.GetItem(i));
    EXPECT_TRUE(Apply(ManifestBytes(items)));
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(ReadAll(install + sub + names[i]), Pattern(100 + i)) << testing_util::Narrow(names[i]);
    EXPECT_EQ(std::wstring(progress.digest).size(), 32u);
}

// Manifests of other tools may write addresses as they are, or escaped
// already: the downloader escapes what an address cannot hold, and only that.
TEST_F(DownloadTest, AddressesAreEscapedBeforeTheRequestExceptExistingEscapes) {
    struct Case {
        const wchar_t* served;
        const wchar_t* written;  // in the manifest's url, after the folder
    } cases[] = {
        {L"文件 0000.bin", L"文件 0000.bin"},
        {L"c++ & d.bin", L"c++ & d.bin"},
        {L"文件 1.bin", L"%E6%96%87%E4%BB%B6%201.bin"},
        {L"半 文.bin", L"%E5%8D%8A%20文.bin"},
        {L"100%.bin", L"100%.bin"},  // a "%" that starts no escape is a character
    };
    std::vector<UpdateItem> items;
    for (size_t i = 0; i < std::size(cases); ++i) {
        auto bytes = Pattern(200 + i);
        Serve(cases[i].served, bytes);
        items.push_back(Item(0, L"f" + std::to_wstring(i), int32_t(bytes.size()), Md5(bytes),
                             FolderUrl() + L"/" + cases[i].written));
    }
    EXPECT_TRUE(Apply(ManifestBytes(items)));
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(ReadAll(install + L"f" + std::to_wstring(i)), Pattern(200 + i))
            << testing_util::Narrow(cases[i].written);
}

TEST_F(DownloadTest, ManifestThatCannotBeFetchedOrReadChangesNothing) {
    std::wcscpy(progress.digest, L"STALE");
    DownloadManifestAndFiles(Unserved(L"update.xml").c_str(), install.c_str(), &progress);
    EXPECT_EQ(progress.digest[0], 0);
    EXPECT_TRUE(reports.empty());

    auto junk = Bytes("<html>no manifest here</html>");
    EXPECT_FALSE(Apply(junk));
    EXPECT_EQ(progress.digest[0], 0);
    EXPECT_TRUE(reports.empty());
    EXPECT_TRUE(List(install).empty());
}

TEST_F(DownloadTest, FailedEntryLeavesDigestEmptyButOthersAreInstalled) {
    auto a = Bytes("good"), b = Bytes("bad!");
    std::vector<UpdateItem> items = {Item(0, L"missing.bin", 4, Md5(b), Unserved(L"gone.bin")),
                                     Item(0, L"a.bin", 4, Md5(a), Serve(L"a.bin", a))};
    auto manifest = ManifestBytes(items);
    EXPECT_FALSE(Apply(manifest));
    EXPECT_EQ(ReadAll(install + L"a.bin"), a);
    EXPECT_FALSE(FileExists(install + L"missing.bin"));
    // A partial installation must not claim to be the current release.
    EXPECT_EQ(progress.digest[0], 0);
    // The failed entry still advanced done by its size.
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports[2], (ReportEntry{8, 4, L"-"}));
    EXPECT_EQ(reports.back(), (ReportEntry{8, 8, L"-"}));
}

TEST_F(DownloadTest, UpToDateFileIsNotDownloaded) {
    auto content = Pattern(300);
    for (bool upper : {true, false}) {
        SCOPED_TRACE(upper ? "upper-case digest" : "lower-case digest");
        ASSERT_TRUE(WriteAll(install + L"same.bin", content));
        // The address answers 404: only skipping the download can succeed.
        UpdateItem item = Item(0, L"same.bin", 300, Md5(content, upper), Unserved(L"nothing.bin"));
        reports.clear();
        EXPECT_TRUE(DownloadItem(install.c_str(), &progress, &item));
        EXPECT_TRUE(reports.empty());
        EXPECT_EQ(ReadAll(install + L"same.bin"), content);
    }
}

TEST_F(DownloadTest, StaleFileOfSameOrOtherSizeIsReplaced) {
    auto fresh = Pattern(300);
    std::wstring url = Serve(L"fresh.bin", fresh);
    const std::vector<std::vector<uint8_t>> olds = {Bytes(std::string(300, 'o')), Bytes("short")};
    for (const auto& old : olds) {
        ASSERT_TRUE(WriteAll(install + L"file.bin", old));
        UpdateItem item = Item(0, L"file.bin", 300, Md5(fresh, false), url);
        EXPECT_TRUE(DownloadItem(install.c_str(), &progress, &item));
        EXPECT_EQ(ReadAll(install + L"file.bin"), fresh);
    }
    EXPECT_EQ(List(install), std::vector<std::wstring>{L"file.bin"});
}

// A read-only file of an earlier release is replaced like any other
// (Windows refuses the plain move over it; Wine does not).
TEST_F(DownloadTest, AReadOnlyOldFileIsReplaced) {
    auto fresh = Pattern(500);
    ASSERT_TRUE(WriteAll(install + L"ro.bin", Bytes("old")));
    ASSERT_TRUE(SetFileAttributesW((install + L"ro.bin").c_str(), FILE_ATTRIBUTE_READONLY));
    UpdateItem item = Item(0, L"ro.bin", 500, Md5(fresh), Serve(L"ro.bin", fresh));
    EXPECT_TRUE(DownloadItem(install.c_str(), &progress, &item));
    EXPECT_EQ(fresh, ReadAll(install + L"ro.bin"));
    EXPECT_EQ(List(install), std::vector<std::wstring>{L"ro.bin"});
    SetFileAttributesW((install + L"ro.bin").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A file a running program holds cannot be replaced: the entry fails, the
// old file stays, and the verified download is kept, so the next run puts it
// in place without fetching it again (the address answers 404 by then).
TEST_F(DownloadTest, AFileInUseIsReplacedByTheNextRunWithoutFetchingAgain) {
    auto fresh = Pattern(5000);
    const std::wstring target = install + L"client.exe";
    ASSERT_TRUE(WriteAll(target, Bytes("old")));
    UpdateItem item = Item(0, L"client.exe", 5000, Md5(fresh), ServedUrl(L"-", L"client.exe"));
    Serve(L"client.exe", fresh);
    {
        UniqueFile running(CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(running);
        EXPECT_FALSE(DownloadItem(install.c_str(), &progress, &item));
    }
    EXPECT_EQ(Bytes("old"), ReadAll(target));
    EXPECT_EQ(fresh, ReadAll(install + L"~dlclient.exe.part"));
    EXPECT_EQ(1u, ServerLog(L"client.exe").size());
    ASSERT_TRUE(DeleteFileW((Folder() + L"client.exe").c_str()));

    EXPECT_TRUE(DownloadItem(install.c_str(), &progress, &item));
    EXPECT_EQ(fresh, ReadAll(target));
    EXPECT_EQ(1u, ServerLog(L"client.exe").size());
    EXPECT_EQ(List(install), std::vector<std::wstring>{L"client.exe"});
}

// Answers that must not replace the old file; the entry fails.
TEST_F(DownloadTest, BodyThatDoesNotMatchItsEntryLeavesOldFile) {
    auto expected = Pattern(40000);
    auto wrong = expected;
    wrong[123] ^= 0xFF;
    const struct {
        const char* what;
        std::wstring url;
        int32_t size;
    } cases[] = {
        {"digest differs", Serve(L"wrong.bin", wrong), 40000},
        {"body shorter than the entry", Serve(L"short.bin", Pattern(39999)), 40000},
        {"body longer than the entry", Serve(L"long.bin", Pattern(40001)), 40000},
        {"connection cut half-way", Url(L"bad/cut"), 40000},
        {"404", Unserved(L"absent.bin"), 40000},
        {"negative size", Serve(L"neg.bin", expected), -1},
    };
    auto old = Bytes("the old, good file");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteAll(install + L"keep.bin", old));
        UpdateItem item = Item(0, L"keep.bin", c.size, Md5(expected), c.url);
        EXPECT_FALSE(DownloadItem(install.c_str(), &progress, &item));
        EXPECT_EQ(ReadAll(install + L"keep.bin"), old);
        EXPECT_EQ(List(install), std::vector<std::wstring>{L"keep.bin"});
    }
}

TEST_F(DownloadTest, EntriesThatLeaveTheDirectoryAreRefused) {
    auto body = Bytes("payload");
    std::wstring url = Serve(L"evil.bin", body);
    std::wstring outside = root.path() + L"evil.txt";  // beside the install dir
    std::wstring noDrive = outside.substr(2);         // "\...\evil.txt"
    const std::wstring files[] = {
        L"..\\evil.txt",    L"../evil.txt",      L"sub\\..\\..\\evil.txt", L"a/b/../../../evil.txt",
        L"...\\evil.txt",   L".. \\evil.txt",    outside,                 noDrive,
        L"Z:evil.txt",      L"\\\\?\\" + outside, L"evil.txt:stream",      L"nul",
        L"sub\\con.txt",    L"",                 L".",                    L"sub\\\\x",
        L"Lpt1",            L"conout$",          L"sub\\",
    };
    for (const auto& file : files) {
        SCOPED_TRACE(testing_util::Narrow(file));
        UpdateItem add = Item(0, file, 7, Md5(body), url);
        EXPECT_FALSE(DownloadItem(install.c_str(), &progress, &add));
        EXPECT_FALSE(FileExists(outside));

        ASSERT_TRUE(WriteAll(outside, body));
        UpdateItem del = Item(1, file, 7, Md5(body), url);
        EXPECT_FALSE(DownloadItem(install.c_str(), &progress, &del));
        EXPECT_TRUE(FileExists(outside));
        DeleteFileW(outside.c_str());
    }
    EXPECT_TRUE(List(install).empty());
}

TEST_F(DownloadTest, DeleteAction) {
    auto body = Bytes("x");
    ASSERT_TRUE(WriteAll(install + L"old.txt", body));
    // An empty address makes the entry invalid: nothing is deleted.
    UpdateItem noUrl = Item(1, L"old.txt", 1, L"", L"");
    EXPECT_FALSE(DownloadItem(install.c_str(), &progress, &noUrl));
    EXPECT_TRUE(FileExists(install + L"old.txt"));

    UpdateItem del = Item(1, L"old.txt", 1, L"", L"http://127.0.0.1:1/unused");
    EXPECT_TRUE(DownloadItem(install.c_str(), &progress, &del));
    EXPECT_FALSE(FileExists(install + L"old.txt"));
    EXPECT_TRUE(DownloadItem(install.c_str(), &progress, &del)) << "already gone is fine";

    ASSERT_TRUE(WriteAll(install + L"other.txt", body));
    UpdateItem unknown = Item(7, L"other.txt", 1, L"", L"http://127.0.0.1:1/unused");
    EXPECT_TRUE(DownloadItem(install.c_str(), &progress, &unknown));
    EXPECT_TRUE(FileExists(install + L"other.txt"));
    EXPECT_TRUE(reports.empty());
}

TEST(RequestAddress, AppendsQueryWithRandomNumber) {
    wchar_t out[64];
    ASSERT_TRUE(BuildRequestAddress(out, 64, L"http://h/u.xml"));
    std::wstring s = out;
    const std::wstring prefix = L"http://h/u.xml?ts=800";
    ASSERT_EQ(s.compare(0, prefix.size(), prefix), 0) << testing_util::Narrow(s);
    std::wstring digits = s.substr(prefix.size());
    ASSERT_FALSE(digits.empty());
    EXPECT_EQ(digits.find_first_not_of(L"0123456789"), std::wstring::npos);
    EXPECT_LE(std::stol(digits), 32767);
    // Too long for the buffer: refused, never cut.
    EXPECT_FALSE(BuildRequestAddress(out, 20, L"http://h/u.xml"));
}

// Failures that another try may mend are tried again, up to four attempts,
// after waits that double from one second, or what Retry-After asks (up to
// 30 s); permanent answers are not. The server's log counts the requests.
TEST_F(DownloadTest, TransientFailuresAreRetriedPermanentOnesAreNot) {
    auto body = Pattern(5000);
    auto wrong = body;
    wrong[10] ^= 1;
    struct Case {
        const wchar_t* options;
        bool wrongBody;
        bool installed;
        size_t requests;
        std::vector<uint32_t> waits;
        uint32_t lastStatus;
    } cases[] = {
        {L"fail503x2", false, true, 3, {1000, 2000}, 0},
        {L"fail429x2,after3", false, true, 3, {3000, 3000}, 0},
        {L"fail429x1,after99", false, true, 2, {30000}, 0},
        {L"fail408x1", false, true, 2, {1000}, 0},
        {L"fail502x9", false, false, 4, {1000, 2000, 4000}, 502},
        {L"fail404x9", false, false, 1, {}, 404},
        {L"fail403x9", false, false, 1, {}, 403},
        {L"fail410x9", false, false, 1, {}, 410},
        {L"-", true, false, 1, {}, 200},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing_util::Narrow(c.options));
        const std::wstring name = L"retry" + std::to_wstring(++n) + L".bin";
        Serve(name, c.wrongBody ? wrong : body);
        ASSERT_TRUE(WriteAll(install + L"target.bin", Bytes("old")));
        waits.clear();
        notices.clear();
        UpdateItem item = Item(0, L"target.bin", 5000, Md5(body), ServedUrl(c.options, name));
        EXPECT_EQ(c.installed, DownloadItem(install.c_str(), &progress, &item));
        EXPECT_EQ(c.installed ? body : Bytes("old"), ReadAll(install + L"target.bin"));
        EXPECT_EQ(c.requests, ServerLog(name).size());
        EXPECT_EQ(c.waits, waits);
        // One notice per retry, with the attempt to come, and one when given up.
        ASSERT_EQ(c.waits.size() + (c.installed ? 0 : 1), notices.size());
        for (size_t i = 0; i < c.waits.size(); ++i) {
            EXPECT_EQ(DownloadEvent::kRetrying, notices[i].event);
            EXPECT_EQ(i + 2, notices[i].attempt);
            EXPECT_EQ(4u, notices[i].attempts);
            EXPECT_EQ(c.waits[i], notices[i].waitMs);
            EXPECT_STREQ(L"target.bin", notices[i].file);
        }
        if (!c.installed) {
            EXPECT_EQ(DownloadEvent::kFailed, notices.back().event);
            EXPECT_EQ(c.lastStatus, notices.back().status);
            EXPECT_FALSE(notices.back().certificate);
        }
        EXPECT_EQ(List(install), std::vector<std::wstring>{L"target.bin"}) << "a partial file stayed";
    }
}

// A stop during the wait before a retry ends the entry there: no further
// request, the old file kept.
TEST_F(DownloadTest, StopDuringARetryWaitEndsTheEntry) {
    Serve(L"stop.bin", Pattern(100));
    ASSERT_TRUE(WriteAll(install + L"stop.bin", Bytes("old")));
    stopInWait = true;
    UpdateItem item = Item(0, L"stop.bin", 100, Md5(Pattern(100)), ServedUrl(L"fail503x9", L"stop.bin"));
    EXPECT_FALSE(DownloadItem(install.c_str(), &progress, &item));
    EXPECT_EQ(1u, ServerLog(L"stop.bin").size());
    EXPECT_EQ(std::vector<uint32_t>{1000}, waits);
    EXPECT_EQ(Bytes("old"), ReadAll(install + L"stop.bin"));
}

// A body cut at 40 % continues from the cut with a range request that
// carries the first answer's ETag; a server that ignores ranges sends it all
// again. Either way the file is whole and nothing else stays.
TEST_F(DownloadTest, ACutTransferContinuesFromTheCut) {
    const size_t size = 3 * 1024 * 1024 + 5;
    const auto body = Pattern(size);
    const std::string cut = std::to_string(size * 40 / 100);
    struct Case {
        const wchar_t* options;
        std::string second;  // the second request as the server logged it, after the If-Range
    } cases[] = {
        {L"cut40", "status=206"},
        {L"cut40,norange", "status=200"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing_util::Narrow(c.options));
        const std::wstring name = L"big" + std::to_wstring(++n) + L".bin";
        Serve(name, body);
        UpdateItem item = Item(0, name, int32_t(size), Md5(body), ServedUrl(c.options, name));
        ASSERT_TRUE(DownloadItem(install.c_str(), &progress, &item));
        EXPECT_TRUE(ReadAll(install + name) == body);
        std::vector<std::string> log = ServerLog(name);
        ASSERT_EQ(2u, log.size());
        EXPECT_EQ("range=- if-range=- status=200", log[0]);
        const std::string prefix = "range=bytes=" + cut + "- if-range=\"";
        EXPECT_EQ(prefix, log[1].substr(0, prefix.size()));
        EXPECT_EQ(c.second, log[1].substr(log[1].rfind(' ') + 1));
        // The reports went up to the cut, and on to the end from there (or
        // from the start again).
        EXPECT_EQ(size, reports.back().done);
        reports.clear();
    }
    std::vector<std::wstring> names = List(install);
    EXPECT_EQ((std::vector<std::wstring>{L"big1.bin", L"big2.bin"}), names);
}

// A 206 that does not begin where the request asked cannot be appended:
// it is refused, the bytes kept so far go, and the next attempt asks for
// everything.
TEST_F(DownloadTest, ARangeAnsweredFromTheWrongPlaceStartsOver) {
    ExpectStartsOver(L"wrong.bin", 2000000, L"cut40,badrange", "range=bytes=800000- if-range=\"",
                     "status=206");
}

// A range the server cannot satisfy (416) means the kept bytes do not fit
// what it has now: they go, and the next attempt asks for everything.
TEST_F(DownloadTest, ARangeTheServerCannotSatisfyStartsOver) {
    ExpectStartsOver(L"416.bin", 1500000, L"cut40,range416", "range=bytes=600000- ", "status=416");
}

// One attempt per run: the first run is cut and keeps its bytes and the
// ETag under names fixed by the target; the second continues from there.
TEST_F(DownloadTest, ASecondRunContinuesWhatTheFirstLeft) {
    const size_t size = 2 * 1024 * 1024;
    const auto body = Pattern(size);
    Serve(L"runs.bin", body);
    progress.policy.attempts = 1;
    UpdateItem item = Item(0, L"sub\\runs.bin", int32_t(size), Md5(body), ServedUrl(L"cut40", L"runs.bin"));
    EXPECT_FALSE(DownloadItem(install.c_str(), &progress, &item));
    EXPECT_FALSE(FileExists(install + L"sub\\runs.bin"));
    EXPECT_EQ(size * 40 / 100, ReadAll(install + L"sub\\~dlruns.bin.part").size());
    EXPECT_TRUE(FileExists(install + L"sub\\~dlruns.bin.part.etag"));

    DownloadProgress second = progress;
    EXPECT_TRUE(DownloadItem(install.c_str(), &second, &item));
    EXPECT_TRUE(ReadAll(install + L"sub\\runs.bin") == body);
    std::vector<std::string> log = ServerLog(L"runs.bin");
    ASSERT_EQ(2u, log.size());
    EXPECT_EQ(0u, log[1].find("range=bytes=" + std::to_string(size * 40 / 100) + "- "));
    EXPECT_NE(std::string::npos, log[1].find("status=206"));
    EXPECT_EQ(List(install + L"sub\\"), std::vector<std::wstring>{L"runs.bin"});
}

// What an earlier run left is continued only when it can be: bytes of this
// very entry (the sidecar names its MD5) with a validator, and no more of
// them than the entry has. Otherwise the request asks for everything.
TEST_F(DownloadTest, LeftBytesAreContinuedOnlyWhenTheyBelongToTheEntry) {
    const auto body = Pattern(30000);
    const std::wstring md5 = Md5(body);
    auto sidecar = [](const std::wstring& digest, const std::wstring& validator) {
        std::wstring text = digest + L"\n" + validator;
        const uint8_t* p = reinterpret_cast<const uint8_t*>(text.data());
        return std::vector<uint8_t>(p, p + text.size() * sizeof(wchar_t));
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> part;
        bool withSidecar;
        std::wstring sidecarMd5;
        std::string range;  // as logged
    } cases[] = {
        {"bytes of this entry", Pattern(10000), true, md5, "bytes=10000-"},
        {"bytes of another entry", Pattern(10000), true, Md5(Pattern(1)), "-"},
        {"no sidecar", Pattern(10000), false, md5, "-"},
        {"more bytes than the entry", Pattern(30001), true, md5, "-"},
        {"all of it, before the rename", Pattern(30000), true, md5, ""},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring name = L"left" + std::to_wstring(++n) + L".bin";
        Serve(name, body);
        // The server's ETag, as a first request would have recorded it.
        CInternet probe;
        struct : IBodySink {
            bool Begin(const HttpAnswer&) override { return false; }
            bool Write(const uint8_t*, uint32_t) override { return false; }
        } refuse;
        HttpAnswer answer;
        probe.Fetch(ServedUrl(L"-", name).c_str(), 0, nullptr, 0, refuse, &answer);
        ASSERT_FALSE(answer.validator.empty());
        ASSERT_TRUE(WriteAll(install + L"~dl" + name + L".part", c.part));
        if (c.withSidecar) {
            ASSERT_TRUE(WriteAll(install + L"~dl" + name + L".part.etag",
                                 sidecar(c.sidecarMd5, answer.validator)));
        }
        UpdateItem item = Item(0, name, 30000, md5, ServedUrl(L"-", name));
        EXPECT_TRUE(DownloadItem(install.c_str(), &progress, &item));
        EXPECT_EQ(body, ReadAll(install + name));
        std::vector<std::string> log = ServerLog(name);
        ASSERT_FALSE(log.empty());
        if (c.range.empty()) {
            EXPECT_EQ(1u, log.size()) << "only the probe";
        } else {
            EXPECT_EQ(2u, log.size());
            EXPECT_EQ(0u, log.back().find("range=" + c.range + " "));
        }
        EXPECT_FALSE(FileExists(install + L"~dl" + name + L".part"));
        EXPECT_FALSE(FileExists(install + L"~dl" + name + L".part.etag"));
    }
}

// Without a validator a cut transfer cannot be continued safely, and a
// small one (under a mebibyte) is not worth keeping a sidecar for: the retry
// asks for everything, and bytes that will not be continued do not stay.
TEST_F(DownloadTest, ACutTransferThatCannotOrNeedNotContinueStartsOver) {
    const struct {
        const wchar_t* options;
        size_t size;
    } cases[] = {{L"cut40,noetag", 2000000}, {L"cut40", 100000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing_util::Narrow(c.options));
        const std::wstring name = L"plain" + std::to_wstring(c.size) + L".bin";
        const auto body = Pattern(c.size);
        Serve(name, body);
        UpdateItem item = Item(0, name, int32_t(c.size), Md5(body), ServedUrl(c.options, name));
        progress.policy.attempts = 1;
        EXPECT_FALSE(DownloadItem(install.c_str(), &progress, &item));
        EXPECT_TRUE(List(install).empty());
        progress.policy.attempts = 4;
        EXPECT_TRUE(DownloadItem(install.c_str(), &progress, &item));
        EXPECT_EQ(body, ReadAll(install + name));
        EXPECT_EQ(List(install), std::vector<std::wstring>{name});
        DeleteFileW((install + name).c_str());
        std::vector<std::string> log = ServerLog(name);
        EXPECT_EQ((std::vector<std::string>{"range=- if-range=- status=200", "range=- if-range=- status=200"}),
                  log);
    }
}

// A file whose path only just fits is still downloaded through its
// partial file (which takes the short name; Wine itself would also take a
// longer one, Windows does not).
TEST_F(DownloadTest, AFileWhosePathJustFitsArrives) {
    const std::wstring name(MAX_PATH - 1 - install.size(), L'x');
    ASSERT_LT(name.size(), 250u) << "the test folder is too short for the case";
    auto body = Pattern(3000);
    UpdateItem item = Item(0, name, 3000, Md5(body), Serve(L"long.bin", body));
    EXPECT_TRUE(DownloadItem(install.c_str(), &progress, &item));
    EXPECT_EQ(body, ReadAll(install + name));
    EXPECT_EQ(List(install), std::vector<std::wstring>{name});
}

TEST(PartialPaths, SitBesideTheTargetUnderFixedNames) {
    wchar_t data[64], side[64];
    ASSERT_TRUE(PartialPathsOf(L"C:\\Game\\data\\a.pak", data, side, 64));
    EXPECT_STREQ(L"C:\\Game\\data\\~dla.pak.part", data);
    EXPECT_STREQ(L"C:\\Game\\data\\~dla.pak.part.etag", side);
    EXPECT_FALSE(PartialPathsOf(L"C:\\Game\\data\\a.pak", data, side, 26));
    EXPECT_FALSE(PartialPathsOf(L"no-folder.pak", data, side, 64));

    // A name that just fits MAX_PATH: the partial files get a short name of
    // their own, the same for the same target whatever its case.
    const std::wstring folder = L"C:\\Game\\";
    const std::wstring longName(MAX_PATH - 1 - folder.size(), L'n');
    wchar_t longData[600], longSide[600], again[600], otherSide[600];
    ASSERT_TRUE(PartialPathsOf((folder + longName).c_str(), longData, longSide, 600));
    EXPECT_LT(wcslen(longSide), size_t(MAX_PATH));
    EXPECT_EQ(0, wcsncmp(longData, (folder + L"~dl").c_str(), folder.size() + 3));
    EXPECT_EQ(folder.size() + 3 + 8 + 5, wcslen(longData));
    std::wstring upper = longName;
    upper[0] = L'N';
    ASSERT_TRUE(PartialPathsOf((folder + upper).c_str(), again, otherSide, 600));
    EXPECT_STREQ(longData, again);
    upper[1] = L'm';
    ASSERT_TRUE(PartialPathsOf((folder + upper).c_str(), again, otherSide, 600));
    EXPECT_STRNE(longData, again);
}

}  // namespace
