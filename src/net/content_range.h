#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tavro::net {

// The three numbers of a Content-Range value "bytes FIRST-LAST/TOTAL".
struct ContentRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::uint64_t total = 0;
};

// Matches the whole value against "bytes ([0-9]+)-([0-9]+)/([0-9]+)" in one pass and
// constant stack (a hostile server may send a header of any length). Nothing when it
// does not match; std::out_of_range "stoull argument out of range" when a number does
// not fit in 64 bits.
std::optional<ContentRange> ParseContentRange(std::wstring_view value);

}  // namespace tavro::net
