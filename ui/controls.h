// The controls the installer window is built from: texts, pictures and
// buttons with frame strips, a check box, a display-only edit field and a
// progress bar. Each replaces only Paint and (through CLayerUI) OnMouse.
#pragma once

#include <windows.h>

#include <cstdint>

#include "support/fixed_string.h"
#include "ui/image.h"
#include "ui/layer.h"
#include "ui/theme.h"

// Length of a cross-fade between two states.
constexpr uint32_t kTransitionMs = 200;

// The hover/press behaviour of a skinned button: three visual states, a
// cross-fade at every change, and the cursor of the cursor kind.
class CLayerUI : public CLayer {
public:
    explicit CLayerUI(int ownerId = 0) : CLayer(0, ownerId) {}

    // Always false, so the window goes on with clicks, drags and capture.
    bool OnMouse(UINT message, int x, int y, UINT keyFlags) override;

    uint32_t GetTransitionStart() const { return transitionStart_; }

protected:
    void TransitionTo(int state);
    // Draws the frame of the state (cross-fading from the previous state)
    // with DrawNineGrid, and advances the fade by the clock.
    void DrawFrames(IRender* render, CImage& image, int frameCount, const RECT& margins);
    // True while a cross-fade of a multi-frame strip is under way.
    bool IsFading(int frameCount);

    uint32_t transitionStart_ = 0;
};

class CTextUI : public CLayerUI {
public:
    using CLayerUI::CLayerUI;
    void Paint(IRender* render) override;

    // The text starts this far inside the left edge of the rectangle.
    static constexpr int kInset = 3;

    FixedString<511> text;
    CFont font;
    uint32_t format = DT_VCENTER | DT_SINGLELINE;
};

class CImageUI : public CLayerUI {
public:
    using CLayerUI::CLayerUI;
    void Paint(IRender* render) override;

    CImage image;
    int frameCount = 1;
    RECT margins = {0, 0, 0, 0};  // nine-cell margins left, top, right, bottom
};

// Shows checkedImage while checked, else the inherited image. The owner
// toggles SetChecked on the layer's command.
class CCheckUI : public CImageUI {
public:
    using CImageUI::CImageUI;
    void Paint(IRender* render) override;

    CImage checkedImage;
};

class CButtonUI : public CImageUI {
public:
    using CImageUI::CImageUI;
    void Paint(IRender* render) override;

    FixedString<511> text;
    CFont font;
    uint32_t format = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
};

// A display field: the owner sets the text; it takes no keys.
class CEditUI : public CImageUI {
public:
    using CImageUI::CImageUI;
    void Paint(IRender* render) override;

    FixedString<511> text;
    CFont font;
};

// The inherited image is the sink; the fill is cut off at value / maximum and
// the dot is centred on the fill's end.
class CProgressUI : public CImageUI {
public:
    using CImageUI::CImageUI;
    void Paint(IRender* render) override;

    // The fill's end for the rectangle (value is not clamped).
    int FillEnd();

    CImage fillImage;
    CImage dotImage;
    uint32_t value = 0;
    uint32_t maximum = 100;
};

// The window's factory: codes 1..6 make the controls, anything else a plain
// CLayer of that kind. Null only when allocation fails.
ILayer* CreateLayerOfKind(int kind, int ownerId);
