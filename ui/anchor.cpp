#include "ui/anchor.h"

void AnchoredRect(RECT* out, const RECT& parent, const Anchor& anchor) {
    if (!out) return;
    const int pw = int16_t(parent.right - parent.left);
    const int ph = int16_t(parent.bottom - parent.top);
    const int x = Anchor::Low(anchor.x), xMode = Anchor::High(anchor.x);
    const int y = Anchor::Low(anchor.y), yMode = Anchor::High(anchor.y);
    const int width = Anchor::Low(anchor.width), rightMargin = Anchor::High(anchor.width);
    const int height = Anchor::Low(anchor.height), bottomMargin = Anchor::High(anchor.height);

    // >> on a negative int is an arithmetic shift with this compiler: halving
    // rounds toward minus infinity as the rule wants.
    const int w = width == -1 ? (pw >> 1) : width;
    const int h = height == -1 ? (ph >> 1) : height;
    LONG left = parent.left + x, top = parent.top + y;
    LONG right = left + w, bottom = top + h;

    if (x == -1) {
        if (xMode == -1) {
            left = parent.left + ((pw - w) >> 1);
            right = left + w;
        } else {
            right = rightMargin >= 0 ? parent.right - rightMargin : parent.right;
            left = right - w;
        }
    } else if (width == 0 && rightMargin >= 0) {
        right = parent.right - rightMargin;
    }

    if (y == -1) {
        if (yMode == -1) {
            top = parent.top + ((ph - h) >> 1);
            bottom = top + h;
        } else {
            bottom = bottomMargin >= 0 ? parent.bottom - bottomMargin : parent.bottom;
            top = bottom - h;
        }
    } else if (height == 0 && bottomMargin >= 0) {
        bottom = parent.bottom - bottomMargin;
    }
    *out = RECT{left, top, right, bottom};
}
