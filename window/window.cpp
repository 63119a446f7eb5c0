#include "window/window.h"

#include <imm.h>
#include <shellapi.h>

#include <cwchar>
#include <string>
#include <utility>

#include "support/system_dll.h"
#include "ui/image.h"
#include "ui/layer.h"
#include "ui/render.h"
#include "window/app.h"
#include "window/tray.h"
#include "window/window_map.h"

namespace {

constexpr wchar_t kClassName[] = L" ";
constexpr DWORD kLayeredAppWindow = WS_EX_LAYERED | WS_EX_APPWINDOW;  // 0xC0000
constexpr BYTE kDisabledFrameAlpha = 198;

// DWM_BLURBEHIND without depending on dwmapi.h: the library is optional.
struct BlurBehind {
    DWORD flags;
    BOOL enable;
    HRGN region;
    BOOL transitionOnMaximized;
};
using EnableBlurBehindFn = HRESULT(WINAPI*)(HWND, const BlurBehind*);
constexpr DWORD kBlurFlags = 7;  // enable, blur region, transition on maximized

int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

}  // namespace

CWindow::CWindow() : self_(this) {
    RECT work;
    if (SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0) && Height(work) != 0)
        maxHeight_ = Height(work);
}

CWindow::~CWindow() {
    // A registered window leaves its registry so that no dangling entry stays;
    // Remove destroys the native window (virtual calls here reach CWindow's).
    if (registry_ && registry_->Find(id_) == this) registry_->Remove(id_);
    RemoveTrayIcon();
    if (handle_ && IsWindow(handle_)) DestroyWindow(handle_);
    ClearLayers();
    PurgeRemovedLayers();
    render_.reset();
    trayWatcher_.reset();
}

// ---------------------------------------------------------------- creation

bool CWindow::Create(DWORD style, DWORD exStyle, HWND parent, HINSTANCE instance) {
    if (handle_ && IsWindow(handle_)) return false;
    if (!instance) {
        if (!parent || !IsWindow(parent)) return false;
        instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE));
        if (!instance) return false;
    }
    if (!RegisterWindowClass(instance, kClassName, &CWindow::WindowProc, false)) return false;
    if (!parent) {
        style |= WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
        exStyle |= WS_EX_APPWINDOW;
    }
    style |= WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    HWND window = CreateWindowExW(exStyle, kClassName, L"", style, 0, 0, 0, 0, parent, nullptr,
                                  instance, nullptr);
    if (!window) return false;
    handle_ = window;
    parent_ = parent;
    // From here on the shared procedure hands this window's messages to us.
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    if (exStyle & WS_EX_TOPMOST)
        SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ModifyStyle(WS_CAPTION, 0);
    WindowingState& state = Windowing();
    SetIcon(state.bigIcon.get(), true);
    SetIcon(state.smallIcon.get(), false);
    SetFrame(state.defaultFrame, state.defaultFrameWidth, state.defaultFrameCentre);
    OnCreated();
    return true;
}

void CWindow::OnCreated() {
    if (!render_) {
        render_ = ComPtr<IRender>(new CRenderGDI);
        render_->Attach(handle_);
    }
    if (handler_ && handler_->onCreated) handler_->onCreated(this);
}

void CWindow::Destroy() {
    if (handle_ && IsWindow(handle_)) DestroyWindow(handle_);
    if (!self_) return;
    self_ = nullptr;
    ClearLayers();
    render_.reset();
    trayWatcher_.reset();
}

void CWindow::OnDestroyed() {
    RemoveTrayIcon();
    if (handler_ && handler_->onDestroyed) handler_->onDestroyed(this);
}

// ---------------------------------------------------------------- placement

BOOL CWindow::MoveToRect(const RECT& rect) {
    if (!IsWindow(handle_)) return FALSE;
    if (IsZoomed(handle_)) ShowWindow(handle_, SW_RESTORE);
    return MoveWindow(handle_, rect.left, rect.top, Width(rect), Height(rect), TRUE);
}

BOOL CWindow::MoveTo(int x, int y, int width, int height) {
    RECT rect = {x, y, x + width, y + height};
    return MoveToRect(rect);
}

BOOL CWindow::PlaceAnchored(const Anchor& anchor) {
    if (!IsWindow(handle_)) return FALSE;
    RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    RECT rect;
    AnchoredRect(&rect, screen, anchor);
    if (!IsZoomed(handle_) && (layered_ || blurRequested_))
        InflateRect(&rect, frameWidth_, frameWidth_);
    return MoveToRect(rect);
}

BOOL CWindow::Place(int32_t x, int32_t y, int32_t width, int32_t height) {
    Anchor anchor;
    anchor.x = x;
    anchor.y = y;
    anchor.width = width;
    anchor.height = height;
    return PlaceAnchored(anchor);
}

BOOL CWindow::CenterOn(HWND reference, int width, int height) {
    if (!IsWindow(handle_)) return FALSE;
    if (IsZoomed(handle_)) ShowWindow(handle_, SW_RESTORE);
    if (!IsZoomed(handle_) && (layered_ || blurRequested_)) {
        width += 2 * frameWidth_;
        height += 2 * frameWidth_;
    }
    return CenterWindow(handle_, reference, width, height, true);
}

BOOL CWindow::CenterOnKeepSize(HWND reference) {
    if (!IsWindow(handle_)) return FALSE;
    if (IsZoomed(handle_)) ShowWindow(handle_, SW_RESTORE);
    RECT outer;
    GetWindowRect(handle_, &outer);
    return CenterWindow(handle_, reference, Width(outer), Height(outer), true);
}

void CWindow::SetMaxSize(int width, int height) {
    maxWidth_ = width;
    maxHeight_ = height;
}

void CWindow::SetMinSize(int width, int height) {
    minWidth_ = width;
    minHeight_ = height;
}

BOOL CWindow::Show(int command) {
    if (!IsWindow(handle_)) return FALSE;
    return ShowWindow(handle_, command);
}

bool CWindow::Close() { return IsWindow(handle_) && PostMessageW(handle_, WM_CLOSE, 0, 0); }

BOOL CWindow::Maximize() { return Show(SW_MAXIMIZE); }

BOOL CWindow::Minimize() { return IsWindow(handle_) ? CloseWindow(handle_) : FALSE; }

BOOL CWindow::BringToFront() {
    if (!IsWindow(handle_)) return FALSE;
    return parent_ ? SetForegroundWindow(handle_) : BringWindowToTop(handle_);
}

void CWindow::OnSize() {
    if (!IsWindow(handle_)) return;
    RECT outer;
    GetWindowRect(handle_, &outer);
    if (render_) render_->Resize(Width(outer), Height(outer));
    RECT content;
    GetContentRect(&content);
    for (ILayer* layer : layers_)
        if (layer) layer->Layout(content);
    // A new size means a new, empty back buffer: everything must be drawn
    // again, or a layered window would keep showing the old picture.
    InvalidateLayers(true);
    if (HasExStyle(WS_EX_LAYERED)) Render(nullptr);
}

void CWindow::TakeFocus() {
    if (IsWindow(handle_)) SetFocus(handle_);
}

void CWindow::DropFocus() {
    if (IsWindow(handle_) && GetFocus() == handle_) SetFocus(nullptr);
}

void CWindow::BroadcastA() {
    for (ILayer* layer : layers_)
        if (layer) layer->OnBroadcastA();
}

void CWindow::BroadcastB() {
    for (ILayer* layer : layers_)
        if (layer) layer->OnBroadcastB();
}

void CWindow::BroadcastC() {
    for (ILayer* layer : layers_)
        if (layer) layer->OnBroadcastC();
}

void CWindow::InvalidateLayers(bool redraw) {
    for (ILayer* layer : layers_)
        if (layer) layer->SetNeedsRedraw(redraw);
}

// ---------------------------------------------------------------- modal loop

static void RaiseWindow(HWND window) {
    if (GetParent(window))
        BringWindowToTop(window);
    else
        SetForegroundWindow(window);
}

int CWindow::RunModal() {
    if (!IsWindow(handle_)) return 0;
    modalRunning_ = true;
    HWND owner = parent_ ? parent_ : Windowing().mainWindow;
    bool hasOwner = owner && IsWindow(owner) && owner != handle_;
    if (hasOwner) {
        EnableWindow(owner, FALSE);
        RaiseWindow(owner);
    }
    BringWindowToTop(handle_);
    SetFocus(handle_);

    UINT end = ModalLoop();
    // The loop may end on a message while the flag is still set.
    modalRunning_ = false;

    if (hasOwner && IsWindow(owner)) {
        RaiseWindow(owner);
        EnableWindow(owner, TRUE);
        SetFocus(owner);
    }
    if (end == WM_QUIT)
        PostQuitMessage(0);  // the application's loop must end too
    else if (end == WM_DESTROY)
        Destroy();
    return modalResult_;
}

void CWindow::EndModal(int code) {
    modalResult_ = code;
    modalRunning_ = false;
}

UINT CWindow::ModalLoop() {
    UINT last = 0;
    MSG msg;
    while (modalRunning_) {
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            last = msg.message;
            if (msg.message == WM_NULL || msg.message == WM_DESTROY || msg.message == WM_QUIT) break;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
            continue;
        }
        if (!IsWindow(handle_)) break;
        if (OnIdle()) MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return last;
}

bool CWindow::OnIdle() {
    bool result = AreLayersIdle();
    bool painted;
    // A modal window paints every registered window (its owner stays fresh);
    // one outside a registry at least paints itself.
    if (modalRunning_ && registry_)
        painted = registry_->RenderAll();
    else
        painted = Render(nullptr);
    if (painted) result = false;
    if (handler_ && handler_->onIdle && !handler_->onIdle(this)) return false;
    return result;
}

// ---------------------------------------------------------------- rendering

bool CWindow::HasDirtyLayer() {
    for (ILayer* layer : layers_)
        if (layer && layer->IsVisible() && layer->NeedsRedraw()) return true;
    return false;
}

bool CWindow::Render(HDC dc) {
    if (!paintingEnabled_ || !IsWindow(handle_) || IsIconic(handle_) || !render_ ||
        !HasDirtyLayer())
        return false;
    render_->Clear();
    if (HasFrame()) DrawFrame(render_.get());
    RECT content;
    GetContentRect(&content);
    render_->SetClip(content, RGN_COPY);
    DrawLayers(render_.get());
    if (grey_) ApplyGrey(render_.get());
    if (!IsEnabled()) ApplyDim(render_.get());
    render_->ResetClip();
    if ((layered_ || (blurRequested_ && !blurActive_)) && !dc)
        Present();
    else
        render_->Present(dc);
    return true;
}

bool CWindow::Present() {
    if (!IsWindow(handle_)) return false;
    if (!HasExStyle(WS_EX_LAYERED) || !render_) return UpdateWindow(handle_) != FALSE;
    RECT outer, client;
    GetWindowRect(handle_, &outer);
    GetClientRect(handle_, &client);
    POINT destination = {outer.left, outer.top};
    SIZE size = {Width(client), Height(client)};
    POINT source = {0, 0};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    return UpdateLayeredWindow(handle_, nullptr, &destination, &size, render_->GetDC(), &source,
                               0, &blend, ULW_ALPHA) != FALSE;
}

void CWindow::DrawFrame(IRender* render) {
    if (!render || !frameImage_ || IsMaximized()) return;
    RECT client;
    GetClientRect(handle_, &client);
    render->DrawNineGrid(client, frameImage_->GetBitmap(), 0, 0, frameImage_->GetWidth(),
                         frameImage_->GetHeight(), frameWidth_, frameWidth_, frameWidth_,
                         frameWidth_, IsEnabled() ? 255 : kDisabledFrameAlpha, true, frameCentre_);
}

void CWindow::DrawLayers(IRender* render) {
    for (ILayer* layer : layers_)
        if (layer && layer->IsVisible()) layer->Paint(render);
}

void CWindow::ApplyGrey(IRender* render) {
    if (render) render->Greyscale();
}

void CWindow::ApplyDim(IRender* render) {
    // The frame (absent while maximized) keeps its own look.
    if (render) render->Tint(dimColor_, IsMaximized() ? 0 : frameWidth_);
}

bool CWindow::AreLayersIdle() {
    for (ILayer* layer : layers_)
        if (layer && !layer->IsIdle()) return false;
    return true;
}

// ---------------------------------------------------------------- state

bool CWindow::IsMinimized() { return IsWindow(handle_) && IsIconic(handle_); }

bool CWindow::IsMaximized() { return IsWindow(handle_) && IsZoomed(handle_); }

bool CWindow::IsEnabled() { return IsWindow(handle_) && !HasStyle(WS_DISABLED); }

bool CWindow::HasStyle(DWORD bits) {
    if (!IsWindow(handle_)) return false;
    return (DWORD(GetWindowLongW(handle_, GWL_STYLE)) & bits) == bits;
}

bool CWindow::HasExStyle(DWORD bits) {
    if (!IsWindow(handle_)) return false;
    return (DWORD(GetWindowLongW(handle_, GWL_EXSTYLE)) & bits) == bits;
}

bool CWindow::SetGrey(bool on) {
    grey_ = on;
    return true;
}

bool CWindow::SetLayered(bool on) {
    layered_ = on;
    if (on)
        ModifyExStyle(0, kLayeredAppWindow);
    else
        ModifyExStyle(kLayeredAppWindow, 0);
    return true;
}

bool CWindow::ModifyStyle(DWORD remove, DWORD add) {
    if (!IsWindow(handle_)) return false;
    DWORD old = DWORD(GetWindowLongW(handle_, GWL_STYLE));
    SetWindowLongW(handle_, GWL_STYLE, LONG((old | add) & ~remove));
    return true;
}

bool CWindow::ModifyExStyle(DWORD remove, DWORD add) {
    if (!IsWindow(handle_)) return false;
    DWORD old = DWORD(GetWindowLongW(handle_, GWL_EXSTYLE));
    SetWindowLongW(handle_, GWL_EXSTYLE, LONG((old | add) & ~remove));
    return true;
}

bool CWindow::GetOuterRect(RECT* rect) {
    return rect && IsWindow(handle_) && GetWindowRect(handle_, rect);
}

bool CWindow::GetContentRect(RECT* rect) {
    if (!rect) return false;
    if (!IsWindow(handle_)) {
        SetRectEmpty(rect);
        return false;
    }
    GetClientRect(handle_, rect);
    if (!IsZoomed(handle_) && (layered_ || blurRequested_))
        InflateRect(rect, -frameWidth_, -frameWidth_);
    return true;
}

HICON CWindow::GetIcon(bool big) {
    if (!IsWindow(handle_)) return nullptr;
    // A plain query for both sizes: WM_SETICON with a null icon would detach it.
    return reinterpret_cast<HICON>(
        SendMessageW(handle_, WM_GETICON, big ? ICON_BIG : ICON_SMALL, 0));
}

HICON CWindow::SetIcon(HICON icon, bool big) {
    if (!IsWindow(handle_)) return nullptr;
    return reinterpret_cast<HICON>(
        SendMessageW(handle_, WM_SETICON, big ? 1 : 0, reinterpret_cast<LPARAM>(icon)));
}

void CWindow::SetTitle(const wchar_t* text) {
    title_.Assign(text);
    UpdateTitle();
}

void CWindow::SetSubtitle(const wchar_t* text) {
    subtitle_.Assign(text);
    UpdateTitle();
}

void CWindow::UpdateTitle() {
    FixedString<1023> caption;
    if (!title_.empty() && !subtitle_.empty()) {
        std::wstring both = std::wstring(title_.c_str()) + L" - " + subtitle_.c_str();
        caption.Assign(both.c_str());
    } else if (!title_.empty()) {
        caption.Assign(title_.c_str());
    } else {
        caption.Assign(subtitle_.c_str());
    }
    SetText(caption.c_str());
}

int CWindow::GetText(wchar_t* buffer, int capacity) {
    if (!buffer || capacity <= 0) return 0;
    buffer[0] = 0;
    if (!IsWindow(handle_)) return 0;
    return GetWindowTextW(handle_, buffer, capacity);
}

bool CWindow::SetText(const wchar_t* text) {
    return IsWindow(handle_) && SetWindowTextW(handle_, text ? text : L"") == TRUE;
}

void CWindow::SetFrame(IImage* image, int width, bool centre) {
    frameImage_ = image;
    frameWidth_ = width;
    frameCentre_ = centre;
}

// ---------------------------------------------------------------- blur

bool CWindow::SetBlurBehind(bool on) {
    blurRequested_ = on;
    if (!on && blurLibrary_) DisableBlur();
    return true;
}

void CWindow::DisableBlur() {
    if (!blurLibrary_) return;
    auto enable = reinterpret_cast<EnableBlurBehindFn>(
        GetProcAddress(blurLibrary_.get(), "DwmEnableBlurBehindWindow"));
    if (enable && IsWindow(handle_)) {
        BlurBehind blur = {kBlurFlags, FALSE, nullptr, TRUE};
        enable(handle_, &blur);
    }
    blurLibrary_.reset();
    blurActive_ = false;
}

void CWindow::UpdateBlur() {
    blurActive_ = false;
    if (layered_ || !blurRequested_) {
        DisableBlur();
    } else {
        // Not a KnownDLL: named bare, a copy beside the program would be taken.
        if (!blurLibrary_) blurLibrary_.reset(LoadSystemLibrary(L"dwmapi.dll"));
        auto enable = blurLibrary_ ? reinterpret_cast<EnableBlurBehindFn>(GetProcAddress(
                                         blurLibrary_.get(), "DwmEnableBlurBehindWindow"))
                                   : nullptr;
        if (enable) {
            RECT content;
            GetContentRect(&content);
            UniqueRegion region(CreateRectRgnIndirect(&content));
            BlurBehind blur = {kBlurFlags, TRUE, region.get(), TRUE};
            // Only a system that really composes the glass counts; anything
            // else (no compositor, a stub) falls back to layered presentation.
            blurActive_ = SUCCEEDED(enable(handle_, &blur));
        }
    }
    if (blurRequested_ && !blurActive_) ModifyExStyle(0, kLayeredAppWindow);
}

// ---------------------------------------------------------------- IME

void CWindow::EnableIme(bool on) {
    if (!IsWindow(handle_)) return;
    if (on) {
        if (savedImeContext_) ImmAssociateContext(handle_, std::exchange(savedImeContext_, nullptr));
        return;
    }
    if (savedImeContext_) return;
    HIMC context = ImmGetContext(handle_);
    if (!context) return;
    savedImeContext_ = context;
    ImmAssociateContext(handle_, nullptr);
    ImmReleaseContext(handle_, context);
}

// ---------------------------------------------------------------- layer events

void CWindow::ChangeLayerText(ILayer* layer, const wchar_t* text) {
    if (!layer) return;
    layer->SetText(text);
    if (layerHandler_ && layerHandler_->onTextChanged) layerHandler_->onTextChanged(this, layer, text);
}

void CWindow::ChangeLayerCaption(ILayer* layer, const wchar_t* text) {
    if (!layer) return;
    layer->SetCaption(text);
    SetSubtitle(text);
    if (layerHandler_ && layerHandler_->onCaptionChanged)
        layerHandler_->onCaptionChanged(this, layer, text);
}

void CWindow::OnLayersLoaded(uintptr_t value) {
    paintingEnabled_ = true;
    if (IsWindow(handle_) && !IsVisible()) {
        Show(SW_SHOW);
        Present();
    }
    if (layerHandler_ && layerHandler_->onLayersLoaded) layerHandler_->onLayersLoaded(this, value);
}

bool CWindow::ChooseFile(uintptr_t, wchar_t* path, const wchar_t* filter, bool multiple) {
    HWND owner = IsWindow(handle_) ? GetParent(handle_) : nullptr;
    if (!owner) owner = handle_;
    return OpenFileDialog(path, owner, filter, multiple);
}

// ---------------------------------------------------------------- commands and hooks

bool CWindow::OnCommand(int id, int code) {
    if (code == 0) return OnClickCommand(id);
    if (code == 1) return OnAcceleratorCommand(id);
    return OnOtherCommand(id, code);
}

bool CWindow::OnClickCommand(int id) {
    return handler_ && handler_->onClickCommand && handler_->onClickCommand(this, id);
}

bool CWindow::OnAcceleratorCommand(int id) {
    return handler_ && handler_->onAcceleratorCommand && handler_->onAcceleratorCommand(this, id);
}

bool CWindow::OnOtherCommand(int id, int code) {
    return handler_ && handler_->onOtherCommand && handler_->onOtherCommand(this, id, code);
}

bool CWindow::OnCloseQuery() {
    return !handler_ || !handler_->onCloseQuery || handler_->onCloseQuery(this);
}

void CWindow::OnMouseHover() {
    if (handler_ && handler_->onMouseHover) handler_->onMouseHover(this);
}

void CWindow::OnMouseLeave() {
    if (handler_ && handler_->onMouseLeave) handler_->onMouseLeave(this);
}

void CWindow::OnTrayNotify(UINT id, UINT event) {
    if (handler_ && handler_->onTrayNotify) handler_->onTrayNotify(this, id, event);
}

void CWindow::OnTimer(UINT_PTR id) {
    if (id == flashTimerId_ && flashActive_ && trayIconId_) {
        flashPhase_ = !flashPhase_;
        // Shows the flash icon or nothing; the remembered tray icon stays.
        NOTIFYICONDATAW data = TrayData(NIF_ICON);
        data.hIcon = flashPhase_ ? flashIcon_ : nullptr;
        Shell_NotifyIconW(NIM_MODIFY, &data);
    }
    if (handler_ && handler_->onTimer) handler_->onTimer(this, id);
}
