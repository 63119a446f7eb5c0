// Watches the cursor over a notification-area icon: the shell reports moves
// over the icon but never that the cursor left it, so a thread polls the
// cursor once a second while it is over the icon.
#pragma once

#include <windows.h>

#include "support/handle.h"

#include <atomic>

class CTrayPos {
public:
    CTrayPos();
    virtual ~CTrayPos();
    CTrayPos(const CTrayPos&) = delete;
    CTrayPos& operator=(const CTrayPos&) = delete;

    virtual void OnEnter() = 0;
    virtual void OnLeave() = 0;

    // UI thread, on a tray WM_MOUSEMOVE: enters the hovering state.
    void NoteHover();
    // A window over which the cursor still counts as over the icon.
    void SetPopup(HWND popup) { popup_.store(popup); }
    HWND GetPopup() const { return popup_.load(); }
    bool IsHovering() const { return hovering_.load() == 1; }
    bool IsRunning() const { return static_cast<bool>(thread_); }

    // One poll of the watcher thread (also called by tests).
    void Poll();

protected:
    // Ends the thread (5 s grace, then TerminateThread). Subclasses call it
    // first in their destructor so the thread never calls a half-destroyed
    // object; it is idempotent.
    void StopWatching();

private:
    static DWORD WINAPI ThreadMain(void* self);

    POINT last_ = {0, 0};
    UniqueKernelHandle thread_;
    UniqueKernelHandle stop_;
    std::atomic<int> hovering_{0};
    std::atomic<HWND> popup_{nullptr};
    CRITICAL_SECTION lock_;
};

// Posts the window's tray message with lParam WM_MOUSEHOVER on enter and
// WM_MOUSELEAVE on leave.
class CMsgTrayPos : public CTrayPos {
public:
    CMsgTrayPos() = default;
    ~CMsgTrayPos() override;

    void OnEnter() override;
    void OnLeave() override;

    void SetTarget(HWND window, UINT id, UINT message) {
        target_.store(window);
        id_.store(id);
        message_.store(message);
    }

private:
    void PostToTarget(LPARAM event);

    std::atomic<HWND> target_{nullptr};
    std::atomic<UINT> id_{0};
    std::atomic<UINT> message_{0};
};
