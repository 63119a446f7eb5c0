// The window's back buffer: a 32-bit top-down DIB section (premultiplied
// BGRA) in a memory DC, the drawing operations of the layers and a
// two-level clip.
#pragma once

#include <windows.h>

#include <cstdint>

#include "support/handle.h"

class IRender {
public:
    // Pushes a clip; false without a DC or when the result is empty.
    virtual bool SetClip(const RECT& rect, int mode) = 0;
    virtual void RestoreClip() = 0;
    virtual void ResetClip() = 0;
    // Answers the previous colour; the low 24 bits are a COLORREF.
    virtual uint32_t SelectTextColor(uint32_t color) = 0;
    virtual uint32_t GetTextColor() = 0;
    virtual int GetWidth() = 0;
    virtual int GetHeight() = 0;
    // Null until a drawing operation has made the buffer.
    virtual void* GetBits() = 0;
    virtual HDC GetDC() = 0;
    virtual void Clear() = 0;
    virtual void Greyscale() = 0;
    // The colour's top byte is the tint strength; inset > 0 spares a border.
    virtual void Tint(uint32_t color, int inset) = 0;
    virtual bool Attach(HWND window) = 0;
    // Frees the renderer itself.
    virtual void Release() = 0;
    // To the given DC, or the attached window's own DC when null.
    virtual void Present(HDC dc) = 0;
    virtual void Resize(int width, int height) = 0;
    // Draws with DrawTextW, then makes every alpha-0 pixel of rect opaque.
    virtual int DrawString(const wchar_t* text, int length, const RECT& rect, HFONT font,
                           UINT format) = 0;
    virtual void DrawNineGrid(const RECT& dest, HBITMAP bitmap, int sx, int sy, int sw, int sh,
                              int left, int top, int right, int bottom, uint8_t alpha,
                              bool blended, bool drawCentre) = 0;
    virtual void DrawImage(const RECT& dest, HBITMAP bitmap, int sx, int sy, int sw, int sh,
                           uint8_t alpha, bool blended) = 0;
    virtual void BlendFrom(HDC source, const RECT& rect) = 0;
    // The source must be exactly as wide as the back buffer.
    virtual void BlitPixels(const void* pixels, int width, int height, bool blend) = 0;
    // Stores the needed size in rect; answers its height.
    virtual int MeasureString(const wchar_t* text, int length, RECT* rect, HFONT font,
                              UINT format) = 0;
    virtual ~IRender() = default;
};

class CRenderGDI : public IRender {
public:
    CRenderGDI() = default;
    ~CRenderGDI() override;
    CRenderGDI(const CRenderGDI&) = delete;
    CRenderGDI& operator=(const CRenderGDI&) = delete;

    bool SetClip(const RECT& rect, int mode) override;
    void RestoreClip() override;
    void ResetClip() override;
    uint32_t SelectTextColor(uint32_t color) override;
    uint32_t GetTextColor() override { return textColor_; }
    int GetWidth() override { return width_; }
    int GetHeight() override { return height_; }
    void* GetBits() override { return bits_; }
    HDC GetDC() override { return dc_.get(); }
    void Clear() override;
    void Greyscale() override;
    void Tint(uint32_t color, int inset) override;
    bool Attach(HWND window) override;
    void Release() override;
    void Present(HDC dc) override;
    void Resize(int width, int height) override;
    int DrawString(const wchar_t* text, int length, const RECT& rect, HFONT font,
                   UINT format) override;
    void DrawNineGrid(const RECT& dest, HBITMAP bitmap, int sx, int sy, int sw, int sh, int left,
                      int top, int right, int bottom, uint8_t alpha, bool blended,
                      bool drawCentre) override;
    void DrawImage(const RECT& dest, HBITMAP bitmap, int sx, int sy, int sw, int sh,
                   uint8_t alpha, bool blended) override;
    void BlendFrom(HDC source, const RECT& rect) override;
    void BlitPixels(const void* pixels, int width, int height, bool blend) override;
    int MeasureString(const wchar_t* text, int length, RECT* rect, HFONT font,
                      UINT format) override;

    // The clip rectangle last pushed (zero after ResetClip).
    const RECT& ClipRect() const { return clipRect_; }

private:
    // Makes the back buffer when it does not exist; false when it cannot.
    bool EnsureBuffer();

    HWND window_ = nullptr;
    UniqueBitmap buffer_;  // selected into dc_, which is declared later and so deleted first
    UniqueMemoryDC dc_;
    RECT clipRect_ = {0, 0, 0, 0};
    UniqueRegion clip_;
    UniqueRegion savedClip_;
    int width_ = 0;
    int height_ = 0;
    void* bits_ = nullptr;
    uint32_t textColor_ = 0;
};
