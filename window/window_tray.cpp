// The window's notification-area icon: add, change, flash and remove.
#include "window/window.h"

#include <shellapi.h>

#include <cwchar>

#include "window/tray.h"

// The first-version layout (szTip of 64 characters), which every shell
// takes: 152 bytes in a 32-bit program, more in a 64-bit one (wider handles).
static_assert(sizeof(void*) != 4 || NOTIFYICONDATAW_V1_SIZE == 152, "first-version tray data");

NOTIFYICONDATAW CWindow::TrayData(UINT flags) const {
    NOTIFYICONDATAW data = {};
    data.cbSize = NOTIFYICONDATAW_V1_SIZE;
    data.hWnd = handle_;
    data.uID = trayIconId_;
    data.uFlags = flags;
    return data;
}

// Tips longer than the 63 characters the shell takes are cut.
static void CopyTip(NOTIFYICONDATAW& data, const wchar_t* tip) {
    wcsncpy(data.szTip, tip ? tip : L"", 63);
    data.szTip[63] = 0;
}

bool CWindow::AddTrayIcon(UINT id, HICON icon, const wchar_t* tip, UINT message) {
    if (!IsWindow(handle_)) return false;
    if (trayIconId_) RemoveTrayIcon();
    NOTIFYICONDATAW data = TrayData(NIF_MESSAGE | NIF_ICON | NIF_TIP);
    data.uID = id;
    data.uCallbackMessage = message;
    data.hIcon = icon;
    CopyTip(data, tip);
    if (!Shell_NotifyIconW(NIM_ADD, &data)) return false;
    trayIconId_ = id;
    trayMessage_ = message;
    trayIcon_ = icon;
    if (!trayWatcher_) trayWatcher_ = std::make_unique<CMsgTrayPos>();
    trayWatcher_->SetPopup(trayPopup_);
    trayWatcher_->SetTarget(handle_, id, message);
    return true;
}

bool CWindow::ModifyTrayIcon(HICON icon, const wchar_t* tip) {
    if (!IsWindow(handle_) || !trayIconId_) return false;
    UINT flags = (icon ? NIF_ICON : 0) | (tip ? NIF_TIP : 0);
    if (!flags) return false;
    NOTIFYICONDATAW data = TrayData(flags);
    data.hIcon = icon;
    if (tip) CopyTip(data, tip);
    if (!Shell_NotifyIconW(NIM_MODIFY, &data)) return false;
    if (icon) trayIcon_ = icon;
    return true;
}

bool CWindow::SetTrayPopup(HWND popup) {
    trayPopup_ = popup;
    if (trayWatcher_) trayWatcher_->SetPopup(popup);
    return true;
}

bool CWindow::SetTrayIcon(HICON icon) {
    if (!IsWindow(handle_) || !trayIconId_) return false;
    NOTIFYICONDATAW data = TrayData(NIF_ICON);
    data.hIcon = icon;
    if (!Shell_NotifyIconW(NIM_MODIFY, &data)) return false;
    trayIcon_ = icon;
    return true;
}

bool CWindow::SetTrayTip(const wchar_t* tip) {
    if (!IsWindow(handle_) || !trayIconId_) return false;
    NOTIFYICONDATAW data = TrayData(NIF_TIP);
    CopyTip(data, tip);
    return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

bool CWindow::RemoveTrayIcon() {
    if (!trayIconId_) return false;
    NOTIFYICONDATAW data = TrayData(0);
    if (!Shell_NotifyIconW(NIM_DELETE, &data)) return false;
    // A flash timer would otherwise go on modifying an icon that is gone.
    if (flashActive_ && IsWindow(handle_)) KillTimer(handle_, flashTimerId_);
    flashActive_ = flashPhase_ = false;
    flashIcon_ = nullptr;
    trayIconId_ = 0;
    trayMessage_ = 0;
    trayIcon_ = nullptr;
    trayWatcher_.reset();
    return true;
}

bool CWindow::StartTrayFlash(HICON icon) {
    if (!IsWindow(handle_)) return false;
    flashActive_ = true;
    flashIcon_ = icon;
    return SetTimer(handle_, flashTimerId_, 400, nullptr) == flashTimerId_;
}

int CWindow::StopTrayFlash() {
    if (IsWindow(handle_)) KillTimer(handle_, flashTimerId_);
    if (trayIconId_) {
        NOTIFYICONDATAW data = TrayData(NIF_ICON);
        data.hIcon = trayIcon_;
        Shell_NotifyIconW(NIM_MODIFY, &data);
    }
    flashIcon_ = nullptr;
    flashActive_ = false;
    flashPhase_ = false;
    return 0;
}
