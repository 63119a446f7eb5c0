#include "client/update_download.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <iterator>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "support/digest.h"
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

void Record(uint32_t total, uint32_t done, const wchar_t* file, void* user) {
    static_cast<std::vector<ReportEntry>*>(user)->push_back({total, done, file ? file : L"-"});
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
        progress.callback = Record;
        progress.user = &reports;
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

    TempDir root;
    std::wstring install;
    DownloadProgress progress{};
    std::vector<ReportEntry> reports;

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

TEST(SafeRelativePath, AcceptsPlainNames) {
    for (const wchar_t* ok : {L"a.txt", L"sub\\b.txt", L"a/b.txt", L"中文\\文件 1.txt", L"..a",
                              L"a..b\\c", L"x.", L"console.txt", L"com10"}) {
        EXPECT_TRUE(IsSafeRelativePath(ok)) << testing_util::Narrow(ok);
    }
    EXPECT_FALSE(IsSafeRelativePath(nullptr));
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

}  // namespace
