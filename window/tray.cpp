#include "window/tray.h"

CTrayPos::CTrayPos() {
    // The lock exists before the thread that may take it.
    InitializeCriticalSection(&lock_);
    stop_.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (stop_) thread_.reset(CreateThread(nullptr, 0, &CTrayPos::ThreadMain, this, 0, nullptr));
}

CTrayPos::~CTrayPos() {
    StopWatching();
    stop_.reset();
    DeleteCriticalSection(&lock_);
}

void CTrayPos::StopWatching() {
    if (!thread_) return;
    SetEvent(stop_.get());
    if (WaitForSingleObject(thread_.get(), 5000) == WAIT_TIMEOUT) TerminateThread(thread_.get(), 0);
    thread_.reset();
}

DWORD WINAPI CTrayPos::ThreadMain(void* self) {
    auto* watcher = static_cast<CTrayPos*>(self);
    while (WaitForSingleObject(watcher->stop_.get(), 1000) == WAIT_TIMEOUT) watcher->Poll();
    return 0;
}

void CTrayPos::Poll() {
    if (hovering_.load() != 1) return;
    POINT point;
    if (!GetCursorPos(&point)) return;
    EnterCriticalSection(&lock_);
    bool still = point.x == last_.x && point.y == last_.y;
    LeaveCriticalSection(&lock_);
    if (still) return;
    HWND popup = popup_.load();
    if (popup && IsWindow(popup) && WindowFromPoint(point) == popup) return;
    EnterCriticalSection(&lock_);
    // A NoteHover in between re-entered; only a real change leaves.
    bool left = hovering_.exchange(0) == 1;
    if (left) OnLeave();
    LeaveCriticalSection(&lock_);
}

void CTrayPos::NoteHover() {
    EnterCriticalSection(&lock_);
    GetCursorPos(&last_);
    if (hovering_.load() != 1) {
        OnEnter();
        hovering_.store(1);
    }
    LeaveCriticalSection(&lock_);
}

CMsgTrayPos::~CMsgTrayPos() { StopWatching(); }

void CMsgTrayPos::PostToTarget(LPARAM event) {
    HWND target = target_.load();
    if (target && IsWindow(target)) PostMessageW(target, message_.load(), id_.load(), event);
}

void CMsgTrayPos::OnEnter() { PostToTarget(WM_MOUSEHOVER); }
void CMsgTrayPos::OnLeave() { PostToTarget(WM_MOUSELEAVE); }
