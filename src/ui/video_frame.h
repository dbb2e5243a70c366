#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavro {

// A published video frame is top-down rows of width x 4 bytes: blue, green, red, unused
// (the 32-bit RGB layout that GDI+ draws as PixelFormat32bppRGB).
inline constexpr std::uint32_t kFrameBytesPerPixel = 4;

// Frame sizes beyond this are refused rather than allocated: they come from the media type
// of an untrusted-looking clip, not from the shipped ones.
inline constexpr std::uint32_t kMaxFrameSide = 8192;

// Copies one RGB32 frame of `length` bytes into `out` as top-down rows. `typeStride` is the
// media type's stride (negative: bottom-up); when `length` divides into `height` rows of at
// least width x 4 bytes, that row length wins, since decoders pad rows without saying so.
// False when the buffer is too small for the frame.
bool CopyRgb32Frame(const std::uint8_t* data, std::size_t length, std::uint32_t width,
                    std::uint32_t height, std::int32_t typeStride, std::vector<std::uint8_t>& out);

// Converts one NV12 frame (a luma plane, then a half-height plane of interleaved U and V,
// both with the same padded row length) into top-down 32-bit RGB rows in `out`, with the
// BT.709 studio-range matrix of HD video. The row length is taken from the buffer itself:
// `length` / (height + ceil(height / 2)), which must divide exactly and hold the width.
// False when the buffer does not have that shape.
bool ConvertNv12Frame(const std::uint8_t* data, std::size_t length, std::uint32_t width,
                      std::uint32_t height, std::vector<std::uint8_t>& out);

}  // namespace tavro
