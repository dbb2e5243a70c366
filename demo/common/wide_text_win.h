#pragma once

#include <string>
#include <string_view>

namespace tavro::demo {

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD, so the result is always valid UTF-8.
std::string ToUtf8(std::wstring_view text);

// UTF-8 to UTF-16; malformed bytes become U+FFFD.
std::wstring ToWide(std::string_view text);

}  // namespace tavro::demo
