#pragma once

#include <windows.h>

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

struct LocalMemoryTraits {
    using Handle = void*;
    static Handle Invalid() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) {
        LastErrorKeeper keep;
        LocalFree(h);
    }
};

}  // namespace detail

// A process, thread, event or other kernel object (null when empty).
using UniqueKernelHandle = UniqueHandle<detail::KernelHandleTraits>;
// A file from CreateFileW (INVALID_HANDLE_VALUE when empty).
using UniqueFile = UniqueHandle<detail::FileHandleTraits>;
// Memory the system allocated with LocalAlloc for the caller.
using UniqueLocalMemory = UniqueHandle<detail::LocalMemoryTraits>;

}  // namespace tavro
