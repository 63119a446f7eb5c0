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
    case WM_DESTROY: {
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
        return 0;
    }
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
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        // Nothing dirty: an uncovered plain window still shows its last picture.
        if (!Render(dc) && render_ && !HasExStyle(WS_EX_LAYERED) && paintingEnabled_)
            render_->Present(dc);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_CLOSE:
        if (!OnCloseQuery()) return 0;
        break;
    case WM_MOUSEACTIVATE:
        if (HasExStyle(WS_EX_TOOLWINDOW) && !modalRunning_) return MA_NOACTIVATE;
        break;
    case WM_WINDOWPOSCHANGING: {
        auto* pos = reinterpret_cast<WINDOWPOS*>(lParam);
        const int extra = HasFrame() ? 2 * frameWidth_ : 0;
        if (minWidth_ != -1 && pos->cx < minWidth_ + extra) pos->cx = minWidth_ + extra;
        if (minHeight_ != -1 && pos->cy < minHeight_ + extra) pos->cy = minHeight_ + extra;
        if (maxWidth_ != -1 && pos->cx > maxWidth_ + extra) pos->cx = maxWidth_ + extra;
        if (maxHeight_ != -1 && pos->cy > maxHeight_ + extra) pos->cy = maxHeight_ + extra;
        if (IsZoomed(window)) pos->x = pos->y = 0;
        break;
    }
    case WM_IME_STARTCOMPOSITION: {
        RECT caret;
        ILayer* layer = LayerAt(focus_);
        if (layer && layer->GetCaretRect(&caret)) {
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
        break;
    }
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
        OnMouseLeave();
        trackingArmed_ = false;
        // The cursor left the window: the hovered layer must leave too, or
        // it would keep its hover look until the cursor comes back.
        if (GetCapture() != window) {
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
        break;
    default:
        break;
    }
    if (!DispatchInput(window, message, wParam, lParam))
        return DefWindowProcW(window, message, wParam, lParam);
    return 0;
}

bool CWindow::DispatchInput(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    bool handled = true;
    if (IsMouseMessage(message)) {
        const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
        auto local = [x, y](ILayer* layer, int* lx, int* ly) {
            const RECT* rect = layer->GetRect();
            *lx = x - rect->left;
            *ly = y - rect->top;
        };
        int lx, ly;
        // While captured the hovered layer stays: the pressed one keeps the mouse.
        if (GetCapture() != window) {
            int index = HitTest(x, y);
            if (index != hover_) {
                previousHover_ = hover_;
                hover_ = index;
                if (message == WM_MOUSEMOVE) {
                    if (ILayer* previous = LayerAt(previousHover_)) {
                        local(previous, &lx, &ly);
                        previous->OnMouse(WM_MOUSELEAVE, lx, ly, UINT(wParam));
                        previousHover_ = -1;
                    }
                    if (ILayer* current = LayerAt(hover_)) {
                        local(current, &lx, &ly);
                        current->OnMouse(WM_MOUSEHOVER, lx, ly, UINT(wParam));
                    }
                }
            }
        }
        if (message == WM_LBUTTONDOWN) {
            if (!(HasExStyle(WS_EX_TOOLWINDOW) && !modalRunning_)) SetFocus(window);
            SetCapture(window);
            if (focus_ != hover_) previousFocus_ = focus_;
            focus_ = hover_;
            SetLayerFocus(focus_, true);
            pressed_ = focus_;
            if (ILayer* layer = LayerAt(pressed_)) OnLayerPressed(layer);
        } else if (message == WM_LBUTTONUP) {
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
        if (ILayer* layer = LayerAt(hover_)) {
            local(layer, &lx, &ly);
            handled = layer->OnMouse(message, lx, ly, UINT(wParam));
            if (IsButtonDownMessage(message)) EnableIme(layer->WantsIme());
        }
        return handled;
    }

    switch (message) {
    case WM_CONTEXTMENU: {
        int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
        if (x != -1 && y != -1) {
            POINT point = {x, y};
            ScreenToClient(window, &point);
            x = point.x;
            y = point.y;
        }
        if (ILayer* layer = LayerAt(focus_))
            handled = layer->OnContextMenu(x, y, reinterpret_cast<HWND>(wParam));
        return handled;
    }
    case WM_KEYDOWN:
        if (ILayer* layer = LayerAt(focus_)) handled = layer->OnKeyDown(UINT(wParam), HIWORD(lParam), 0);
        return handled;
    case WM_KEYUP:
        if (ILayer* layer = LayerAt(focus_)) {
            handled = layer->OnKeyUp(UINT(wParam), HIWORD(lParam), 0);
            if (wParam == VK_TAB) EnableIme(layer->WantsIme());
        }
        return handled;
    case WM_CHAR:
        if (ILayer* layer = LayerAt(focus_)) handled = layer->OnChar(UINT(wParam), HIWORD(lParam), 0);
        return handled;
    case WM_MOUSEWHEEL: {
        POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ScreenToClient(window, &point);
        if (ILayer* layer = LayerAt(hover_)) {
            const RECT* rect = layer->GetRect();
            handled = layer->OnWheel(point.x - rect->left, point.y - rect->top,
                                     GET_WHEEL_DELTA_WPARAM(wParam), UINT(wParam));
        }
        return handled;
    }
    case WM_HOTKEY:
        // The hotkey id's high word names the layer; the key rides along as
        // the low word (the hotkey's virtual key is lParam's high word).
        if (Windowing().hotkeyForwarding)
            PostMessageW(window, kMsgLayerKeyPress, MAKEWPARAM(HIWORD(lParam), HIWORD(wParam)), 0);
        return handled;
    case kMsgLayerKeyPress:
        if (ILayer* layer = LayerAt(HIWORD(wParam)))
            handled = layer->PressKey(LOBYTE(LOWORD(wParam)), HIWORD(lParam));
        return handled;
    case kMsgLayerKeyRelease:
        if (ILayer* layer = LayerAt(HIWORD(wParam)))
            handled = layer->ReleaseKey(LOBYTE(LOWORD(wParam)), HIWORD(lParam));
        return handled;
    default:
        return false;
    }
}
