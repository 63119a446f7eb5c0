#include "ui/layer.h"

CLayer::CLayer(int kind, int ownerId) : ownerId_(ownerId), kind_(kind) {}

CLayer::~CLayer() = default;

void CLayer::SetRect(const RECT& rect) {
    rect_ = rect;
    OnRectChanged();
}

void CLayer::Release() { delete this; }

void CLayer::Layout(const RECT& parent) {
    RECT r;
    AnchoredRect(&r, parent, anchor_);
    SetRect(r);
}

bool CLayer::HitTest(int x, int y) { return PointInRect(rect_, x, y); }

bool CLayer::PressKey(int key, uint32_t info) {
    if (key == heldKey_) return true;  // auto-repeat of the held key
    if (heldKey_ != 0) ReleaseKey(heldKey_, 0);
    heldKey_ = key;
    return OnKeyDown(UINT(key), info, 0);
}

bool CLayer::ReleaseKey(int key, uint32_t info) {
    heldKey_ = 0;
    return OnKeyUp(UINT(key), info, 0);
}
