#include "ui/anchor.h"

namespace {

// One axis of the rule: where the layer starts (offset, or -1 for centred
// when mode is -1, else against the far edge), its extent (size, -1 for half
// the parent's), and the far margin that a size of 0 stretches to.
void PlaceAxis(LONG low, LONG high, int offset, int mode, int size, int margin, LONG* begin,
               LONG* end) {
    const int parent = int16_t(high - low);
    // >> on a negative int is an arithmetic shift with this compiler: halving
    // rounds toward minus infinity as the rule wants.
    const int extent = size == -1 ? (parent >> 1) : size;
    *begin = low + offset;
    *end = *begin + extent;
    if (offset == -1) {
        if (mode == -1) {
            *begin = low + ((parent - extent) >> 1);
            *end = *begin + extent;
        } else {
            *end = margin >= 0 ? high - margin : high;
            *begin = *end - extent;
        }
    } else if (size == 0 && margin >= 0) {
        *end = high - margin;
    }
}

}  // namespace

void AnchoredRect(RECT* out, const RECT& parent, const Anchor& anchor) {
    if (!out) return;
    RECT r;
    PlaceAxis(parent.left, parent.right, Anchor::Low(anchor.x), Anchor::High(anchor.x),
              Anchor::Low(anchor.width), Anchor::High(anchor.width), &r.left, &r.right);
    PlaceAxis(parent.top, parent.bottom, Anchor::Low(anchor.y), Anchor::High(anchor.y),
              Anchor::Low(anchor.height), Anchor::High(anchor.height), &r.top, &r.bottom);
    *out = r;
}
