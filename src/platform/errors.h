#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace tavro {

// The platform's result code type (HRESULT on Windows, same width everywhere).
using Hresult = std::int32_t;

inline constexpr Hresult kEFail = static_cast<Hresult>(0x80004005);
inline constexpr Hresult kEOutOfMemory = static_cast<Hresult>(0x8007000E);
inline constexpr Hresult kEBounds = static_cast<Hresult>(0x8000000B);
inline constexpr Hresult kEIllegalMethodCall = static_cast<Hresult>(0x8000000E);
inline constexpr Hresult kWebInvalidJsonString = static_cast<Hresult>(0x83750007);
inline constexpr Hresult kWebJsonValueNotFound = static_cast<Hresult>(0x83750009);

// A failed platform call: carries its HRESULT and the platform's text for it.
class PlatformError : public std::exception {
public:
    explicit PlatformError(Hresult code);
    Hresult code() const noexcept { return code_; }
    // The platform's message text for the code; empty when it has none.
    const std::string& message() const noexcept { return message_; }
    // The message text, or "HRESULT 0x........" when the platform has none.
    const char* what() const noexcept override { return what_.c_str(); }

private:
    Hresult code_;
    std::string message_;
    std::string what_;
};

// The platform's message text for an HRESULT (UTF-8, no trailing line end); empty when unknown.
std::string PlatformMessageText(Hresult code);

// Throws the runtime error that carries one of the system's fixed messages.
[[noreturn]] void Fail(const char* message);

[[noreturn]] void ThrowHresult(Hresult code);

inline void ThrowIfFailed(Hresult code) {
    if (code < 0) ThrowHresult(code);
}

// HRESULT_FROM_WIN32 without needing the Windows headers.
constexpr Hresult HresultFromWin32(std::uint32_t error) {
    return static_cast<Hresult>(error) <= 0
               ? static_cast<Hresult>(error)
               : static_cast<Hresult>((error & 0x0000FFFFu) | 0x80070000u);
}

#ifdef _WIN32
// PlatformError(HRESULT_FROM_WIN32(GetLastError())), reading the error first.
[[noreturn]] void ThrowLastError();

inline void ThrowLastErrorIf(bool condition) {
    if (condition) ThrowLastError();
}
#endif

}  // namespace tavro
