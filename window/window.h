// The base of every top-level window: one borderless native window drawn as
// a per-pixel-alpha picture of its layers and frame image, with placement and
// size limits, a modal loop, title text, blur-behind, the input-method switch,
// a tray icon and overridable event hooks.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "support/fixed_string.h"
#include "support/dialogs.h"
#include "support/handle.h"
#include "ui/anchor.h"

// windowsx.h turns these two names into macros; here they are operations.
#undef IsMinimized
#undef IsMaximized

class IImage;
class ILayer;
class IRender;
class IWindow;
class IWindowMap;
class CMsgTrayPos;

// Optional callbacks of a window; any entry may be null.
struct WindowHandler {
    bool (*onIdle)(IWindow* window);  // false vetoes sleeping
    void (*unused)(IWindow* window);  // never called by the window base
    bool (*onCloseQuery)(IWindow* window);  // false keeps the window open
    void (*onCreated)(IWindow* window);
    void (*onDestroyed)(IWindow* window);
    void (*onMouseHover)(IWindow* window);
    void (*onMouseLeave)(IWindow* window);
    void (*onTimer)(IWindow* window, UINT_PTR id);
    void (*onTrayNotify)(IWindow* window, UINT id, UINT event);
    bool (*onClickCommand)(IWindow* window, int id);
    bool (*onAcceleratorCommand)(IWindow* window, int id);
    bool (*onOtherCommand)(IWindow* window, int id, int code);
};

// Optional layer callbacks; the window base calls the first, fifth and sixth.
struct LayerEventHandler {
    void (*onTextChanged)(IWindow* window, ILayer* layer, const wchar_t* text);
    void (*reserved2)(IWindow* window);
    void (*reserved3)(IWindow* window);
    void (*reserved4)(IWindow* window);
    void (*onCaptionChanged)(IWindow* window, ILayer* layer, const wchar_t* text);
    void (*onLayersLoaded)(IWindow* window, uintptr_t value);
};

// Key press and release for a layer: wParam high word = layer index, low
// byte = virtual key; lParam high word = key information.
constexpr UINT kMsgLayerKeyPress = 2025;
constexpr UINT kMsgLayerKeyRelease = 2026;
constexpr UINT kFlashTimerId = 10001;

class IWindow {
public:
    virtual bool Create(DWORD style, DWORD exStyle, HWND parent, HINSTANCE instance) = 0;
    virtual BOOL MoveToRect(const RECT& rect) = 0;
    virtual BOOL MoveTo(int x, int y, int width, int height) = 0;
    virtual BOOL PlaceAnchored(const Anchor& anchor) = 0;
    // -1 for x or y centres on the screen; width and height are the content.
    virtual BOOL Place(int32_t x, int32_t y, int32_t width, int32_t height) = 0;
    virtual BOOL CenterOn(HWND reference, int width, int height) = 0;
    virtual BOOL CenterOnKeepSize(HWND reference) = 0;
    virtual void SetMaxSize(int width, int height) = 0;
    virtual void SetMinSize(int width, int height) = 0;
    virtual BOOL Show(int command) = 0;
    virtual bool Present() = 0;
    virtual bool Close() = 0;
    // Destroys the native window and releases layers, renderer and tray
    // watcher; never frees the object.
    virtual void Destroy() = 0;
    virtual BOOL Maximize() = 0;
    virtual BOOL Minimize() = 0;
    virtual BOOL BringToFront() = 0;
    virtual void OnSize() = 0;
    virtual void TakeFocus() = 0;
    virtual void DropFocus() = 0;
    // Application-defined notices: each calls the hook of the same letter
    // (OnBroadcastA..C) on every layer. The interface's lettered names and
    // their order are part of its contract with layer kinds and callers.
    virtual void BroadcastA() = 0;
    virtual void BroadcastB() = 0;
    virtual void BroadcastC() = 0;
    virtual void Reserved(uintptr_t value) = 0;
    virtual void InvalidateLayers(bool redraw) = 0;
    virtual int RunModal() = 0;
    virtual void EndModal(int code) = 0;
    virtual bool Render(HDC dc) = 0;
    virtual bool HasDirtyLayer() = 0;
    virtual bool IsModalRunning() = 0;
    virtual bool IsMinimized() = 0;
    virtual bool IsMaximized() = 0;
    virtual bool IsVisible() = 0;
    virtual bool IsGrey() = 0;
    virtual bool IsBlurBehind() = 0;
    virtual bool IsResizable() = 0;
    virtual bool IsEnabled() = 0;
    virtual bool IsLayered() = 0;
    virtual bool HasFrame() = 0;
    virtual bool HasStyle(DWORD bits) = 0;
    virtual bool HasExStyle(DWORD bits) = 0;
    virtual bool SetGrey(bool on) = 0;
    virtual bool SetBlurBehind(bool on) = 0;
    virtual void SetResizable(bool on) = 0;
    virtual bool SetLayered(bool on) = 0;
    virtual bool ModifyStyle(DWORD remove, DWORD add) = 0;
    virtual bool ModifyExStyle(DWORD remove, DWORD add) = 0;
    virtual bool GetOuterRect(RECT* rect) = 0;
    virtual bool GetContentRect(RECT* rect) = 0;
    virtual HWND GetHandle() = 0;
    virtual HWND GetParentHandle() = 0;
    virtual IRender* GetRender() = 0;
    // The same renderer as GetRender; both entries keep their places.
    virtual IRender* GetRenderAlt() = 0;
    virtual int32_t GetId() = 0;
    virtual void SetId(int32_t id) = 0;
    // Two values the application may keep on a window; the window never
    // reads them.
    virtual int32_t GetTagA() = 0;
    virtual void SetTagA(int32_t value) = 0;
    virtual int32_t GetTagB() = 0;
    virtual void SetTagB(int32_t value) = 0;
    virtual HICON GetIcon(bool big) = 0;
    // Answers the icon the window had before.
    virtual HICON SetIcon(HICON icon, bool big) = 0;
    virtual const wchar_t* GetTitle() = 0;
    virtual void SetTitle(const wchar_t* text) = 0;
    virtual const wchar_t* GetSubtitle() = 0;
    virtual void SetSubtitle(const wchar_t* text) = 0;
    // Answers the number of characters copied.
    virtual int GetText(wchar_t* buffer, int capacity) = 0;
    virtual bool SetText(const wchar_t* text) = 0;
    virtual WindowHandler* GetHandler() = 0;
    virtual void SetHandler(WindowHandler* handler) = 0;
    virtual LayerEventHandler* GetLayerHandler() = 0;
    virtual void SetLayerHandler(LayerEventHandler* handler) = 0;
    virtual int GetFrameWidth() = 0;
    virtual IImage* GetFrameImage() = 0;
    virtual void SetFrame(IImage* image, int width, bool centre) = 0;
    virtual uint32_t GetDimColor() = 0;
    virtual void SetDimColor(uint32_t argb) = 0;

    // Tray icon.
    virtual bool AddTrayIcon(UINT id, HICON icon, const wchar_t* tip, UINT message) = 0;
    virtual bool ModifyTrayIcon(HICON icon, const wchar_t* tip) = 0;
    virtual bool SetTrayPopup(HWND popup) = 0;
    virtual bool SetTrayIcon(HICON icon) = 0;
    virtual bool SetTrayTip(const wchar_t* tip) = 0;
    virtual bool RemoveTrayIcon() = 0;
    virtual bool StartTrayFlash(HICON icon) = 0;
    virtual int StopTrayFlash() = 0;
    virtual UINT GetFlashTimerId() = 0;
    virtual void SetFlashTimerId(UINT id) = 0;

    // Layer list. Content comes in four kinds, A to D, each handed to the
    // layer's LoadContent of the same letter; a layer kind that does not
    // take a kind answers false (none of this program's takes any).
    virtual bool SetBackgroundContentA(uintptr_t value) = 0;
    virtual bool SetBackgroundContentB(uintptr_t value) = 0;
    virtual bool SetBackgroundContentC(uintptr_t value) = 0;
    virtual bool SetBackgroundContentD(uintptr_t value) = 0;
    virtual int AddContentLayerA(uintptr_t value, const Anchor& anchor) = 0;
    virtual int AddContentLayerB(uintptr_t value, const Anchor& anchor) = 0;
    virtual int AddContentLayerC(uintptr_t value, const Anchor& anchor) = 0;
    virtual int AddContentLayerD(uintptr_t value, const Anchor& anchor) = 0;
    virtual bool SetLayerContentA(int index, uintptr_t value) = 0;
    virtual bool SetLayerContentB(int index, uintptr_t value) = 0;
    virtual bool SetLayerContentC(int index, uintptr_t value) = 0;
    virtual bool SetLayerContentD(int index, uintptr_t value) = 0;
    // Passed to the layer's QueryA or QueryB; 0 without such a layer.
    virtual int64_t QueryLayerA(int index, uintptr_t a, uintptr_t b) = 0;
    virtual int64_t QueryLayerB(int index, uintptr_t a, uintptr_t b) = 0;
    // Client coordinates; -1 when no visible layer is there.
    virtual int HitTest(int x, int y) = 0;
    virtual bool LayoutLayer(int index, const Anchor& anchor) = 0;
    virtual bool SetLayerFocus(int index, bool on) = 0;
    virtual ILayer* CreateLayer(int type) = 0;
    virtual int AppendLayer(ILayer* layer) = 0;
    // The window owns the layer once this answers its index.
    virtual int InsertLayer(int index, ILayer* layer) = 0;
    virtual ILayer* GetLayer(int index) = 0;
    virtual ILayer* GetLayerAlt(int index) = 0;
    virtual bool RemoveLayer(int index, bool deferred) = 0;
    virtual bool RemoveLastLayer() = 0;
    virtual int GetLayerCount() = 0;
    virtual void ClearLayers() = 0;
    virtual void PurgeRemovedLayers() = 0;

    virtual IWindowMap* GetRegistry() = 0;
    virtual void SetRegistry(IWindowMap* registry) = 0;
    // Renders what changed; true when the caller may sleep.
    virtual bool OnIdle() = 0;
    virtual void OnLayerPressed(ILayer* layer) = 0;
    virtual void OnLayerReleased(ILayer* layer) = 0;
    virtual void OnLayerClicked(ILayer* layer) = 0;
    virtual void ChangeLayerText(ILayer* layer, const wchar_t* text) = 0;
    virtual void ChangeLayerCaption(ILayer* layer, const wchar_t* text) = 0;
    virtual void OnLayersLoaded(uintptr_t value) = 0;
    virtual bool ChooseFile(uintptr_t ignored, wchar_t* path, const wchar_t* filter,
                            bool multiple) = 0;
    virtual ~IWindow() = default;
    virtual void DrawFrame(IRender* render) = 0;
    virtual void DrawLayers(IRender* render) = 0;
    virtual void ApplyGrey(IRender* render) = 0;
    virtual void ApplyDim(IRender* render) = 0;
    virtual bool AreLayersIdle() = 0;
    virtual bool OnCommand(int id, int code) = 0;
    virtual bool OnClickCommand(int id) = 0;
    virtual bool OnAcceleratorCommand(int id) = 0;
    virtual bool OnOtherCommand(int id, int code) = 0;
    virtual void OnTrayNotify(UINT id, UINT event) = 0;
    virtual void EnableIme(bool on) = 0;
    virtual void UpdateTitle() = 0;
    virtual UINT ModalLoop() = 0;
    virtual void UpdateBlur() = 0;
    virtual bool OnCloseQuery() = 0;
    virtual void OnCreated() = 0;
    virtual void OnDestroyed() = 0;
    virtual void OnMouseHover() = 0;
    virtual void OnMouseLeave() = 0;
    virtual void OnTimer(UINT_PTR id) = 0;
    virtual bool DispatchInput(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;
    virtual LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;
};

class CWindow : public IWindow {
public:
    CWindow();
    ~CWindow() override;
    CWindow(const CWindow&) = delete;
    CWindow& operator=(const CWindow&) = delete;

    bool Create(DWORD style, DWORD exStyle, HWND parent, HINSTANCE instance) override;
    BOOL MoveToRect(const RECT& rect) override;
    BOOL MoveTo(int x, int y, int width, int height) override;
    BOOL PlaceAnchored(const Anchor& anchor) override;
    BOOL Place(int32_t x, int32_t y, int32_t width, int32_t height) override;
    BOOL CenterOn(HWND reference, int width, int height) override;
    BOOL CenterOnKeepSize(HWND reference) override;
    void SetMaxSize(int width, int height) override;
    void SetMinSize(int width, int height) override;
    BOOL Show(int command) override;
    bool Present() override;
    bool Close() override;
    void Destroy() override;
    BOOL Maximize() override;
    BOOL Minimize() override;
    BOOL BringToFront() override;
    void OnSize() override;
    void TakeFocus() override;
    void DropFocus() override;
    void BroadcastA() override;
    void BroadcastB() override;
    void BroadcastC() override;
    void Reserved(uintptr_t) override {}
    void InvalidateLayers(bool redraw) override;
    int RunModal() override;
    void EndModal(int code) override;
    bool Render(HDC dc) override;
    bool HasDirtyLayer() override;
    bool IsModalRunning() override { return modalRunning_; }
    bool IsMinimized() override;
    bool IsMaximized() override;
    bool IsVisible() override { return HasStyle(WS_VISIBLE); }
    bool IsGrey() override { return grey_; }
    bool IsBlurBehind() override { return blurRequested_; }
    bool IsResizable() override { return resizable_; }
    bool IsEnabled() override;
    bool IsLayered() override { return layered_; }
    bool HasFrame() override { return frameWidth_ > 0 && frameImage_; }
    bool HasStyle(DWORD bits) override;
    bool HasExStyle(DWORD bits) override;
    bool SetGrey(bool on) override;
    bool SetBlurBehind(bool on) override;
    void SetResizable(bool on) override { resizable_ = on; }
    bool SetLayered(bool on) override;
    bool ModifyStyle(DWORD remove, DWORD add) override;
    bool ModifyExStyle(DWORD remove, DWORD add) override;
    bool GetOuterRect(RECT* rect) override;
    bool GetContentRect(RECT* rect) override;
    HWND GetHandle() override { return handle_; }
    HWND GetParentHandle() override { return parent_; }
    IRender* GetRender() override { return render_.get(); }
    IRender* GetRenderAlt() override { return render_.get(); }
    int32_t GetId() override { return id_; }
    void SetId(int32_t id) override { id_ = id; }
    int32_t GetTagA() override { return tagA_; }
    void SetTagA(int32_t value) override { tagA_ = value; }
    int32_t GetTagB() override { return tagB_; }
    void SetTagB(int32_t value) override { tagB_ = value; }
    HICON GetIcon(bool big) override;
    HICON SetIcon(HICON icon, bool big) override;
    const wchar_t* GetTitle() override { return title_.c_str(); }
    void SetTitle(const wchar_t* text) override;
    const wchar_t* GetSubtitle() override { return subtitle_.c_str(); }
    void SetSubtitle(const wchar_t* text) override;
    int GetText(wchar_t* buffer, int capacity) override;
    bool SetText(const wchar_t* text) override;
    WindowHandler* GetHandler() override { return handler_; }
    void SetHandler(WindowHandler* handler) override { handler_ = handler; }
    LayerEventHandler* GetLayerHandler() override { return layerHandler_; }
    void SetLayerHandler(LayerEventHandler* handler) override { layerHandler_ = handler; }
    int GetFrameWidth() override { return frameWidth_; }
    IImage* GetFrameImage() override { return frameImage_; }
    void SetFrame(IImage* image, int width, bool centre) override;
    uint32_t GetDimColor() override { return dimColor_; }
    void SetDimColor(uint32_t argb) override { dimColor_ = argb; }

    bool AddTrayIcon(UINT id, HICON icon, const wchar_t* tip, UINT message) override;
    bool ModifyTrayIcon(HICON icon, const wchar_t* tip) override;
    bool SetTrayPopup(HWND popup) override;
    bool SetTrayIcon(HICON icon) override;
    bool SetTrayTip(const wchar_t* tip) override;
    bool RemoveTrayIcon() override;
    bool StartTrayFlash(HICON icon) override;
    int StopTrayFlash() override;
    UINT GetFlashTimerId() override { return flashTimerId_; }
    void SetFlashTimerId(UINT id) override { flashTimerId_ = id; }

    bool SetBackgroundContentA(uintptr_t value) override;
    bool SetBackgroundContentB(uintptr_t value) override;
    bool SetBackgroundContentC(uintptr_t value) override;
    bool SetBackgroundContentD(uintptr_t value) override;
    int AddContentLayerA(uintptr_t value, const Anchor& anchor) override;
    int AddContentLayerB(uintptr_t value, const Anchor& anchor) override;
    int AddContentLayerC(uintptr_t value, const Anchor& anchor) override;
    int AddContentLayerD(uintptr_t value, const Anchor& anchor) override;
    bool SetLayerContentA(int index, uintptr_t value) override;
    bool SetLayerContentB(int index, uintptr_t value) override;
    bool SetLayerContentC(int index, uintptr_t value) override;
    bool SetLayerContentD(int index, uintptr_t value) override;
    int64_t QueryLayerA(int index, uintptr_t a, uintptr_t b) override;
    int64_t QueryLayerB(int index, uintptr_t a, uintptr_t b) override;
    int HitTest(int x, int y) override;
    bool LayoutLayer(int index, const Anchor& anchor) override;
    bool SetLayerFocus(int index, bool on) override;
    ILayer* CreateLayer(int type) override;
    int AppendLayer(ILayer* layer) override;
    int InsertLayer(int index, ILayer* layer) override;
    ILayer* GetLayer(int index) override;
    ILayer* GetLayerAlt(int index) override { return GetLayer(index); }
    bool RemoveLayer(int index, bool deferred) override;
    bool RemoveLastLayer() override;
    int GetLayerCount() override { return int(layers_.size()); }
    void ClearLayers() override;
    void PurgeRemovedLayers() override;

    IWindowMap* GetRegistry() override { return registry_; }
    void SetRegistry(IWindowMap* registry) override { registry_ = registry; }
    bool OnIdle() override;
    void OnLayerPressed(ILayer*) override {}
    void OnLayerReleased(ILayer*) override {}
    void OnLayerClicked(ILayer*) override {}
    void ChangeLayerText(ILayer* layer, const wchar_t* text) override;
    void ChangeLayerCaption(ILayer* layer, const wchar_t* text) override;
    void OnLayersLoaded(uintptr_t value) override;
    bool ChooseFile(uintptr_t ignored, wchar_t* path, const wchar_t* filter,
                    bool multiple) override;
    void DrawFrame(IRender* render) override;
    void DrawLayers(IRender* render) override;
    void ApplyGrey(IRender* render) override;
    void ApplyDim(IRender* render) override;
    bool AreLayersIdle() override;
    bool OnCommand(int id, int code) override;
    bool OnClickCommand(int id) override;
    bool OnAcceleratorCommand(int id) override;
    bool OnOtherCommand(int id, int code) override;
    void OnTrayNotify(UINT id, UINT event) override;
    void EnableIme(bool on) override;
    void UpdateTitle() override;
    UINT ModalLoop() override;
    void UpdateBlur() override;
    bool OnCloseQuery() override;
    void OnCreated() override;
    void OnDestroyed() override;
    void OnMouseHover() override;
    void OnMouseLeave() override;
    void OnTimer(UINT_PTR id) override;
    bool DispatchInput(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

    // The procedure of the window class " ", shared by every window.
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // Input state, for the owner and tests.
    int GetHoverIndex() const { return hover_; }
    int GetFocusIndex() const { return focus_; }
    int GetPressedIndex() const { return pressed_; }
    int GetMaxWidth() const { return maxWidth_; }
    int GetMaxHeight() const { return maxHeight_; }
    int GetMinWidth() const { return minWidth_; }
    int GetMinHeight() const { return minHeight_; }
    bool IsPaintingEnabled() const { return paintingEnabled_; }
    bool IsBlurActive() const { return blurActive_; }
    bool IsFlashing() const { return flashActive_; }
    HICON GetTrayIcon() const { return trayIcon_; }
    UINT GetTrayIconId() const { return trayIconId_; }
    CMsgTrayPos* GetTrayWatcher() const { return trayWatcher_.get(); }
    size_t GetRemovedLayerCount() const { return removedLayers_.size(); }

protected:
    // Loads or unloads blur-behind; see UpdateBlur.
    void DisableBlur();
    // NOTIFYICONDATAW of the first-version layout for this window's icon.
    NOTIFYICONDATAW TrayData(UINT flags) const;
    // The sizing grip under a client point, 0 when none.
    int GripAt(int x, int y, LPCWSTR* cursor);
    ILayer* LayerAt(int index);

    HIMC savedImeContext_ = nullptr;
    HWND handle_ = nullptr;
    HWND parent_ = nullptr;
    HWND trayPopup_ = nullptr;
    UniqueModule blurLibrary_;       // "dwmapi.dll" while loaded
    ComPtr<IRender> render_;
    CWindow* self_;                  // cleared by Destroy so it runs once
    IWindowMap* registry_ = nullptr;
    WindowHandler* handler_ = nullptr;
    LayerEventHandler* layerHandler_ = nullptr;
    IImage* frameImage_ = nullptr;  // not owned
    int frameWidth_ = 0;
    bool blurActive_ = false;
    bool paintingEnabled_ = true;
    int32_t id_ = 0;
    int32_t tagA_ = 0;
    int32_t tagB_ = 0;
    bool grey_ = false;
    bool blurRequested_ = true;
    bool resizable_ = false;
    bool layered_ = false;
    bool modalRunning_ = false;
    bool frameCentre_ = false;
    int modalResult_ = 0;
    int maxWidth_ = -1;
    int maxHeight_ = -1;
    int minWidth_ = 0;
    int minHeight_ = 0;
    bool trackingArmed_ = false;
    uint32_t dimColor_ = 0x60000000;
    FixedString<127> title_;
    FixedString<511> subtitle_;
    int hover_ = 0;
    int previousHover_ = 0;
    int focus_ = 0;
    int previousFocus_ = 0;
    int pressed_ = 0;
    std::vector<ILayer*> layers_;         // owned; null entries are skipped
    std::vector<ILayer*> removedLayers_;  // owned until PurgeRemovedLayers
    // Tray state.
    bool flashActive_ = false;
    bool flashPhase_ = false;
    HICON flashIcon_ = nullptr;
    HICON trayIcon_ = nullptr;
    UINT flashTimerId_ = kFlashTimerId;
    UINT trayIconId_ = 0;
    UINT trayMessage_ = 0;
    std::unique_ptr<CMsgTrayPos> trayWatcher_;

    HCURSOR gripSavedCursor_ = nullptr;  // cursor replaced over a sizing grip

private:
    // HandleMessage's work, a message or group at a time.
    void HandleDestroy(HWND window);
    void PaintWindow(HWND window);
    void KeepWithinSizeLimits(HWND window, WINDOWPOS* pos);
    void PlaceImeCandidates(HWND window);
    void HandleMouseLeave(HWND window);
    // DispatchInput's work: each returns whether the input was handled.
    bool DispatchMouse(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void UpdateHover(UINT message, int x, int y, UINT keys);
    void PressLeftButton(HWND window);
    void ReleaseLeftButton(int x, int y);
    bool DispatchContextMenu(HWND window, WPARAM wParam, LPARAM lParam);
    bool DispatchKey(UINT message, WPARAM wParam, LPARAM lParam);
    bool DispatchWheel(HWND window, WPARAM wParam, LPARAM lParam);
    bool DispatchLayerKey(UINT message, WPARAM wParam, LPARAM lParam);
};
