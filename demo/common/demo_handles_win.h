#pragma once

#include <windows.h>
#include <objbase.h>

#include "platform/unique_handle.h"
#include "platform/win_handles.h"

namespace tavro::demo {

namespace detail {

struct RegistryKeyTraits {
    using Handle = HKEY;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) {
        tavro::detail::LastErrorKeeper keep;
        RegCloseKey(h);
    }
};

struct CoTaskMemoryTraits {
    using Handle = void*;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) {
        tavro::detail::LastErrorKeeper keep;
        CoTaskMemFree(h);
    }
};

struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Handle h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(Handle h) {
        tavro::detail::LastErrorKeeper keep;
        FindClose(h);
    }
};

struct GdiObjectTraits {
    using Handle = HGDIOBJ;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) {
        tavro::detail::LastErrorKeeper keep;
        DeleteObject(h);
    }
};

}  // namespace detail

// A registry key from RegCreateKeyExW or RegOpenKeyExW.
using UniqueRegistryKey = UniqueHandle<detail::RegistryKeyTraits>;
// Memory that a shell call allocated with CoTaskMemAlloc for the caller.
using UniqueCoTaskMemory = UniqueHandle<detail::CoTaskMemoryTraits>;
// A directory search from FindFirstFileW.
using UniqueFindHandle = UniqueHandle<detail::FindHandleTraits>;
// A GDI pen, brush or font; must not be selected into a device context when it closes.
using UniqueGdiObject = UniqueHandle<detail::GdiObjectTraits>;

// The installer's owners for files, kernel objects and LocalAlloc memory, under this namespace too.
using tavro::UniqueFile;
using tavro::UniqueKernelHandle;
using tavro::UniqueLocalMemory;

}  // namespace tavro::demo
