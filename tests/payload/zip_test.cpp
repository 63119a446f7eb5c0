#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <zlib.h>

#include "support/data.h"
#include "support/zip.h"
#include "tests/common/test_util.h"
#include "tests/common/zip_builder.h"

using fixture::MakeZip;

namespace {

const char* kPassword = "pw-of-test";

std::wstring Safe(const std::string& stored) {
    wchar_t out[kZipNameCapacity];
    SafeEntryName(stored.data(), stored.size(), out);
    return out;
}

std::string AsString(const XData& d) {
    return std::string(reinterpret_cast<const char*>(d.data), d.size);
}

// Asserts every component of a safe name stays below its folder.
void ExpectContained(const std::wstring& name) {
    ASSERT_TRUE(name.empty() || (name[0] != L'\\' && name[0] != L'/'));
    ASSERT_FALSE(name.size() >= 2 && name[1] == L':');
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of(L"\\/", start);
        if (end == std::wstring::npos) end = name.size();
        std::wstring part = name.substr(start, end - start);
        bool dotsOnly = !part.empty() && part.find_first_not_of(L". ") == std::wstring::npos;
        EXPECT_FALSE(dotsOnly) << "dots-only component in " << testing_util::Narrow(name);
        start = end + 1;
    }
}

}  // namespace

TEST(SafeEntryName, MakesEveryNameStayInsideItsFolder) {
    struct Case {
        std::string stored;
        std::wstring expected;
    } cases[] = {
        {"../../evil.dll", L"evil.dll"},
        {"/abs/file", L"abs/file"},
        {"C:\\..\\..\\x/../y/z.dll", L"y/z.dll"},
        {"C:\\Windows\\system32\\x.dll", L"Windows\\system32\\x.dll"},
        {"\\\\server\\share\\x", L"server\\share\\x"},
        {"C:C:/x", L"x"},
        // Forms the basic rules leave behind.
        {"../x", L"x"},
        {"..\\x", L"x"},
        {"a/../../b", L"b"},
        {"a/..", L"a/"},
        {"..", L""},
        {"../C:/x", L"x"},
        {"a/. /../\\\\srv/x", L"srv/x"},
        {"dir/. ./x", L"dir/x"},
        {"...\\x", L"x"},
        {"./x/./y", L"x/y"},
        // Ordinary names pass unchanged.
        {"theme.txt", L"theme.txt"},
        {"dir/", L"dir/"},
        {"data/..name/x", L"data/..name/x"},
        {"\xE6\x95\xB0\xE6\x8D\xAE/\xE6\x96\x87\xE4\xBB\xB6.txt", L"\u6570\u636E/\u6587\u4EF6.txt"},
        {"", L""},
    };
    for (const Case& c : cases) {
        std::wstring got = Safe(c.stored);
        EXPECT_EQ(got, c.expected) << c.stored;
        ExpectContained(got);
    }
}

TEST(SafeEntryName, DecodesLegacyNamesAndCutsLongOnes) {
    // Not valid UTF-8: an old archive's GBK name ("测试.txt").
    if (GetACP() == 936) {
        EXPECT_EQ(Safe("\xB2\xE2\xCA\xD4.txt"), L"\u6D4B\u8BD5.txt");
    }
    std::string longName(400, 'n');
    EXPECT_EQ(Safe(longName), std::wstring(kZipNameCapacity - 1, L'n'));
}

TEST(XZip, ClosedArchiveAnswersNothing) {
    XZip zip;
    XData buffer;
    wchar_t name[kZipNameCapacity];
    int32_t size = 7;
    EXPECT_EQ(zip.Count(), 0);
    EXPECT_FALSE(zip.IsDirectory(0));
    EXPECT_FALSE(zip.GetEntryName(0, name));
    EXPECT_EQ(zip.Find(L"x", &size), -1);
    EXPECT_FALSE(zip.ExtractByIndex(0, &buffer));
    EXPECT_FALSE(zip.ExtractByName(L"x", &buffer));
    EXPECT_TRUE(zip.Close());
    EXPECT_FALSE(zip.OpenFromMemory(nullptr, 10, kPassword));
    EXPECT_FALSE(zip.OpenFromFile(nullptr, kPassword));
}

TEST(XZip, FindFoldsOnlyAsciiLettersAndFirstMatchWins) {
    std::string n255(255, 'a'), n256(256, 'b');
    auto bytes = MakeZip({{"theme.txt", "theme"},
                          {"Dir/Sub/\xE6\x96\x87\xE4\xBB\xB6.TXT", "wen"},
                          {"\xC3\x84" "B.txt", "umlaut"},
                          {"dup.txt", "first"},
                          {"DUP.txt", "second"},
                          {n255, "255"},
                          {n256, "256"}},
                         kPassword);
    ASSERT_FALSE(bytes.empty());
    XZip zip;
    ASSERT_TRUE(zip.OpenFromMemory(bytes.data(), bytes.size(), kPassword));
    EXPECT_EQ(zip.Count(), 7);

    struct Case {
        std::wstring name;
        int index;
    } cases[] = {
        {L"THEME.TXT", 0},
        {L"theme.txt", 0},
        {L"dir/sub/\u6587\u4EF6.txt", 1},
        {L"dir\\sub\\\u6587\u4EF6.txt", -1},  // stored with "/"
        {L"\u00C4b.TXT", 2},
        {L"\u00E4B.txt", -1},  // letters outside A-Z compare exactly
        {L"Dup.TXT", 3},
        {std::wstring(255, L'A'), 5},
        {std::wstring(256, L'b'), -1},  // too long to ask for, though stored
        {L"missing.txt", -1},
        {L"theme.tx", -1},
    };
    for (const Case& c : cases) {
        int32_t size = -5;
        EXPECT_EQ(zip.Find(c.name.c_str(), &size), c.index) << testing_util::Narrow(c.name);
        if (c.index >= 0) {
            XData data;
            ASSERT_TRUE(zip.ExtractByName(c.name.c_str(), &data));
            EXPECT_EQ(int32_t(data.size), size);
        }
    }
    EXPECT_EQ(zip.Find(nullptr, nullptr), -1);
    XData data;
    ASSERT_TRUE(zip.ExtractByName(L"DUP.TXT", &data));
    EXPECT_EQ(AsString(data), "first");
}

TEST(XZip, ListsSafeNamesAndAttributes) {
    std::string ut = std::string("UT\x05\x00\x01", 5) + std::string("\x00\xF1\x53\x65", 4);  // 1700000000
    auto bytes = MakeZip({{"../../evil.dll", "e", false, false, "", 0, 0x20},
                          {"dosdir/", "", false, true, nullptr, 0, 0x10},
                          {"readonly.txt", "r", false, false, "", 0, 0x21},
                          {"unixdir/", "", false, true, nullptr, 3, 0040755u << 16},
                          {"unixro.txt", "u", false, false, "", 3, 0100444u << 16},
                          {"unixrw.txt", "u", false, false, "", 3, 0100644u << 16},
                          {"bare/", "", false, true, nullptr, 0, 0},
                          {"stamped.txt", "s", false, false, "", 0, 0x20, ut}},
                         kPassword);
    ASSERT_FALSE(bytes.empty());
    XZip zip;
    ASSERT_TRUE(zip.OpenFromMemory(bytes.data(), bytes.size(), kPassword));
    struct Case {
        const wchar_t* name;
        uint32_t attributes;
    } cases[] = {
        {L"evil.dll", FILE_ATTRIBUTE_ARCHIVE},
        {L"dosdir/", FILE_ATTRIBUTE_DIRECTORY},
        {L"readonly.txt", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY},
        {L"unixdir/", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE},
        {L"unixro.txt", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY},
        {L"unixrw.txt", FILE_ATTRIBUTE_ARCHIVE},
        {L"bare/", FILE_ATTRIBUTE_DIRECTORY},
        {L"stamped.txt", FILE_ATTRIBUTE_ARCHIVE},
    };
    ASSERT_EQ(zip.Count(), int(std::size(cases)));
    for (int i = 0; i < zip.Count(); ++i) {
        ZipEntryInfo info;
        ASSERT_TRUE(zip.GetEntryInfo(i, &info)) << i;
        EXPECT_EQ(info.index, i);
        EXPECT_STREQ(info.name, cases[i].name);
        EXPECT_EQ(info.attributes, cases[i].attributes) << i;
        EXPECT_EQ(zip.IsDirectory(i), (cases[i].attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) << i;
        wchar_t name[kZipNameCapacity];
        ASSERT_TRUE(zip.GetEntryName(i, name));
        EXPECT_STREQ(name, cases[i].name);
    }
    ZipEntryInfo count;
    ASSERT_TRUE(zip.GetEntryInfo(-1, &count));
    EXPECT_EQ(count.index, zip.Count());
    EXPECT_FALSE(zip.IsDirectory(zip.Count()));
    EXPECT_FALSE(zip.IsDirectory(-1));

    // DOS time is local time; the "UT" field replaces the modification time.
    ZipEntryInfo plain, stamped;
    ASSERT_TRUE(zip.GetEntryInfo(2, &plain));
    ASSERT_TRUE(zip.GetEntryInfo(7, &stamped));
    FILETIME local;
    SYSTEMTIME st;
    ASSERT_TRUE(FileTimeToLocalFileTime(&plain.modificationTime, &local));
    ASSERT_TRUE(FileTimeToSystemTime(&local, &st));
    EXPECT_EQ(st.wYear, 2025);
    EXPECT_EQ(st.wMonth, 4);
    EXPECT_EQ(st.wDay, 12);
    EXPECT_EQ(st.wHour, 12);
    ULARGE_INTEGER m;
    m.LowPart = stamped.modificationTime.dwLowDateTime;
    m.HighPart = stamped.modificationTime.dwHighDateTime;
    EXPECT_EQ(m.QuadPart, (1700000000ull + 11644473600ull) * 10000000ull);
    EXPECT_EQ(CompareFileTime(&stamped.accessTime, &plain.accessTime), 0);
}

TEST(XZip, EmptyArchiveOpensAndSecondOpenKeepsTheFirst) {
    auto empty = MakeZip({}, kPassword);
    auto one = MakeZip({{"a.txt", "alpha"}}, kPassword);

    ASSERT_FALSE(empty.empty());
    XZip zip;
    ASSERT_TRUE(zip.OpenFromMemory(one.data(), one.size(), kPassword));
    EXPECT_FALSE(zip.OpenFromMemory(empty.data(), empty.size(), kPassword));
    EXPECT_FALSE(zip.OpenFromFile(L"C:\\nothing.zip", kPassword));
    EXPECT_EQ(zip.Count(), 1);
    XData data;
    ASSERT_TRUE(zip.ExtractByIndex(0, &data));
    EXPECT_EQ(AsString(data), "alpha");
    EXPECT_TRUE(zip.Close());

    ASSERT_TRUE(zip.OpenFromMemory(empty.data(), empty.size(), kPassword));
    EXPECT_EQ(zip.Count(), 0);
    EXPECT_EQ(zip.Find(L"a.txt", nullptr), -1);
    EXPECT_FALSE(zip.ExtractByIndex(0, &data));
    EXPECT_FALSE(zip.OpenFromMemory(one.data(), one.size(), kPassword));
    EXPECT_TRUE(zip.Close());

    testing_util::TempDir dir;
    ASSERT_TRUE(testing_util::WriteAll(dir / L"empty.zip", empty));
    ASSERT_TRUE(zip.OpenFromFile((dir / L"empty.zip").c_str(), kPassword));
    EXPECT_EQ(zip.Count(), 0);
    EXPECT_TRUE(zip.Close());
    // An end record followed by anything else is no empty archive.
    auto padded = empty;
    padded.push_back(0);
    EXPECT_FALSE(zip.OpenFromMemory(padded.data(), padded.size(), kPassword));
}

TEST(XZip, OpensFromFileAndRefusesWhatIsNoArchive) {
    testing_util::TempDir dir;
    auto bytes = MakeZip({{"\xE6\x96\x87.txt", "file source"}}, kPassword);
    ASSERT_TRUE(testing_util::WriteAll(dir / L"\u5305.zip", bytes));
    XZip zip;
    ASSERT_TRUE(zip.OpenFromFile((dir / L"\u5305.zip").c_str(), kPassword));
    XData data;
    ASSERT_TRUE(zip.ExtractByName(L"\u6587.TXT", &data));
    EXPECT_EQ(AsString(data), "file source");
    EXPECT_TRUE(zip.Close());

    EXPECT_FALSE(zip.OpenFromFile((dir / L"missing.zip").c_str(), kPassword));
    std::string junk = "this is not a zip archive at all, only text";
    EXPECT_FALSE(zip.OpenFromMemory(junk.data(), junk.size(), kPassword));
    EXPECT_FALSE(zip.OpenFromMemory(junk.data(), 0, kPassword));
    EXPECT_FALSE(zip.IsOpen());
}

TEST(XZip, WrongPasswordOpensButCannotExtract) {
    auto bytes = MakeZip({{"deflated.bin", std::string(5000, 'd')},
                          {"stored.bin", "stored content", false, true},
                          {"open.txt", "no password", false, false, nullptr}},
                         kPassword);
    XZip zip;
    ASSERT_TRUE(zip.OpenFromMemory(bytes.data(), bytes.size(), "wrong"));
    EXPECT_EQ(zip.Count(), 3);
    XData data;
    EXPECT_FALSE(zip.ExtractByIndex(0, &data));
    EXPECT_FALSE(zip.ExtractByIndex(1, &data));
    ASSERT_TRUE(data.Resize(16, true));
    EXPECT_FALSE(zip.ExtractByName(L"stored.bin", &data));
    EXPECT_EQ(data.data, nullptr);  // freed, no stale bytes
    EXPECT_EQ(data.size, 0u);
    ASSERT_TRUE(zip.ExtractByIndex(2, &data));
    EXPECT_EQ(AsString(data), "no password");
    zip.Close();

    ASSERT_TRUE(zip.OpenFromMemory(bytes.data(), bytes.size(), nullptr));
    EXPECT_FALSE(zip.ExtractByIndex(0, &data));
    zip.Close();
    ASSERT_TRUE(zip.OpenFromMemory(bytes.data(), bytes.size(), kPassword));
    ASSERT_TRUE(zip.ExtractByIndex(1, &data));
    EXPECT_EQ(AsString(data), "stored content");
}

// Pieces of at most the asked size, every byte once. The password goes only
// to encrypted entries: an entry stored without encryption in a protected
// archive reads as it is (the reader would otherwise decrypt it into junk,
// which the install worker's reader once did).
TEST(XZip, ReadsInPiecesAndPassesThePasswordOnlyWhereNeeded) {
    const std::string body = fixture::Noise(100000, 4);
    // Text inflates to many times its size: pieces still come after the
    // last of the stored bytes was read.
    std::string text;
    for (int i = 0; text.size() < 300000; ++i) text += "line " + std::to_string(i % 97) + " of the manual\n";
    text.append(200000, '=');  // the last few bytes stored stand for all of these
    const auto bytes = MakeZip({{"x.bin", body},
                                {"open.bin", body, false, false, nullptr},
                                {"open-stored.bin", "as it is", false, true, nullptr},
                                {"text.txt", text}},
                               kPassword);
    const struct {
        const char* password;
        int index;
        bool ok;
        std::string expected;
    } cases[] = {
        {kPassword, 0, true, body},    {"wrong", 0, false, ""},        {nullptr, 0, false, ""},
        {kPassword, 1, true, body},    {nullptr, 1, true, body},       {kPassword, 2, true, "as it is"},
        {"wrong", 2, true, "as it is"}, {kPassword, 3, true, text},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.password ? c.password : "none") + " #" + std::to_string(c.index));
        XZip zip;
        ASSERT_TRUE(zip.OpenFromMemory(bytes.data(), uint32_t(bytes.size()), c.password));
        ASSERT_EQ(4, zip.Count());
        EXPECT_EQ(c.expected.empty() ? body.size() : c.expected.size(), zip.SizeOf(c.index));
        struct Got {
            std::string bytes;
            int pieces = 0;
            uint32_t largest = 0;
        } got;
        auto sink = [](const void* p, uint32_t n, void* context) {
            auto* g = static_cast<Got*>(context);
            g->bytes.append(static_cast<const char*>(p), n);
            ++g->pieces;
            g->largest = std::max(g->largest, n);
            return true;
        };
        EXPECT_EQ(c.ok, zip.Read(c.index, sink, &got, 4096));
        if (c.ok) {
            EXPECT_TRUE(got.bytes == c.expected);
            EXPECT_LE(got.largest, 4096u);
            EXPECT_GE(got.pieces, int(c.expected.size() / 4096));
        }
    }
    // A sink that refuses ends the read as a failure; no entry, no read.
    XZip zip;
    ASSERT_TRUE(zip.OpenFromMemory(bytes.data(), uint32_t(bytes.size()), kPassword));
    // Pieces smaller than one match: the last match is still being copied
    // out when the stored bytes have all been read.
    std::string small;
    EXPECT_TRUE(zip.Read(3, [](const void* p, uint32_t n, void* context) {
        static_cast<std::string*>(context)->append(static_cast<const char*>(p), n);
        return true;
    }, &small, 100));
    EXPECT_TRUE(small == text);
    EXPECT_FALSE(zip.Read(0, [](const void*, uint32_t, void*) { return false; }, nullptr));
    EXPECT_FALSE(zip.Read(4, [](const void*, uint32_t, void*) { return true; }, nullptr));
    EXPECT_EQ(0u, zip.SizeOf(4));
    const char garbage[] = "PK no archive";
    XZip other;
    EXPECT_FALSE(other.OpenFromMemory(garbage, sizeof garbage, kPassword));
    EXPECT_FALSE(other.Read(0, [](const void*, uint32_t, void*) { return true; }, nullptr));
}

TEST(XZip, DamagedArchivesFailWithoutCrashing) {
    const std::string stored = "stored text that a flipped byte would change";
    auto good = MakeZip({{"stored.txt", stored, false, true, nullptr},
                         {"packed.txt", std::string(3000, 'p')}},
                        kPassword);
    ASSERT_GT(good.size(), 100u);
    size_t localData = 30 + std::strlen("stored.txt");  // first entry's data offset

    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        bool opens;  // the central directory is intact; the entry is not
    };
    auto flip = [&](size_t at) {
        auto b = good;
        b[at] ^= 0x5A;
        return b;
    };
    std::vector<Case> cases = {
        {"truncated", std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2), false},
        {"bad crc", flip(localData + 3), true},
        {"bad local header", flip(0), true},
        {"bad local name length", flip(26), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        XZip zip;
        bool opened = zip.OpenFromMemory(c.bytes.data(), c.bytes.size(), kPassword);
        EXPECT_EQ(c.opens, opened);
        if (!opened) continue;
        XData data;
        EXPECT_FALSE(zip.ExtractByIndex(0, &data));
        EXPECT_EQ(data.size, 0u);
    }

    // Every single-byte change either is refused, leaving nothing, or still
    // yields the true content; a change inside the first entry's encrypted
    // data is always refused (its plaintext and so its CRC change).
    const uint32_t firstPacked = good[18] | good[19] << 8 | good[20] << 16 | uint32_t(good[21]) << 24;
    for (size_t at = 0; at < good.size(); ++at) {
        auto bytes = flip(at);
        XZip zip;
        if (!zip.OpenFromMemory(bytes.data(), bytes.size(), kPassword)) continue;
        const bool inFirstData = at >= localData && at < localData + firstPacked;
        for (int i = 0; i < zip.Count() && i < 2; ++i) {
            XData data;
            if (zip.ExtractByIndex(i, &data)) {
                EXPECT_FALSE(i == 0 && inFirstData) << "offset " << at;
                EXPECT_TRUE(AsString(data) == stored || AsString(data) == std::string(3000, 'p'))
                    << "offset " << at;
            } else {
                EXPECT_EQ(0u, data.size) << "offset " << at;
            }
        }
    }
}

// The record copies an entry into another archive unchanged: the name's
// bytes whole (longer than the entry list keeps, undecoded when not UTF-8),
// and every field as written, read without any password.
TEST(XZip, GivesEachEntrysRecordAsTheArchiveHoldsIt) {
    const std::string body = fixture::Noise(5000, 7);
    fixture::ZipItem legacy{"\xB2\xE2\xCA\xD4.txt", "gbk name", false, true, nullptr};
    legacy.utf8Name = false;
    const std::vector<fixture::ZipItem> items = {
        {"../deflated.bin", body},
        {"unix/", "", false, true, nullptr, 3, 0040755u << 16},
        {"stored.txt", "as it is", false, true, nullptr, 0, 0x21},
        {"stored-secret.txt", "hidden", false, true},
        legacy,
        {std::string(1500, 'n'), "long", false, true, nullptr},
    };
    const auto bytes = MakeZip(items, kPassword);
    ASSERT_FALSE(bytes.empty());
    XZip zip;
    ASSERT_TRUE(zip.OpenFromMemory(bytes.data(), uint32_t(bytes.size()), nullptr));
    ASSERT_EQ(zip.Count(), int(items.size()));
    for (int i = 0; i < zip.Count(); ++i) {
        const fixture::ZipItem& item = items[i];
        SCOPED_TRACE(item.name.substr(0, 20));
        const bool encrypted = !item.directory && item.password && item.password[0] == 0;
        ZipEntryRecord record;
        ASSERT_TRUE(zip.GetEntryRecord(i, &record));
        EXPECT_TRUE(record.name == item.name);
        EXPECT_EQ(record.dosDate, 0x5A8C6000u);
        EXPECT_EQ(record.externalAttributes, item.attributes | (item.directory ? FILE_ATTRIBUTE_DIRECTORY : 0));
        EXPECT_EQ(record.versionMadeBy, uint16_t(item.host << 8 | 20));
        EXPECT_EQ((record.flags & 1) != 0, encrypted);
        EXPECT_EQ((record.flags & 0x800) != 0, item.utf8Name);
        EXPECT_EQ(record.crc, crc32(0, reinterpret_cast<const Bytef*>(item.bytes.data()), uInt(item.bytes.size())));
        EXPECT_EQ(record.uncompressedSize, item.bytes.size());
        if (item.stored || item.directory)
            EXPECT_EQ(record.compressedSize, item.bytes.size() + (encrypted ? 12 : 0));  // the crypt header
        else
            EXPECT_LT(record.compressedSize, record.uncompressedSize);
    }
    ZipEntryRecord record;
    EXPECT_FALSE(zip.GetEntryRecord(-1, &record));
    EXPECT_FALSE(zip.GetEntryRecord(zip.Count(), &record));
    EXPECT_FALSE(zip.GetEntryRecord(0, nullptr));
    zip.Close();
    EXPECT_FALSE(zip.GetEntryRecord(0, &record));
}

// Callers that report a failure tell its kinds apart; each damage below is
// one field or byte of one entry.
TEST(XZip, TellsWhyAReadFailed) {
    const std::string body = fixture::Noise(20000, 3);
    const auto good = MakeZip({{"secret.bin", body},
                               {"secret-stored.bin", "hidden text", false, true},
                               {"plain-stored.txt", "plain stored text", false, true, nullptr},
                               {"plain.bin", body, false, false, nullptr}},
                              kPassword);
    ASSERT_FALSE(good.empty());
    const fixture::ZipLayout stored = fixture::LocateEntry(good, 2), deflated = fixture::LocateEntry(good, 3),
                             secret = fixture::LocateEntry(good, 0), secretStored = fixture::LocateEntry(good, 1);
    ASSERT_NE(stored.data, 0u);
    ASSERT_NE(deflated.data, 0u);
    ASSERT_NE(secret.data, 0u);
    ASSERT_NE(secretStored.data, 0u);
    auto patched = [&](std::vector<std::pair<size_t, uint8_t>> changes) {
        auto b = good;
        for (const auto& [at, value] : changes) b[at] = value;
        return b;
    };
    using Failure = XZip::ReadFailure;
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* password;
        int index;
        bool sinkTakes;
        Failure expected;
    } cases[] = {
        {"whole", good, kPassword, 0, true, Failure::kNone},
        {"unencrypted, no password", good, nullptr, 3, true, Failure::kNone},
        {"no such entry", good, kPassword, 4, true, Failure::kNoEntry},
        {"encrypted, no password", good, nullptr, 0, true, Failure::kCannotOpen},
        {"sink refuses", good, kPassword, 0, false, Failure::kCancelled},
        {"stored, wrong password", good, "wrong", 1, true, Failure::kCrc},
        {"unknown method", patched({{stored.central + 10, 14}}), nullptr, 2, true, Failure::kCannotOpen},
        {"flipped data byte", patched({{stored.data + 2, 'X'}}), nullptr, 2, true, Failure::kCrc},
        // Stated 256 bytes longer, in both headers, than the data is.
        {"shorter than stated", patched({{stored.central + 25, 1}, {stored.local + 23, 1}}), nullptr, 2, true,
         Failure::kShort},
        // A final block of the reserved type 3.
        {"bad deflate block", patched({{deflated.data, 0x07}}), nullptr, 3, true, Failure::kData},
        // The same, where the entries are encrypted (read and checked apart
        // from the plain ones).
        {"encrypted, unknown method", patched({{secret.central + 10, 14}}), kPassword, 0, true,
         Failure::kCannotOpen},
        {"encrypted, flipped data byte", patched({{secretStored.data + 14, 'X'}}), kPassword, 1, true,
         Failure::kCrc},
        {"encrypted, shorter than stated", patched({{secretStored.central + 25, 1}, {secretStored.local + 23, 1}}),
         kPassword, 1, true, Failure::kShort},
        {"encrypted, longer than stated", patched({{secretStored.central + 24, 5}, {secretStored.local + 22, 5}}),
         kPassword, 1, true, Failure::kData},
    };
    const XZip::Sink take = [](const void*, uint32_t, void*) { return true; };
    const XZip::Sink refuse = [](const void*, uint32_t, void*) { return false; };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        XZip zip;
        ASSERT_TRUE(zip.OpenFromMemory(c.bytes.data(), uint32_t(c.bytes.size()), c.password));
        EXPECT_EQ(zip.Read(c.index, c.sinkTakes ? take : refuse, nullptr), c.expected == Failure::kNone);
        EXPECT_EQ(zip.LastReadFailure(), c.expected);
    }
    // Each read answers for itself.
    XZip zip;
    ASSERT_TRUE(zip.OpenFromMemory(good.data(), uint32_t(good.size()), kPassword));
    EXPECT_FALSE(zip.Read(0, refuse, nullptr));
    EXPECT_TRUE(zip.Read(0, take, nullptr));
    EXPECT_EQ(zip.LastReadFailure(), Failure::kNone);
}

// A failed open says whether it found an archive whose central directory
// is damaged, or no archive at all.
TEST(XZip, SaysWhetherAFailedOpenFoundADamagedDirectory) {
    const auto good = MakeZip({{"a.txt", "alpha"}, {"b.txt", "beta"}}, nullptr);
    const fixture::ZipLayout second = fixture::LocateEntry(good, 1);
    ASSERT_NE(second.central, 0u);
    auto broken = [&](size_t at) {
        auto b = good;
        b[at] ^= 0x5A;
        return b;
    };
    const std::string text = "plain text, no archive";
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        bool opens;
        bool damaged;
    } cases[] = {
        {"whole", good, true, false},
        {"no archive", std::vector<uint8_t>(text.begin(), text.end()), false, false},
        {"cut in half", std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2), false, false},
        {"first record's signature", broken(fixture::LocateEntry(good, 0).central), false, true},
        {"second record's signature", broken(second.central), false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        XZip zip;
        EXPECT_EQ(zip.OpenFromMemory(c.bytes.data(), uint32_t(c.bytes.size()), nullptr), c.opens);
        EXPECT_EQ(zip.DirectoryDamaged(), c.damaged);
    }
    // From a file too, as the packaging tool opens a client.
    testing_util::TempDir dir;
    ASSERT_TRUE(testing_util::WriteAll(dir / L"damaged.zip", broken(second.central)));
    XZip zip;
    EXPECT_FALSE(zip.OpenFromFile((dir / L"damaged.zip").c_str(), nullptr));
    EXPECT_TRUE(zip.DirectoryDamaged());
    EXPECT_FALSE(zip.OpenFromFile((dir / L"missing.zip").c_str(), nullptr));
    EXPECT_FALSE(zip.DirectoryDamaged());
}

// A sibling reads what its source reads, with the source's directory and
// password, and goes on reading after the source closed; it is refused
// where there is nothing to share.
TEST(XZip, SiblingsShareTheDirectoryAndReadTheSameBytes) {
    const std::string body = fixture::Noise(70000, 11);
    const auto bytes = MakeZip({{"a/one.bin", body}, {"\xE6\x96\x87.txt", "second"}}, kPassword);
    testing_util::TempDir dir;
    const std::vector<uint8_t> padded = [&] {
        std::vector<uint8_t> v(1000, 'x');
        v.insert(v.end(), bytes.begin(), bytes.end());
        return v;
    }();
    ASSERT_TRUE(testing_util::WriteAll(dir / L"pack.bin", padded));
    auto read = [](XZip& zip, int index) {
        std::string out;
        const bool ok = zip.Read(index, [](const void* p, uint32_t n, void* context) {
            static_cast<std::string*>(context)->append(static_cast<const char*>(p), n);
            return true;
        }, &out);
        return ok ? out : std::string("<failed>");
    };
    for (bool window : {false, true}) {
        SCOPED_TRACE(window ? "file window" : "memory");
        XZip source, sibling;
        ASSERT_TRUE(window ? source.OpenFromFileWindow((dir / L"pack.bin").c_str(), 1000, bytes.size(), kPassword)
                           : source.OpenFromMemory(bytes.data(), uint32_t(bytes.size()), kPassword));
        ASSERT_TRUE(sibling.OpenSibling(source));
        EXPECT_FALSE(sibling.OpenSibling(source));  // already open
        EXPECT_EQ(2, sibling.Count());
        EXPECT_TRUE(sibling.HasEncryptedEntries());
        EXPECT_EQ(1, sibling.Find(L"\u6587.TXT", nullptr));
        // Both at once, each at its own entry.
        EXPECT_TRUE(read(source, 1) == "second");
        EXPECT_TRUE(read(sibling, 0) == body);
        source.Close();
        EXPECT_TRUE(read(sibling, 1) == "second");
        EXPECT_TRUE(read(sibling, 0) == body);
        EXPECT_TRUE(sibling.Close());
    }
    XZip whole, unopened, sibling;
    ASSERT_TRUE(testing_util::WriteAll(dir / L"whole.zip", bytes));
    ASSERT_TRUE(whole.OpenFromFile((dir / L"whole.zip").c_str(), kPassword));
    EXPECT_FALSE(sibling.OpenSibling(whole));
    EXPECT_FALSE(sibling.OpenSibling(unopened));
    EXPECT_FALSE(sibling.IsOpen());
}

// Read from a file window, entries taken in any order come out whole:
// tiny ones, ones larger than the reader's buffer, stored and deflated,
// encrypted or not, and ones whose local header carries a longer extra
// field than the directory announces (so what the reader expects to read
// ends short of the data).
TEST(XZip, FileWindowReadsEntriesInAnyOrder) {
    const std::string longExtra = [] {
        std::string field = "\x99\x99";               // a private header id
        const uint16_t size = 6000;                   // longer than a small refill
        field.push_back(char(size & 0xFF));
        field.push_back(char(size >> 8));
        return field + std::string(size, 'e');
    }();
    std::vector<fixture::ZipItem> items;
    const size_t sizes[] = {0, 1, 4095, 4096, 4097, 70000, 262143, 262144, 600000};
    int n = 0;
    for (size_t size : sizes) {
        for (int form = 0; form < 4; ++form) {
            fixture::ZipItem item;
            item.name = "e" + std::to_string(n++) + ".bin";
            item.bytes = form % 2 ? fixture::Noise(size, uint32_t(n)) : std::string(size, char('a' + n % 26));
            item.stored = form >= 2;
            item.password = n % 3 == 0 ? nullptr : "";
            if (n % 5 == 0) item.localExtra = longExtra;
            items.push_back(item);
        }
    }
    const auto bytes = MakeZip(items, kPassword);
    ASSERT_FALSE(bytes.empty());
    testing_util::TempDir dir;
    std::vector<uint8_t> padded(1000, 'x');
    padded.insert(padded.end(), bytes.begin(), bytes.end());
    padded.resize(padded.size() + 3000, 'y');  // the window ends before the file does
    ASSERT_TRUE(testing_util::WriteAll(dir / L"pack.bin", padded));

    XZip zip;
    ASSERT_TRUE(zip.OpenFromFileWindow((dir / L"pack.bin").c_str(), 1000, bytes.size(), kPassword));
    ASSERT_EQ(int(items.size()), zip.Count());
    std::vector<int> order(items.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = int(i * 7 % order.size());  // 7 is prime to 36
    for (int round = 0; round < 2; ++round) {
        for (int i : order) {
            SCOPED_TRACE(items[size_t(i)].name);
            std::string out;
            ASSERT_TRUE(zip.Read(i, [](const void* p, uint32_t count, void* context) {
                static_cast<std::string*>(context)->append(static_cast<const char*>(p), count);
                return true;
            }, &out));
            EXPECT_TRUE(out == items[size_t(i)].bytes) << out.size() << " bytes";
        }
        std::reverse(order.begin(), order.end());
    }
}
