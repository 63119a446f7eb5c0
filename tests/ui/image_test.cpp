// Decoding of PNG and JPEG skins into premultiplied BGRA bitmaps, and the
// clean refusal of every format, colour type and damaged file not supported.
#include <gtest/gtest.h>

#include <png.h>

#include "tests/common/test_util.h"
#include "tests/ui/ui_fixtures.h"
#include "ui/image.h"

using namespace ui_fixtures;

namespace {

uint32_t PixelAt(CImage& image, int x, int y) {
    return static_cast<const uint32_t*>(image.GetBits())[y * image.GetWidth() + x];
}

void ExpectEmpty(CImage& image) {
    EXPECT_EQ(image.GetBitmap(), nullptr);
    EXPECT_EQ(image.GetBits(), nullptr);
    EXPECT_EQ(image.GetWidth(), 0);
    EXPECT_EQ(image.GetHeight(), 0);
    EXPECT_EQ(image.GetBitsPerPixel(), 0);
}

// The bitmap itself, read back through GDI, must hold the decoded pixels.
std::vector<uint32_t> BitmapPixels(HBITMAP bitmap, int w, int h) {
    std::vector<uint32_t> out(size_t(w) * h);
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = w;
    bmi.bmiHeader.biHeight = -h;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    HDC dc = GetDC(nullptr);
    GetDIBits(dc, bitmap, 0, h, out.data(), &bmi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    return out;
}

}  // namespace

TEST(ImageTest, RgbaPngIsPremultipliedInBgrOrder) {
    std::vector<Rgba> px = {{200, 100, 50, 128}, {10, 20, 30, 255}, {255, 255, 255, 0},
                            {255, 0, 128, 1}};
    auto png = EncodePng(2, 2, px);
    CImage image;
    ASSERT_TRUE(image.LoadFromMemory(png.data(), uint32_t(png.size())));
    EXPECT_EQ(image.GetWidth(), 2);
    EXPECT_EQ(image.GetHeight(), 2);
    EXPECT_EQ(image.GetBitsPerPixel(), 32);
    EXPECT_EQ(PixelAt(image, 0, 0), Bgra(25, 50, 100, 128));
    EXPECT_EQ(PixelAt(image, 1, 0), Bgra(30, 20, 10, 255));
    EXPECT_EQ(PixelAt(image, 0, 1), Bgra(0, 0, 0, 0));
    EXPECT_EQ(PixelAt(image, 1, 1), Bgra(0, 0, 1, 1));
    auto drawn = BitmapPixels(image.GetBitmap(), 2, 2);
    EXPECT_EQ(drawn[0], Bgra(25, 50, 100, 128));
    EXPECT_EQ(drawn[3], Bgra(0, 0, 1, 1));
}

TEST(ImageTest, AcceptedPngVariantsDecodeToExactPixels) {
    // A 9 x 9 picture of distinct colours: every Adam7 pass holds pixels.
    std::vector<Rgba> px;
    for (int i = 0; i < 81; ++i) px.push_back({uint8_t(i * 3), uint8_t(255 - i), uint8_t(i * 7), 255});
    px[40] = {1, 2, 3, 255};  // the transparent colour of the tRNS case

    struct Case {
        const char* name;
        PngOptions options;
    };
    PngOptions rgb;
    rgb.colorType = PNG_COLOR_TYPE_RGB;
    PngOptions rgb16 = rgb;
    rgb16.bitDepth = 16;
    PngOptions interlaced = rgb;
    interlaced.interlaced = true;
    PngOptions rgba16;
    rgba16.bitDepth = 16;
    PngOptions interlacedRgba;
    interlacedRgba.interlaced = true;
    PngOptions trns = rgb;
    trns.transparentColor = true;
    trns.trnsColor = {1, 2, 3, 0};
    PngOptions trnsInterlaced = trns;
    trnsInterlaced.interlaced = true;
    const Case cases[] = {{"rgb", rgb},
                          {"rgb 16-bit", rgb16},
                          {"rgb interlaced", interlaced},
                          {"rgba 16-bit", rgba16},
                          {"rgba interlaced", interlacedRgba},
                          {"rgb with tRNS", trns},
                          {"rgb with tRNS interlaced", trnsInterlaced}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto png = EncodePng(9, 9, px, c.options);
        ASSERT_FALSE(png.empty());
        CImage image;
        ASSERT_TRUE(image.LoadPng(png.data(), uint32_t(png.size())));
        ASSERT_EQ(image.GetWidth(), 9);
        ASSERT_EQ(image.GetHeight(), 9);
        for (int i = 0; i < 81; ++i) {
            Rgba want = px[i];
            if (c.options.transparentColor && i == 40) want.a = 0;
            ASSERT_EQ(PixelAt(image, i % 9, i / 9), Premultiplied(want)) << "pixel " << i;
        }
    }
}

TEST(ImageTest, UnsupportedPngColourTypesAreRefused) {
    auto px = Solid(4, 4, {90, 90, 90, 200});
    const int types[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_PALETTE};
    for (int type : types) {
        SCOPED_TRACE(type);
        PngOptions o;
        o.colorType = type;
        auto png = EncodePng(4, 4, px, o);
        ASSERT_FALSE(png.empty());
        CImage image;
        auto good = EncodePng(2, 2, Solid(2, 2, {1, 2, 3, 255}));
        ASSERT_TRUE(image.LoadPng(good.data(), uint32_t(good.size())));
        // The earlier picture goes too: a failed load leaves nothing behind.
        EXPECT_FALSE(image.LoadFromMemory(png.data(), uint32_t(png.size())));
        ExpectEmpty(image);
    }
}

TEST(ImageTest, JpegDecodesOpaqueBgra) {
    struct Case {
        const char* name;
        int components;
        bool progressive;
        Rgba color;
        uint32_t want;
    };
    const Case cases[] = {{"rgb", 3, false, {200, 40, 90, 255}, Bgra(90, 40, 200, 255)},
                          {"rgb progressive", 3, true, {200, 40, 90, 255}, Bgra(90, 40, 200, 255)},
                          {"grey", 1, false, {120, 0, 0, 255}, Bgra(120, 120, 120, 255)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto jpeg = EncodeJpeg(16, 16, Solid(16, 16, c.color), c.components, 100, c.progressive);
        CImage image;
        ASSERT_TRUE(image.LoadFromMemory(jpeg.data(), uint32_t(jpeg.size())));
        EXPECT_EQ(image.GetWidth(), 16);
        EXPECT_EQ(image.GetHeight(), 16);
        const uint32_t got = PixelAt(image, 7, 9);
        for (int shift = 0; shift < 32; shift += 8)  // lossy: a few levels either way
            EXPECT_NEAR(int((got >> shift) & 0xFF), int((c.want >> shift) & 0xFF), 3) << shift;
    }
}

TEST(ImageTest, CmykJpegIsRefused) {
    auto jpeg = EncodeJpeg(8, 8, Solid(8, 8, {10, 20, 30, 40}), 4);
    ASSERT_FALSE(jpeg.empty());
    CImage image;
    EXPECT_FALSE(image.LoadJpeg(jpeg.data(), uint32_t(jpeg.size())));
    ExpectEmpty(image);
}

TEST(ImageTest, FormatIsChosenBySignature) {
    auto jpeg = EncodeJpeg(8, 8, Solid(8, 8, {10, 200, 30, 255}));
    std::vector<uint8_t> pngGarbage = {0x89, 'P', 'N', 'G', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0};
    std::vector<uint8_t> twoBytes = {0xFF, 0xD8};
    std::vector<uint8_t> shortJpeg = {0xFF, 0xD8, 0xFF, 0xE0};
    struct Case {
        const char* name;
        const std::vector<uint8_t>* bytes;
        bool ok;
    };
    const Case cases[] = {{"jpeg", &jpeg, true},
                          {"png signature then garbage", &pngGarbage, false},
                          {"gif", &gif, false},
                          {"two bytes", &twoBytes, false},
                          {"jpeg shorter than 6 bytes", &shortJpeg, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CImage image;
        EXPECT_EQ(image.LoadFromMemory(c.bytes->data(), uint32_t(c.bytes->size())), c.ok);
        if (!c.ok) ExpectEmpty(image);
    }
    CImage image;
    EXPECT_FALSE(image.LoadFromMemory(nullptr, 100));
    // A JPEG handed to the PNG decoder and the other way round.
    auto png = EncodePng(2, 2, Solid(2, 2, {1, 2, 3, 255}));
    EXPECT_FALSE(image.LoadPng(jpeg.data(), uint32_t(jpeg.size())));
    EXPECT_FALSE(image.LoadJpeg(png.data(), uint32_t(png.size())));
    ExpectEmpty(image);
}

// Every prefix of a file is a truncated file; every byte flipped is a damaged
// one. None may crash, read past the block (it ends at an inaccessible page)
// or leave a half-made picture; truncation must always fail.
TEST(ImageTest, TruncatedAndDamagedFilesFailCleanly) {
    std::vector<Rgba> px;
    for (int i = 0; i < 64; ++i) px.push_back({uint8_t(i * 4), uint8_t(i), uint8_t(255 - i), uint8_t(i * 3)});
    PngOptions interlaced;
    interlaced.interlaced = true;
    const std::vector<uint8_t> files[] = {EncodePng(8, 8, px), EncodePng(8, 8, px, interlaced),
                                          EncodeJpeg(8, 8, px)};
    for (const auto& file : files) {
        for (size_t n = 0; n < file.size(); ++n) {
            GuardedBlock block(file.data(), n);
            CImage image;
            ASSERT_FALSE(image.LoadFromMemory(block.data(), block.size())) << "prefix " << n;
            ExpectEmpty(image);
        }
        for (size_t i = 0; i < file.size(); ++i) {
            std::vector<uint8_t> damaged = file;
            damaged[i] ^= 0x5A;
            GuardedBlock block(damaged.data(), damaged.size());
            CImage image;
            if (!image.LoadFromMemory(block.data(), block.size())) {
                ExpectEmpty(image);
            } else {
                EXPECT_EQ(image.GetWidth() * image.GetHeight() > 0, true);
                EXPECT_NE(image.GetBitmap(), nullptr);
            }
        }
        GuardedBlock whole(file.data(), file.size());
        CImage image;
        EXPECT_TRUE(image.LoadFromMemory(whole.data(), whole.size()));
    }
}

TEST(ImageTest, DamagedPngDataAndJpegTablesAreRefused) {
    auto png = EncodePng(8, 8, Solid(8, 8, {9, 8, 7, 255}));
    // The IDAT chunk's payload: its CRC no longer matches.
    auto idat = std::search(png.begin(), png.end(), std::begin("IDAT"), std::end("IDAT") - 1);
    ASSERT_NE(idat, png.end());
    idat[6] ^= 0xFF;
    CImage image;
    EXPECT_FALSE(image.LoadPng(png.data(), uint32_t(png.size())));
    ExpectEmpty(image);

    auto jpeg = EncodeJpeg(8, 8, Solid(8, 8, {9, 8, 7, 255}));
    // Start of frame: a precision of 3 bits does not exist.
    for (size_t i = 0; i + 4 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
            jpeg[i + 4] = 3;
            break;
        }
    }
    EXPECT_FALSE(image.LoadJpeg(jpeg.data(), uint32_t(jpeg.size())));
    ExpectEmpty(image);
}

TEST(ImageTest, FileLoadersAndReload) {
    testing_util::TempDir dir;
    auto png = EncodePng(3, 2, Solid(3, 2, {255, 0, 0, 255}));
    auto jpeg = EncodeJpeg(5, 4, Solid(5, 4, {0, 0, 255, 255}));
    ASSERT_TRUE(testing_util::WriteAll(dir / L"图片.png", png));
    ASSERT_TRUE(testing_util::WriteAll(dir / L"b.jpg", jpeg));

    CImage image;
    EXPECT_TRUE(image.LoadFromFile((dir / L"图片.png").c_str()));
    EXPECT_EQ(image.GetWidth(), 3);
    EXPECT_TRUE(image.LoadJpegFile((dir / L"b.jpg").c_str()));
    EXPECT_EQ(image.GetWidth(), 5);
    EXPECT_TRUE(image.LoadPngFile((dir / L"图片.png").c_str()));
    EXPECT_EQ(image.GetHeight(), 2);
    std::string narrow = testing_util::Narrow(dir / L"b.jpg");  // ASCII path: UTF-8 equals ANSI
    EXPECT_TRUE(image.LoadFromFileA(narrow.c_str()));
    EXPECT_EQ(image.GetWidth(), 5);
    EXPECT_FALSE(image.LoadPngFileA(narrow.c_str()));
    ExpectEmpty(image);
    EXPECT_FALSE(image.LoadFromFile((dir / L"missing.png").c_str()));
    ExpectEmpty(image);
}

TEST(ImageTest, ResourceLoaders) {
    // tests/ui/resources.rc: 7 a PNG and 8 a JPEG of type "PNG", 9 a PNG of type "SKIN".
    HMODULE self = GetModuleHandleW(nullptr);
    CImage image;
    ASSERT_TRUE(image.LoadPngResource(self, 7));  // the type is looked up as "png"
    EXPECT_EQ(image.GetWidth(), 2);
    EXPECT_EQ(PixelAt(image, 0, 0), Bgra(25, 50, 100, 128));
    ASSERT_TRUE(image.LoadJpegFromPngResource(self, 8));
    EXPECT_EQ(image.GetWidth(), 8);
    EXPECT_NEAR(int(PixelAt(image, 3, 3) & 0xFF), 255, 3);
    EXPECT_FALSE(image.LoadJpegFromPngResource(self, 7));  // a PNG is no JPEG
    ExpectEmpty(image);
    EXPECT_TRUE(image.LoadFromResource(self, 8, L"PNG"));
    EXPECT_TRUE(image.LoadFromResource(self, 9, L"SKIN"));
    EXPECT_EQ(image.GetHeight(), 2);
    EXPECT_FALSE(image.LoadFromResource(self, 9, L"PNG"));
    ExpectEmpty(image);
    EXPECT_FALSE(image.LoadPngResource(self, 4321));
    EXPECT_FALSE(image.LoadFromResource(self, 7, nullptr));
    ExpectEmpty(image);
}

TEST(ImageTest, CreateCopiesPixelsIntoADibSection) {
    const uint32_t px[6] = {1, 2, 3, 4, 5, 0xFF00FF00};
    CImage image;
    ASSERT_TRUE(image.Create(3, 2, 32, px));
    EXPECT_EQ(image.GetBitsPerPixel(), 32);
    EXPECT_EQ(PixelAt(image, 2, 1), 0xFF00FF00u);
    EXPECT_EQ(BitmapPixels(image.GetBitmap(), 3, 2)[5], 0xFF00FF00u);  // top-down rows
    EXPECT_FALSE(image.Create(0, 5, 32, nullptr));
    ExpectEmpty(image);

    // A stretched copy of another bitmap.
    CImage source;
    std::vector<uint32_t> solid(16, Bgra(10, 20, 30, 255));
    ASSERT_TRUE(source.Create(4, 4, 32, solid.data()));
    ASSERT_TRUE(image.CreateFromBitmap(source.GetBitmap(), 8, 2));
    EXPECT_EQ(image.GetWidth(), 8);
    EXPECT_EQ(image.GetHeight(), 2);
    EXPECT_EQ(PixelAt(image, 5, 1) & 0xFFFFFF, Bgra(10, 20, 30, 0));
    EXPECT_FALSE(image.CreateFromBitmap(nullptr, 8, 2));

    HICON icon = image.CreateIcon();
    EXPECT_NE(icon, nullptr);
    if (icon) DestroyIcon(icon);
    CImage empty;
    EXPECT_EQ(empty.CreateIcon(), nullptr);
}
