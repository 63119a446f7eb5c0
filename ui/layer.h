// A layer: one rectangle of a window drawn by the program, with an anchor
// rule, flags, a colour, a visual state and input hooks. The window keeps a
// flat list of them; the position in the list is the z-order.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "support/dialogs.h"
#include "ui/anchor.h"

class IRender;
class IWindow;

// Messages the window synthesises when the layer under the pointer changes.
constexpr UINT kLayerMouseEnter = 0x2A1;  // WM_MOUSEHOVER
constexpr UINT kLayerMouseLeave = 0x2A3;  // WM_MOUSELEAVE

// Kind codes of the window's layer factory.
enum LayerKind : int {
    kLayerText = 1,
    kLayerEdit = 2,
    kLayerImage = 3,
    kLayerButton = 4,
    kLayerCheck = 5,
    kLayerProgress = 6,
};

// Cursor kinds: anything else shows the arrow.
enum CursorKind : int {
    kCursorArrow = 0,
    kCursorHand = 1,
    kCursorText = 2,
};

// Visual states; they also number the frames of a frame strip.
enum LayerState : int {
    kStateNormal = 0,
    kStateHover = 1,
    kStatePressed = 2,
};

class ILayer {
public:
    virtual int GetID() = 0;
    virtual void SetID(int id) = 0;
    virtual int GetOwnerId() = 0;
    virtual void SetOwnerId(int id) = 0;
    virtual void* GetUserData() = 0;
    virtual void SetUserData(void* data) = 0;
    virtual RECT* GetRect() = 0;
    // Stores the rectangle, then calls OnRectChanged.
    virtual void SetRect(const RECT& rect) = 0;
    virtual Anchor* GetAnchor() = 0;
    // No new layout until Layout is called.
    virtual void SetAnchor(const Anchor& anchor) = 0;
    // UserValue1..4 and the user flag: values the application keeps on a
    // layer; the toolkit never reads them.
    virtual int GetUserValue1() = 0;
    virtual void SetUserValue1(int value) = 0;
    // Never null.
    virtual const wchar_t* GetText() = 0;
    virtual void SetText(const wchar_t* text) = 0;
    virtual const wchar_t* GetCaption() = 0;
    virtual void SetCaption(const wchar_t* text) = 0;
    virtual int GetUserValue2() = 0;
    virtual void SetUserValue2(int value) = 0;
    virtual bool IsVisible() = 0;
    virtual void SetVisible(bool visible) = 0;
    virtual bool GetUserFlag() = 0;
    virtual void SetUserFlag(bool flag) = 0;
    virtual bool NeedsRedraw() = 0;
    virtual void SetNeedsRedraw(bool redraw) = 0;
    virtual bool GetAlphaFlag() = 0;
    virtual void SetAlphaFlag(bool blended) = 0;
    virtual uint8_t GetAlpha() = 0;
    virtual void SetAlpha(uint8_t alpha) = 0;
    virtual bool IsChecked() = 0;
    virtual void SetChecked(bool checked) = 0;
    virtual int GetUserValue3() = 0;
    virtual void SetUserValue3(int value) = 0;
    // Low 24 bits: a COLORREF for text.
    virtual uint32_t GetColor() = 0;
    virtual void SetColor(uint32_t color) = 0;
    virtual int GetUserValue4() = 0;
    virtual void SetUserValue4(int value) = 0;
    virtual int GetKind() = 0;
    virtual void SetKind(int kind) = 0;
    virtual int GetState() = 0;
    virtual void SetState(int state) = 0;
    virtual int GetCursorKind() = 0;
    virtual void SetCursorKind(int kind) = 0;
    virtual IWindow* GetWindow() = 0;
    virtual void SetWindow(IWindow* window) = 0;
    // Content of kind A to D handed over by the window; false when the
    // layer kind does not take it.
    virtual bool LoadContentA(uintptr_t value) = 0;
    virtual bool LoadContentB(uintptr_t value) = 0;
    virtual bool LoadContentC(uintptr_t value) = 0;
    virtual bool LoadContentD(uintptr_t value) = 0;
    virtual int64_t QueryA(uintptr_t a, uintptr_t b) = 0;
    virtual int64_t QueryB(uintptr_t a, uintptr_t b) = 0;
    virtual bool IsIdle() = 0;
    virtual bool OnInserted() = 0;
    virtual void OnFocus() = 0;
    virtual void OnBlur() = 0;
    virtual void OnRectChanged() = 0;
    virtual void OnBroadcastA() = 0;
    virtual void OnBroadcastB() = 0;
    virtual void OnBroadcastC() = 0;
    // Deletes the layer and everything it owns.
    virtual void Release() = 0;
    virtual void Layout(const RECT& parent) = 0;
    virtual bool WantsIme() = 0;
    virtual bool GetCaretRect(RECT* rect) = 0;
    // Window client coordinates.
    virtual bool HitTest(int x, int y) = 0;
    virtual void Paint(IRender* render) = 0;
    virtual void Notify(int code) = 0;
    virtual bool PressKey(int key, uint32_t info) = 0;
    virtual bool ReleaseKey(int key, uint32_t info) = 0;
    // Layer-local coordinates; true when the layer handled the message.
    virtual bool OnMouse(UINT message, int x, int y, UINT keyFlags) = 0;
    virtual bool OnWheel(int x, int y, int delta, UINT keyFlags) = 0;
    virtual bool OnContextMenu(int x, int y, HWND source) = 0;
    virtual bool OnKeyUp(UINT key, UINT keyData, UINT reserved) = 0;
    virtual bool OnKeyDown(UINT key, UINT keyData, UINT reserved) = 0;
    virtual bool OnChar(UINT character, UINT keyData, UINT reserved) = 0;

protected:
    // Only Release ends a layer's life.
    virtual ~ILayer() = default;
};

// The base layer: paints nothing and ignores input. Also the plain layer a
// window makes for a kind code it does not know.
class CLayer : public ILayer {
public:
    CLayer(int kind, int ownerId);
    CLayer(const CLayer&) = delete;
    CLayer& operator=(const CLayer&) = delete;

    int GetID() override { return id_; }
    void SetID(int id) override { id_ = id; }
    int GetOwnerId() override { return ownerId_; }
    void SetOwnerId(int id) override { ownerId_ = id; }
    void* GetUserData() override { return userData_; }
    void SetUserData(void* data) override { userData_ = data; }
    RECT* GetRect() override { return &rect_; }
    void SetRect(const RECT& rect) override;
    Anchor* GetAnchor() override { return &anchor_; }
    void SetAnchor(const Anchor& anchor) override { anchor_ = anchor; }
    int GetUserValue1() override { return userValue1_; }
    void SetUserValue1(int value) override { userValue1_ = value; }
    const wchar_t* GetText() override { return text_.c_str(); }
    void SetText(const wchar_t* text) override { text_ = text ? text : L""; }
    const wchar_t* GetCaption() override { return caption_.c_str(); }
    void SetCaption(const wchar_t* text) override { caption_ = text ? text : L""; }
    int GetUserValue2() override { return userValue2_; }
    void SetUserValue2(int value) override { userValue2_ = value; }
    bool IsVisible() override { return visible_; }
    void SetVisible(bool visible) override { visible_ = visible; }
    bool GetUserFlag() override { return userFlag_; }
    void SetUserFlag(bool flag) override { userFlag_ = flag; }
    bool NeedsRedraw() override { return needsRedraw_; }
    void SetNeedsRedraw(bool redraw) override { needsRedraw_ = redraw; }
    bool GetAlphaFlag() override { return alphaFlag_; }
    void SetAlphaFlag(bool blended) override { alphaFlag_ = blended; }
    uint8_t GetAlpha() override { return alpha_; }
    void SetAlpha(uint8_t alpha) override { alpha_ = alpha; }
    bool IsChecked() override { return checked_; }
    void SetChecked(bool checked) override { checked_ = checked; }
    int GetUserValue3() override { return userValue3_; }
    void SetUserValue3(int value) override { userValue3_ = value; }
    uint32_t GetColor() override { return color_; }
    void SetColor(uint32_t color) override { color_ = color; }
    int GetUserValue4() override { return userValue4_; }
    void SetUserValue4(int value) override { userValue4_ = value; }
    int GetKind() override { return kind_; }
    void SetKind(int kind) override { kind_ = kind; }
    int GetState() override { return state_; }
    void SetState(int state) override { state_ = state; }
    int GetCursorKind() override { return cursorKind_; }
    void SetCursorKind(int kind) override { cursorKind_ = kind; }
    IWindow* GetWindow() override { return window_; }
    void SetWindow(IWindow* window) override { window_ = window; }
    bool LoadContentA(uintptr_t) override { return false; }
    bool LoadContentB(uintptr_t) override { return false; }
    bool LoadContentC(uintptr_t) override { return false; }
    bool LoadContentD(uintptr_t) override { return false; }
    int64_t QueryA(uintptr_t, uintptr_t) override { return 0; }
    int64_t QueryB(uintptr_t, uintptr_t) override { return 0; }
    bool IsIdle() override { return true; }
    bool OnInserted() override { return true; }
    void OnFocus() override {}
    void OnBlur() override {}
    void OnRectChanged() override {}
    void OnBroadcastA() override {}
    void OnBroadcastB() override {}
    void OnBroadcastC() override {}
    void Release() override;
    void Layout(const RECT& parent) override;
    bool WantsIme() override { return true; }
    bool GetCaretRect(RECT*) override { return false; }
    bool HitTest(int x, int y) override;
    // A plain layer draws nothing, so its picture is stable at once; leaving
    // the flag set would keep the window repainting forever.
    void Paint(IRender*) override { SetNeedsRedraw(false); }
    void Notify(int) override {}
    bool PressKey(int key, uint32_t info) override;
    bool ReleaseKey(int key, uint32_t info) override;
    bool OnMouse(UINT, int, int, UINT) override { return false; }
    bool OnWheel(int, int, int, UINT) override { return false; }
    bool OnContextMenu(int, int, HWND) override { return false; }
    bool OnKeyUp(UINT, UINT, UINT) override { return false; }
    bool OnKeyDown(UINT, UINT, UINT) override { return false; }
    bool OnChar(UINT, UINT, UINT) override { return false; }

    // Not part of ILayer: the cross-fade's bookkeeping, for the controls and tests.
    int GetPreviousState() const { return previousState_; }
    int GetTransitionProgress() const { return transitionProgress_; }
    int GetHeldKey() const { return heldKey_; }

protected:
    ~CLayer() override;

    // Progress 0..255 of the cross-fade from the previous state to the current one.
    uint16_t transitionProgress_ = 0;
    int heldKey_ = 0;
    int previousState_ = 0;
    HCURSOR hoverCursor_ = nullptr;  // shared system cursors: never destroyed
    HCURSOR savedCursor_ = nullptr;

private:
    int id_ = 0;
    int ownerId_;
    void* userData_ = nullptr;
    RECT rect_ = {0, 0, 0, 0};
    Anchor anchor_;
    bool userFlag_ = false;
    bool visible_ = true;
    bool needsRedraw_ = true;
    bool checked_ = false;
    bool alphaFlag_ = true;
    uint8_t alpha_ = 255;
    int userValue3_ = 100;
    int userValue1_ = 0;
    int userValue2_ = 0;
    uint32_t color_ = 0x00FFFFFF;
    int userValue4_ = 0;
    int kind_;
    int state_ = 0;
    int cursorKind_ = 0;
    std::wstring text_;
    std::wstring caption_;
    IWindow* window_ = nullptr;
};
