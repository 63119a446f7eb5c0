#include "support/shell.h"

#include <io.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cwchar>
#include <cwctype>
#include <string>
#include <utility>

#include "support/handle.h"

namespace {

constexpr size_t kTreePrefixCapacity = 1025;

void Notify(LONG event, const wchar_t* path) {
    SHChangeNotify(event, SHCNF_PATHW | SHCNF_FLUSH, path, nullptr);
}

bool Exists(const wchar_t* path) { return _waccess(path, 0) == 0; }

bool EndsWith(const wchar_t* text, wchar_t c) {
    size_t n = wcslen(text);
    return n > 0 && text[n - 1] == c;
}

// "<special folder>\<name>.lnk" or with a middle part between them.
bool SpecialFolderFile(wchar_t* out, int csidl, const wchar_t* middle, const wchar_t* name,
                       const wchar_t* suffix) {
    if (!IsPlainFileName(name)) return false;
    wchar_t folder[MAX_PATH];
    if (!GetSpecialFolder(folder, csidl)) return false;
    return ComposePath(out, MAX_PATH, {folder, middle, name, suffix});
}

const wchar_t kQuickLaunch[] = L"\\Microsoft\\Internet Explorer\\Quick Launch\\";

}  // namespace

bool ComposePath(wchar_t* out, size_t capacity, std::initializer_list<const wchar_t*> pieces) {
    if (!out || capacity == 0) return false;
    out[0] = 0;
    size_t total = 0;
    for (const wchar_t* piece : pieces) {
        if (!piece) return false;
        total += wcslen(piece);
    }
    if (total >= capacity) return false;
    size_t at = 0;
    for (const wchar_t* piece : pieces) {
        size_t n = wcslen(piece);
        wmemcpy(out + at, piece, n);
        at += n;
    }
    out[at] = 0;
    return true;
}

bool IsPlainFileName(const wchar_t* name) {
    if (!name || !name[0]) return false;
    // Windows drops trailing blanks and dots from a path: a name made of
    // them only would stand for the folder it is meant to go into.
    bool onlyTrimmed = true;
    for (const wchar_t* p = name; *p; ++p) {
        if (*p < 0x20 || wcschr(L"\\/:*?\"<>|", *p)) return false;
        if (*p != L'.' && *p != L' ') onlyTrimmed = false;
    }
    return !onlyTrimmed;
}

bool CreateDirectoryTree(const wchar_t* path, wchar_t separator) {
    if (!path) return false;
    size_t length = wcslen(path);
    if (length <= 2) return false;
    if (Exists(path)) return true;
    if (length >= kTreePrefixCapacity) return false;

    wchar_t prefix[kTreePrefixCapacity];
    for (size_t i = 1; i < length; ++i) {
        if (path[i] != separator) continue;
        wmemcpy(prefix, path, i);
        prefix[i] = 0;
        if (Exists(prefix)) continue;
        // Another thread may have made the same level in the meantime.
        if (!CreateDirectoryW(prefix, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    if (path[length - 1] != separator) {
        if (!CreateDirectoryW(path, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    Notify(SHCNE_MKDIR, path);
    return true;
}

bool CreateParentFolders(const wchar_t* path) {
    if (!path) return false;
    const wchar_t* last = wcsrchr(path, L'\\');
    if (!last || last == path) return true;
    return CreateDirectoryTree(std::wstring(path, last).c_str(), L'\\');
}

bool RemoveDirectoryTree(const wchar_t* directory) {
    if (!directory || !directory[0]) return false;
    const bool slashed = EndsWith(directory, L'\\');
    const wchar_t* joint = slashed ? L"" : L"\\";

    wchar_t pattern[MAX_PATH];
    if (!ComposePath(pattern, MAX_PATH, {directory, joint, L"*.*"})) return false;
    {
        WIN32_FIND_DATAW found;
        UniqueFind search(FindFirstFileW(pattern, &found));
        if (search) {
            do {
                const wchar_t* name = found.cFileName;
                if (wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0) continue;
                wchar_t full[MAX_PATH];
                if (!ComposePath(full, MAX_PATH, {directory, joint, name})) return false;
                DWORD attributes = found.dwFileAttributes;
                if (attributes & FILE_ATTRIBUTE_READONLY) {
                    attributes &= ~FILE_ATTRIBUTE_READONLY;
                    SetFileAttributesW(full, attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
                }
                if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                    if (!DeleteFileW(full)) return false;
                    Notify(SHCNE_DELETE, full);
                } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                    // A junction: remove the link only, never walk into its target.
                    if (!RemoveDirectoryW(full)) return false;
                    Notify(SHCNE_RMDIR, full);
                } else if (!RemoveDirectoryTree(full)) {
                    return false;
                }
            } while (FindNextFileW(search.get(), &found));
        }
    }
    DWORD own = GetFileAttributesW(directory);
    if (own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(directory, own & ~FILE_ATTRIBUTE_READONLY);
    if (!RemoveDirectoryW(directory)) return false;
    Notify(SHCNE_RMDIR, directory);
    return true;
}

bool DeletePath(const wchar_t* path) {
    if (!path || !path[0]) return false;
    // The shell expands wildcards in its source list: one name must stay one item.
    if (wcspbrk(path, L"*?")) return false;
    size_t length = wcslen(path);
    if (length >= MAX_PATH) return false;
    wchar_t from[MAX_PATH + 1] = {};  // double NUL ends the shell's list
    wmemcpy(from, path, length);

    SHFILEOPSTRUCTW operation = {};
    operation.hwnd = nullptr;
    operation.wFunc = FO_DELETE;
    operation.pFrom = from;
    operation.pTo = nullptr;
    // FOF_NOERRORUI: a failure must stay silent, never a dialog box.
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    if (SHFileOperationW(&operation) != 0 || operation.fAnyOperationsAborted) return false;
    Notify(SHCNE_DELETE, path);
    return true;
}

bool GetSpecialFolder(wchar_t* out, int csidl) {
    if (!out) return false;
    out[0] = 0;
    LPITEMIDLIST items = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &items)) || !items) return false;
    BOOL found = SHGetPathFromIDListW(items, out);
    ComPtr<IMalloc> allocator;
    if (SUCCEEDED(SHGetMalloc(allocator.put()))) allocator->Free(items);
    if (!found) out[0] = 0;
    return found != FALSE;
}

bool CreateShortcut(const wchar_t* target, const wchar_t* shortcutFile, wchar_t hotkey) {
    if (!target || !shortcutFile) return false;
    if (hotkey > 0xFF) return false;  // a virtual-key code occupies the low byte only
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                link.put_void())))
        return false;
    link->SetPath(target);
    if (hotkey != 0) {
        // Letters as virtual keys are the upper-case codes ('a' would be VK_NUMPAD1).
        WORD key = (hotkey >= L'a' && hotkey <= L'z') ? hotkey - L'a' + L'A' : hotkey;
        link->SetHotkey(static_cast<WORD>(key | ((HOTKEYF_SHIFT | HOTKEYF_CONTROL) << 8)));
    }
    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void()))) return false;
    HRESULT saved = file->Save(shortcutFile, TRUE);
    file.reset();
    link.reset();
    Notify(SHCNE_CREATE, shortcutFile);
    return SUCCEEDED(saved);
}

bool CreateDesktopShortcut(const wchar_t* target, const wchar_t* name, wchar_t hotkey) {
    wchar_t file[MAX_PATH];
    if (!target || !SpecialFolderFile(file, CSIDL_COMMON_DESKTOPDIRECTORY, L"\\", name, L".lnk"))
        return false;
    return CreateShortcut(target, file, hotkey);
}

bool CreateStartMenuShortcut(const wchar_t* target, const wchar_t* name, wchar_t hotkey) {
    wchar_t file[MAX_PATH];
    if (!target || !SpecialFolderFile(file, CSIDL_COMMON_STARTMENU, L"\\", name, L".lnk"))
        return false;
    return CreateShortcut(target, file, hotkey);
}

bool CreateQuickLaunchShortcut(const wchar_t* target, const wchar_t* name, wchar_t hotkey) {
    wchar_t file[MAX_PATH];
    if (!target || !SpecialFolderFile(file, CSIDL_APPDATA, kQuickLaunch, name, L".lnk"))
        return false;
    return CreateShortcut(target, file, hotkey);
}

bool CreateProgramsFolder(const wchar_t* name, wchar_t* out) {
    wchar_t folder[MAX_PATH];
    if (!SpecialFolderFile(folder, CSIDL_COMMON_PROGRAMS, L"\\", name, L"")) return false;
    if (!CreateDirectoryTree(folder, L'\\')) return false;
    if (out) wcscpy(out, folder);
    return true;
}

bool CreateShortcutIn(const wchar_t* target, const wchar_t* folder, const wchar_t* name,
                      wchar_t hotkey) {
    if (!target || !folder || !IsPlainFileName(name)) return false;
    wchar_t file[MAX_PATH];
    if (!ComposePath(file, MAX_PATH, {folder, L"\\", name, L".lnk"})) return false;
    return CreateShortcut(target, file, hotkey);
}

bool RemoveProgramsFolder(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    if (!SpecialFolderFile(folder, CSIDL_COMMON_PROGRAMS, L"\\", name, L"")) return false;
    return RemoveDirectoryTree(folder);
}

bool DeleteDesktopShortcut(const wchar_t* name) {
    wchar_t file[MAX_PATH];
    return SpecialFolderFile(file, CSIDL_COMMON_DESKTOPDIRECTORY, L"\\", name, L".lnk") &&
           DeletePath(file);
}

bool DeleteStartMenuShortcut(const wchar_t* name) {
    wchar_t file[MAX_PATH];
    return SpecialFolderFile(file, CSIDL_COMMON_STARTMENU, L"\\", name, L".lnk") &&
           DeletePath(file);
}

bool DeleteQuickLaunchShortcut(const wchar_t* name) {
    wchar_t file[MAX_PATH];
    return SpecialFolderFile(file, CSIDL_APPDATA, kQuickLaunch, name, L".lnk") &&
           DeletePath(file);
}

bool RunProgram(const wchar_t* file, const wchar_t* parameters, bool show,
                UniqueKernelHandle* process) {
    if (process) process->reset();
    if (!file) return false;
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    // SEE_MASK_FLAG_NO_UI: a missing file answers false instead of an error box.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_DOENVSUBST |
                 SEE_MASK_NO_CONSOLE | SEE_MASK_FLAG_LOG_USAGE | SEE_MASK_FLAG_NO_UI;
    info.hwnd = nullptr;
    info.lpVerb = L"open";
    info.lpFile = file;
    info.lpParameters = parameters;
    info.lpDirectory = nullptr;
    info.nShow = show ? SW_SHOWNORMAL : SW_HIDE;
    if (!ShellExecuteExW(&info)) return false;
    UniqueKernelHandle started(info.hProcess);
    if (process) *process = std::move(started);
    return true;
}

bool StartProgram(const wchar_t* file, const wchar_t* parameters, bool show,
                  UniqueKernelHandle* process) {
    if (process) process->reset();
    if (!file) return false;
    // A drive path or a network path: anything else would be looked up in
    // the current directory, which for an installer is its download folder.
    const bool drive = iswalpha(file[0]) && file[1] == L':' && file[2] == L'\\';
    const bool network = file[0] == L'\\' && file[1] == L'\\';
    if (!drive && !network) return false;
    const wchar_t* slash = wcsrchr(file, L'\\');
    const wchar_t* dot = wcsrchr(slash, L'.');
    // Only a program image: a batch file would be run by cmd.exe, and a
    // quote could not be quoted.
    if (!dot || _wcsicmp(dot, L".exe") != 0 || wcschr(file, L'"')) return false;
    DWORD attributes = GetFileAttributesW(file);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;

    std::wstring line = L"\"" + std::wstring(file) + L"\"";
    if (parameters && parameters[0]) line.append(L" ").append(parameters);
    std::wstring folder(file, slash + 1);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = show ? SW_SHOWNORMAL : SW_HIDE;
    PROCESS_INFORMATION started = {};
    // No console flag: a console program shares ours, as with the shell's
    // SEE_MASK_NO_CONSOLE.
    if (!CreateProcessW(file, &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &startup, &started))
        return false;
    UniqueKernelHandle thread(started.hThread), child(started.hProcess);
    if (process) *process = std::move(child);
    return true;
}

bool GetModuleDirectory(wchar_t* out, HMODULE module) {
    if (!out) return false;
    DWORD n = GetModuleFileNameW(module, out, MAX_PATH);
    // n == MAX_PATH means the name was cut: refuse rather than answer a wrong folder.
    if (n == 0 || n >= MAX_PATH) {
        out[0] = 0;
        return false;
    }
    out[n] = 0;
    wchar_t* slash = wcsrchr(out, L'\\');
    if (!slash) {
        out[0] = 0;
        return false;
    }
    slash[1] = 0;
    return true;
}
