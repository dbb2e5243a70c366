#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace tavro {

// Bytes as lower-case hexadecimal text, two digits per byte, high nibble first.
std::wstring ToLowerHex(std::span<const std::uint8_t> bytes);

}  // namespace tavro
