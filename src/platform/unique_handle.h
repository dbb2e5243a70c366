#pragma once

#include <utility>

namespace tavro {

// A move-only owner for any handle type; Traits says what is invalid and how to close.
// Traits: `using Handle`, `static Handle Invalid()`, `static bool IsValid(Handle)`,
// `static void Close(Handle)`; Close must keep the thread's last-error code.
template <class Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle h) noexcept : h_(h) {}
    UniqueHandle(UniqueHandle&& o) noexcept : h_(o.release()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        reset(o.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    Handle get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return Traits::IsValid(h_); }
    [[nodiscard]] Handle release() noexcept { return std::exchange(h_, Traits::Invalid()); }
    void reset(Handle h = Traits::Invalid()) noexcept {
        const Handle old = std::exchange(h_, h);
        if (Traits::IsValid(old)) Traits::Close(old);
    }

private:
    Handle h_ = Traits::Invalid();
};

}  // namespace tavro
