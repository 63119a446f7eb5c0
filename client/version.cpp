#include "client/version.h"

#include <cwchar>

namespace {

struct Component {
    const wchar_t* begin;
    const wchar_t* end;
};

// The component starting at *cursor; *cursor moves past it and its dot.
// After the last component every further one is the empty component.
Component Next(const wchar_t** cursor) {
    const wchar_t* p = *cursor;
    Component c{p, p};
    while (*c.end && *c.end != L'.') ++c.end;
    *cursor = *c.end ? c.end + 1 : c.end;
    return c;
}

bool IsNumber(const Component& c) {
    for (const wchar_t* p = c.begin; p < c.end; ++p)
        if (*p < L'0' || *p > L'9') return false;
    return true;  // the empty component too: it stands for 0
}

// Digits without their leading zeros compare by count, then digit by digit,
// so no component is too long for the comparison.
int CompareNumbers(Component a, Component b) {
    while (a.begin < a.end && *a.begin == L'0') ++a.begin;
    while (b.begin < b.end && *b.begin == L'0') ++b.begin;
    const auto lengthA = a.end - a.begin, lengthB = b.end - b.begin;
    if (lengthA != lengthB) return lengthA < lengthB ? -1 : 1;
    int order = std::wmemcmp(a.begin, b.begin, size_t(lengthA));
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

int CompareTexts(const Component& a, const Component& b) {
    // An empty component is the number 0, and as text "0".
    static const wchar_t kZero[] = L"0";
    Component x = a.begin == a.end ? Component{kZero, kZero + 1} : a;
    Component y = b.begin == b.end ? Component{kZero, kZero + 1} : b;
    for (; x.begin < x.end && y.begin < y.end; ++x.begin, ++y.begin)
        if (*x.begin != *y.begin) return *x.begin < *y.begin ? -1 : 1;
    if (x.begin < x.end) return 1;
    if (y.begin < y.end) return -1;
    return 0;
}

}  // namespace

int CompareVersions(const wchar_t* a, const wchar_t* b) {
    if (!a) a = L"";
    if (!b) b = L"";
    while (*a || *b) {
        Component x = Next(&a), y = Next(&b);
        int order = IsNumber(x) && IsNumber(y) ? CompareNumbers(x, y) : CompareTexts(x, y);
        if (order != 0) return order;
    }
    return 0;
}
