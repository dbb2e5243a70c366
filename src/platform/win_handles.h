#pragma once

#include <windows.h>
#include <combaseapi.h>

#include "platform/unique_handle.h"

namespace tavro {

namespace detail {

// Closing must not disturb the last-error code that the caller is about to read.
class LastErrorKeeper {
public:
    LastErrorKeeper() : error_(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(error_); }

private:
    DWORD error_;
};

struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Handle h) {
        LastErrorKeeper keep;
        CloseHandle(h);
    }
};

struct FileHandleTraits : KernelHandleTraits {
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
};

// A handle that is null when empty and released by one call that takes only the handle.
template <class H, auto Closer>
struct ClosedBy {
    using Handle = H;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) {
        LastErrorKeeper keep;
        Closer(h);
    }
};

}  // namespace detail

// A process, thread, event or other kernel object (null when empty).
using UniqueKernelHandle = UniqueHandle<detail::KernelHandleTraits>;
// A file from CreateFileW (INVALID_HANDLE_VALUE when empty).
using UniqueFile = UniqueHandle<detail::FileHandleTraits>;
// Memory the system allocated with LocalAlloc for the caller.
using UniqueLocalMemory = UniqueHandle<detail::ClosedBy<HLOCAL, &LocalFree>>;
// Memory the system allocated with GlobalAlloc for the caller (WinHTTP's proxy strings).
using UniqueGlobalMemory = UniqueHandle<detail::ClosedBy<HGLOBAL, &GlobalFree>>;
// An open registry key.
using UniqueRegistryKey = UniqueHandle<detail::ClosedBy<HKEY, &RegCloseKey>>;
// Memory the shell or COM allocated for the caller (CoTaskMemAlloc).
using UniqueCoTaskMemory = UniqueHandle<detail::ClosedBy<void*, &CoTaskMemFree>>;
// A loaded module, or a file mapped as a resource module.
using UniqueModule = UniqueHandle<detail::ClosedBy<HMODULE, &FreeLibrary>>;

}  // namespace tavro
