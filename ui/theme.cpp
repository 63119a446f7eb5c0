#include "ui/theme.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include "support/data.h"
#include "support/text.h"

namespace {

constexpr int kValueMax = 63;

inline unsigned long ToNumber(const wchar_t* s) { return std::wcstoul(s, nullptr, 16); }
inline unsigned long ToNumber(const char* s) { return std::strtoul(s, nullptr, 16); }

template <typename C>
const C* FindBrace(const C* text, int length) {
    for (int i = 0; i < length && text[i]; ++i)
        if (text[i] == C('{')) return text + i;
    return nullptr;
}

// Stores the colour of the key when the text has a non-empty value for it.
template <typename C>
void ReadColor(uint32_t* color, const C* key, const C* text, const C* end) {
    C value[kValueMax + 1];
    int n = GetQuotedKeyValue(value, kValueMax, key, text, end);
    if (n <= 0) return;
    value[n] = 0;
    const C* digits = value[0] == C('#') ? value + 1 : value;
    // unsigned long is 32 bits here: an overlong value saturates at 0xFFFFFFFF.
    *color = uint32_t(ToNumber(digits));
}

template <typename C>
bool Parse(uint32_t* fore, uint32_t* back, uint32_t* textColor, const C* text, int length,
           const C* (&keys)[3]) {
    if (!text || length <= 0) return false;
    const C* brace = FindBrace(text, length);
    if (!brace) return false;
    const C* end = text + length;
    ReadColor(fore, keys[0], brace + 1, end);
    ReadColor(back, keys[1], brace + 1, end);
    ReadColor(textColor, keys[2], brace + 1, end);
    return true;
}

inline int Print(wchar_t* out, uint32_t color) { return swprintf(out, 16, L"#%08X", color); }
inline int Print(char* out, uint32_t color) { return snprintf(out, 16, "#%08X", unsigned(color)); }

template <typename C>
int Format(C* out, int capacity, const uint32_t (&colors)[3], const C* (&keys)[3]) {
    // '{', two separators, '}' and the NUL are always written.
    if (!out || capacity < 5) {
        if (out && capacity > 0) out[0] = 0;
        return 0;
    }
    int p = 0;
    out[p++] = C('{');
    for (int i = 0; i < 3; ++i) {
        // Keep room for what must still follow: the separators left, '}' and NUL.
        const int reserved = (2 - i) + 2;
        C value[16];
        int n = Print(value, colors[i]);
        p += FormatJsonPair(out + p, capacity - p - reserved, keys[i], value, n);
        if (i < 2) out[p++] = C(',');
    }
    out[p++] = C('}');
    out[p] = 0;
    return p;
}

const wchar_t* g_keysW[3] = {L"forecolor", L"backcolor", L"textcolor"};
const char* g_keysA[3] = {"forecolor", "backcolor", "textcolor"};

uint32_t Save(CTheme& theme, XData& bytes) {
    std::unique_ptr<wchar_t[]> text(new (std::nothrow) wchar_t[kThemeTextCapacity]);
    if (!text) return 0;
    const int n = theme.FormatText(text.get(), kThemeTextCapacity);
    if (n <= 0 || !bytes.Resize(uint32_t(n) * 2, true)) return 0;
    std::memcpy(bytes.data, text.get(), size_t(n) * 2);
    bytes.size = uint32_t(n) * 2;
    return bytes.size;
}

}  // namespace

bool CTheme::LoadFromFile(const wchar_t* path) {
    XData bytes;
    if (!path || !bytes.ReadFromFile(path)) return false;
    return ParseText(reinterpret_cast<const wchar_t*>(bytes.data), int(bytes.size / 2));
}

bool CTheme::LoadFromFileA(const char* path) {
    XData bytes;
    if (!path || !bytes.ReadFromFile(path)) return false;
    return ParseText(reinterpret_cast<const wchar_t*>(bytes.data), int(bytes.size / 2));
}

uint32_t CTheme::SaveToFile(const wchar_t* path) {
    XData bytes;
    if (!path || !Save(*this, bytes)) return 0;
    return bytes.WriteToFile(path) ? bytes.size : 0;
}

uint32_t CTheme::SaveToFileA(const char* path) {
    XData bytes;
    if (!path || !Save(*this, bytes)) return 0;
    return bytes.WriteToFile(path) ? bytes.size : 0;
}

bool CTheme::ParseText(const wchar_t* text, int length) {
    return Parse(&forecolor_, &backcolor_, &textcolor_, text, length, g_keysW);
}

bool CTheme::ParseTextA(const char* text, int length) {
    return Parse(&forecolor_, &backcolor_, &textcolor_, text, length, g_keysA);
}

int CTheme::FormatText(wchar_t* buffer, int capacity) {
    const uint32_t colors[3] = {forecolor_, backcolor_, textcolor_};
    return Format(buffer, capacity, colors, g_keysW);
}

int CTheme::FormatTextA(char* buffer, int capacity) {
    const uint32_t colors[3] = {forecolor_, backcolor_, textcolor_};
    return Format(buffer, capacity, colors, g_keysA);
}

CFont::CFont() { std::wcscpy(face, L"Arial"); }

bool CFont::CreateHandle() {
    handle.reset();
    handle.reset(CreateFontW(height, width, escapement, 0, bold ? FW_BOLD : FW_THIN, italic,
                             underline, strikeOut, DEFAULT_CHARSET, OUT_STROKE_PRECIS,
                             CLIP_STROKE_PRECIS, CLEARTYPE_NATURAL_QUALITY,
                             FF_SWISS | DEFAULT_PITCH, face));
    return bool(handle);
}
