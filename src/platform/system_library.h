#pragma once

#include <windows.h>

#include "platform/win_handles.h"

namespace tavro {

// A DLL loaded at run time from the system folder only, so that a missing or disabled
// component (Media Foundation on Windows N editions) is a condition the caller handles
// instead of a program that does not start, and no copy beside the program is picked up.
class SystemLibrary {
public:
    SystemLibrary() = default;

    // Loads `name` (for example L"mfplat.dll") from System32; empty when it cannot be
    // loaded, with the thread's last-error code telling why.
    static SystemLibrary Load(const wchar_t* name) noexcept;

    explicit operator bool() const noexcept { return static_cast<bool>(module_); }
    HMODULE get() const noexcept { return module_.get(); }

    // The exported function `name` as a `Function` pointer; null when absent or not loaded.
    template <class Function>
    Function* Find(const char* name) const noexcept {
        if (!module_) return nullptr;
        // Through void* because GetProcAddress's FARPROC fits no real signature.
        return reinterpret_cast<Function*>(
            reinterpret_cast<void*>(GetProcAddress(module_.get(), name)));
    }

    // Resolves `name` into `function`; false (and `function` null) when it is missing.
    template <class Function>
    bool Resolve(Function*& function, const char* name) const noexcept {
        function = Find<Function>(name);
        return function != nullptr;
    }

private:
    UniqueModule module_;
};

}  // namespace tavro
