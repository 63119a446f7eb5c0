#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/text.h"

TEST(JoinWithSeparators, WritesWithoutTerminator) {
    wchar_t out[16];
    wmemset(out, L'#', 16);
    EXPECT_EQ(JoinWithSeparators(out, 12, L"app", L"client", -1, L'=', L';'), 11);
    EXPECT_EQ(std::wstring(out, 12), L"app=client;#");
    wmemset(out, L'#', 16);
    EXPECT_EQ(JoinWithSeparators(out, 10, L"app", L"client", -1, L'=', L';'), 0);
    EXPECT_EQ(out[0], L'#');
    EXPECT_EQ(JoinWithSeparators(out, 16, L"app", L"client", 3, L'=', L';'), 8);
    EXPECT_EQ(std::wstring(out, 8), L"app=cli;");
}

TEST(JoinWithSeparators, Refusals) {
    wchar_t out[16];
    EXPECT_EQ(JoinWithSeparators(nullptr, 16, L"a", L"b", -1, L'=', L';'), 0);
    EXPECT_EQ(JoinWithSeparators(out, 0, L"a", L"b", -1, L'=', L';'), 0);
    EXPECT_EQ(JoinWithSeparators(out, 16, L"", L"b", -1, L'=', L';'), 0);
    EXPECT_EQ(JoinWithSeparators(out, 16, L"a", nullptr, -1, L'=', L';'), 0);
    EXPECT_EQ(JoinWithSeparators(out, 16, L"a", L"b", -1, 0, L';'), 0);
    EXPECT_EQ(JoinWithSeparators(out, 16, L"a", L"", -1, L'=', L';'), 3);  // empty value is fine
}

namespace {
std::string Get(const char* text, const char* name, int capacity = 64) {
    char out[80];
    memset(out, '#', sizeof out);
    int n = GetQuotedKeyValue(out, capacity, name, text, text + strlen(text));
    return std::string(out, size_t(n));
}
}  // namespace

TEST(JsonValue, LookupTable) {
    const char* colours = R"( "forecolor":"#FF102030", "backcolor":"#FF000000"})";
    struct Case {
        const char* text;
        const char* name;
        const char* expect;
    } cases[] = {
        {colours, "forecolor", "#FF102030"},
        {colours, "backcolor", "#FF000000"},
        {colours, "absent", ""},                       // ends at the closing brace
        {R"("size": 12 , "x":"y"})", "size", "12"},    // unquoted, trailing blank dropped
        {R"("a":1,"size":7})", "size", "7"},           // unquoted, ends at the brace
        {R"("a":"1","b" : "2"})", "b", "2"},           // blanks around the colon
        {R"("fore":"1","forecolor":"2"})", "forecolor", "1"},  // prefix member matches
        {R"("":"e","x":"y"})", "x", "e"},              // empty member name matches anything
        {R"("a" "b"})", "b", ""},                      // missing colon
        {R"("a":"unclosed)", "a", ""},                 // quote never closed
        {R"(  )", "a", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(Get(c.text, c.name), c.expect) << c.text << " / " << c.name;
}

TEST(JsonValue, EndBoundsTheSearch) {
    const char* text = R"("a":"1","b":"2"})";
    int len = 0;
    // The end cuts before b's closing quote.
    EXPECT_EQ(FindQuotedKey(&len, "b", text, text + 13), nullptr);
    EXPECT_NE(FindQuotedKey(&len, "b", text, text + 15), nullptr);
    EXPECT_EQ(len, 1);
}

TEST(JsonValue, CapacityCutsWithoutTerminator) {
    const char* text = R"("forecolor":"#FF102030"})";
    char out[12];
    memset(out, '#', sizeof out);
    EXPECT_EQ(GetQuotedKeyValue(out, 4, "forecolor", text, text + strlen(text)), 4);
    EXPECT_EQ(std::string(out, 5), "#FF1#");
    memset(out, '#', sizeof out);
    EXPECT_EQ(GetQuotedKeyValue(out, 10, "forecolor", text, text + strlen(text)), 9);
    EXPECT_EQ(out[9], 0);
}

TEST(JsonValue, WideFormMatchesNarrow) {
    const wchar_t* text = LR"( "forecolor":"#FF102030", "backcolor":"#FF000000"})";
    wchar_t out[16] = {};
    EXPECT_EQ(GetQuotedKeyValue(out, 15, L"backcolor", text, text + wcslen(text)), 9);
    EXPECT_STREQ(out, L"#FF000000");
}

TEST(FormatJsonPair, WritesPair) {
    char out[32];
    memset(out, '#', sizeof out);
    EXPECT_EQ(FormatJsonPair(out, 23, "forecolor", "#FF102030", -1), 23);
    EXPECT_EQ(std::string(out, 24), "\"forecolor\":\"#FF102030\"#");
    EXPECT_EQ(FormatJsonPair(out, 22, "forecolor", "#FF102030", -1), 0);
    EXPECT_EQ(FormatJsonPair(out, 32, "", "x", -1), 0);
    wchar_t w[32];
    EXPECT_EQ(FormatJsonPair(w, 32, L"k", L"value", 2), 8);
    EXPECT_EQ(std::wstring(w, 8), L"\"k\":\"va\"");
}

TEST(Bom, DetectWriteAndSizes) {
    struct Case {
        uint8_t bytes[4];
        int encoding;
    } cases[] = {
        {{0xEF, 0xBB, 0xBF, 'a'}, kEncodingUtf8},
        {{0xFF, 0xFE, 0x00, 0x00}, kEncodingUtf32LE},  // UTF-16LE starting with U+0000 too
        {{0x00, 0x00, 0xFE, 0xFF}, kEncodingUtf32BE},
        {{0xFF, 0xFE, 'a', 0x00}, kEncodingUtf16LE},
        {{0xFE, 0xFF, 0x00, 'a'}, kEncodingUtf16BE},
        {{'a', 'b', 'c', 'd'}, kEncodingNone},
    };
    for (const auto& c : cases) EXPECT_EQ(DetectBom(c.bytes), c.encoding);
    EXPECT_EQ(DetectBom(nullptr), kEncodingNone);

    for (int e = 1; e <= 5; ++e) {
        uint8_t out[4] = {0x11, 0x11, 0x11, 0x11};
        int n = WriteBom(e, out);
        EXPECT_EQ(n, BomSize(e));
        uint8_t padded[4] = {0x11, 0x11, 0x11, 0x11};
        memcpy(padded, out, 4);
        if (e != kEncodingUtf16LE) {
            EXPECT_EQ(DetectBom(padded), e) << e;
        }
    }
    uint8_t out[4];
    EXPECT_EQ(WriteBom(0, out), 0);
    EXPECT_EQ(WriteBom(6, out), 0);
    EXPECT_EQ(WriteBom(1, nullptr), 0);
    EXPECT_EQ(BomSize(0), 0);
}

// Expected escapes are spelled out as bytes: 文 is E6 96 87 in UTF-8.
TEST(PercentEncoding, PathOfLocalNames) {
    struct Case {
        const wchar_t* path;
        const wchar_t* encoded;
    } cases[] = {
        {L"data/pack00/file-1_a.b~", L"data/pack00/file-1_a.b~"},  // unreserved and "/" stay
        {L"文件 0000.bin", L"%E6%96%87%E4%BB%B6%200000.bin"},
        {L"a#b%c+d&e", L"a%23b%25c%2Bd%26e"},
        {L"%41", L"%2541"},                       // a "%" of a name is a character
        {L"x?y=1;z:@!$'()*,[]", L"x%3Fy%3D1%3Bz%3A%40%21%24%27%28%29%2A%2C%5B%5D"},
        {L"a\\b", L"a%5Cb"},
        {L"é", L"%C3%A9"},                        // two bytes
        {L"\U0001F600", L"%F0%9F%98%80"},         // a surrogate pair, four bytes
        {L"a\xD800z", L"a%EF%BF%BDz"},            // unpaired: U+FFFD
        {L"\xDC00", L"%EF%BF%BD"},
        {L"\x7F\x01", L"%7F%01"},
        {L"", L""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.encoded, EncodeUrlPath(c.path)) << testing::PrintToString(std::wstring(c.path));
    EXPECT_EQ(L"", EncodeUrlPath(nullptr));
}

TEST(PercentEncoding, WholeAddressKeepsWhatAUrlMayHold) {
    struct Case {
        const wchar_t* address;
        const wchar_t* encoded;
    } cases[] = {
        {L"http://host:8080/a/b.bin?ts=8001#x", L"http://host:8080/a/b.bin?ts=8001#x"},
        {L"http://h/dragon/files/文件 0000.bin",
         L"http://h/dragon/files/%E6%96%87%E4%BB%B6%200000.bin"},
        {L"http://h/a+b&c=d;e,f!$'()*@[]", L"http://h/a+b&c=d;e,f!$'()*@[]"},
        // Escapes made before stay, in either case; a lone "%" is escaped.
        {L"http://h/%E6%96%87%20x%2b", L"http://h/%E6%96%87%20x%2b"},
        {L"http://h/100%.txt", L"http://h/100%25.txt"},
        {L"http://h/%4", L"http://h/%254"},
        {L"http://h/%zz", L"http://h/%25zz"},
        {L"http://h/a\"b<c>d\\e^f`g{h|i}j", L"http://h/a%22b%3Cc%3Ed%5Ce%5Ef%60g%7Bh%7Ci%7Dj"},
        {L"http://h/\t\x7F", L"http://h/%09%7F"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.encoded, EncodeUrl(c.address)) << testing::PrintToString(std::wstring(c.address));
    // Encoding twice changes nothing: the result holds only what stays.
    for (const Case& c : cases) EXPECT_EQ(c.encoded, EncodeUrl(c.encoded));
    EXPECT_EQ(EncodeUrlPath(L"文件 #%+&.bin"), EncodeUrl(EncodeUrlPath(L"文件 #%+&.bin").c_str()));
    EXPECT_EQ(L"", EncodeUrl(nullptr));
}
