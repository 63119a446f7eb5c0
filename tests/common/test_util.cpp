#include "tests/common/test_util.h"

#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <cstdio>

#include "support/handle.h"

namespace testing_util {
namespace {

std::wstring Widen(const std::string& s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), (int)s.size(), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.c_str(), (int)s.size(), &w[0], n);
    return w;
}

// Linux paths of the build machine are reachable through Wine's Z: drive.
std::wstring UnixToWindows(const std::string& unixPath) {
    std::wstring w = L"Z:" + Widen(unixPath);
    for (auto& c : w)
        if (c == L'/') c = L'\\';
    return w;
}

}  // namespace

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    wchar_t name[MAX_PATH];
    swprintf(name, MAX_PATH, L"%lsskin-test-%lu-%u-%lu\\", base, GetCurrentProcessId(),
             counter.fetch_add(1), GetTickCount());
    path_ = name;
    RemoveTree(path_);
    CreateDirectoryW(path_.c_str(), nullptr);
}

TempDir::~TempDir() { RemoveTree(path_); }

std::wstring SourcePath(const std::string& relative) {
    return UnixToWindows(std::string(SKIN_SOURCE_DIR) + "/" + relative);
}

std::wstring BinaryPath(const std::string& relative) {
    return UnixToWindows(std::string(SKIN_BINARY_DIR) + "/" + relative);
}

std::vector<uint8_t> ReadAll(const std::wstring& path) {
    std::vector<uint8_t> out;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return out;
    DWORD size = GetFileSize(h, nullptr);
    out.resize(size);
    DWORD got = 0;
    if (size && !ReadFile(h, out.data(), size, &got, nullptr)) got = 0;
    out.resize(got);
    CloseHandle(h);
    return out;
}

bool WriteAll(const std::wstring& path, const void* bytes, size_t count) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    BOOL ok = count == 0 || WriteFile(h, bytes, (DWORD)count, &put, nullptr);
    CloseHandle(h);
    return ok && put == count;
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTree(const std::wstring& path) {
    std::wstring dir = path;
    if (!dir.empty() && dir.back() == L'\\') dir.pop_back();
    DWORD attrs = GetFileAttributesW(dir.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) return;
    if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(dir.c_str());
        return;
    }
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::wstring n = fd.cFileName;
            if (n == L"." || n == L"..") continue;
            RemoveTree(dir + L"\\" + n);
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    SetFileAttributesW(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(dir.c_str());
}

std::string Narrow(const std::wstring& w) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), (int)w.size(), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), (int)w.size(), &s[0], n, nullptr, nullptr);
    return s;
}

ShortcutInfo ReadShortcut(const std::wstring& file) {
    ShortcutInfo info;
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> persist;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                link.put_void())) ||
        FAILED(link->QueryInterface(IID_IPersistFile, persist.put_void())) ||
        FAILED(persist->Load(file.c_str(), STGM_READ)))
        return info;
    wchar_t target[MAX_PATH] = {};
    if (FAILED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH))) return info;
    WORD hotkey = 0;
    if (FAILED(link->GetHotkey(&hotkey))) return info;
    info.hotkey = hotkey;
    info.target = target;
    info.loaded = true;
    return info;
}

size_t CountTempFiles(const std::wstring& folder) {
    size_t n = 0;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"~in*.tmp").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return 0;
    do ++n;
    while (FindNextFileW(find, &data));
    FindClose(find);
    return n;
}

bool RecordKeyExists(const std::wstring& subKey) {
    UniqueKey k;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_READ | KEY_WOW64_32KEY,
                         k.put()) == ERROR_SUCCESS;
}

std::wstring ReadRecordValue(const std::wstring& subKey, const wchar_t* name) {
    UniqueKey k;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, k.put()) !=
        ERROR_SUCCESS)
        return L"";
    wchar_t value[1024] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    if (RegGetValueW(k.get(), nullptr, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return L"";
    return value;
}

bool WriteRecordValue(const std::wstring& subKey, const wchar_t* name, const std::wstring& value,
                      bool withNul) {
    UniqueKey k;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, k.put(), nullptr) != ERROR_SUCCESS)
        return false;
    // RegSetValueExW keeps a NUL that directly follows the data, so the copy
    // without one ends in a non-NUL.
    std::wstring copy = value;
    copy.push_back(withNul ? L'\0' : L'\xFFFF');
    DWORD bytes = DWORD((value.size() + (withNul ? 1 : 0)) * sizeof(wchar_t));
    return RegSetValueExW(k.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(copy.c_str()),
                          bytes) == ERROR_SUCCESS;
}

long DeleteRecordKey(const std::wstring& subKey) {
    return RegDeleteKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), KEY_WOW64_32KEY, 0);
}

}  // namespace testing_util
