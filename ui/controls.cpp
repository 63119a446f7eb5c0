#include "ui/controls.h"

#include <climits>
#include <new>

#include "ui/render.h"

namespace {

const wchar_t* CursorResource(int kind) {
    switch (kind) {
        case kCursorHand: return IDC_HAND;
        case kCursorText: return IDC_IBEAM;
        default: return IDC_ARROW;
    }
}

void DrawText(ILayer& layer, IRender* render, const FixedString<511>& text, HFONT font,
              RECT rect, UINT format) {
    const uint32_t previous = render->SelectTextColor(layer.GetColor());
    // The length is read once and bounded by the capacity, so a text being
    // replaced by another thread cannot lead the read past the array.
    size_t n = text.length();
    if (n > 511) n = 511;
    render->DrawString(text.c_str(), int(n), rect, font, format);
    render->SelectTextColor(previous);
}

}  // namespace

// --- CLayerUI -----------------------------------------------------------------

void CLayerUI::TransitionTo(int state) {
    // A fade still running is reversed from where it stands.
    if (transitionProgress_ > 0) transitionProgress_ = uint16_t(255 - transitionProgress_);
    previousState_ = GetState();
    SetState(state);
    transitionStart_ = TickNow();
    SetNeedsRedraw(true);
}

bool CLayerUI::OnMouse(UINT message, int, int, UINT) {
    switch (message) {
        case kLayerMouseEnter:
            TransitionTo(kStateHover);
        {
            hoverCursor_ = LoadCursorW(nullptr, CursorResource(GetCursorKind()));
            // A repeated enter must not save our own cursor as the one to restore.
            HCURSOR previous = SetCursor(hoverCursor_);
            if (previous != hoverCursor_) savedCursor_ = previous;
            break;
        }
        case WM_MOUSEMOVE:
            if (hoverCursor_) SetCursor(hoverCursor_);
            break;
        case WM_LBUTTONDOWN:
            TransitionTo(kStatePressed);
            if (hoverCursor_) SetCursor(hoverCursor_);
            break;
        case WM_LBUTTONUP:
            TransitionTo(kStateHover);
            if (hoverCursor_) SetCursor(hoverCursor_);
            break;
        case kLayerMouseLeave:
            TransitionTo(kStateNormal);
            if (savedCursor_) SetCursor(savedCursor_);
            break;
        default: break;
    }
    return false;
}

bool CLayerUI::IsFading(int frameCount) {
    return frameCount > 1 && previousState_ != GetState();
}

void CLayerUI::DrawFrames(IRender* render, CImage& image, int frameCount, const RECT& margins) {
    const RECT dest = *GetRect();
    const uint8_t alpha = GetAlpha();
    const bool blended = GetAlphaFlag();
    const int state = GetState();
    HBITMAP bitmap = image.GetBitmap();
    const int width = image.GetWidth();

    if (frameCount < 1) {
        // Nothing can ever be drawn, so nothing is left to repaint for.
        SetNeedsRedraw(false);
        return;
    }
    if (frameCount == 1) {
        render->DrawNineGrid(dest, bitmap, 0, 0, width, image.GetHeight(), margins.left,
                             margins.top, margins.right, margins.bottom, alpha, blended, true);
        previousState_ = state;
        transitionProgress_ = 0;
        SetNeedsRedraw(false);
        return;
    }

    const int h = image.GetHeight() / frameCount;
    auto drawFrame = [&](int frame, uint8_t frameAlpha) {
        if (frame < 0 || frame >= frameCount) return;  // a state without a frame
        render->DrawNineGrid(dest, bitmap, 0, frame * h, width, h, margins.left, margins.top,
                             margins.right, margins.bottom, frameAlpha, blended, true);
    };

    if (previousState_ == state) {
        drawFrame(state, alpha);
        SetNeedsRedraw(false);
        return;
    }

    const unsigned p = transitionProgress_;
    drawFrame(previousState_, uint8_t((255 - p) * alpha / 255));
    drawFrame(state, uint8_t(p * alpha / 255));

    // Saturate instead of letting a very late picture wrap the product around.
    const uint32_t elapsed = TickNow() - transitionStart_;
    transitionProgress_ = uint16_t(elapsed >= kTransitionMs ? 255 : elapsed * 255 / kTransitionMs);
    if (transitionProgress_ >= 255) {
        // What was drawn now was still a mix of both frames: one more paint
        // draws the new one whole, or the fade would end a step short.
        previousState_ = state;
        transitionProgress_ = 0;
        SetNeedsRedraw(true);
    }
}

// --- the controls -----------------------------------------------------------

void CTextUI::Paint(IRender* render) {
    if (!render) return;
    RECT r = *GetRect();
    r.left += kInset;
    DrawText(*this, render, text, font.Handle(), r, format);
    SetNeedsRedraw(false);
}

void CImageUI::Paint(IRender* render) {
    if (!render) return;
    DrawFrames(render, image, frameCount, margins);
}

void CCheckUI::Paint(IRender* render) {
    if (!render) return;
    DrawFrames(render, IsChecked() ? checkedImage : image, frameCount, margins);
}

// The frame drawing decides the redraw flag: a running cross-fade keeps it
// set until the fade is complete, then the text is drawn once more over the
// final frame.
void CButtonUI::Paint(IRender* render) {
    if (!render) return;
    DrawFrames(render, image, frameCount, margins);
    DrawText(*this, render, text, font.Handle(), *GetRect(), format);
}

void CEditUI::Paint(IRender* render) {
    if (!render) return;
    DrawFrames(render, image, frameCount, margins);
    RECT r = *GetRect();
    r.left += 3;
    // The field shows a path: an "&" in it is a character, not a mnemonic.
    DrawText(*this, render, text, font.Handle(), r, DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

int CProgressUI::FillEnd() {
    const RECT& r = *GetRect();
    const int64_t max = maximum ? maximum : 1;
    int64_t e = int64_t(r.left) + int64_t(r.right - r.left) * int64_t(value) / max;
    // Keep absurd values inside what GDI coordinates can express.
    constexpr int64_t kLimit = int64_t(1) << 26;
    if (e > kLimit) e = kLimit;
    if (e < -kLimit) e = -kLimit;
    return int(e);
}

void CProgressUI::Paint(IRender* render) {
    if (!render) return;
    const RECT r = *GetRect();
    const uint8_t alpha = GetAlpha();
    const bool blended = GetAlphaFlag();
    const int rh = r.bottom - r.top;

    render->DrawNineGrid(r, image.GetBitmap(), 0, 0, image.GetWidth(), image.GetHeight(),
                         margins.left, margins.top, margins.right, margins.bottom, alpha, blended,
                         true);

    const int e = FillEnd();
    if (e > r.left) {
        const int fh = fillImage.GetHeight();
        RECT fill = r;
        fill.top = r.top + rh / 2 - fh / 2;
        fill.bottom = fill.top + fh;
        // The fill spans the whole bar and is cut at the fill end, not squeezed.
        const RECT clip = {r.left, r.top, e < r.right ? e : r.right, r.bottom};
        render->SetClip(clip, RGN_COPY);
        render->DrawNineGrid(fill, fillImage.GetBitmap(), 0, 0, fillImage.GetWidth(), fh,
                             margins.left, margins.top, margins.right, margins.bottom, alpha,
                             blended, true);
        render->RestoreClip();
    }

    const int dw = dotImage.GetWidth(), dh = dotImage.GetHeight();
    const int left = e - dw / 2, top = r.top + rh / 2 - dh / 2;
    render->DrawImage(RECT{left, top, left + dw, top + dh}, dotImage.GetBitmap(), 0, 0, dw, dh,
                      alpha, blended);
    SetNeedsRedraw(false);
}

ILayer* CreateLayerOfKind(int kind, int ownerId) {
    switch (kind) {
        case kLayerText: return new (std::nothrow) CTextUI(ownerId);
        case kLayerEdit: return new (std::nothrow) CEditUI(ownerId);
        case kLayerImage: return new (std::nothrow) CImageUI(ownerId);
        case kLayerButton: return new (std::nothrow) CButtonUI(ownerId);
        case kLayerCheck: return new (std::nothrow) CCheckUI(ownerId);
        case kLayerProgress: return new (std::nothrow) CProgressUI(ownerId);
        default: return new (std::nothrow) CLayer(kind, ownerId);
    }
}
