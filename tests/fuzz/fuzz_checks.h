#pragma once

// Shared by the fuzz targets: how an input becomes wide text, and how a broken property
// ends the run as a crash that libFuzzer records.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>

namespace tavro::fuzz {

// The input as UTF-16 code units, two bytes each, little-endian; an odd last byte is
// dropped. This reaches every unit Windows can hand over, lone surrogates and NUL included.
inline std::wstring Utf16Of(const std::uint8_t* data, std::size_t size) {
    std::wstring text;
    text.reserve(size / 2);
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    }
    return text;
}

inline std::string_view BytesOf(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

inline void Require(bool holds, const char* property) {
    if (holds) return;
    std::fprintf(stderr, "property broken: %s\n", property);
    std::abort();
}

// A refusal must carry one of the messages the operation is documented to raise.
inline void RequireMessage(const std::exception& e, std::initializer_list<std::string_view> messages) {
    for (const std::string_view message : messages) {
        if (message == e.what()) return;
    }
    std::fprintf(stderr, "undocumented failure: %s\n", e.what());
    std::abort();
}

}  // namespace tavro::fuzz
