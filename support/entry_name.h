// The one set of rules for names that come from outside (archive entries,
// manifest entries, installed-file records) and are joined to the
// installation directory: extraction, download, removal and the packaging
// tool all ask here.
#pragma once

#include <cstddef>

// CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9 and LPT0-9 (also with the
// superscript digits newer Windows treats alike) open a device, not a file,
// whatever extension follows and in any case. COM0 and LPT0 are not devices
// on every Windows; refusing them costs nothing and is safe on all.
bool IsDeviceName(const wchar_t* level, size_t length);

// True for a relative "\"- or "/"-separated name that stays inside the
// directory it is joined to: no drive, no leading separator, no empty level,
// no level of only dots and blanks (Windows drops trailing dots and blanks,
// so "..." or ".. " would climb out too), no device name, no character the
// file system refuses. A folder entry may end with one separator.
bool IsContainedEntryName(const wchar_t* name);

// The same for a file: no trailing separator either.
bool IsContainedFileName(const wchar_t* name);
