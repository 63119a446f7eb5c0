// Loads one DLL by bare name the way a careless caller would, optionally
// after restricting the DLL search first, and reports by its exit code:
//   dll_search_probe.exe restrict|plain NAME.dll   -> 0 loaded, 1 not loaded
#include <windows.h>

#include <cwchar>

#include "support/system_dll.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    if (wcscmp(argv[1], L"restrict") == 0) RestrictDllSearch();
    return LoadLibraryW(argv[2]) ? 0 : 1;
}
