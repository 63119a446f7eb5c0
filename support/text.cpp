#include "support/text.h"

#include <cstring>
#include <cwchar>
#include <cwctype>

namespace {

inline size_t Length(const char* s) { return std::strlen(s); }
inline size_t Length(const wchar_t* s) { return std::wcslen(s); }
inline bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool IsSpace(wchar_t c) { return std::iswspace(c) != 0; }

template <typename C>
const C* SkipSpace(const C* p, const C* end) {
    while (p < end && *p && IsSpace(*p)) ++p;
    return p;
}

template <typename C>
const C* Find(const C* p, const C* end, C what) {
    for (; p < end && *p; ++p)
        if (*p == what) return p;
    return nullptr;
}

template <typename C>
const C* FindValue(int* length, const C* name, const C* text, const C* end) {
    if (length) *length = 0;
    if (!name || !text || !end) return nullptr;
    const C* p = text;
    for (;;) {
        if (p >= end || *p == 0) return nullptr;
        p = SkipSpace(p, end);
        if (p >= end || *p != C('"')) return nullptr;
        const C* memberStart = p + 1;
        const C* memberEnd = Find(memberStart, end, C('"'));
        if (!memberEnd) return nullptr;
        size_t n = size_t(memberEnd - memberStart);
        // A member name that is a prefix of the sought name matches too.
        bool match = true;
        for (size_t i = 0; i < n; ++i) {
            if (name[i] != memberStart[i]) {
                match = false;
                break;
            }
            if (name[i] == 0) {
                match = false;
                break;
            }
        }
        p = SkipSpace(memberEnd + 1, end);
        if (p >= end || *p != C(':')) return nullptr;
        p = SkipSpace(p + 1, end);
        if (p < end && *p == C('"')) {
            const C* valueStart = p + 1;
            const C* valueEnd = Find(valueStart, end, C('"'));
            if (!valueEnd) return nullptr;
            if (match) {
                if (length) *length = int(valueEnd - valueStart);
                return valueStart;
            }
            p = SkipSpace(valueEnd + 1, end);
            if (p < end && *p == C(',')) {
                ++p;
                continue;
            }
            return nullptr;
        }
        const C* stop = Find(p, end, C(','));
        if (!stop) stop = Find(p, end, C('}'));
        if (!stop) {
            stop = p;
            while (stop < end && *stop) ++stop;
        }
        if (match) {
            const C* valueEnd = stop;
            while (valueEnd > p && IsSpace(valueEnd[-1])) --valueEnd;
            if (length) *length = int(valueEnd - p);
            return p;
        }
        if (stop >= end || *stop != C(',')) return nullptr;
        p = stop + 1;
    }
}

template <typename C>
int GetValue(C* out, int capacity, const C* name, const C* text, const C* end) {
    int length = 0;
    const C* value = FindValue(&length, name, text, end);
    if (!value || !out || capacity <= 0) return 0;
    int n = length < capacity ? length : capacity;
    std::memcpy(out, value, size_t(n) * sizeof(C));
    if (n < capacity) out[n] = 0;
    return n;
}

template <typename C>
int FormatPair(C* out, int capacity, const C* name, const C* value, int valueLength) {
    if (!out || !name || !value || capacity <= 0 || !*name) return 0;
    int nameLength = int(Length(name));
    if (valueLength < 0) valueLength = int(Length(value));
    int total = nameLength + valueLength + 5;
    if (capacity < total) return 0;
    C* p = out;
    *p++ = C('"');
    std::memcpy(p, name, size_t(nameLength) * sizeof(C));
    p += nameLength;
    *p++ = C('"');
    *p++ = C(':');
    *p++ = C('"');
    std::memcpy(p, value, size_t(valueLength) * sizeof(C));
    p += valueLength;
    *p++ = C('"');
    return total;
}

}  // namespace

int JoinWithSeparators(wchar_t* out, int capacity, const wchar_t* first, const wchar_t* second,
                       int secondLength, wchar_t sepA, wchar_t sepB) {
    if (!out || capacity <= 0 || !first || !second || !sepA || !sepB || !*first) return 0;
    int firstLength = int(std::wcslen(first));
    if (secondLength < 0) secondLength = int(std::wcslen(second));
    if (capacity < firstLength + secondLength + 2) return 0;
    wchar_t* p = out;
    std::wmemcpy(p, first, size_t(firstLength));
    p += firstLength;
    *p++ = sepA;
    std::wmemcpy(p, second, size_t(secondLength));
    p += secondLength;
    *p++ = sepB;
    return int(p - out);
}

const char* FindQuotedKey(int* length, const char* name, const char* text, const char* end) {
    return FindValue(length, name, text, end);
}
const wchar_t* FindQuotedKey(int* length, const wchar_t* name, const wchar_t* text,
                             const wchar_t* end) {
    return FindValue(length, name, text, end);
}
int GetQuotedKeyValue(char* out, int capacity, const char* name, const char* text, const char* end) {
    return GetValue(out, capacity, name, text, end);
}
int GetQuotedKeyValue(wchar_t* out, int capacity, const wchar_t* name, const wchar_t* text,
                 const wchar_t* end) {
    return GetValue(out, capacity, name, text, end);
}
int FormatJsonPair(char* out, int capacity, const char* name, const char* value, int valueLength) {
    return FormatPair(out, capacity, name, value, valueLength);
}
int FormatJsonPair(wchar_t* out, int capacity, const wchar_t* name, const wchar_t* value,
                   int valueLength) {
    return FormatPair(out, capacity, name, value, valueLength);
}

int BomSize(int encoding) {
    switch (encoding) {
        case kEncodingUtf8: return 3;
        case kEncodingUtf16LE:
        case kEncodingUtf16BE: return 2;
        case kEncodingUtf32LE:
        case kEncodingUtf32BE: return 4;
        default: return 0;
    }
}

int WriteBom(int encoding, uint8_t* out) {
    if (!out) return 0;
    static const uint8_t marks[6][4] = {
        {}, {0xEF, 0xBB, 0xBF}, {0xFF, 0xFE}, {0xFE, 0xFF}, {0xFF, 0xFE, 0, 0}, {0, 0, 0xFE, 0xFF}};
    int n = BomSize(encoding);
    if (n) std::memcpy(out, marks[encoding], size_t(n));
    return n;
}

int DetectBom(const uint8_t* b) {
    if (!b) return kEncodingNone;
    if (b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) return kEncodingUtf8;
    if (b[0] == 0xFF && b[1] == 0xFE && b[2] == 0 && b[3] == 0) return kEncodingUtf32LE;
    if (b[0] == 0 && b[1] == 0 && b[2] == 0xFE && b[3] == 0xFF) return kEncodingUtf32BE;
    if (b[0] == 0xFF && b[1] == 0xFE) return kEncodingUtf16LE;
    if (b[0] == 0xFE && b[1] == 0xFF) return kEncodingUtf16BE;
    return kEncodingNone;
}

namespace {

bool IsUnreserved(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') ||
           c == L'-' || c == L'.' || c == L'_' || c == L'~';
}

bool IsReserved(wchar_t c) { return c && std::wcschr(L":/?#[]@!$&'()*+,;=", c) != nullptr; }

bool IsHexDigit(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f');
}

void AppendEscaped(std::wstring& out, unsigned byte) {
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    out += L'%';
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
}

// The character at text[*i] as UTF-8 bytes, %XX each; *i moves past a
// surrogate pair's second half.
void AppendUtf8Escaped(std::wstring& out, const wchar_t* text, size_t* i) {
    uint32_t c = uint16_t(text[*i]);
    if (c >= 0xD800 && c <= 0xDBFF && text[*i + 1] >= 0xDC00 && text[*i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (uint16_t(text[*i + 1]) - 0xDC00);
        ++*i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
        c = 0xFFFD;
    }
    if (c < 0x80) {
        AppendEscaped(out, c);
    } else if (c < 0x800) {
        AppendEscaped(out, 0xC0 | (c >> 6));
        AppendEscaped(out, 0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        AppendEscaped(out, 0xE0 | (c >> 12));
        AppendEscaped(out, 0x80 | ((c >> 6) & 0x3F));
        AppendEscaped(out, 0x80 | (c & 0x3F));
    } else {
        AppendEscaped(out, 0xF0 | (c >> 18));
        AppendEscaped(out, 0x80 | ((c >> 12) & 0x3F));
        AppendEscaped(out, 0x80 | ((c >> 6) & 0x3F));
        AppendEscaped(out, 0x80 | (c & 0x3F));
    }
}

// keepUrl: the characters a URL may hold stay as well, and %XX escapes.
std::wstring PercentEncode(const wchar_t* text, bool keepUrl) {
    std::wstring out;
    if (!text) return out;
    for (size_t i = 0; text[i]; ++i) {
        const wchar_t c = text[i];
        bool keep = IsUnreserved(c) || c == L'/';
        if (keepUrl && !keep)
            keep = IsReserved(c) || (c == L'%' && IsHexDigit(text[i + 1]) && IsHexDigit(text[i + 2]));
        if (keep)
            out += c;
        else
            AppendUtf8Escaped(out, text, &i);
    }
    return out;
}

}  // namespace

std::wstring EncodeUrlPath(const wchar_t* path) { return PercentEncode(path, false); }

std::wstring EncodeUrl(const wchar_t* address) { return PercentEncode(address, true); }
