#include "client/registry.h"

#include <windows.h>

#include <cwchar>
#include <memory>
#include <new>

#include "support/handle.h"
#include "support/shell.h"

namespace {

// Longest text a REG_SZ of this program may carry; keeps 2 x length in range.
constexpr size_t kMaxValueLength = 0x3FFFFFFF;

// The product key and the uninstall entry live in the 32-bit view, so that
// the 32-bit and the 64-bit installer (and an older 32-bit installation) see
// the same records; a 32-bit program on 32-bit Windows ignores the flag.
constexpr REGSAM kView = KEY_WOW64_32KEY;

bool IsKeyPart(const wchar_t* text) { return text && text[0] && !wcschr(text, L'\\'); }

}  // namespace

bool ReadRegistryValue(const wchar_t* subKey, const wchar_t* name, wchar_t* out, int capacity) {
    if (!subKey || !name || !out) return false;
    if (capacity <= 0 || static_cast<size_t>(capacity) > kMaxValueLength) return false;
    wmemset(out, 0, capacity);
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, KEY_READ | kView, key.put()) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD bytes = static_cast<DWORD>(capacity) * sizeof(wchar_t);
    LONG status = RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(out),
                                   &bytes);
    // The value may be stored with its NUL (ours) or without it (earlier
    // builds wrote none): it fits only when the last character of the
    // buffer is still free or is that NUL, so nothing is read unterminated.
    bool ok = status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ) &&
              (bytes < static_cast<DWORD>(capacity) * sizeof(wchar_t) || out[capacity - 1] == 0);
    if (!ok) wmemset(out, 0, capacity);
    return ok;
}

bool WriteRegistryValue(const wchar_t* subKey, const wchar_t* name, const wchar_t* text,
                        int length) {
    if (!subKey || !name || !text) return false;
    if (length < -1) return false;
    size_t count = length == -1 ? wcslen(text) : static_cast<size_t>(length);
    if (count > kMaxValueLength) return false;
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, KEY_ALL_ACCESS | kView, key.put()) !=
            ERROR_SUCCESS &&
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, nullptr, 0, KEY_ALL_ACCESS | kView, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    // A REG_SZ carries its terminating NUL: readers that trust the data to
    // be terminated (the system's own among them) would otherwise run past
    // it. `length` may cut the text short of its own NUL, so copy first.
    std::unique_ptr<wchar_t[]> copy(new (std::nothrow) wchar_t[count + 1]);
    if (!copy) return false;
    wmemcpy(copy.get(), text, count);
    copy[count] = L'\0';
    return RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(copy.get()),
                          static_cast<DWORD>((count + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool DeleteRegistryKey(const wchar_t* subKey) {
    // An empty name would address HKEY_LOCAL_MACHINE itself.
    if (!subKey || !subKey[0]) return false;
    return RegDeleteKeyExW(HKEY_LOCAL_MACHINE, subKey, kView, 0) == ERROR_SUCCESS;
}

bool FormatProductKey(wchar_t* out, const wchar_t* company, const wchar_t* app) {
    if (!out || !IsKeyPart(company) || !IsKeyPart(app)) return false;
    return ComposePath(out, MAX_PATH, {L"Software\\", company, L"\\", app});
}

bool FormatUninstallKey(wchar_t* out, const wchar_t* company, const wchar_t* app) {
    if (!out || !IsKeyPart(company) || !IsKeyPart(app)) return false;
    return ComposePath(out, MAX_PATH,
                       {L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\", company, app});
}

bool ReadProductValue(const wchar_t* company, const wchar_t* app, const wchar_t* name,
                      wchar_t* out, int capacity) {
    wchar_t key[MAX_PATH];
    return FormatProductKey(key, company, app) && ReadRegistryValue(key, name, out, capacity);
}

bool WriteProductValue(const wchar_t* company, const wchar_t* app, const wchar_t* name,
                       const wchar_t* text, int length) {
    wchar_t key[MAX_PATH];
    return FormatProductKey(key, company, app) && WriteRegistryValue(key, name, text, length);
}

bool DeleteProductKey(const wchar_t* company, const wchar_t* app) {
    wchar_t key[MAX_PATH];
    return FormatProductKey(key, company, app) && DeleteRegistryKey(key);
}

bool WriteUninstallValue(const wchar_t* company, const wchar_t* app, const wchar_t* name,
                         const wchar_t* text, int length) {
    wchar_t key[MAX_PATH];
    return FormatUninstallKey(key, company, app) && WriteRegistryValue(key, name, text, length);
}

bool WriteUninstallNumber(const wchar_t* company, const wchar_t* app, const wchar_t* name,
                          uint32_t value) {
    wchar_t subKey[MAX_PATH];
    if (!name || !FormatUninstallKey(subKey, company, app)) return false;
    UniqueKey key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, nullptr, 0, KEY_SET_VALUE | kView, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    DWORD data = value;
    return RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                          sizeof(data)) == ERROR_SUCCESS;
}

bool DeleteUninstallKey(const wchar_t* company, const wchar_t* app) {
    wchar_t key[MAX_PATH];
    return FormatUninstallKey(key, company, app) && DeleteRegistryKey(key);
}
