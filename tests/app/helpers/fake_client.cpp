// Stands in for the installed game client: notes that it was started in
// started.txt beside itself, then ends. The note holds its command line, a
// line feed and its working folder (UTF-16, no byte-order mark); it is
// written under another name and renamed, so a reader never sees half of it.
#include <windows.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    wchar_t dir[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 1;
    wchar_t* slash = wcsrchr(dir, L'\\');
    if (!slash) return 1;
    slash[1] = 0;
    wchar_t temp[MAX_PATH], done[MAX_PATH];
    if (swprintf(temp, MAX_PATH, L"%lsstarted.tmp", dir) < 0 ||
        swprintf(done, MAX_PATH, L"%lsstarted.txt", dir) < 0)
        return 1;
    wchar_t folder[MAX_PATH] = {};
    DWORD f = GetCurrentDirectoryW(MAX_PATH, folder);
    if (f == 0 || f >= MAX_PATH) return 1;
    HANDLE file = CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    const wchar_t* line = GetCommandLineW();
    DWORD written = 0;
    WriteFile(file, line, DWORD(wcslen(line) * sizeof(wchar_t)), &written, nullptr);
    WriteFile(file, L"\n", sizeof(wchar_t), &written, nullptr);
    WriteFile(file, folder, DWORD(f * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
    return MoveFileExW(temp, done, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
