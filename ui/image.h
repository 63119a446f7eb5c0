// A decoded picture (PNG or JPEG) kept as a 32-bit premultiplied BGRA GDI
// bitmap that the renderer can draw many times.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "support/handle.h"

class XData;

class IImage {
public:
    virtual bool LoadFromResource(HMODULE module, uint16_t id, const wchar_t* type) = 0;
    virtual bool LoadFromFile(const wchar_t* path) = 0;
    virtual bool LoadFromFileA(const char* path) = 0;
    // Picks the decoder by the first bytes: 89 'P' 'N' 'G' or FF D8 FF.
    virtual bool LoadFromMemory(const void* data, uint32_t size) = 0;
    virtual bool LoadPng(const void* data, uint32_t size) = 0;
    virtual bool LoadPngFile(const wchar_t* path) = 0;
    virtual bool LoadPngFileA(const char* path) = 0;
    // Resource type "png".
    virtual bool LoadPngResource(HMODULE module, uint16_t id) = 0;
    virtual bool LoadJpeg(const void* data, uint32_t size) = 0;
    virtual bool LoadJpegFile(const wchar_t* path) = 0;
    virtual bool LoadJpegFileA(const char* path) = 0;
    // Pictures of either format are resources of type "png" (as LoadPngResource reads).
    virtual bool LoadJpegFromPngResource(HMODULE module, uint16_t id) = 0;
    // A stretched (HALFTONE) copy of the source bitmap at width x height.
    virtual bool CreateFromBitmap(HBITMAP source, int width, int height) = 0;
    // A top-down DIB section; pixels (width * bpp / 8 * height bytes) or null.
    virtual bool Create(int width, int height, int bitsPerPixel, const void* pixels) = 0;
    virtual void Release() = 0;
    virtual int GetWidth() = 0;
    virtual int GetHeight() = 0;
    virtual int GetBitsPerPixel() = 0;
    virtual void* GetBits() = 0;
    virtual HBITMAP GetBitmap() = 0;
    // The caller owns the icon; null for an empty image.
    virtual HICON CreateIcon() = 0;
    virtual ~IImage() = default;
};

class CImage : public IImage {
public:
    CImage() = default;
    ~CImage() override;
    CImage(const CImage&) = delete;
    CImage& operator=(const CImage&) = delete;

    bool LoadFromResource(HMODULE module, uint16_t id, const wchar_t* type) override;
    bool LoadFromFile(const wchar_t* path) override;
    bool LoadFromFileA(const char* path) override;
    bool LoadFromMemory(const void* data, uint32_t size) override;
    bool LoadPng(const void* data, uint32_t size) override;
    bool LoadPngFile(const wchar_t* path) override;
    bool LoadPngFileA(const char* path) override;
    bool LoadPngResource(HMODULE module, uint16_t id) override;
    bool LoadJpeg(const void* data, uint32_t size) override;
    bool LoadJpegFile(const wchar_t* path) override;
    bool LoadJpegFileA(const char* path) override;
    bool LoadJpegFromPngResource(HMODULE module, uint16_t id) override;
    bool CreateFromBitmap(HBITMAP source, int width, int height) override;
    bool Create(int width, int height, int bitsPerPixel, const void* pixels) override;
    void Release() override;
    int GetWidth() override { return width_; }
    int GetHeight() override { return height_; }
    int GetBitsPerPixel() override { return bitsPerPixel_; }
    void* GetBits() override { return pixels_; }
    HBITMAP GetBitmap() override { return bitmap_.get(); }
    HICON CreateIcon() override;

private:
    // Decodes what a read gave, or empties the image when the read failed.
    bool DecodeRead(bool read, const XData& bytes, bool (CImage::*decode)(const void*, uint32_t));
    // Takes the decoded buffer and makes the drawable bitmap from it.
    bool Adopt(std::unique_ptr<uint8_t[]> pixels, int width, int height);

    int width_ = 0;
    int height_ = 0;
    int bitsPerPixel_ = 0;
    void* pixels_ = nullptr;  // decoded_ or the DIB section's memory
    UniqueBitmap bitmap_;
    std::unique_ptr<uint8_t[]> decoded_;
};
