// Registry helpers over HKEY_LOCAL_MACHINE: the product key
// "Software\<company>\<app>" and the uninstall entry
// "Software\Microsoft\Windows\CurrentVersion\Uninstall\<company><app>".
//
// String values are stored as REG_SZ with their terminating NUL (values
// written without one are read as well). Every build, 32-bit or 64-bit,
// uses the registry's 32-bit view (KEY_WOW64_32KEY), so the installers, the
// uninstaller and the updater of either build meet in the same keys.
#pragma once

#include <cstdint>

// capacity: characters of out, NUL included. False (out empty) when the key
// or value is missing, is not a string, or would not fit with its NUL.
bool ReadRegistryValue(const wchar_t* subKey, const wchar_t* name, wchar_t* out, int capacity);
// length -1: the text's own length. Creates the key when it does not exist.
bool WriteRegistryValue(const wchar_t* subKey, const wchar_t* name, const wchar_t* text,
                        int length = -1);
// Deletes a key that has no sub-keys.
bool DeleteRegistryKey(const wchar_t* subKey);

// The product and uninstall variants refuse an empty company or app and one
// holding a backslash, so that a damaged configuration cannot reach another
// key (an empty app would otherwise name the company's own key).
bool ReadProductValue(const wchar_t* company, const wchar_t* app, const wchar_t* name,
                      wchar_t* out, int capacity);
bool WriteProductValue(const wchar_t* company, const wchar_t* app, const wchar_t* name,
                       const wchar_t* text, int length = -1);
bool DeleteProductKey(const wchar_t* company, const wchar_t* app);
bool WriteUninstallValue(const wchar_t* company, const wchar_t* app, const wchar_t* name,
                         const wchar_t* text, int length = -1);
// A REG_DWORD value of the uninstall entry ("EstimatedSize").
bool WriteUninstallNumber(const wchar_t* company, const wchar_t* app, const wchar_t* name,
                          uint32_t value);
bool DeleteUninstallKey(const wchar_t* company, const wchar_t* app);

// Key names into buffers of MAX_PATH characters; false when they would not fit.
bool FormatProductKey(wchar_t* out, const wchar_t* company, const wchar_t* app);
bool FormatUninstallKey(wchar_t* out, const wchar_t* company, const wchar_t* app);
