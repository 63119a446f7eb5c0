// The shared window procedure, the window's message handling and the
// translation of native input into layer events.
#include "window/window.h"

#include <imm.h>
#include <windowsx.h>

#include <utility>

#include "ui/layer.h"
#include "ui/render.h"
#include "window/app.h"
#include "window/tray.h"
#include "window/window_map.h"

namespace {

constexpr int kGripCorner = 7;
constexpr int kGripEdge = 3;

bool IsMouseMessage(UINT message) { return message >= WM_MOUSEFIRST && message <= 0x209; }

bool IsButtonDownMessage(UINT message) {
    return message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN;
}

// A client point in the layer's own coordinates.
POINT LayerPoint(ILayer* layer, int x, int y) {
    const RECT* rect = layer->GetRect();
    return {x - rect->left, y - rect->top};
}

}  // namespace

int CWindow::GripAt(int x, int y, LPCWSTR* cursor) {
    RECT client;
    GetClientRect(handle_, &client);
    const LONG l = client.left, t = client.top, r = client.right, b = client.bottom;
    struct Zone {
        RECT rect;
        int hit;
        LPCWSTR cursor;
    };
    const Zone zones[] = {
        {{r - kGripCorner, b - kGripCorner, r, b}, HTBOTTOMRIGHT, IDC_SIZENWSE},
        {{r - kGripEdge, t, r, b - kGripCorner}, HTRIGHT, IDC_SIZEWE},
        {{l, b - kGripEdge, r - kGripCorner, b}, HTBOTTOM, IDC_SIZENS},
    };
    for (const Zone& zone : zones) {
        if (PointInRect(zone.rect, x, y)) {
            *cursor = zone.cursor;
            return zone.hit;
        }
    }
    return 0;
}

LRESULT CALLBACK CWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_SIZE) self->UpdateBlur();

    if (self->resizable_ && !IsZoomed(window)) {
        if (message == WM_MOUSEMOVE || message == WM_LBUTTONDOWN) {
            LPCWSTR cursor = nullptr;
            int hit = self->GripAt(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), &cursor);
            if (hit) {
                HCURSOR replaced = SetCursor(LoadCursorW(nullptr, cursor));
                if (!self->gripSavedCursor_) self->gripSavedCursor_ = replaced;
                // Non-client messages carry screen coordinates; the system's
                // sizing starts from that point.
                POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
                ClientToScreen(window, &point);
                LPARAM screen = MAKELPARAM(point.x, point.y);
                UINT nc = message == WM_MOUSEMOVE ? WM_NCMOUSEMOVE : WM_NCLBUTTONDOWN;
                if (HWND parent = GetParent(window)) {
                    PostMessageW(parent, nc, WPARAM(hit), screen);
                    return 0;
                }
                return self->HandleMessage(window, nc, WPARAM(hit), screen);
            }
            if (self->gripSavedCursor_) SetCursor(std::exchange(self->gripSavedCursor_, nullptr));
        } else if (message == WM_LBUTTONUP && self->gripSavedCursor_) {
            SetCursor(std::exchange(self->gripSavedCursor_, nullptr));
        }
    }
    return self->HandleMessage(window, message, wParam, lParam);
}

LRESULT CWindow::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (trayIconId_ && trayMessage_ && message == trayMessage_) {
        if (wParam == trayIconId_ && lParam == WM_MOUSEMOVE && trayWatcher_)
            trayWatcher_->NoteHover();
        OnTrayNotify(UINT(wParam), UINT(lParam));
        return 0;
    }

    switch (message) {
    case WM_DESTROY:
        HandleDestroy(window);
        return 0;
    case WM_SIZE:
        OnSize();
        break;
    case WM_ACTIVATE:
    case WM_SHOWWINDOW:
        InvalidateLayers(true);
        break;
    case WM_SETFOCUS:
        SetLayerFocus(focus_, true);
        break;
    case WM_KILLFOCUS:
        SetLayerFocus(focus_, false);
        break;
    case WM_PAINT:
        PaintWindow(window);
        return 0;
    case WM_CLOSE:
        if (!OnCloseQuery()) return 0;
        break;
    case WM_MOUSEACTIVATE:
        if (HasExStyle(WS_EX_TOOLWINDOW) && !modalRunning_) return MA_NOACTIVATE;
        break;
    case WM_WINDOWPOSCHANGING:
        KeepWithinSizeLimits(window, reinterpret_cast<WINDOWPOS*>(lParam));
        break;
    case WM_IME_STARTCOMPOSITION:
        PlaceImeCandidates(window);
        break;
    case WM_COMMAND:
        if (OnCommand(LOWORD(wParam), HIWORD(wParam))) return 0;
        break;
    case WM_TIMER:
        OnTimer(wParam);
        break;
    case WM_MOUSEMOVE:
        if (!trackingArmed_) {
            TRACKMOUSEEVENT track = {sizeof(track), TME_HOVER | TME_LEAVE, window, 1};
            trackingArmed_ = TrackMouseEvent(&track) != FALSE;
        }
        break;
    case WM_MOUSEHOVER:
        OnMouseHover();
        break;
    case WM_MOUSELEAVE:
        HandleMouseLeave(window);
        break;
    default:
        break;
    }
    if (!DispatchInput(window, message, wParam, lParam))
        return DefWindowProcW(window, message, wParam, lParam);
    return 0;
}

void CWindow::HandleDestroy(HWND window) {
    OnDestroyed();
    IWindowMap* registry = registry_;
    const bool isMain = window == Windowing().mainWindow;
    handle_ = nullptr;
    modalRunning_ = false;
    registry_ = nullptr;
    if (isMain) {
        // The end of the main window is the end of the program.
        (registry ? registry : &g_windowMap)->DestroyAll();
        PostQuitMessage(0);
    } else if (registry) {
        registry->Remove(id_);
    }
}

void CWindow::PaintWindow(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    // Nothing dirty: an uncovered plain window still shows its last picture.
    if (!Render(dc) && render_ && !HasExStyle(WS_EX_LAYERED) && paintingEnabled_)
        render_->Present(dc);
    EndPaint(window, &paint);
}

void CWindow::KeepWithinSizeLimits(HWND window, WINDOWPOS* pos) {
    const int extra = HasFrame() ? 2 * frameWidth_ : 0;
    if (minWidth_ != -1 && pos->cx < minWidth_ + extra) pos->cx = minWidth_ + extra;
    if (minHeight_ != -1 && pos->cy < minHeight_ + extra) pos->cy = minHeight_ + extra;
    if (maxWidth_ != -1 && pos->cx > maxWidth_ + extra) pos->cx = maxWidth_ + extra;
    if (maxHeight_ != -1 && pos->cy > maxHeight_ + extra) pos->cy = maxHeight_ + extra;
    if (IsZoomed(window)) pos->x = pos->y = 0;
}

void CWindow::PlaceImeCandidates(HWND window) {
    RECT caret;
    ILayer* layer = LayerAt(focus_);
    if (!layer || !layer->GetCaretRect(&caret)) return;
    if (HIMC context = ImmGetContext(window)) {
        CANDIDATEFORM form = {};
        form.dwIndex = 0;
        form.dwStyle = CFS_EXCLUDE;
        form.ptCurrentPos = {caret.left, caret.bottom};
        form.rcArea = caret;
        ImmSetCandidateWindow(context, &form);
        ImmReleaseContext(window, context);
    }
}

void CWindow::HandleMouseLeave(HWND window) {
    OnMouseLeave();
    trackingArmed_ = false;
    // The cursor left the window: the hovered layer must leave too, or
    // it would keep its hover look until the cursor comes back.
    if (GetCapture() == window) return;
    if (ILayer* layer = LayerAt(hover_)) {
        POINT point;
        GetCursorPos(&point);
        ScreenToClient(window, &point);
        const RECT* rect = layer->GetRect();
        layer->OnMouse(WM_MOUSELEAVE, point.x - rect->left, point.y - rect->top, 0);
    }
    previousHover_ = hover_;
    hover_ = -1;
}

bool CWindow::DispatchInput(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (IsMouseMessage(message)) return DispatchMouse(window, message, wParam, lParam);

    switch (message) {
    case WM_CONTEXTMENU:
        return DispatchContextMenu(window, wParam, lParam);
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
        return DispatchKey(message, wParam, lParam);
    case WM_MOUSEWHEEL:
        return DispatchWheel(window, wParam, lParam);
    case WM_HOTKEY:
        // The hotkey id's high word names the layer; the key rides along as
        // the low word (the hotkey's virtual key is lParam's high word).
        if (Windowing().hotkeyForwarding)
            PostMessageW(window, kMsgLayerKeyPress, MAKEWPARAM(HIWORD(lParam), HIWORD(wParam)), 0);
        return true;
    case kMsgLayerKeyPress:
    case kMsgLayerKeyRelease:
        return DispatchLayerKey(message, wParam, lParam);
    default:
        return false;
    }
}

bool CWindow::DispatchMouse(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
    // While captured the hovered layer stays: the pressed one keeps the mouse.
    if (GetCapture() != window) UpdateHover(message, x, y, UINT(wParam));
    if (message == WM_LBUTTONDOWN) {
        PressLeftButton(window);
    } else if (message == WM_LBUTTONUP) {
        ReleaseLeftButton(x, y);
    }
    bool handled = true;
    if (ILayer* layer = LayerAt(hover_)) {
        const POINT point = LayerPoint(layer, x, y);
        handled = layer->OnMouse(message, point.x, point.y, UINT(wParam));
        if (IsButtonDownMessage(message)) EnableIme(layer->WantsIme());
    }
    return handled;
}

void CWindow::UpdateHover(UINT message, int x, int y, UINT keys) {
    int index = HitTest(x, y);
    if (index == hover_) return;
    previousHover_ = hover_;
    hover_ = index;
    if (message != WM_MOUSEMOVE) return;
    if (ILayer* previous = LayerAt(previousHover_)) {
        const POINT point = LayerPoint(previous, x, y);
        previous->OnMouse(WM_MOUSELEAVE, point.x, point.y, keys);
        previousHover_ = -1;
    }
    if (ILayer* current = LayerAt(hover_)) {
        const POINT point = LayerPoint(current, x, y);
        current->OnMouse(WM_MOUSEHOVER, point.x, point.y, keys);
    }
}

void CWindow::PressLeftButton(HWND window) {
    if (!(HasExStyle(WS_EX_TOOLWINDOW) && !modalRunning_)) SetFocus(window);
    SetCapture(window);
    if (focus_ != hover_) previousFocus_ = focus_;
    focus_ = hover_;
    SetLayerFocus(focus_, true);
    pressed_ = focus_;
    if (ILayer* layer = LayerAt(pressed_)) OnLayerPressed(layer);
}

void CWindow::ReleaseLeftButton(int x, int y) {
    ReleaseCapture();
    int index = HitTest(x, y);
    ILayer* layer = LayerAt(index);
    if (layer) OnLayerReleased(layer);
    // One press gives at most one click; a release without a press
    // (pressed elsewhere, released here) clicks nothing.
    const int pressed = pressed_;
    pressed_ = -1;
    if (layer && index == pressed) OnLayerClicked(layer);
}

bool CWindow::DispatchContextMenu(HWND window, WPARAM wParam, LPARAM lParam) {
    int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
    // (-1, -1) comes from the keyboard and has no point to convert.
    if (x != -1 && y != -1) {
        POINT point = {x, y};
        ScreenToClient(window, &point);
        x = point.x;
        y = point.y;
    }
    ILayer* layer = LayerAt(focus_);
    return layer ? layer->OnContextMenu(x, y, reinterpret_cast<HWND>(wParam)) : true;
}

bool CWindow::DispatchKey(UINT message, WPARAM wParam, LPARAM lParam) {
    ILayer* layer = LayerAt(focus_);
    if (!layer) return true;
    const UINT key = UINT(wParam), info = HIWORD(lParam);
    if (message == WM_KEYDOWN) return layer->OnKeyDown(key, info, 0);
    if (message == WM_CHAR) return layer->OnChar(key, info, 0);
    const bool handled = layer->OnKeyUp(key, info, 0);
    if (wParam == VK_TAB) EnableIme(layer->WantsIme());
    return handled;
}

bool CWindow::DispatchWheel(HWND window, WPARAM wParam, LPARAM lParam) {
    // The wheel's point is on the screen, unlike the other mouse messages.
    POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ScreenToClient(window, &point);
    ILayer* layer = LayerAt(hover_);
    if (!layer) return true;
    const POINT local = LayerPoint(layer, point.x, point.y);
    return layer->OnWheel(local.x, local.y, GET_WHEEL_DELTA_WPARAM(wParam), UINT(wParam));
}

bool CWindow::DispatchLayerKey(UINT message, WPARAM wParam, LPARAM lParam) {
    ILayer* layer = LayerAt(HIWORD(wParam));
    if (!layer) return true;
    const BYTE key = LOBYTE(LOWORD(wParam));
    return message == kMsgLayerKeyPress ? layer->PressKey(key, HIWORD(lParam))
                                        : layer->ReleaseKey(key, HIWORD(lParam));
}
