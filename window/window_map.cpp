#include "window/window_map.h"

#include <vector>

#include "window/window.h"

CWindowMap g_windowMap;

CWindowMap::~CWindowMap() { DestroyAll(); }

IWindow* CWindowMap::Find(int32_t id) {
    auto it = windows_.find(id);
    return it == windows_.end() ? nullptr : it->second;
}

int32_t CWindowMap::Add(int32_t id, IWindow* window) {
    if (!window) return -1;
    if (id == -1)
        id = int32_t(uint32_t(reinterpret_cast<uintptr_t>(window->GetHandle())) +
                     uint32_t(kHandleIdBase));
    if (!windows_.emplace(id, window).second) return -1;
    window->SetId(id);
    window->SetRegistry(this);
    return id;
}

bool CWindowMap::Remove(int32_t id) {
    auto it = windows_.find(id);
    if (it == windows_.end()) return false;
    IWindow* window = it->second;
    // Erased before Destroy: its WM_DESTROY comes back here for the same id.
    windows_.erase(it);
    if (window) window->Destroy();
    return true;
}

// Handlers called below may add or remove windows, so every walk goes over a
// snapshot of the ids and looks each one up again.
static std::vector<int32_t> IdsOf(const std::map<int32_t, IWindow*>& windows) {
    std::vector<int32_t> ids;
    ids.reserve(windows.size());
    for (const auto& entry : windows) ids.push_back(entry.first);
    return ids;
}

bool CWindowMap::RenderAll() {
    bool painted = false;
    for (int32_t id : IdsOf(windows_)) {
        IWindow* window = Find(id);
        if (window && window->Render(nullptr)) painted = true;
    }
    return painted;
}

void CWindowMap::DestroyAll() {
    // Emptied first: destroying a window re-enters Remove for its id.
    std::map<int32_t, IWindow*> windows;
    windows.swap(windows_);
    for (auto& entry : windows)
        if (entry.second) entry.second->Destroy();
}

void CWindowMap::DestroyAllExcept(int32_t id) {
    for (int32_t other : IdsOf(windows_))
        if (other != id) Remove(other);
}

bool CWindowMap::AllIdle() {
    bool idle = true;
    for (int32_t id : IdsOf(windows_)) {
        IWindow* window = Find(id);
        if (window && !window->OnIdle()) idle = false;
    }
    return idle;
}
