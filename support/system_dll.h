// DLLs from the system folder only. The installer runs with administrator
// rights but is started from wherever it was saved (the Downloads folder,
// a temporary folder), and Windows looks in a program's own folder first for
// a DLL named without a path: a file planted there would run elevated.
#pragma once

#include <windows.h>

// The first call of every program of ours that can run elevated, before any
// window, COM or shell call: every later load by bare name, ours or a system
// DLL's, searches the system folder only, and never the current directory.
// False where the system cannot restrict the search (Windows 7 without
// update KB2533623): only the current directory leaves the search there.
bool RestrictDllSearch();

// Loads a DLL by its file name ("dwmapi.dll") from the system folder, and
// its dependencies from there too, whatever the search order in force; null
// when it is not there or name is not a bare file name. The caller owns the
// handle (UniqueModule).
HMODULE LoadSystemLibrary(const wchar_t* name);
