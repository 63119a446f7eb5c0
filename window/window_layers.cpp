// The window's layer list: insertion, removal with renumbering, content
// loading, focus and hit testing.
#include <cwchar>

#include "ui/layer.h"
#include "window/window.h"

ILayer* CWindow::LayerAt(int index) {
    if (index < 0 || index >= int(layers_.size())) return nullptr;
    return layers_[size_t(index)];
}

ILayer* CWindow::GetLayer(int index) { return LayerAt(index); }

ILayer* CWindow::CreateLayer(int type) { return new CLayer(type, id_); }

int CWindow::AppendLayer(ILayer* layer) { return InsertLayer(int(layers_.size()), layer); }

// Keep an input index on the layer it named when an entry is inserted at or
// removed from position index, so that a later click is never reported for a
// layer that merely took over the number.
static void FollowInsert(int& tracked, int index, int oldCount) {
    if (tracked >= index && tracked < oldCount) ++tracked;
}
static void FollowRemove(int& tracked, int index) {
    if (tracked == index)
        tracked = -1;
    else if (tracked > index)
        --tracked;
}

int CWindow::InsertLayer(int index, ILayer* layer) {
    if (!layer || index < 0 || index > int(layers_.size())) return -1;
    layer->SetID(index);
    layer->SetOwnerId(id_);
    layer->SetWindow(this);
    layer->SetAlphaFlag(true);
    layer->OnInserted();
    int oldCount = int(layers_.size());
    layers_.insert(layers_.begin() + index, layer);  // the window owns it from here
    FollowInsert(hover_, index, oldCount);
    FollowInsert(previousHover_, index, oldCount);
    FollowInsert(pressed_, index, oldCount);
    FollowInsert(previousFocus_, index, oldCount);
    if (focus_ < index) {
        previousFocus_ = focus_;
        focus_ = index;
        SetLayerFocus(index, true);
    } else {
        FollowInsert(focus_, index, oldCount);
    }
    LayoutLayer(index, Anchor{});
    return index;
}

bool CWindow::RemoveLayer(int index, bool deferred) {
    if (index < 0 || index >= int(layers_.size())) return false;
    if (ILayer* layer = layers_[size_t(index)]) {
        if (deferred) {
            removedLayers_.push_back(layer);
            wchar_t script[64];
            swprintf(script, 64, L"browser_layer_clear_destroyed(%d);", int(id_));
            QueryLayerA(index, reinterpret_cast<uintptr_t>(script), 1);
        } else {
            layer->Release();
        }
    }
    layers_.erase(layers_.begin() + index);
    for (size_t i = size_t(index); i < layers_.size(); ++i)
        if (layers_[i]) layers_[i]->SetID(int(i));
    FollowRemove(hover_, index);
    FollowRemove(previousHover_, index);
    FollowRemove(focus_, index);
    FollowRemove(previousFocus_, index);
    FollowRemove(pressed_, index);
    return true;
}

bool CWindow::RemoveLastLayer() {
    if (layers_.empty()) return false;
    return RemoveLayer(int(layers_.size()) - 1, false);
}

void CWindow::ClearLayers() {
    std::vector<ILayer*> layers;
    layers.swap(layers_);
    for (ILayer* layer : layers)
        if (layer) layer->Release();
    hover_ = previousHover_ = focus_ = previousFocus_ = pressed_ = 0;
}

void CWindow::PurgeRemovedLayers() {
    std::vector<ILayer*> removed;
    removed.swap(removedLayers_);
    for (ILayer* layer : removed)
        if (layer) layer->Release();
}

int CWindow::HitTest(int x, int y) {
    for (int i = int(layers_.size()) - 1; i >= 0; --i) {
        ILayer* layer = layers_[size_t(i)];
        if (layer && layer->IsVisible() && layer->HitTest(x, y)) return i;
    }
    return -1;
}

bool CWindow::LayoutLayer(int index, const Anchor& anchor) {
    ILayer* layer = LayerAt(index);
    if (!layer) return false;
    layer->SetAnchor(anchor);
    RECT content;
    GetContentRect(&content);
    layer->Layout(content);
    return true;
}

bool CWindow::SetLayerFocus(int index, bool on) {
    if (index >= int(layers_.size())) return false;
    if (on) {
        if (ILayer* previous = LayerAt(previousFocus_)) {
            previous->OnBlur();
            previousFocus_ = -1;
        }
        ILayer* layer = LayerAt(index);
        if (!layer) return false;
        layer->OnFocus();
        return true;
    }
    ILayer* layer = LayerAt(index);
    if (!layer) return false;
    layer->OnBlur();
    return true;
}

int64_t CWindow::QueryLayerA(int index, uintptr_t a, uintptr_t b) {
    ILayer* layer = LayerAt(index);
    return IsWindow(handle_) && layer ? layer->QueryA(a, b) : 0;
}

int64_t CWindow::QueryLayerB(int index, uintptr_t a, uintptr_t b) {
    ILayer* layer = LayerAt(index);
    return IsWindow(handle_) && layer ? layer->QueryB(a, b) : 0;
}

// ---------------------------------------------------------------- content layers

namespace {
using LoadFn = bool (ILayer::*)(uintptr_t);
}

static bool LoadInto(ILayer* layer, LoadFn load, uintptr_t value, bool& paintingEnabled) {
    if (!layer || !value) return false;
    // Painting waits for OnLayersLoaded; a load that does not even start will
    // never announce its end, so painting comes back at once then.
    paintingEnabled = false;
    bool started = (layer->*load)(value);
    if (!started) paintingEnabled = true;
    return started;
}

bool CWindow::SetLayerContentA(int index, uintptr_t value) {
    return LoadInto(LayerAt(index), &ILayer::LoadContentA, value, paintingEnabled_);
}
bool CWindow::SetLayerContentB(int index, uintptr_t value) {
    return LoadInto(LayerAt(index), &ILayer::LoadContentB, value, paintingEnabled_);
}
bool CWindow::SetLayerContentC(int index, uintptr_t value) {
    return LoadInto(LayerAt(index), &ILayer::LoadContentC, value, paintingEnabled_);
}
bool CWindow::SetLayerContentD(int index, uintptr_t value) {
    return LoadInto(LayerAt(index), &ILayer::LoadContentD, value, paintingEnabled_);
}

// The background is layer 0, made on demand.
static bool EnsureBackground(IWindow& window) {
    if (window.GetLayerCount() > 0) return true;
    ILayer* layer = window.CreateLayer(0);
    if (!layer) return false;
    if (window.AppendLayer(layer) < 0) {
        layer->Release();
        return false;
    }
    return true;
}

bool CWindow::SetBackgroundContentA(uintptr_t value) {
    return value && EnsureBackground(*this) && SetLayerContentA(0, value);
}
bool CWindow::SetBackgroundContentB(uintptr_t value) {
    return value && EnsureBackground(*this) && SetLayerContentB(0, value);
}
bool CWindow::SetBackgroundContentC(uintptr_t value) {
    return value && EnsureBackground(*this) && SetLayerContentC(0, value);
}
bool CWindow::SetBackgroundContentD(uintptr_t value) {
    return value && EnsureBackground(*this) && SetLayerContentD(0, value);
}

static int AddContentLayer(IWindow& window, uintptr_t value, const Anchor& anchor,
                           bool (IWindow::*setContent)(int, uintptr_t)) {
    if (!value) return -1;
    ILayer* layer = window.CreateLayer(0);
    if (!layer) return -1;
    int index = window.AppendLayer(layer);
    if (index < 0) {
        layer->Release();
        return -1;
    }
    window.LayoutLayer(index, anchor);
    (window.*setContent)(index, value);
    return index;
}

int CWindow::AddContentLayerA(uintptr_t value, const Anchor& anchor) {
    return AddContentLayer(*this, value, anchor, &IWindow::SetLayerContentA);
}
int CWindow::AddContentLayerB(uintptr_t value, const Anchor& anchor) {
    return AddContentLayer(*this, value, anchor, &IWindow::SetLayerContentB);
}
int CWindow::AddContentLayerC(uintptr_t value, const Anchor& anchor) {
    return AddContentLayer(*this, value, anchor, &IWindow::SetLayerContentC);
}
int CWindow::AddContentLayerD(uintptr_t value, const Anchor& anchor) {
    return AddContentLayer(*this, value, anchor, &IWindow::SetLayerContentD);
}
