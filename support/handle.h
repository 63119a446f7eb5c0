// One owner for every handle-like thing: a move-only holder parameterised by
// its close function and its invalid value, so each handle is released in
// exactly one place.
#pragma once

#include <windows.h>

#include "support/wininet_api.h"

#include <utility>

template <typename T, typename Traits>
class UniqueHandle {
public:
    UniqueHandle() noexcept = default;
    explicit UniqueHandle(T value) noexcept : value_(value) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    T get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::invalid(); }

    // Gives up ownership without closing.
    [[nodiscard]] T release() noexcept { return std::exchange(value_, Traits::invalid()); }

    void reset(T value = Traits::invalid()) noexcept {
        T old = std::exchange(value_, value);
        if (old != Traits::invalid()) Traits::close(old);
    }

    // For out-parameters of creating APIs: closes what is held first.
    T* put() noexcept {
        reset();
        return &value_;
    }

private:
    T value_ = Traits::invalid();
};

namespace handle_traits {
struct Kernel {  // CloseHandle objects whose failure value is null
    static HANDLE invalid() { return nullptr; }
    static void close(HANDLE h) { CloseHandle(h); }
};
struct File {  // CreateFile answers INVALID_HANDLE_VALUE
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { CloseHandle(h); }
};
struct Find {
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { FindClose(h); }
};
struct Key {
    static HKEY invalid() { return nullptr; }
    static void close(HKEY h) { RegCloseKey(h); }
};
struct Module {
    static HMODULE invalid() { return nullptr; }
    static void close(HMODULE h) { FreeLibrary(h); }
};
struct Internet {  // a handle exists only when the table was loaded
    static HINTERNET invalid() { return nullptr; }
    static void close(HINTERNET h) { WinInet()->InternetCloseHandle(h); }
};
template <typename G>
struct Gdi {  // HBITMAP, HFONT, HRGN, HBRUSH, HPEN; never a stock object
    static G invalid() { return nullptr; }
    static void close(G h) { DeleteObject(h); }
};
struct MemoryDC {
    static HDC invalid() { return nullptr; }
    static void close(HDC h) { DeleteDC(h); }
};
struct Icon {
    static HICON invalid() { return nullptr; }
    static void close(HICON h) { DestroyIcon(h); }
};
struct ResourceUpdate {
    static HANDLE invalid() { return nullptr; }
    static void close(HANDLE h) { EndUpdateResourceW(h, TRUE); }  // discards
};
}  // namespace handle_traits

using UniqueKernelHandle = UniqueHandle<HANDLE, handle_traits::Kernel>;
using UniqueFile = UniqueHandle<HANDLE, handle_traits::File>;
using UniqueFind = UniqueHandle<HANDLE, handle_traits::Find>;
using UniqueKey = UniqueHandle<HKEY, handle_traits::Key>;
using UniqueModule = UniqueHandle<HMODULE, handle_traits::Module>;
using UniqueInternet = UniqueHandle<HINTERNET, handle_traits::Internet>;
using UniqueBitmap = UniqueHandle<HBITMAP, handle_traits::Gdi<HBITMAP>>;
using UniqueFont = UniqueHandle<HFONT, handle_traits::Gdi<HFONT>>;
using UniqueRegion = UniqueHandle<HRGN, handle_traits::Gdi<HRGN>>;
using UniqueBrush = UniqueHandle<HBRUSH, handle_traits::Gdi<HBRUSH>>;
using UniqueMemoryDC = UniqueHandle<HDC, handle_traits::MemoryDC>;
using UniqueIcon = UniqueHandle<HICON, handle_traits::Icon>;
using UniqueResourceUpdate = UniqueHandle<HANDLE, handle_traits::ResourceUpdate>;

// Puts the previously selected object back into the DC; owns nothing.
class ScopedSelect {
public:
    ScopedSelect(HDC dc, HGDIOBJ obj) : dc_(dc), old_(SelectObject(dc, obj)) {}
    ~ScopedSelect() {
        if (dc_ && old_) SelectObject(dc_, old_);
    }
    ScopedSelect(const ScopedSelect&) = delete;
    ScopedSelect& operator=(const ScopedSelect&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// Owner of anything released by its own Release (COM objects, renderers):
// Release in one place.
template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    // Takes over a reference the caller holds.
    explicit ComPtr(T* p) noexcept : p_(p) {}
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& o) noexcept {
        if (this != &o) {
            reset();
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    T** put() noexcept {
        reset();
        return &p_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    void reset() noexcept {
        if (p_) std::exchange(p_, nullptr)->Release();
    }

private:
    T* p_ = nullptr;
};

// Runs a one-off clean-up when the scope ends.
template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ~ScopeExit() {
        if (armed_) f_();
    }
    void dismiss() { armed_ = false; }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    F f_;
    bool armed_ = true;
};
