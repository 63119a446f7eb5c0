#include "ui/image.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

#include <jpeglib.h>
#include <jerror.h>
#include <png.h>

#include "support/data.h"
#include "support/packed.h"

namespace {

// Refuse headers that would need absurd amounts of memory before a single
// row is read: a damaged or hostile file must not exhaust the process.
constexpr uint64_t kMaxPixels = 64u * 1024 * 1024;

bool SizeAcceptable(uint32_t w, uint32_t h) {
    return w > 0 && h > 0 && uint64_t(w) * h <= kMaxPixels;
}

void Premultiply(uint8_t* p, size_t count) {
    for (size_t i = 0; i < count; ++i, p += 4) {
        const unsigned a = p[3];
        if (a == 255) continue;
        p[0] = uint8_t(p[0] * a / 255);
        p[1] = uint8_t(p[1] * a / 255);
        p[2] = uint8_t(p[2] * a / 255);
    }
}

// --- PNG ------------------------------------------------------------------

struct PngSource {
    const uint8_t* data;
    size_t size;
    size_t offset;
};

void ReadPngCallback(png_structp png, png_bytep out, png_size_t n) {
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (!source || n > source->size - source->offset) png_error(png, "ReadPNGCallback failed");
    std::memcpy(out, source->data + source->offset, n);
    source->offset += n;
}

void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

// Decodes into a new[] buffer of premultiplied BGRA; null on any failure.
// Nothing with a destructor lives in this frame: libpng leaves by longjmp.
uint8_t* DecodePng(const uint8_t* data, size_t size, uint32_t* width, uint32_t* height) {
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
    if (!png) return nullptr;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return nullptr;
    }
    PngSource source = {data, size, 8};
    uint8_t* volatile pixels = nullptr;
    png_bytep* volatile rows = nullptr;
    if (setjmp(png_jmpbuf(png))) {
        delete[] pixels;
        delete[] rows;
        png_destroy_read_struct(&png, &info, nullptr);
        return nullptr;
    }
    png_set_read_fn(png, &source, ReadPngCallback);
    png_set_sig_bytes(png, 8);
    png_read_info(png, info);

    const int colorType = png_get_color_type(png, info);
    if (colorType != PNG_COLOR_TYPE_RGB_ALPHA && colorType != PNG_COLOR_TYPE_RGB)
        png_longjmp(png, 1);
    const uint32_t w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    if (!SizeAcceptable(w, h)) png_longjmp(png, 1);

    png_set_bgr(png);
    if (png_get_bit_depth(png, info) == 16) png_set_strip_16(png);
    // An RGB image with a transparent colour comes out with real alpha; a
    // plain RGB image gets an opaque fourth byte. Both end as 4 bytes a pixel.
    const bool hasAlpha = colorType == PNG_COLOR_TYPE_RGB_ALPHA ||
                          png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (!hasAlpha) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    // Interlaced files are assembled by libpng over all passes.
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(w) * 4) png_longjmp(png, 1);

    pixels = new (std::nothrow) uint8_t[size_t(w) * h * 4];
    rows = new (std::nothrow) png_bytep[h];
    if (!pixels || !rows) png_longjmp(png, 1);
    for (uint32_t y = 0; y < h; ++y) rows[y] = pixels + size_t(y) * w * 4;
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    delete[] rows;

    if (hasAlpha) Premultiply(pixels, size_t(w) * h);
    *width = w;
    *height = h;
    return pixels;
}

// --- JPEG -----------------------------------------------------------------

struct JpegError {
    jpeg_error_mgr manager;
    jmp_buf jump;
};

void JpegErrorExit(j_common_ptr cinfo) { longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1); }

// libjpeg reports damaged entropy data as warnings and carries on with a
// garbled picture; a damaged skin image is refused instead.
void JpegEmitMessage(j_common_ptr cinfo, int level) {
    if (level < 0) JpegErrorExit(cinfo);
}
void JpegOutputMessage(j_common_ptr) {}

void SourceInit(j_decompress_ptr) {}
void SourceTerm(j_decompress_ptr) {}

// The whole block is the buffer from the start; asking for more means the
// file is truncated. Failing here keeps every read inside the block.
boolean SourceFill(j_decompress_ptr cinfo) {
    cinfo->err->msg_code = JERR_INPUT_EOF;
    cinfo->err->error_exit(reinterpret_cast<j_common_ptr>(cinfo));
    return FALSE;
}

void SourceSkip(j_decompress_ptr cinfo, long n) {
    if (n <= 0) return;
    jpeg_source_mgr* src = cinfo->src;
    if (size_t(n) > src->bytes_in_buffer) {
        src->next_input_byte += src->bytes_in_buffer;
        src->bytes_in_buffer = 0;
        return;
    }
    src->next_input_byte += n;
    src->bytes_in_buffer -= size_t(n);
}

uint8_t* DecodeJpeg(const uint8_t* data, size_t size, uint32_t* width, uint32_t* height) {
    jpeg_decompress_struct cinfo;
    JpegError error;
    cinfo.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = JpegErrorExit;
    error.manager.emit_message = JpegEmitMessage;
    error.manager.output_message = JpegOutputMessage;
    uint8_t* volatile pixels = nullptr;
    if (setjmp(error.jump)) {
        delete[] pixels;
        jpeg_destroy_decompress(&cinfo);
        return nullptr;
    }
    jpeg_create_decompress(&cinfo);

    jpeg_source_mgr source = {};
    source.next_input_byte = data;
    source.bytes_in_buffer = size;
    source.init_source = SourceInit;
    source.fill_input_buffer = SourceFill;
    source.skip_input_data = SourceSkip;
    source.resync_to_restart = jpeg_resync_to_restart;
    source.term_source = SourceTerm;
    cinfo.src = &source;

    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) longjmp(error.jump, 1);
    if (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK)
        longjmp(error.jump, 1);
    if (!jpeg_start_decompress(&cinfo)) longjmp(error.jump, 1);
    const int components = cinfo.output_components;
    if (components != 3 && components != 1) longjmp(error.jump, 1);
    const uint32_t w = cinfo.output_width, h = cinfo.output_height;
    if (!SizeAcceptable(w, h)) longjmp(error.jump, 1);

    pixels = new (std::nothrow) uint8_t[size_t(w) * h * 4];
    if (!pixels) longjmp(error.jump, 1);
    JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo),
                                                JPOOL_IMAGE, w * components, 1);
    while (cinfo.output_scanline < h) {
        const uint32_t y = cinfo.output_scanline;
        if (jpeg_read_scanlines(&cinfo, row, 1) != 1) longjmp(error.jump, 1);
        uint8_t* out = pixels + size_t(y) * w * 4;
        const JSAMPLE* in = row[0];
        if (components == 3) {
            for (uint32_t x = 0; x < w; ++x, in += 3, out += 4) {
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
                out[3] = 255;
            }
        } else {
            for (uint32_t x = 0; x < w; ++x, ++in, out += 4) {
                out[0] = out[1] = out[2] = in[0];
                out[3] = 255;
            }
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    *width = w;
    *height = h;
    return pixels;
}

bool ReadFileBytes(XData& out, const wchar_t* path) { return path && out.ReadFromFile(path); }
bool ReadFileBytes(XData& out, const char* path) { return path && out.ReadFromFile(path); }

bool ReadResourceBytes(XData& out, HMODULE module, uint16_t id, const wchar_t* type) {
    if (!type) return false;
    const uint32_t size = GetResource(nullptr, 0, module, type, id);
    if (size == 0 || !out.Resize(size, true)) return false;
    out.size = GetResource(out.data, size, module, type, id);
    return out.size == size;
}

}  // namespace

CImage::~CImage() { Release(); }

void CImage::Release() {
    bitmap_.reset();  // takes a DIB section's pixels with it
    decoded_.reset();
    pixels_ = nullptr;
    width_ = height_ = bitsPerPixel_ = 0;
}

bool CImage::Adopt(std::unique_ptr<uint8_t[]> pixels, int width, int height) {
    bitmap_.reset(CreateBitmap(width, height, 1, 32, pixels.get()));
    if (!bitmap_) {
        Release();
        return false;
    }
    decoded_ = std::move(pixels);
    pixels_ = decoded_.get();
    width_ = width;
    height_ = height;
    bitsPerPixel_ = 32;
    return true;
}

bool CImage::LoadFromMemory(const void* data, uint32_t size) {
    const auto* b = static_cast<const uint8_t*>(data);
    if (b && size >= 4 && b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G')
        return LoadPng(data, size);
    if (b && size >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return LoadJpeg(data, size);
    Release();
    return false;
}

bool CImage::LoadPng(const void* data, uint32_t size) {
    Release();
    if (!data || size < 8 || png_sig_cmp(static_cast<png_const_bytep>(data), 0, 8) != 0)
        return false;
    uint32_t w = 0, h = 0;
    std::unique_ptr<uint8_t[]> pixels(DecodePng(static_cast<const uint8_t*>(data), size, &w, &h));
    return pixels && Adopt(std::move(pixels), int(w), int(h));
}

bool CImage::LoadJpeg(const void* data, uint32_t size) {
    Release();
    if (!data || size < 6) return false;
    uint32_t w = 0, h = 0;
    std::unique_ptr<uint8_t[]> pixels(DecodeJpeg(static_cast<const uint8_t*>(data), size, &w, &h));
    return pixels && Adopt(std::move(pixels), int(w), int(h));
}

bool CImage::DecodeRead(bool read, const XData& bytes, bool (CImage::*decode)(const void*, uint32_t)) {
    if (!read) {
        Release();
        return false;
    }
    return (this->*decode)(bytes.data, bytes.size);
}

bool CImage::LoadFromResource(HMODULE module, uint16_t id, const wchar_t* type) {
    XData bytes;
    return DecodeRead(ReadResourceBytes(bytes, module, id, type), bytes, &CImage::LoadFromMemory);
}

bool CImage::LoadFromFile(const wchar_t* path) {
    XData bytes;
    return DecodeRead(ReadFileBytes(bytes, path), bytes, &CImage::LoadFromMemory);
}

bool CImage::LoadFromFileA(const char* path) {
    XData bytes;
    return DecodeRead(ReadFileBytes(bytes, path), bytes, &CImage::LoadFromMemory);
}

bool CImage::LoadPngFile(const wchar_t* path) {
    XData bytes;
    return DecodeRead(ReadFileBytes(bytes, path), bytes, &CImage::LoadPng);
}

bool CImage::LoadPngFileA(const char* path) {
    XData bytes;
    return DecodeRead(ReadFileBytes(bytes, path), bytes, &CImage::LoadPng);
}

bool CImage::LoadPngResource(HMODULE module, uint16_t id) {
    XData bytes;
    return DecodeRead(ReadResourceBytes(bytes, module, id, L"png"), bytes, &CImage::LoadPng);
}

bool CImage::LoadJpegFile(const wchar_t* path) {
    XData bytes;
    return DecodeRead(ReadFileBytes(bytes, path), bytes, &CImage::LoadJpeg);
}

bool CImage::LoadJpegFileA(const char* path) {
    XData bytes;
    return DecodeRead(ReadFileBytes(bytes, path), bytes, &CImage::LoadJpeg);
}

bool CImage::LoadJpegFromPngResource(HMODULE module, uint16_t id) {
    XData bytes;
    return DecodeRead(ReadResourceBytes(bytes, module, id, L"png"), bytes, &CImage::LoadJpeg);
}

bool CImage::Create(int width, int height, int bitsPerPixel, const void* pixels) {
    Release();
    if (width <= 0 || height <= 0 || bitsPerPixel <= 0) return false;
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = WORD(bitsPerPixel);
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bitmap_.reset(CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap_ || !bits) {
        Release();
        return false;
    }
    if (pixels) std::memcpy(bits, pixels, size_t(width) * (bitsPerPixel / 8) * height);
    width_ = width;
    height_ = height;
    bitsPerPixel_ = bitsPerPixel;
    pixels_ = bits;
    return true;
}

bool CImage::CreateFromBitmap(HBITMAP source, int width, int height) {
    if (!source) return false;
    BITMAP info = {};
    if (!GetObjectW(source, sizeof(info), &info)) return false;
    if (!Create(width, height, info.bmBitsPixel, nullptr)) return false;
    UniqueMemoryDC from(CreateCompatibleDC(nullptr)), to(CreateCompatibleDC(nullptr));
    if (!from || !to) return false;
    ScopedSelect selectFrom(from.get(), source);
    ScopedSelect selectTo(to.get(), bitmap_.get());
    SetStretchBltMode(from.get(), HALFTONE);
    SetStretchBltMode(to.get(), HALFTONE);
    SetBrushOrgEx(to.get(), 0, 0, nullptr);
    const bool ok = StretchBlt(to.get(), 0, 0, width, height, from.get(), 0, 0, info.bmWidth,
                               info.bmHeight, SRCCOPY) != FALSE;
    GdiFlush();
    return ok;
}

HICON CImage::CreateIcon() {
    if (!bitmap_) return nullptr;
    HDC screen = GetDC(nullptr);
    UniqueBitmap mask(CreateCompatibleBitmap(screen, width_, height_));
    ReleaseDC(nullptr, screen);
    ICONINFO ii = {};
    ii.fIcon = TRUE;
    ii.hbmMask = mask.get();
    ii.hbmColor = bitmap_.get();
    return CreateIconIndirect(&ii);  // copies both bitmaps; the mask goes with its owner
}
