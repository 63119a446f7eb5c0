#include "support/dialogs.h"

#include <commdlg.h>
#include <shlobj.h>

#include <atomic>
#include <cwchar>

#include "support/handle.h"

bool StartWindowDrag(HWND window) {
    if (!IsWindow(window)) return false;
    ReleaseCapture();
    PostMessageW(window, WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(100, 10));
    return true;
}

BOOL CenterWindow(HWND window, HWND reference, int width, int height, bool repaint) {
    int x, y;
    RECT r;
    if (reference && GetWindowRect(reference, &r)) {
        x = r.left + ((r.right - r.left) - width) / 2;
        y = r.top + ((r.bottom - r.top) - height) / 2;
    } else {
        x = (GetSystemMetrics(SM_CXSCREEN) - width) >> 1;
        y = (GetSystemMetrics(SM_CYSCREEN) - height) >> 1;
    }
    return MoveWindow(window, x, y, width, height, repaint);
}

bool RegisterWindowClass(HINSTANCE instance, const wchar_t* name, WNDPROC procedure,
                         bool doubleClicks) {
    if (!name || !procedure) return false;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    if (GetClassInfoExW(instance, name, &wc)) return true;
    wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW | (doubleClicks ? CS_DBLCLKS : 0);
    wc.lpfnWndProc = procedure;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = name;
    return RegisterClassExW(&wc) != 0;
}

bool PointInRect(const RECT& rect, int x, int y) {
    return rect.left <= x && x < rect.right && rect.top <= y && y < rect.bottom;
}

int BuildFileFilter(wchar_t* filter, int capacity, const wchar_t* extensions) {
    if (!filter || capacity <= 0 || !extensions) return 0;
    constexpr int kItemMax = 63, kPatternMax = 259;
    wchar_t patterns[kPatternMax + 1] = {};
    int used = 0;
    const wchar_t* item = extensions;
    for (;;) {
        const wchar_t* end = wcschr(item, L',');
        int n = end ? int(end - item) : int(wcslen(item));
        if (n > kItemMax) n = kItemMax;
        // An item that no longer fits the pattern list is left out whole.
        if (n > 0 && used + n + 3 <= kPatternMax) {
            patterns[used++] = L'*';
            patterns[used++] = L'.';
            wmemcpy(patterns + used, item, n);
            used += n;
            patterns[used++] = L';';
            patterns[used] = 0;
        }
        if (!end) break;
        item = end + 1;
    }

    const wchar_t* description = extensions;
    const wchar_t* pattern = patterns;
    wchar_t allFiles[] = L"All files(*.*)";
    if (used == 0) {
        description = allFiles;
        pattern = L"*.*";
    }
    // description "(" patterns ")" NUL pattern NUL NUL; patterns only with a list
    const int d = int(wcslen(description)), p = int(wcslen(pattern));
    const int total = used ? d + 1 + p + 1 + 1 + p + 2 : d + 1 + p + 2;
    if (total > capacity) return 0;
    wchar_t* o = filter;
    wmemcpy(o, description, d);
    o += d;
    if (used) {
        *o++ = L'(';
        wmemcpy(o, pattern, p);
        o += p;
        *o++ = L')';
    }
    *o++ = 0;
    wmemcpy(o, pattern, p);
    o += p;
    *o++ = 0;
    *o++ = 0;
    return int(o - filter);
}

bool OpenFileDialog(wchar_t* path, HWND owner, const wchar_t* extensions, bool multiple) {
    if (!path || !extensions) return false;
    // Larger than the traditional 260 so a long list cannot overflow; a list
    // that still does not fit falls back to all files.
    wchar_t filter[1024];
    if (!BuildFileFilter(filter, 1024, extensions)) BuildFileFilter(filter, 1024, L"");
    wchar_t file[2048] = {};
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = 2047;
    ofn.Flags = OFN_EXPLORER | (multiple ? OFN_ALLOWMULTISELECT : 0);
    if (!GetOpenFileNameW(&ofn) || ofn.nFilterIndex != 1) return false;
    wcscpy(path, file);
    return true;
}

bool BrowseForFolder(wchar_t* path, HWND owner, const wchar_t* title) {
    if (!path) return false;
    wchar_t display[MAX_PATH] = {};
    BROWSEINFOW bi = {};
    bi.hwndOwner = owner;
    bi.pszDisplayName = display;
    bi.lpszTitle = title ? title : L"请选择一个目录：";
    bi.ulFlags = BIF_RETURNONLYFSDIRS;
    if (LPITEMIDLIST list = SHBrowseForFolderW(&bi)) {
        bool got = SHGetPathFromIDListW(list, path) != FALSE;
        ComPtr<IMalloc> malloc;
        if (FAILED(SHGetMalloc(malloc.put())) || !malloc) return false;
        malloc->Free(list);
        if (!got) return false;
    }
    return path[0] != 0;
}

uint64_t SecondsNow() {
    static const uint64_t frequency = [] {
        LARGE_INTEGER f;
        return QueryPerformanceFrequency(&f) ? uint64_t(f.QuadPart) : 0;
    }();
    if (frequency == 0) return 0;
    LARGE_INTEGER c;
    if (!QueryPerformanceCounter(&c)) return 0;
    return uint64_t(c.QuadPart) / frequency;
}

namespace {
std::atomic<TickSource> g_tickSource{nullptr};
}

uint32_t TickNow() {
    TickSource source = g_tickSource.load(std::memory_order_relaxed);
    return source ? source() : GetTickCount();
}

TickSource SetTickSource(TickSource source) { return g_tickSource.exchange(source); }
