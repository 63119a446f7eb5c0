// Stands in for the installed game client: notes that it was started (and
// with which command line) in started.txt beside itself, then ends.
#include <windows.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 1;
    wchar_t* slash = wcsrchr(path, L'\\');
    if (!slash || slash - path + 12 >= MAX_PATH) return 1;
    wcscpy(slash + 1, L"started.txt");
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    const wchar_t* line = GetCommandLineW();
    DWORD written = 0;
    WriteFile(file, line, DWORD(wcslen(line) * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
    return 0;
}
