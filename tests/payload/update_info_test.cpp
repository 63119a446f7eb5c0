#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "client/update_info.h"
#include "support/digest.h"
#include "support/data.h"
#include "support/handle.h"
#include "support/replace_file.h"
#include "tests/common/test_util.h"

namespace {

const wchar_t* kMd5 = L"0123456789ABCDEF0123456789ABCDEF";

std::wstring Format(CUpdateInfo& info, uint32_t capacity = 200000) {
    std::vector<wchar_t> out(capacity);
    uint32_t n = info.FormatXml(out.data(), capacity);
    if (n == 0) return L"<refused>";
    EXPECT_EQ(out[n - 1], L'\0');
    return std::wstring(out.data(), n - 1);
}

}  // namespace

TEST(UpdateInfo, FormatsTheExactTextAndReadsItBack) {
    CUpdateInfo info;
    info.SetVersion(L"1.2.3.4");
    ASSERT_EQ(info.AddFile(L"data\\a.txt", 10, kMd5, L"http://h/c/data/a.txt"), 0);
    auto* removed = new UpdateItem();
    removed->action = kUpdateDelete;
    removed->size = -3;
    wcscpy(removed->file, L"old\\\u65E7.dll");
    wcscpy(removed->url, L"x");
    ASSERT_EQ(info.AddItem(removed), 1);

    std::wstring text = Format(info);
    EXPECT_EQ(text,
              L"<list version=\"1.2.3.4\">\r\n"
              L"<item action=\"0\" file=\"data\\a.txt\" size=\"10\" md5=\"0123456789ABCDEF0123456789ABCDEF\" url=\"http://h/c/data/a.txt\"/>\n\r"
              L"<item action=\"1\" file=\"old\\\u65E7.dll\" size=\"-3\" md5=\"\" url=\"x\"/>\n\r"
              L"</list>\n\r");

    CUpdateInfo back;
    ASSERT_TRUE(back.ParseXml(text.c_str()));
    EXPECT_STREQ(back.GetVersion(), L"1.2.3.4");
    ASSERT_EQ(back.Count(), 2u);
    for (uint32_t i = 0; i < 2; ++i) {
        const UpdateItem* a = info.GetItem(i);
        const UpdateItem* b = back.GetItemAt(i);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(a->action, b->action);
        EXPECT_EQ(a->size, b->size);
        EXPECT_STREQ(a->file, b->file);
        EXPECT_STREQ(a->md5, b->md5);
        EXPECT_STREQ(a->url, b->url);
    }
    EXPECT_EQ(back.GetItem(2), nullptr);
}

TEST(UpdateInfo, ParsesWhatServersSend) {
    struct Case {
        const char* what;
        const wchar_t* text;
        bool result;
        uint32_t count;
        const wchar_t* version;
    } cases[] = {
        {"no list", L"<item file=\"a\"/>", false, 0, L"old"},
        {"unclosed list", L"<list version=\"1\"", false, 0, L"old"},
        {"version quote beyond tag", L"<list version=\"1><item file=\"a\"/>", false, 0, L"old"},
        {"no version attribute", L"<list>\r\n<item action=\"0\" file=\"a\" size=\"1\"/>", true, 1, L"old"},
        {"empty list", L"<list version=\"2\"></list>", true, 0, L"2"},
        {"missing md5", L"<list version=\"3\"><item action=\"0\" file=\"a\" size=\"5\" url=\"u\"/></list>", true, 1, L"3"},
        {"unclosed url ends parsing",
         L"<list version=\"4\"><item file=\"a\" url=\"u\"/><item file=\"b\" url=\"u/><item file=\"c\"/>",
         true, 1, L"4"},
        {"attributes in any order", L"<list version=\"5\"><item url=\"u\" size=\"7\" file=\"f\"/>", true, 1, L"5"},
        {"unclosed item tag", L"<list version=\"6\"><item file=\"a\"/><item file=\"b\"", true, 1, L"6"},
    };
    for (const Case& c : cases) {
        CUpdateInfo info;
        info.SetVersion(L"old");
        EXPECT_EQ(info.ParseXml(c.text), c.result) << c.what;
        EXPECT_EQ(info.Count(), c.count) << c.what;
        EXPECT_STREQ(info.GetVersion(), c.version) << c.what;
    }

    CUpdateInfo info;
    ASSERT_TRUE(info.ParseXml(
        L"<list version=\"1\"><item action=\"-1\" file=\"a\\b\" size=\"12x\" md5=\"\" url=\"http://u\"/>"));
    const UpdateItem* item = info.GetItem(0);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->action, -1);
    EXPECT_EQ(item->size, 12);
    EXPECT_STREQ(item->md5, L"");
    EXPECT_STREQ(item->file, L"a\\b");
    EXPECT_FALSE(info.ParseXml(nullptr));

    // A length bounds the text even without a NUL.
    std::wstring text = L"<list version=\"7\"><item file=\"a\"/><item file=\"b\"/>";
    CUpdateInfo bounded;
    ASSERT_TRUE(bounded.ParseXml(text.c_str(), text.find(L"<item file=\"b")));
    EXPECT_EQ(bounded.Count(), 1u);
}

TEST(UpdateInfo, CapacityLimits) {
    CUpdateInfo info;
    ASSERT_EQ(info.AddFile(L"a", 1, kMd5, L"u"), 0);
    std::vector<wchar_t> out(2000);
    EXPECT_EQ(info.FormatXml(out.data(), 1379), 0u);
    EXPECT_GT(info.FormatXml(out.data(), 1380), 0u);
    EXPECT_EQ(info.FormatXml(nullptr, 1380), 0u);
    EXPECT_EQ(info.FormatXml(out.data(), 0), 0u);

    EXPECT_EQ(info.AddFile(L"zero", 0, kMd5, L"u"), -1);
    EXPECT_EQ(info.AddFile(L"negative", -1, kMd5, L"u"), -1);
    EXPECT_EQ(info.AddFile(nullptr, 1, kMd5, L"u"), -1);
    EXPECT_EQ(info.AddFile(L"a", 1, nullptr, L"u"), -1);
    EXPECT_EQ(info.AddFile(L"a", 1, kMd5, nullptr), -1);
    EXPECT_EQ(info.AddItem(nullptr), -1);
    EXPECT_EQ(info.Count(), 1u);

    std::wstring longName(600, L'f'), longUrl(900, L'u'), longMd5(40, L'A');
    ASSERT_EQ(info.AddFile(longName.c_str(), 2, longMd5.c_str(), longUrl.c_str()), 1);
    EXPECT_EQ(wcslen(info.GetItem(1)->file), 511u);
    EXPECT_EQ(wcslen(info.GetItem(1)->url), 767u);
    EXPECT_EQ(wcslen(info.GetItem(1)->md5), 33u);
    info.SetVersion(std::wstring(200, L'v').c_str());
    EXPECT_EQ(wcslen(info.GetVersion()), 127u);

    info.Clear();
    EXPECT_EQ(info.Count(), 0u);
    EXPECT_EQ(info.GetItem(0), nullptr);
}

TEST(UpdateInfo, TenThousandEntriesAndNoMore) {
    std::wstring text = L"<list version=\"9\">";
    for (int i = 0; i <= 10000; ++i) text += L"<item file=\"f" + std::to_wstring(i) + L"\" size=\"1\"/>";
    CUpdateInfo info;
    EXPECT_FALSE(info.ParseXml(text.c_str()));
    EXPECT_EQ(info.Count(), 10000u);
    EXPECT_STREQ(info.GetItem(9999)->file, L"f9999");
    EXPECT_EQ(info.items[10000], nullptr);

    auto* extra = new UpdateItem();
    EXPECT_EQ(info.AddItem(extra), -1);  // the caller keeps it
    delete extra;
    EXPECT_EQ(info.AddFile(L"x", 1, kMd5, L"u"), -1);
}

TEST(UpdateInfo, SavesFullListsCompletelyAndReplacesFilesWhole) {
    testing_util::TempDir dir;
    std::wstring path = dir / L"update.xml";
    CUpdateInfo info;
    info.SetVersion(L"2.0");
    std::wstring url(700, L'u');
    for (int i = 0; i < 10000; ++i) {
        std::wstring name = L"dir\\" + std::wstring(300, L'n') + std::to_wstring(i);
        ASSERT_EQ(info.AddFile(name.c_str(), i + 1, kMd5, (url + std::to_wstring(i)).c_str()), i);
    }
    // Far beyond the 942 entries the fixed 1,300,000-character buffer holds.
    ASSERT_TRUE(info.SaveToFile(path.c_str()));
    auto bytes = testing_util::ReadAll(path);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xFE);
    EXPECT_NE(bytes[bytes.size() - 2], 0);  // the NUL is not written

    CUpdateInfo back;
    ASSERT_TRUE(back.LoadFromFile(path.c_str()));
    ASSERT_EQ(back.Count(), 10000u);
    EXPECT_STREQ(back.GetItem(9999)->url, (url + L"9999").c_str());
    EXPECT_EQ(back.GetItem(9999)->size, 10000);

    // A smaller list replaces the file entirely; no temporary stays behind.
    CUpdateInfo small;
    small.SetVersion(L"3.0");
    small.AddFile(L"one", 1, kMd5, L"u");
    ASSERT_TRUE(small.SaveToFile(path.c_str()));
    // Loading adds to what is held: a full list refuses the new entry.
    EXPECT_FALSE(back.LoadFromFile(path.c_str()));
    EXPECT_STREQ(back.GetVersion(), L"3.0");
    EXPECT_EQ(back.Count(), 10000u);
    CUpdateInfo fresh;
    ASSERT_TRUE(fresh.LoadFromFile(path.c_str()));
    EXPECT_EQ(fresh.Count(), 1u);
    EXPECT_FALSE(testing_util::FileExists(path + kReplacingSuffix));

    // A failed save leaves the old file as it was: here the target is held
    // open by another reader that does not share deletion, so the saved copy
    // cannot replace it.
    EXPECT_FALSE(small.SaveToFile((dir / L"no\\such\\dir\\update.xml").c_str()));
    EXPECT_FALSE(fresh.LoadFromFile((dir / L"missing.xml").c_str()));
    const std::vector<uint8_t> before = testing_util::ReadAll(path);
    {
        UniqueFile reader(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(reader);
        CUpdateInfo other;
        other.SetVersion(L"4.0");
        other.AddFile(L"two", 2, kMd5, L"u");
        EXPECT_FALSE(other.SaveToFile(path.c_str()));
    }
    EXPECT_EQ(before, testing_util::ReadAll(path));
    EXPECT_FALSE(testing_util::FileExists(path + kReplacingSuffix));
}

TEST(UpdateInfo, LoadsWithOrWithoutMarkAndOddSizes) {
    testing_util::TempDir dir;
    std::wstring text = L"<list version=\"1\"><item file=\"a\" size=\"1\"/>";
    std::vector<uint8_t> plain(reinterpret_cast<const uint8_t*>(text.data()),
                               reinterpret_cast<const uint8_t*>(text.data() + text.size()));
    std::vector<uint8_t> marked = {0xFF, 0xFE};
    marked.insert(marked.end(), plain.begin(), plain.end());
    std::vector<uint8_t> odd = plain;
    odd.push_back('<');
    for (const auto& bytes : {plain, marked, odd}) {
        ASSERT_TRUE(testing_util::WriteAll(dir / L"m.xml", bytes));
        CUpdateInfo info;
        EXPECT_TRUE(info.LoadFromFile((dir / L"m.xml").c_str()));
        EXPECT_EQ(info.Count(), 1u);
    }
}

TEST(UpdateInfo, AddDirectoryListsEveryFileWithDigestAndAddress) {
    testing_util::TempDir dir;
    std::wstring root = dir / L"client";
    CreateDirectoryW(root.c_str(), nullptr);
    CreateDirectoryW((root + L"\\\u6570\u636E").c_str(), nullptr);
    CreateDirectoryW((root + L"\\\u6570\u636E\\sub").c_str(), nullptr);
    CreateDirectoryW((root + L"\\empty").c_str(), nullptr);
    const std::string a = "0123456789", b = "nested file";
    ASSERT_TRUE(testing_util::WriteAll(root + L"\\a.txt", a.data(), a.size()));
    ASSERT_TRUE(testing_util::WriteAll(root + L"\\zero.bin", "", 0));
    ASSERT_TRUE(testing_util::WriteAll(root + L"\\\u6570\u636E\\sub\\b.dat", b.data(), b.size()));

    CUpdateInfo info;
    EXPECT_EQ(info.AddDirectory(L"http://h/c", root.c_str(), nullptr), 3);  // zero.bin counted
    ASSERT_EQ(info.Count(), 2u);
    const UpdateItem* fileA = nullptr;
    const UpdateItem* fileB = nullptr;
    for (uint32_t i = 0; i < info.Count(); ++i) {
        if (std::wstring(info.GetItem(i)->file) == L"a.txt") fileA = info.GetItem(i);
        if (std::wstring(info.GetItem(i)->file) == L"\u6570\u636E\\sub\\b.dat") fileB = info.GetItem(i);
    }
    ASSERT_NE(fileA, nullptr);
    ASSERT_NE(fileB, nullptr);
    EXPECT_STREQ(fileA->url, L"http://h/c/a.txt");
    // The address escapes the name as UTF-8; the local name stays.
    EXPECT_STREQ(fileB->url, L"http://h/c/%E6%95%B0%E6%8D%AE/sub/b.dat");
    EXPECT_EQ(fileA->size, 10);
    EXPECT_EQ(fileB->action, kUpdateAdd);
    wchar_t digest[33] = {};
    ASSERT_TRUE(DigestOfBuffer(digest, b.data(), b.size()));
    EXPECT_STREQ(fileB->md5, digest);

    CUpdateInfo prefixed;
    EXPECT_EQ(prefixed.AddDirectory(L"http://h/c/", (root + L"\\\u6570\u636E\\").c_str(), L"top"), 1);
    EXPECT_STREQ(prefixed.GetItem(0)->file, L"top\\sub\\b.dat");
    EXPECT_STREQ(prefixed.GetItem(0)->url, L"http://h/c/sub/b.dat");

    EXPECT_EQ(info.AddDirectory(L"", root.c_str(), nullptr), 0);
    EXPECT_EQ(info.AddDirectory(L"http://h", nullptr, nullptr), 0);
    EXPECT_EQ(info.AddDirectory(L"http://h", (dir / L"missing").c_str(), nullptr), 0);
}
