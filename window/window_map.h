// The registry of live windows by 32-bit id: it destroys them on removal and
// drives the idle rendering of all of them.
#pragma once

#include <cstdint>
#include <map>

class IWindow;

class IWindowMap {
public:
    virtual IWindow* Find(int32_t id) = 0;
    // -1 for a null window or an id already present; id -1 becomes the native
    // handle value + 0x10000000.
    virtual int32_t Add(int32_t id, IWindow* window) = 0;
    virtual bool Remove(int32_t id) = 0;
    virtual bool RenderAll() = 0;
    virtual void DestroyAll() = 0;
    virtual void DestroyAllExcept(int32_t id) = 0;
    virtual ~IWindowMap() = default;
    virtual bool AllIdle() = 0;
};

class CWindowMap : public IWindowMap {
public:
    static constexpr int32_t kHandleIdBase = 0x10000000;

    CWindowMap() = default;
    ~CWindowMap() override;
    CWindowMap(const CWindowMap&) = delete;
    CWindowMap& operator=(const CWindowMap&) = delete;

    IWindow* Find(int32_t id) override;
    int32_t Add(int32_t id, IWindow* window) override;
    bool Remove(int32_t id) override;
    bool RenderAll() override;
    void DestroyAll() override;
    void DestroyAllExcept(int32_t id) override;
    bool AllIdle() override;

    size_t Count() const { return windows_.size(); }

private:
    std::map<int32_t, IWindow*> windows_;  // windows are destroyed, never freed, by the map
};

// The process's registry.
extern CWindowMap g_windowMap;
