// Owner types for every kind of system resource the program acquires. Each owner holds
// exactly one resource, cannot be copied, and releases it in its destructor, so that a
// resource is released on every way out of the function that acquired it.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <memory>
#include <utility>

namespace qz {

// One template for all owner kinds; Traits supplies the invalid value and the release call.
template <typename Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() noexcept : value_(Traits::Invalid()) {}
    explicit UniqueResource(Type value) noexcept : value_(value) {}
    ~UniqueResource() { Reset(); }

    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.Release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }

    Type Get() const noexcept { return value_; }
    bool Valid() const noexcept { return Traits::IsValid(value_); }
    explicit operator bool() const noexcept { return Valid(); }

    // Gives up ownership without releasing.
    Type Release() noexcept {
        Type value = value_;
        value_ = Traits::Invalid();
        return value;
    }

    // Releases the held resource (if any) and takes the new one.
    void Reset(Type value = Traits::Invalid()) noexcept {
        if (Traits::IsValid(value_)) Traits::Close(value_);
        value_ = value;
    }

    // For APIs that return the resource through a pointer: releases what is held first.
    Type* Put() noexcept {
        Reset();
        return &value_;
    }

private:
    Type value_;
};

struct HandleTraits {  // kernel objects: processes, threads, files, events
    using Type = HANDLE;
    static Type Invalid() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Type h) { CloseHandle(h); }
};
struct FindTraits {
    using Type = HANDLE;
    static Type Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Type h) { FindClose(h); }
};
struct RegKeyTraits {
    using Type = HKEY;
    static Type Invalid() { return nullptr; }
    static bool IsValid(Type k) { return k != nullptr; }
    static void Close(Type k) { RegCloseKey(k); }
};
struct GdiTraits {  // fonts, bitmaps, brushes
    using Type = HGDIOBJ;
    static Type Invalid() { return nullptr; }
    static bool IsValid(Type o) { return o != nullptr; }
    static void Close(Type o) { DeleteObject(o); }
};
struct MemoryDcTraits {  // device contexts made by CreateCompatibleDC
    using Type = HDC;
    static Type Invalid() { return nullptr; }
    static bool IsValid(Type dc) { return dc != nullptr; }
    static void Close(Type dc) { DeleteDC(dc); }
};
struct ItemListTraits {  // shell item lists, freed by the task allocator
    using Type = LPITEMIDLIST;
    static Type Invalid() { return nullptr; }
    static bool IsValid(Type p) { return p != nullptr; }
    static void Close(Type p) { CoTaskMemFree(p); }
};
struct ModuleTraits {
    using Type = HMODULE;
    static Type Invalid() { return nullptr; }
    static bool IsValid(Type m) { return m != nullptr; }
    static void Close(Type m) { FreeLibrary(m); }
};
struct HookTraits {
    using Type = HHOOK;
    static Type Invalid() { return nullptr; }
    static bool IsValid(Type h) { return h != nullptr; }
    static void Close(Type h) { UnhookWindowsHookEx(h); }
};
struct WindowTraits {
    using Type = HWND;
    static Type Invalid() { return nullptr; }
    static bool IsValid(Type w) { return w != nullptr; }
    static void Close(Type w) { DestroyWindow(w); }
};

using UniqueHandle = UniqueResource<HandleTraits>;
using UniqueFind = UniqueResource<FindTraits>;
using UniqueKey = UniqueResource<RegKeyTraits>;
using UniqueGdiObject = UniqueResource<GdiTraits>;
using UniqueMemoryDc = UniqueResource<MemoryDcTraits>;
using UniqueItemList = UniqueResource<ItemListTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;
using UniqueHook = UniqueResource<HookTraits>;
using UniqueWindow = UniqueResource<WindowTraits>;

// A window's device context from GetDC, given back with ReleaseDC.
class WindowDc {
public:
    explicit WindowDc(HWND window) noexcept : window_(window), dc_(GetDC(window)) {}
    ~WindowDc() {
        if (dc_) ReleaseDC(window_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC Get() const noexcept { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// Selects an object into a device context and puts the previous one back on every way out.
class SelectGuard {
public:
    SelectGuard(HDC dc, HGDIOBJ object) noexcept
        : dc_(dc), previous_(object ? SelectObject(dc, object) : nullptr) {}
    ~SelectGuard() {
        if (previous_) SelectObject(dc_, previous_);
    }
    SelectGuard(const SelectGuard&) = delete;
    SelectGuard& operator=(const SelectGuard&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// A critical section, deleted with its owner, and the lock that holds it for one scope.
class CriticalSection {
public:
    CriticalSection() noexcept { InitializeCriticalSection(&section_); }
    ~CriticalSection() { DeleteCriticalSection(&section_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    CRITICAL_SECTION* Get() noexcept { return &section_; }

private:
    CRITICAL_SECTION section_;
};

class Lock {
public:
    explicit Lock(CriticalSection& section) noexcept : section_(section.Get()) {
        EnterCriticalSection(section_);
    }
    ~Lock() { LeaveCriticalSection(section_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    CRITICAL_SECTION* section_;
};

// A COM interface pointer, released once.
template <typename Interface>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    Interface* Get() const noexcept { return p_; }
    Interface* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    Interface** Put() noexcept {
        Reset();
        return &p_;
    }
    void Reset() noexcept {
        if (p_) p_->Release();
        p_ = nullptr;
    }

private:
    Interface* p_ = nullptr;
};

// Runs a clean-up on every way out of a scope unless dismissed.
template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F f) noexcept : f_(std::move(f)) {}
    ~ScopeExit() {
        if (active_) f_();
    }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    void Dismiss() noexcept { active_ = false; }

private:
    F f_;
    bool active_ = true;
};

template <typename F>
ScopeExit<F> OnScopeExit(F f) {
    return ScopeExit<F>(std::move(f));
}

}  // namespace qz
