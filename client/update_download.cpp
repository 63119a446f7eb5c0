#include "client/update_download.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <cwchar>
#include <memory>
#include <new>

#include "support/data.h"
#include "support/digest.h"
#include "support/handle.h"
#include "support/internet.h"
#include "support/shell.h"

namespace {

constexpr uint32_t kAddressCapacity = 1024;
constexpr uint32_t kLocalPathCapacity = 512;

void Report(DownloadProgress* p, uint32_t total, uint32_t done, const wchar_t* file) {
    if (p && p->callback) p->callback(total, done, file, p->user);
}

// Sizes from a manifest are not trusted to be sane.
uint32_t Counted(const UpdateItem* item) { return item->size > 0 ? uint32_t(item->size) : 0; }

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDeviceName(const wchar_t* level, size_t length) {
    // The name before the first dot decides: "nul.txt" is the device too.
    size_t n = 0;
    while (n < length && level[n] != L'.') ++n;
    while (n > 0 && level[n - 1] == L' ') --n;
    if (n < 3 || n > 7) return false;
    wchar_t name[8] = {};
    for (size_t i = 0; i < n; ++i) name[i] = towupper(level[i]);
    static const wchar_t* const kDevices[] = {L"CON", L"PRN",    L"AUX",
                                              L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* d : kDevices)
        if (wcscmp(name, d) == 0) return true;
    return n == 4 && (wcsncmp(name, L"COM", 3) == 0 || wcsncmp(name, L"LPT", 3) == 0) &&
           name[3] >= L'1' && name[3] <= L'9';
}

// Joins directory and file with exactly one backslash, '/' turned into '\'.
bool JoinPath(wchar_t* out, uint32_t capacity, const wchar_t* directory, const wchar_t* file) {
    size_t d = wcslen(directory);
    bool slash = d > 0 && IsSeparator(directory[d - 1]);
    int n = swprintf(out, capacity, slash ? L"%ls%ls" : L"%ls\\%ls", directory, file);
    if (n < 0 || uint32_t(n) >= capacity) return false;
    for (wchar_t* c = out + d; *c; ++c)
        if (*c == L'/') *c = L'\\';
    return true;
}

// The canonical form of path must lie under the canonical directory, so that
// nothing the lexical check missed can reach outside it.
bool StaysInside(const wchar_t* directory, const wchar_t* path) {
    wchar_t base[MAX_PATH * 2];
    wchar_t full[MAX_PATH * 2];
    DWORD b = GetFullPathNameW(directory, MAX_PATH * 2, base, nullptr);
    DWORD f = GetFullPathNameW(path, MAX_PATH * 2, full, nullptr);
    if (b == 0 || b >= MAX_PATH * 2 || f == 0 || f >= MAX_PATH * 2) return false;
    if (b > 0 && base[b - 1] != L'\\') {
        if (b + 1 >= MAX_PATH * 2) return false;
        base[b++] = L'\\';
        base[b] = 0;
    }
    return f > b && _wcsnicmp(base, full, b) == 0;
}

// The local path of an entry, or false when the entry must be refused.
bool LocalPathOf(wchar_t* out, const wchar_t* directory, const UpdateItem* item) {
    if (!directory || !directory[0]) return false;
    if (!item->file[0] || !item->url[0]) return false;
    if (!IsSafeRelativePath(item->file)) return false;
    return JoinPath(out, kLocalPathCapacity, directory, item->file) &&
           StaysInside(directory, out);
}

bool DigestsMatch(const wchar_t* actual, const wchar_t* expected) {
    return _wcsicmp(actual, expected) == 0;
}

bool IsUpToDate(const wchar_t* path, const UpdateItem* item) {
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &info)) return false;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    // Size first: a digest is only worth computing for a file of the right size.
    if (item->size < 0 || info.nFileSizeHigh != 0 || info.nFileSizeLow != uint32_t(item->size))
        return false;
    wchar_t digest[33] = {};
    return DigestOfFile(digest, path, true) && DigestsMatch(digest, item->md5);
}

bool BodyMatches(const uint8_t* bytes, uint32_t count, const UpdateItem* item) {
    if (item->size < 0 || count != uint32_t(item->size)) return false;
    XMD5 md5;
    md5.Update(bytes, count);
    uint8_t raw[16];
    md5.Final(raw);
    wchar_t digest[33] = {};
    ToHex(digest, 32, raw, 16, true);
    return DigestsMatch(digest, item->md5);
}

// Creates every missing level of the folder that will hold path.
bool CreateParentOf(const wchar_t* path) {
    wchar_t folder[kLocalPathCapacity];
    wcsncpy(folder, path, kLocalPathCapacity - 1);
    folder[kLocalPathCapacity - 1] = 0;
    wchar_t* last = wcsrchr(folder, L'\\');
    if (!last || last == folder) return true;
    *last = 0;
    return CreateDirectoryTree(folder, L'\\');
}

// Writes beside the target and renames over it only when the bytes are all
// on disk: a cut connection or a killed installer never leaves a truncated
// file where a good one stood.
bool InstallBytes(const wchar_t* path, const uint8_t* bytes, uint32_t count) {
    wchar_t folder[kLocalPathCapacity];
    wcsncpy(folder, path, kLocalPathCapacity - 1);
    folder[kLocalPathCapacity - 1] = 0;
    wchar_t* last = wcsrchr(folder, L'\\');
    if (!last) return false;
    last[1] = 0;
    wchar_t temp[MAX_PATH];
    if (!GetTempFileNameW(folder, L"~dl", 0, temp)) return false;
    ScopeExit removeTemp([&] { DeleteFileW(temp); });
    static const uint8_t kNothing = 0;
    if (!SaveBytes(temp, count ? bytes : &kNothing, count)) return false;
    if (!MoveFileExW(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return false;
    removeTemp.dismiss();
    return true;
}

struct ItemProgress {
    DownloadProgress* progress;
    uint32_t done;
};

void OnChunk(uint32_t, uint32_t received, void* user) {
    auto* p = static_cast<ItemProgress*>(user);
    Report(p->progress, p->progress->total, p->done + received, nullptr);
}

bool DownloadFile(const wchar_t* path, DownloadProgress* progress, const UpdateItem* item) {
    if (IsUpToDate(path, item)) return true;
    if (item->size < 0) return false;
    if (!CreateParentOf(path)) return false;

    wchar_t address[kAddressCapacity];
    if (!BuildRequestAddress(address, kAddressCapacity, item->url)) return false;
    CInternet net;
    ItemProgress chunkContext{progress, progress ? progress->done : 0};
    if (progress) net.SetCallback(OnChunk, &chunkContext);
    // A body larger than the entry cannot be the right one; it is refused
    // before anything is read. (For an empty entry the limit is one byte: a
    // limit of 0 would mean none.)
    net.SetSizeLimit(item->size > 0 ? uint32_t(item->size) : 1);
    if (!net.Download(address)) return false;
    if (!BodyMatches(net.buffer, net.received, item)) return false;
    return InstallBytes(path, net.buffer, net.received);
}

}  // namespace

bool IsSafeRelativePath(const wchar_t* file) {
    if (!file || !file[0] || IsSeparator(file[0])) return false;
    const wchar_t* level = file;
    for (const wchar_t* c = file;; ++c) {
        if (*c && !IsSeparator(*c)) {
            if (*c < 32 || wcschr(L":*?\"<>|", *c)) return false;
            continue;
        }
        size_t length = size_t(c - level);
        // Empty, ".", ".." and the like: Windows drops trailing dots and
        // blanks, so "..." or ".. " would also climb out.
        bool onlyDots = true;
        for (size_t i = 0; i < length; ++i)
            if (level[i] != L'.' && level[i] != L' ') onlyDots = false;
        if (onlyDots || IsDeviceName(level, length)) return false;
        if (!*c) return true;
        level = c + 1;
    }
}

bool BuildRequestAddress(wchar_t* out, uint32_t capacity, const wchar_t* url) {
    if (!out || !url || capacity == 0) return false;
    srand(unsigned(time(nullptr)));
    int n = swprintf(out, capacity, L"%ls?ts=800%d", url, rand());
    return n > 0 && uint32_t(n) < capacity;
}

bool DownloadItem(const wchar_t* directory, DownloadProgress* progress, const UpdateItem* item) {
    if (!item) return false;
    wchar_t path[kLocalPathCapacity];
    switch (item->action) {
        case kUpdateAdd:
            if (!LocalPathOf(path, directory, item)) return false;
            return DownloadFile(path, progress, item);
        case kUpdateDelete:
            if (!LocalPathOf(path, directory, item)) return false;
            DeleteFileW(path);  // a file already gone is what was asked for
            return true;
        default:
            return true;  // carried for newer programs, nothing to do here
    }
}

bool DownloadAll(DownloadProgress* progress, const wchar_t* directory, IUpdateInfo* manifest) {
    if (!manifest) return false;
    DownloadProgress none{};
    DownloadProgress* p = progress ? progress : &none;
    const uint32_t count = manifest->Count();
    uint32_t total = 0;
    for (uint32_t i = 0; i < count; ++i)
        if (const UpdateItem* item = manifest->GetItem(i)) total += Counted(item);
    p->total = total;
    p->done = 0;
    Report(p, total, 0, nullptr);
    bool all = true;
    for (uint32_t i = 0; i < count; ++i) {
        const UpdateItem* item = manifest->GetItem(i);
        if (!item) continue;
        Report(p, total, p->done, item->file);
        if (!DownloadItem(directory, p, item)) all = false;
        p->done += Counted(item);
        Report(p, total, p->done, nullptr);
    }
    Report(p, total, total, nullptr);
    return all;
}

bool ApplyManifest(DownloadProgress* progress, const wchar_t* directory, const void* bytes,
                   uint32_t count) {
    if (progress) progress->digest[0] = 0;
    wchar_t digest[33] = {};
    if (!DigestOfBuffer(digest, bytes, count)) return false;
    std::unique_ptr<CUpdateInfo> manifest(new (std::nothrow) CUpdateInfo);
    if (!manifest || !manifest->ParseData(bytes, count)) return false;
    if (!DownloadAll(progress, directory, manifest.get())) return false;
    if (progress) wcscpy(progress->digest, digest);
    return true;
}

void DownloadManifestAndFiles(const wchar_t* address, const wchar_t* directory,
                              DownloadProgress* progress) {
    if (progress) progress->digest[0] = 0;
    if (!address || !address[0] || !directory || !directory[0]) return;
    wchar_t request[kAddressCapacity];
    if (!BuildRequestAddress(request, kAddressCapacity, address)) return;
    CInternet net;
    if (!net.Download(request)) return;
    ApplyManifest(progress, directory, net.buffer, net.received);
}
