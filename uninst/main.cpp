// The uninstaller ("unins000.exe" in the installation directory): removes
// what the installer recorded in "uninst.dat", then the product's records,
// shortcuts and program group. With the exact first argument "silent" it
// asks nothing. Exit codes: 0 everything removed, 1602 declined, 1603
// something could not be removed (the rest is), 2 refused (nothing removed).
//
// A running program cannot delete its own file. So at the end it copies
// itself into a new folder of unpredictable name in the temporary folder
// and starts the copy, holding the copy's file open for deletion on close:
// the copy waits for this process to end, deletes its file and the emptied
// installation directory, and its own file goes when it ends.
// rand_s: random numbers from the system, not a seeded sequence.
#define _CRT_RAND_S
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "app/install_wnd.h"
#include "client/app_file.h"
#include "client/client_info.h"
#include "client/registry.h"
#include "support/handle.h"
#include "support/locale.h"
#include "support/system_dll.h"
#include "uninst/uninstall.h"

namespace {

constexpr wchar_t kCaption[] = L"卸载提示";
constexpr int kExitDone = 0;
constexpr int kExitRefused = 2;
constexpr int kExitDeclined = 1602;
constexpr int kExitIncomplete = 1603;
constexpr wchar_t kFinishFlag[] = L"--finish";

std::wstring ModulePath() {
    wchar_t path[MAX_PATH + 1] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
    return n > 0 && n <= MAX_PATH ? std::wstring(path, n) : std::wstring();
}

std::wstring FolderOf(const std::wstring& path) {
    size_t cut = path.find_last_of(L'\\');
    return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut + 1);
}

bool SameFolder(std::wstring a, std::wstring b) {
    if (!a.empty() && a.back() != L'\\') a += L'\\';
    if (!b.empty() && b.back() != L'\\') b += L'\\';
    return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) ==
           CSTR_EQUAL;
}

void Say(bool silent, const std::wstring& text) {
    if (!silent) MessageBoxW(nullptr, text.c_str(), kCaption, MB_OK);
}

// The second phase, in the copy: once the uninstaller has ended, its file
// and the installation directory (when empty) go. Arguments: the parent's
// process handle (inherited), the uninstaller's path, the directory.
int Finish(int argc, wchar_t** argv) {
    if (argc < 5) return kExitRefused;
    HANDLE parent = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(wcstoull(argv[2], nullptr, 16)));
    WaitForSingleObject(parent, 60000);
    CloseHandle(parent);
    // The loader may hold the ended program's image a moment longer.
    for (int i = 0; i < 50 && !DeleteFileW(argv[3]) && GetLastError() != ERROR_FILE_NOT_FOUND; ++i)
        Sleep(100);
    RemoveDirectoryW(argv[4]);
    // The copy's own file goes with the handle the uninstaller opened for
    // deletion on close; its folder, empty by then, at the next start.
    std::wstring self = ModulePath();
    std::wstring folder = FolderOf(self);
    if (!folder.empty()) MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return kExitDone;
}

// A new folder of unpredictable name in the temporary folder, so that no one
// can have put a DLL beside the copy before it runs.
std::wstring MakePrivateFolder() {
    wchar_t temp[MAX_PATH + 1] = {};
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) return std::wstring();
    for (int attempt = 0; attempt < 8; ++attempt) {
        unsigned a = 0, b = 0;
        if (rand_s(&a) != 0 || rand_s(&b) != 0) return std::wstring();
        wchar_t name[32];
        _snwprintf(name, 32, L"unins-%08x%08x", a, b);
        name[31] = 0;
        std::wstring folder = std::wstring(temp) + name;
        if (CreateDirectoryW(folder.c_str(), nullptr)) return folder + L"\\";
    }
    return std::wstring();
}

// Starts the second phase; false when it could not (the uninstaller's file
// and the directory then stay, as little harm as there can be).
bool StartFinish(const std::wstring& self, const std::wstring& installDir) {
    std::wstring folder = MakePrivateFolder();
    if (folder.empty()) return false;
    std::wstring copy = folder + L"unins.exe";
    if (!CopyFileW(self.c_str(), copy.c_str(), TRUE)) {
        RemoveDirectoryW(folder.c_str());
        return false;
    }
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    // Inherited by the copy, so the file goes when the copy ends.
    UniqueFile doomed(CreateFileW(copy.c_str(), DELETE | GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_DELETE, &inherit, OPEN_EXISTING,
                                  FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    HANDLE parent = nullptr;
    if (!doomed || !DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(),
                                    &parent, SYNCHRONIZE, TRUE, 0)) {
        doomed.reset();
        DeleteFileW(copy.c_str());
        RemoveDirectoryW(folder.c_str());
        return false;
    }
    UniqueKernelHandle parentHandle(parent);
    wchar_t handleText[32];
    _snwprintf(handleText, 32, L"%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(parent)));
    handleText[31] = 0;
    std::wstring dir = installDir;
    if (!dir.empty() && dir.back() == L'\\') dir.pop_back();
    std::wstring line = L"\"" + copy + L"\" " + kFinishFlag + L" " + handleText + L" \"" + self +
                        L"\" \"" + dir + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(copy.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(),
                        &si, &pi))
        return false;  // the copy goes with `doomed`
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    RestrictDllSearch();
    UseChineseLocale();
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return kExitRefused;
    ScopeExit freeArguments([argv] { LocalFree(argv); });
    if (argc > 1 && std::wcscmp(argv[1], kFinishFlag) == 0) return Finish(argc, argv);

    const bool silent = IsSilentCommandLine(GetCommandLineW());
    CClientInfo config;
    if (!config.LoadFromModule(instance, L"app", 1)) {
        Say(silent, L"文件校验错误！请到官网下载新版本！");
        return kExitRefused;
    }
    const std::wstring self = ModulePath();
    const std::wstring installDir = FolderOf(self);
    if (installDir.empty()) return kExitRefused;

    // Another installation of the product is registered elsewhere: this copy
    // of the program is not the one to remove it.
    wchar_t registered[1024] = {};
    if (ReadProductValue(config.GetCompany(), config.GetApp(), L"path", registered, 1024) &&
        registered[0] && !SameFolder(registered, installDir)) {
        Say(silent, std::wstring(L"注册的安装目录（") + registered + L"）不是本卸载程序所在的目录，无法卸载。");
        return kExitRefused;
    }
    CAppFile record;
    const std::wstring recordPath = installDir + L"uninst.dat";
    if (!LoadUninstallRecord(record, recordPath.c_str())) {
        Say(silent, L"找不到安装记录（uninst.dat），无法卸载。");
        return kExitRefused;
    }
    if (!silent) {
        std::wstring question = std::wstring(L"确定要完全移除") + config.GetName() + L"及其所有组件吗？";
        if (MessageBoxW(nullptr, question.c_str(), kCaption, MB_YESNO | MB_ICONQUESTION) != IDYES)
            return kExitDeclined;
    }

    // A file in use stays, and so do the record, the product's entries and
    // this program: a second run, once the file is free, finishes the work.
    RemovalResult removal = RemoveRecorded(installDir, record, self);
    if (removal.failed > 0 || !DeleteFileW(recordPath.c_str())) {
        Say(silent, L"卸载未能完成：有文件正在使用，无法删除。请关闭游戏后重新运行卸载程序。");
        return kExitIncomplete;
    }
    config.DeleteRegistry();
    StartFinish(self, installDir);
    Say(silent, std::wstring(config.GetName()) + L"已成功地从您的电脑中移除。");
    return kExitDone;
}
