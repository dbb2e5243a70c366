#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

namespace tavro::feed {

// A plain major.minor.patch version; every component fits in 32 bits.
struct VersionNumber {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t patch = 0;

    // Major first, then minor, then patch.
    auto operator<=>(const VersionNumber&) const = default;
};

// Parses "N.N.N" (ASCII digits only, leading zeros allowed). Throws "Invalid version"
// for any other form and std::out_of_range "stoul argument out of range" for a
// component above 4294967295.
VersionNumber ParseVersion(std::wstring_view text);

// -1, 0 or +1 as a is lower than, equal to or higher than b; parses a, then b.
int CompareVersions(std::wstring a, std::wstring b);

}  // namespace tavro::feed
