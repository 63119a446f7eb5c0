// theme.txt: reading with the prefix-key rule and strtoul-style values,
// writing, files; the font's GDI handle.
#include <gtest/gtest.h>

#include <string>

#include "tests/common/test_util.h"
#include "ui/theme.h"

namespace {

CTheme InstallerTheme() {
    CTheme theme;
    theme.SetForecolor(0xFF808080);
    theme.SetBackcolor(0xFFFFFFFF);
    theme.SetTextcolor(0xFF000000);
    return theme;
}

}  // namespace

TEST(ThemeTest, ParseRules) {
    struct Case {
        const wchar_t* text;
        bool ok;
        uint32_t fore, back, textColor;
    } cases[] = {
        {L"{\"textcolor\":\"#FF0000FF\"}", true, 0xFF808080, 0xFFFFFFFF, 0xFF0000FF},
        {L"\xFEFF junk {\"textcolor\" : 00ff00 }", true, 0xFF808080, 0xFFFFFFFF, 0x0000FF00},
        {L"{\"text\":\"#12\"}", true, 0xFF808080, 0xFFFFFFFF, 0x12},
        {L"{\"\":\"#ABCDEF\"}", true, 0xABCDEF, 0xABCDEF, 0xABCDEF},
        {L"{\"forecolor\":\"#123456789\"}", true, 0xFFFFFFFF, 0xFFFFFFFF, 0xFF000000},
        {L"{\"backcolor\":\"zz\",\"textcolor\":\"\"}", true, 0xFF808080, 0, 0xFF000000},
        {L"{\"backcolor\":\"  0x1F\"}", true, 0xFF808080, 0x1F, 0xFF000000},
        {L"{\"textcolor\":\"#12G4\"}", true, 0xFF808080, 0xFFFFFFFF, 0x12},
        {L"{\"forecolor\":1,\"backcolor\":2,\"textcolor\":3}", true, 1, 2, 3},
        {L"{\"other\":\"#1\",\"textcolor\":\"#2\"}", true, 0xFF808080, 0xFFFFFFFF, 2},
        {L"{\"textcolorx\":\"#1\"}", true, 0xFF808080, 0xFFFFFFFF, 0xFF000000},
        {L"{textcolor:\"#1\"}", true, 0xFF808080, 0xFFFFFFFF, 0xFF000000},
        {L"no brace \"textcolor\":\"#1\"", false, 0xFF808080, 0xFFFFFFFF, 0xFF000000},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(testing_util::Narrow(c.text));
        CTheme theme = InstallerTheme();
        EXPECT_EQ(theme.ParseText(c.text, int(wcslen(c.text))), c.ok);
        EXPECT_EQ(theme.GetForecolor(), c.fore);
        EXPECT_EQ(theme.GetBackcolor(), c.back);
        EXPECT_EQ(theme.GetTextcolor(), c.textColor);
    }
    CTheme theme = InstallerTheme();
    EXPECT_FALSE(theme.ParseText(nullptr, 10));
    // The length bounds the search: the pair after it is not seen.
    const wchar_t* text = L"{\"textcolor\":\"#1\"}";
    EXPECT_TRUE(theme.ParseText(text, 5));
    EXPECT_EQ(theme.GetTextcolor(), 0xFF000000u);
    // A value longer than 63 characters is cut to 63: only hex digits count anyway.
    std::wstring padded = L"{\"textcolor\":\"" + std::wstring(62, L' ') + L"12\"}";
    EXPECT_TRUE(theme.ParseText(padded.c_str(), int(padded.size())));
    EXPECT_EQ(theme.GetTextcolor(), 1u);
    EXPECT_TRUE(theme.ParseTextA("{\"backcolor\":\"#00ff00ff\"}", 25));
    EXPECT_EQ(theme.GetBackcolor(), 0x00FF00FFu);
}

TEST(ThemeTest, FormatText) {
    CTheme theme = InstallerTheme();
    wchar_t buffer[80];
    wmemset(buffer, L'@', 80);
    EXPECT_EQ(theme.FormatText(buffer, 74), 73);
    EXPECT_STREQ(buffer,
                 L"{\"forecolor\":\"#FF808080\",\"backcolor\":\"#FFFFFFFF\",\"textcolor\":\"#FF000000\"}");
    EXPECT_EQ(buffer[74], L'@');
    char narrow[74];
    EXPECT_EQ(theme.FormatTextA(narrow, 74), 73);
    EXPECT_STREQ(narrow,
                 "{\"forecolor\":\"#FF808080\",\"backcolor\":\"#FFFFFFFF\",\"textcolor\":\"#FF000000\"}");

    // Too small for the last entry: it is left out, nothing is written past the end.
    wmemset(buffer, L'@', 80);
    EXPECT_EQ(theme.FormatText(buffer, 73), 50);
    EXPECT_STREQ(buffer, L"{\"forecolor\":\"#FF808080\",\"backcolor\":\"#FFFFFFFF\",}");
    EXPECT_EQ(buffer[73], L'@');
    EXPECT_EQ(theme.FormatText(buffer, 5), 4);
    EXPECT_STREQ(buffer, L"{,,}");
    EXPECT_EQ(theme.FormatText(buffer, 4), 0);
    EXPECT_EQ(theme.FormatText(nullptr, 100), 0);
}

TEST(ThemeTest, Files) {
    testing_util::TempDir dir;
    CTheme theme = InstallerTheme();
    theme.SetTextcolor(0xFF112233);
    const std::wstring path = dir / L"主题.txt";
    EXPECT_EQ(theme.SaveToFile(path.c_str()), 146u);
    auto bytes = testing_util::ReadAll(path);
    ASSERT_EQ(bytes.size(), 146u);
    EXPECT_EQ(bytes[0], '{');  // no byte-order mark
    EXPECT_EQ(bytes[1], 0);

    CTheme loaded = InstallerTheme();
    EXPECT_TRUE(loaded.LoadFromFile(path.c_str()));
    EXPECT_EQ(loaded.GetTextcolor(), 0xFF112233u);

    // With a byte-order mark.
    std::vector<uint8_t> bom = {0xFF, 0xFE};
    const wchar_t* text = L"{\"forecolor\":\"#01020304\"}";
    bom.insert(bom.end(), reinterpret_cast<const uint8_t*>(text),
               reinterpret_cast<const uint8_t*>(text + wcslen(text)));
    ASSERT_TRUE(testing_util::WriteAll(dir / L"bom.txt", bom));
    EXPECT_TRUE(loaded.LoadFromFile((dir / L"bom.txt").c_str()));
    EXPECT_EQ(loaded.GetForecolor(), 0x01020304u);

    // An 8-bit file holds no wide '{'.
    const char ansi[] = "{\"textcolor\":\"#FF0000FF\"}";
    ASSERT_TRUE(testing_util::WriteAll(dir / L"ansi.txt", ansi, sizeof(ansi) - 1));
    EXPECT_FALSE(loaded.LoadFromFile((dir / L"ansi.txt").c_str()));
    EXPECT_EQ(loaded.GetTextcolor(), 0xFF112233u);
    EXPECT_FALSE(loaded.LoadFromFile((dir / L"missing.txt").c_str()));

    const std::string narrow = testing_util::Narrow(dir / L"a.txt");
    EXPECT_EQ(loaded.SaveToFileA(narrow.c_str()), 146u);
    CTheme again;
    EXPECT_TRUE(again.LoadFromFileA(narrow.c_str()));
    EXPECT_EQ(again.GetForecolor(), 0x01020304u);
    EXPECT_EQ(loaded.SaveToFile((dir / L"no\\such\\dir.txt").c_str()), 0u);
}

TEST(ThemeTest, FontHandleFollowsTheFields) {
    CFont font;
    EXPECT_EQ(font.Handle(), nullptr);
    EXPECT_STREQ(font.face, L"Arial");
    ASSERT_TRUE(font.CreateHandle());
    LOGFONTW lf = {};
    ASSERT_TRUE(GetObjectW(font.Handle(), sizeof(lf), &lf));
    EXPECT_EQ(lf.lfHeight, 15);
    EXPECT_EQ(lf.lfWeight, FW_THIN);
    EXPECT_EQ(lf.lfCharSet, DEFAULT_CHARSET);
    EXPECT_EQ(lf.lfOutPrecision, OUT_STROKE_PRECIS);
    EXPECT_EQ(lf.lfClipPrecision, CLIP_STROKE_PRECIS);
    EXPECT_EQ(lf.lfQuality, CLEARTYPE_NATURAL_QUALITY);
    EXPECT_EQ(lf.lfPitchAndFamily, FF_SWISS);
    EXPECT_STREQ(lf.lfFaceName, L"Arial");

    font.height = 32;
    font.bold = true;
    font.underline = true;
    ASSERT_TRUE(font.CreateHandle());
    ASSERT_TRUE(GetObjectW(font.Handle(), sizeof(lf), &lf));
    EXPECT_EQ(lf.lfHeight, 32);
    EXPECT_EQ(lf.lfWeight, FW_BOLD);
    EXPECT_TRUE(lf.lfUnderline);
}
