// Stands in for a DLL someone left beside a program: when any process loads
// it, it writes "<its own file name>.loaded" beside itself, so a test sees
// which copy was loaded and by which name.
#include <windows.h>

#include <cwchar>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t marker[MAX_PATH];
    DWORD n = GetModuleFileNameW(self, marker, MAX_PATH);
    if (n == 0 || n + 8 > MAX_PATH) return TRUE;
    wcscpy(marker + n, L".loaded");
    HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return TRUE;
}
