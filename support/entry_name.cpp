#include "support/entry_name.h"

#include <cwchar>
#include <cwctype>

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

bool IsDeviceName(const wchar_t* level, size_t length) {
    // The name before the first dot decides: "nul.txt" is the device too.
    size_t n = 0;
    while (n < length && level[n] != L'.') ++n;
    while (n > 0 && level[n - 1] == L' ') --n;
    if (n < 3 || n > 7) return false;
    wchar_t name[8] = {};
    for (size_t i = 0; i < n; ++i) name[i] = wchar_t(towupper(level[i]));
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* d : kDevices)
        if (std::wcscmp(name, d) == 0) return true;
    if (n != 4 || (std::wcsncmp(name, L"COM", 3) != 0 && std::wcsncmp(name, L"LPT", 3) != 0))
        return false;
    const wchar_t digit = name[3];
    return (digit >= L'0' && digit <= L'9') || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3;
}

bool IsContainedEntryName(const wchar_t* name) {
    if (!name || !name[0] || IsSeparator(name[0])) return false;
    const wchar_t* level = name;
    for (const wchar_t* p = name;; ++p) {
        const wchar_t c = *p;
        if (c != 0 && !IsSeparator(c)) {
            if (c < 32 || std::wcschr(L":*?\"<>|", c)) return false;
            continue;
        }
        const size_t length = size_t(p - level);
        if (length == 0) return c == 0 && p != name;  // "a\\\\b" is not; a folder's "a\\" is
        bool dotsOnly = true;
        for (size_t i = 0; i < length; ++i)
            if (level[i] != L'.' && level[i] != L' ') dotsOnly = false;
        if (dotsOnly || IsDeviceName(level, length)) return false;
        if (c == 0) return true;
        level = p + 1;
    }
}

bool IsContainedFileName(const wchar_t* name) {
    if (!IsContainedEntryName(name)) return false;
    const size_t n = std::wcslen(name);
    return !IsSeparator(name[n - 1]);
}
