#include "ui/render.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// Blending goes through gdi32's GdiAlphaBlend rather than msimg32's
// AlphaBlend, which only forwards to it: gdi32 is always taken from the
// system folder, msimg32 is looked for beside the program first.
BLENDFUNCTION Blend(uint8_t alpha) { return BLENDFUNCTION{AC_SRC_OVER, 0, alpha, AC_SRC_ALPHA}; }

// One temporary memory DC holding a source bitmap for the duration of a draw.
struct SourceDC {
    SourceDC(HDC compatible, HBITMAP bitmap) : dc(CreateCompatibleDC(compatible)) {
        if (dc) old = SelectObject(dc.get(), bitmap);
    }
    ~SourceDC() {
        if (dc && old) SelectObject(dc.get(), old);
    }
    UniqueMemoryDC dc;
    HGDIOBJ old = nullptr;
};

}  // namespace

CRenderGDI::~CRenderGDI() = default;

bool CRenderGDI::EnsureBuffer() {
    if (bits_) return true;
    if (!dc_ || width_ <= 0 || height_ <= 0) return false;
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = width_;
    bmi.bmiHeader.biHeight = -height_;  // rows top to bottom
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    UniqueBitmap buffer(CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!buffer || !bits) return false;
    SelectObject(dc_.get(), buffer.get());  // the DC now uses it; the old buffer is free to go
    buffer_ = std::move(buffer);
    bits_ = bits;
    return true;
}

bool CRenderGDI::SetClip(const RECT& rect, int mode) {
    if (!dc_) return false;
    savedClip_ = std::move(clip_);  // a third level would be lost: the oldest goes
    clip_.reset(CreateRectRgnIndirect(&rect));
    clipRect_ = rect;
    int result = ExtSelectClipRgn(dc_.get(), clip_.get(), mode);
    return result != NULLREGION && result != ERROR;
}

void CRenderGDI::RestoreClip() {
    if (!dc_) return;
    if (clip_) {
        ExtSelectClipRgn(dc_.get(), nullptr, RGN_COPY);
        clip_.reset();
    }
    if (savedClip_) {
        clip_ = std::move(savedClip_);
        ExtSelectClipRgn(dc_.get(), clip_.get(), RGN_COPY);
    }
}

void CRenderGDI::ResetClip() {
    if (!dc_) return;
    ExtSelectClipRgn(dc_.get(), nullptr, RGN_COPY);
    clip_.reset();
    savedClip_.reset();
    clipRect_ = RECT{0, 0, 0, 0};
}

uint32_t CRenderGDI::SelectTextColor(uint32_t color) {
    uint32_t previous = textColor_;
    textColor_ = color;
    if (dc_) SetTextColor(dc_.get(), color & 0xFFFFFF);
    return previous;
}

void CRenderGDI::Clear() {
    if (bits_) std::memset(bits_, 0, size_t(width_) * height_ * 4);
}

void CRenderGDI::Greyscale() {
    if (!bits_) return;
    auto* p = static_cast<uint8_t*>(bits_);
    for (size_t i = 0, n = size_t(width_) * height_; i < n; ++i, p += 4) {
        uint8_t g = uint8_t((p[0] + p[1] + p[2]) / 3);
        p[0] = p[1] = p[2] = g;
    }
}

void CRenderGDI::Tint(uint32_t color, int inset) {
    if (!bits_) return;
    if (inset < 0) inset = 0;
    if (inset > 0 && (2 * inset >= width_ || 2 * inset >= height_)) return;
    // The colour is read like a pixel (0xAARRGGBB): its byte i tints channel i.
    const uint32_t a = color >> 24;
    const uint32_t tint[3] = {color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF};
    for (int y = inset; y < height_ - inset; ++y) {
        auto* p = static_cast<uint8_t*>(bits_) + (size_t(y) * width_ + inset) * 4;
        for (int x = inset; x < width_ - inset; ++x, p += 4)
            for (int c = 0; c < 3; ++c) p[c] = uint8_t((p[c] * (255 - a) + tint[c] * a) >> 8);
    }
}

bool CRenderGDI::Attach(HWND window) {
    window_ = window;
    if (!dc_) {
        dc_.reset(CreateCompatibleDC(nullptr));
        if (dc_) SetTextColor(dc_.get(), textColor_ & 0xFFFFFF);
    }
    RECT client = {0, 0, 0, 0};
    if (window) GetClientRect(window, &client);
    Resize(client.right - client.left, client.bottom - client.top);
    return true;
}

void CRenderGDI::Release() { delete this; }

void CRenderGDI::Present(HDC dc) {
    // Without a window a null target would mean the whole screen.
    if (!dc_ || !bits_ || (!dc && !window_)) return;
    HDC target = dc ? dc : ::GetDC(window_);
    if (!target) return;
    BitBlt(target, 0, 0, width_, height_, dc_.get(), 0, 0, SRCCOPY);
    if (!dc) ReleaseDC(window_, target);
}

void CRenderGDI::Resize(int width, int height) {
    if (width == width_ && height == height_) return;
    width_ = width;
    height_ = height;
    bits_ = nullptr;  // the next drawing operation makes a buffer of the new size
}

int CRenderGDI::DrawString(const wchar_t* text, int length, const RECT& rect, HFONT font,
                           UINT format) {
    if (!text || length == 0 || !EnsureBuffer()) return 0;
    HDC dc = dc_.get();
    HGDIOBJ oldFont = font ? SelectObject(dc, font) : nullptr;
    int oldMode = SetBkMode(dc, TRANSPARENT);
    RECT r = rect;
    int height = DrawTextW(dc, text, length, &r, format);
    SetBkMode(dc, oldMode);
    if (oldFont) SelectObject(dc, oldFont);
    GdiFlush();

    // GDI text leaves alpha 0 where it writes; make the rectangle opaque.
    const int left = std::max<int>(rect.left, 0), right = std::min<int>(rect.right, width_);
    const int top = std::max<int>(rect.top, 0), bottom = std::min<int>(rect.bottom, height_);
    for (int y = top; y < bottom; ++y) {
        auto* p = static_cast<uint8_t*>(bits_) + (size_t(y) * width_ + left) * 4 + 3;
        for (int x = left; x < right; ++x, p += 4)
            if (*p == 0) *p = 255;
    }
    return height;
}

void CRenderGDI::DrawNineGrid(const RECT& dest, HBITMAP bitmap, int sx, int sy, int sw, int sh,
                              int left, int top, int right, int bottom, uint8_t alpha,
                              bool blended, bool drawCentre) {
    if (left == 0 && top == 0 && right == 0 && bottom == 0) {
        DrawImage(dest, bitmap, sx, sy, sw, sh, alpha, blended);
        return;
    }
    if (!bitmap || !EnsureBuffer()) return;
    SourceDC source(dc_.get(), bitmap);
    if (!source.dc) return;
    HDC dc = dc_.get(), src = source.dc.get();
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);

    const int dx[4] = {int(dest.left), int(dest.left) + left, int(dest.right) - right,
                       int(dest.right)};
    const int dy[4] = {int(dest.top), int(dest.top) + top, int(dest.bottom) - bottom,
                       int(dest.bottom)};
    const int cx[4] = {sx, sx + left, sx + sw - right, sx + sw};
    const int cy[4] = {sy, sy + top, sy + sh - bottom, sy + sh};
    // Column by column: top-left, left edge, bottom-left, top edge, centre, ...
    for (int col = 0; col < 3; ++col) {
        for (int row = 0; row < 3; ++row) {
            const bool centre = col == 1 && row == 1;
            const bool corner = col != 1 && row != 1;
            if (blended && centre && !drawCentre) continue;
            const int dW = dx[col + 1] - dx[col], dH = dy[row + 1] - dy[row];
            const int sW = cx[col + 1] - cx[col], sH = cy[row + 1] - cy[row];
            if (dW <= 0 || dH <= 0 || sW <= 0 || sH <= 0) continue;
            if (blended) {
                GdiAlphaBlend(dc, dx[col], dy[row], dW, dH, src, cx[col], cy[row], sW, sH,
                              Blend(alpha));
            } else if (corner) {
                BitBlt(dc, dx[col], dy[row], sW, sH, src, cx[col], cy[row], SRCCOPY);
            } else {
                StretchBlt(dc, dx[col], dy[row], dW, dH, src, cx[col], cy[row], sW, sH, SRCCOPY);
            }
        }
    }
    GdiFlush();
}

void CRenderGDI::DrawImage(const RECT& dest, HBITMAP bitmap, int sx, int sy, int sw, int sh,
                           uint8_t alpha, bool blended) {
    if (!bitmap || !EnsureBuffer()) return;
    SourceDC source(dc_.get(), bitmap);
    if (!source.dc) return;
    HDC dc = dc_.get(), src = source.dc.get();
    const int dw = dest.right - dest.left, dh = dest.bottom - dest.top;
    if (blended) {
        GdiAlphaBlend(dc, dest.left, dest.top, dw, dh, src, sx, sy, sw, sh, Blend(alpha));
    } else if (dw == sw && dh == sh) {
        BitBlt(dc, dest.left, dest.top, dw, dh, src, sx, sy, SRCCOPY);
    } else {
        SetStretchBltMode(dc, HALFTONE);
        SetBrushOrgEx(dc, 0, 0, nullptr);
        StretchBlt(dc, dest.left, dest.top, dw, dh, src, sx, sy, sw, sh, SRCCOPY);
    }
    GdiFlush();
}

void CRenderGDI::BlendFrom(HDC source, const RECT& rect) {
    if (!source || !dc_ || !EnsureBuffer()) return;
    const int w = rect.right - rect.left, h = rect.bottom - rect.top;
    GdiAlphaBlend(dc_.get(), rect.left, rect.top, w, h, source, 0, 0, w, h, Blend(255));
    GdiFlush();
}

void CRenderGDI::BlitPixels(const void* pixels, int width, int height, bool blend) {
    if (!pixels || !EnsureBuffer()) return;
    // Rows are copied whole, so a source of another width would shear: refuse it.
    if (width != width_ || height <= 0) return;
    const int rows = std::min(height, height_);
    auto* d = static_cast<uint8_t*>(bits_);
    auto* s = static_cast<const uint8_t*>(pixels);
    const size_t n = size_t(width) * rows;
    if (!blend) {
        std::memcpy(d, s, n * 4);
        return;
    }
    for (size_t i = 0; i < n; ++i, d += 4, s += 4) {
        const uint32_t sa = s[3];
        if (sa == 0) continue;
        if (sa == 255) {
            std::memcpy(d, s, 4);
            continue;
        }
        for (int c = 0; c < 4; ++c) d[c] = uint8_t((s[c] * sa + d[c] * (255 - sa)) >> 8);
    }
}

int CRenderGDI::MeasureString(const wchar_t* text, int length, RECT* rect, HFONT font,
                              UINT format) {
    if (!text || length == 0 || !rect || !dc_) return 0;
    HDC dc = dc_.get();
    HGDIOBJ oldFont = font ? SelectObject(dc, font) : nullptr;
    DrawTextW(dc, text, length, rect, format | DT_CALCRECT);
    if (oldFont) SelectObject(dc, oldFont);
    return rect->bottom - rect->top;
}
