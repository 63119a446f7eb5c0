// Window-placement helpers (centring, dragging, class registration), the
// open-file and folder dialogs, and the clocks.
#pragma once

#include <windows.h>

#include <cstdint>

// Lets the system move the window with the mouse; false when it is gone.
bool StartWindowDrag(HWND window);
// Over the reference window's rectangle, or the screen when it is null.
BOOL CenterWindow(HWND window, HWND reference, int width, int height, bool repaint);
bool RegisterWindowClass(HINSTANCE instance, const wchar_t* name, WNDPROC procedure,
                         bool doubleClicks);
bool PointInRect(const RECT& rect, int x, int y);

// Builds the filter "list(*.a;*.b;)" from a comma-separated extension list.
// Answers the filter's length including its two final NULs.
int BuildFileFilter(wchar_t* filter, int capacity, const wchar_t* extensions);
// path must hold 2048 characters. A multiple selection yields its directory.
bool OpenFileDialog(wchar_t* path, HWND owner, const wchar_t* extensions, bool multiple);
// path must hold MAX_PATH characters; answers whether path is non-empty.
bool BrowseForFolder(wchar_t* path, HWND owner, const wchar_t* title);

// Whole seconds of the performance counter.
uint64_t SecondsNow();

// Millisecond clock of the UI's animations: GetTickCount unless a source is
// installed (tests drive cross-fades with it). A null source restores
// GetTickCount; the previous source is answered.
using TickSource = uint32_t (*)();
uint32_t TickNow();
TickSource SetTickSource(TickSource source);
