#include "tests/app/e2e_util.h"

#include "tests/common/test_util.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>

#include "support/handle.h"

namespace e2e {
namespace {

struct Found {
    DWORD pid;
    std::vector<HWND> dialogs;
    HWND main = nullptr;
};

BOOL CALLBACK Collect(HWND window, LPARAM param) {
    auto* found = reinterpret_cast<Found*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != found->pid) return TRUE;
    wchar_t cls[64] = {};
    GetClassNameW(window, cls, 64);
    if (wcscmp(cls, L"#32770") == 0 && IsWindowVisible(window)) found->dialogs.push_back(window);
    if (wcscmp(cls, L" ") == 0) found->main = window;
    return TRUE;
}

std::wstring TextOf(HWND window) {
    wchar_t text[2048] = {};
    GetWindowTextW(window, text, 2048);
    return text;
}

// The message text of a message box: its static control 0xFFFF, else the
// longest static text inside it.
std::wstring MessageText(HWND dialog) {
    if (HWND text = GetDlgItem(dialog, 0xFFFF)) return TextOf(text);
    std::wstring best;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t cls[32] = {};
        GetClassNameW(child, cls, 32);
        std::wstring t = TextOf(child);
        if (_wcsicmp(cls, L"Static") == 0 && t.size() > best.size()) best = t;
    }
    return best;
}

}  // namespace

Installer::Installer(const std::wstring& exe, const std::wstring& args) {
    std::wstring line = L"\"" + exe + L"\"" + (args.empty() ? L"" : L" " + args);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                       &pi)) {
        CloseHandle(pi.hThread);
        process_.reset(pi.hProcess);
        pid_ = pi.dwProcessId;
    }
}

Installer::~Installer() {
    if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.get(), 99);
        WaitForSingleObject(process_.get(), 5000);
    }
}

HWND Installer::Window() {
    Found found;
    found.pid = pid_;
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&found));
    return found.main;
}

RunResult Installer::Watch(const DialogAnswer& answer, const WindowStep& step, DWORD timeoutMs) {
    RunResult result;
    if (!process_) return result;
    DWORD start = GetTickCount();
    for (;;) {
        Found found;
    found.pid = pid_;
        EnumWindows(Collect, reinterpret_cast<LPARAM>(&found));
        if (found.main) {
            result.sawWindow = true;
            std::wstring title = TextOf(found.main);
            if (!title.empty()) result.windowTitle = title;
        }
        for (HWND dialog : found.dialogs) {
            if (std::find(answered_.begin(), answered_.end(), dialog) != answered_.end()) continue;
            Dialog d{TextOf(dialog), MessageText(dialog)};
            int button = answer ? answer(d) : 0;
            if (!button) continue;
            answered_.push_back(dialog);
            result.dialogs.push_back(d);
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
        }
        if (step && step(found.main)) return result;
        if (WaitForSingleObject(process_.get(), 50) == WAIT_OBJECT_0) {
            result.exited = true;
            GetExitCodeProcess(process_.get(), &result.exitCode);
            return result;
        }
        if (GetTickCount() - start > timeoutMs) return result;
    }
}

RunResult Run(const std::wstring& exe, const std::wstring& args, const DialogAnswer& answer,
              DWORD timeoutMs) {
    Installer installer(exe, args);
    return installer.Watch(answer, nullptr, timeoutMs);
}

std::wstring RegistryValue(const std::wstring& key, const wchar_t* name) {
    return testing_util::ReadRecordValue(key, name);
}

bool WriteRegistry(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    return testing_util::WriteRecordValue(key, name, value);
}

std::vector<std::wstring> ShortcutPaths(const std::wstring& name) {
    auto folder = [](int csidl) {
        wchar_t path[MAX_PATH] = {};
        SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE);
        return std::wstring(path);
    };
    std::wstring programs = folder(CSIDL_COMMON_PROGRAMS) + L"\\" + name;
    return {
        folder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\" + name + L".lnk",
        folder(CSIDL_COMMON_STARTMENU) + L"\\" + name + L".lnk",
        folder(CSIDL_APPDATA) + L"\\Microsoft\\Internet Explorer\\Quick Launch\\" + name + L".lnk",
        programs + L"\\" + name + L".lnk",
        programs + L"\\卸载" + name + L".lnk",
    };
}

void RemoveProduct(const std::wstring& company, const std::wstring& app, const std::wstring& name) {
    testing_util::DeleteRecordKey((L"Software\\" + company + L"\\" + app).c_str());
    testing_util::DeleteRecordKey((L"Software\\" + company).c_str());
    testing_util::DeleteRecordKey(
        (L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + company + app).c_str());
    std::vector<std::wstring> links = ShortcutPaths(name);
    for (const std::wstring& link : links) DeleteFileW(link.c_str());
    std::wstring group = links[3].substr(0, links[3].rfind(L'\\'));
    RemoveDirectoryW(group.c_str());
}

std::wstring ShortcutTarget(const std::wstring& lnk) {
    return testing_util::ReadShortcut(lnk).target;
}

bool WaitForFile(const std::wstring& path, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(50);
    }
    return true;
}

}  // namespace e2e
