// Stands in for the client's updater: records its command line in "ran.txt"
// beside itself (written under another name and renamed, so a reader never
// sees half of it) and exits.
#include <windows.h>

#include <cwchar>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    wchar_t dir[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 1;
    wchar_t* last = wcsrchr(dir, L'\\');
    if (!last) return 1;
    last[1] = 0;
    wchar_t temp[MAX_PATH], done[MAX_PATH];
    swprintf(temp, MAX_PATH, L"%lsran.tmp", dir);
    swprintf(done, MAX_PATH, L"%lsran.txt", dir);
    HANDLE file = CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    const wchar_t* line = GetCommandLineW();
    DWORD put = 0;
    WriteFile(file, line, DWORD(wcslen(line) * sizeof(wchar_t)), &put, nullptr);
    CloseHandle(file);
    return MoveFileExW(temp, done, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
