#include "support/system_dll.h"

#include <cwchar>

#include "support/shell.h"

namespace {

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);

// Looked up rather than imported, so that the program still starts on a
// system without it.
SetDefaultDllDirectoriesFn FindSetDefaultDllDirectories() {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (!kernel) return nullptr;
    return reinterpret_cast<SetDefaultDllDirectoriesFn>(
        GetProcAddress(kernel, "SetDefaultDllDirectories"));
}

}  // namespace

bool RestrictDllSearch() {
    SetDllDirectoryW(L"");  // takes the current directory out of the search
    SetDefaultDllDirectoriesFn restrict = FindSetDefaultDllDirectories();
    return restrict && restrict(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
    if (!IsPlainFileName(name)) return nullptr;
    wchar_t system[MAX_PATH];
    UINT n = GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    wchar_t path[MAX_PATH];
    if (!ComposePath(path, MAX_PATH, {system, L"\\", name})) return nullptr;
    // The flag keeps the DLL's own dependencies in the system folder too. It
    // came with SetDefaultDllDirectories; without it, the altered search
    // looks for them in the DLL's folder (the system folder) first instead
    // of the program's.
    DWORD flags = FindSetDefaultDllDirectories() ? LOAD_LIBRARY_SEARCH_SYSTEM32
                                                 : LOAD_WITH_ALTERED_SEARCH_PATH;
    return LoadLibraryExW(path, nullptr, flags);
}
