#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavro::feed {

// Scheme numbers as the platform URL parser reports them.
inline constexpr int kSchemeHttp = 1;
inline constexpr int kSchemeHttps = 2;

// The parts of a URL as the platform URL parser (WinHttpCrackUrl, no flags) splits it.
struct CrackedUrl {
    int scheme = 0;
    std::uint16_t port = 0;
    std::wstring host;
    std::size_t userNameLength = 0;
    std::size_t passwordLength = 0;
    std::wstring path;
    std::wstring extra;
};

// Splits the URL (up to its first NUL, as the parser reads it); nothing when the
// parser refuses it. The Windows build asks WinHttpCrackUrl; elsewhere a portable
// twin gives the same answers.
std::optional<CrackedUrl> CrackUrl(std::wstring_view url);

}  // namespace tavro::feed
