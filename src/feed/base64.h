#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace tavro::feed {

// Decodes standard Base64 (RFC 4648 alphabet, "=" padding); throws "Invalid base64".
std::vector<std::uint8_t> DecodeBase64(std::wstring_view text);

}  // namespace tavro::feed
