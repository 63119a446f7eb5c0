#include "ui_fixtures.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <png.h>

namespace ui_fixtures {

namespace {

void AppendPng(png_structp png, png_bytep data, png_size_t n) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}
void FlushPng(png_structp) {}

}  // namespace

std::vector<uint8_t> EncodePng(int width, int height, const std::vector<Rgba>& pixels,
                               const PngOptions& o) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, AppendPng, FlushPng);
    png_set_IHDR(png, info, width, height, o.bitDepth, o.colorType,
                 o.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);

    std::vector<png_color> palette;
    std::vector<uint8_t> indices(pixels.size());
    if (o.colorType == PNG_COLOR_TYPE_PALETTE) {
        for (size_t i = 0; i < pixels.size(); ++i) {
            size_t k = 0;
            while (k < palette.size() && (palette[k].red != pixels[i].r ||
                                          palette[k].green != pixels[i].g ||
                                          palette[k].blue != pixels[i].b))
                ++k;
            if (k == palette.size()) palette.push_back({pixels[i].r, pixels[i].g, pixels[i].b});
            indices[i] = uint8_t(k);
        }
        png_set_PLTE(png, info, palette.data(), int(palette.size()));
    }
    if (o.transparentColor) {
        png_color_16 trns = {};
        trns.red = o.trnsColor.r;
        trns.green = o.trnsColor.g;
        trns.blue = o.trnsColor.b;
        png_set_tRNS(png, info, nullptr, 0, &trns);
    }
    png_write_info(png, info);

    int channels = 4;
    switch (o.colorType) {
        case PNG_COLOR_TYPE_RGB: channels = 3; break;
        case PNG_COLOR_TYPE_GRAY: channels = 1; break;
        case PNG_COLOR_TYPE_GRAY_ALPHA: channels = 2; break;
        case PNG_COLOR_TYPE_PALETTE: channels = 1; break;
        default: break;
    }
    const int bytesPerSample = o.bitDepth == 16 ? 2 : 1;
    std::vector<uint8_t> image(size_t(width) * height * channels * bytesPerSample);
    for (int i = 0; i < width * height; ++i) {
        const Rgba& p = pixels[i];
        uint8_t samples[4] = {p.r, p.g, p.b, p.a};
        if (o.colorType == PNG_COLOR_TYPE_GRAY || o.colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
            samples[1] = p.a;
        if (o.colorType == PNG_COLOR_TYPE_PALETTE) samples[0] = indices[i];
        for (int c = 0; c < channels; ++c) {
            uint8_t* s = &image[(size_t(i) * channels + c) * bytesPerSample];
            s[0] = samples[c];
            if (bytesPerSample == 2) s[1] = samples[c];  // v * 257: exact after stripping
        }
    }
    std::vector<png_bytep> rows(height);
    for (int y = 0; y < height; ++y)
        rows[y] = &image[size_t(y) * width * channels * bytesPerSample];
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::vector<uint8_t> EncodeJpeg(int width, int height, const std::vector<Rgba>& pixels,
                                int components, int quality, bool progressive) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = components;
    cinfo.in_color_space = components == 3 ? JCS_RGB : components == 1 ? JCS_GRAYSCALE : JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(size_t(width) * components);
    while (cinfo.next_scanline < cinfo.image_height) {
        const Rgba* p = &pixels[size_t(cinfo.next_scanline) * width];
        for (int x = 0; x < width; ++x) {
            const uint8_t s[4] = {p[x].r, p[x].g, p[x].b, p[x].a};
            for (int c = 0; c < components; ++c) row[size_t(x) * components + c] = s[c];
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> out(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    free(buffer);
    return out;
}

std::vector<Rgba> Solid(int width, int height, Rgba color) {
    return std::vector<Rgba>(size_t(width) * height, color);
}

std::vector<Rgba> Strip(int width, int frameHeight, const std::vector<Rgba>& colors) {
    std::vector<Rgba> out;
    for (const Rgba& c : colors) out.insert(out.end(), size_t(width) * frameHeight, c);
    return out;
}

GuardedBlock::GuardedBlock(const uint8_t* bytes, size_t size) : size_(size) {
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    const size_t page = si.dwPageSize;
    const size_t dataPages = (size + page - 1) / page + 1;
    base_ = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, (dataPages + 1) * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old;
    VirtualProtect(base_ + dataPages * page, page, PAGE_NOACCESS, &old);
    data_ = base_ + dataPages * page - size;
    if (size) std::memcpy(data_, bytes, size);
}

GuardedBlock::~GuardedBlock() {
    if (base_) VirtualFree(base_, 0, MEM_RELEASE);
}

uint32_t Premultiplied(Rgba c) {
    return Bgra(uint8_t(c.b * c.a / 255), uint8_t(c.g * c.a / 255), uint8_t(c.r * c.a / 255), c.a);
}

std::vector<uint8_t> EncodeBufferPng(const uint32_t* pixels, int width, int height) {
    std::vector<Rgba> straight(size_t(width) * height);
    for (size_t i = 0; i < straight.size(); ++i) {
        const uint32_t p = pixels[i];
        const uint8_t a = uint8_t(p >> 24);
        auto un = [a](uint32_t c) { return uint8_t(a ? (c * 255 + a / 2) / a > 255 ? 255 : (c * 255 + a / 2) / a : 0); };
        straight[i] = {un((p >> 16) & 0xFF), un((p >> 8) & 0xFF), un(p & 0xFF), a};
    }
    return EncodePng(width, height, straight);
}

}  // namespace ui_fixtures
