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
    int n = GetJsonValue(out, capacity, name, text, text + strlen(text));
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
    EXPECT_EQ(FindJsonValue(&len, "b", text, text + 13), nullptr);
    EXPECT_NE(FindJsonValue(&len, "b", text, text + 15), nullptr);
    EXPECT_EQ(len, 1);
}

TEST(JsonValue, CapacityCutsWithoutTerminator) {
    const char* text = R"("forecolor":"#FF102030"})";
    char out[12];
    memset(out, '#', sizeof out);
    EXPECT_EQ(GetJsonValue(out, 4, "forecolor", text, text + strlen(text)), 4);
    EXPECT_EQ(std::string(out, 5), "#FF1#");
    memset(out, '#', sizeof out);
    EXPECT_EQ(GetJsonValue(out, 10, "forecolor", text, text + strlen(text)), 9);
    EXPECT_EQ(out[9], 0);
}

TEST(JsonValue, WideFormMatchesNarrow) {
    const wchar_t* text = LR"( "forecolor":"#FF102030", "backcolor":"#FF000000"})";
    wchar_t out[16] = {};
    EXPECT_EQ(GetJsonValue(out, 15, L"backcolor", text, text + wcslen(text)), 9);
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
