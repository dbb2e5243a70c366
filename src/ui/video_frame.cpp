#include "ui/video_frame.h"

#include <algorithm>
#include <cstring>

namespace tavro {

namespace {

bool FrameSizeUsable(std::uint32_t width, std::uint32_t height) {
    return width > 0 && height > 0 && width <= kMaxFrameSide && height <= kMaxFrameSide;
}

// BT.709, studio range (Y 16-235, U and V 16-240), in 16.16 fixed point.
constexpr int kLuma = 76309;      // 255 / 219
constexpr int kRedFromV = 117489;
constexpr int kGreenFromU = 13975;
constexpr int kGreenFromV = 34925;
constexpr int kBlueFromU = 138438;

std::uint8_t Clamp8(int value) {
    value >>= 16;
    return static_cast<std::uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

}  // namespace

bool CopyRgb32Frame(const std::uint8_t* data, std::size_t length, std::uint32_t width,
                    std::uint32_t height, std::int32_t typeStride, std::vector<std::uint8_t>& out) {
    if (!FrameSizeUsable(width, height) || data == nullptr) return false;
    const std::size_t rowBytes = std::size_t{width} * kFrameBytesPerPixel;
    std::int64_t stride = typeStride;
    if (length % height == 0 && length / height >= rowBytes) {
        // Keep the direction that the type announced; only the padding comes from the buffer.
        const auto pitch = static_cast<std::int64_t>(length / height);
        stride = stride < 0 ? -pitch : pitch;
    }
    const std::uint64_t pitch = stride < 0 ? static_cast<std::uint64_t>(-stride)
                                           : static_cast<std::uint64_t>(stride);
    if (pitch < rowBytes || length < std::uint64_t{height} * pitch) return false;

    out.resize(rowBytes * height);
    const std::uint8_t* row = stride < 0 ? data + pitch * (height - 1) : data;
    for (std::uint32_t y = 0; y < height; ++y) {
        std::memcpy(out.data() + rowBytes * y, row, rowBytes);
        row += stride;
    }
    return true;
}

bool ConvertNv12Frame(const std::uint8_t* data, std::size_t length, std::uint32_t width,
                      std::uint32_t height, std::vector<std::uint8_t>& out) {
    if (!FrameSizeUsable(width, height) || data == nullptr) return false;
    const std::size_t chromaRows = (std::size_t{height} + 1) / 2;
    const std::size_t rows = height + chromaRows;
    if (length == 0 || length % rows != 0) return false;
    const std::size_t pitch = length / rows;
    if (pitch < width + (width & 1)) return false;

    const std::size_t rowBytes = std::size_t{width} * kFrameBytesPerPixel;
    out.resize(rowBytes * height);
    const std::uint8_t* chromaPlane = data + pitch * height;
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* luma = data + pitch * y;
        const std::uint8_t* chroma = chromaPlane + pitch * (y / 2);
        std::uint8_t* target = out.data() + rowBytes * y;
        for (std::uint32_t x = 0; x < width; ++x) {
            const int c = (luma[x] - 16) * kLuma;
            const int u = chroma[x & ~1u] - 128;
            const int v = chroma[(x & ~1u) + 1] - 128;
            target[0] = Clamp8(c + kBlueFromU * u + 0x8000);
            target[1] = Clamp8(c - kGreenFromU * u - kGreenFromV * v + 0x8000);
            target[2] = Clamp8(c + kRedFromV * v + 0x8000);
            target[3] = 0xFF;
            target += kFrameBytesPerPixel;
        }
    }
    return true;
}

}  // namespace tavro
