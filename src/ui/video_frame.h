#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavro {

// A published video frame is top-down rows of width x 4 bytes: blue, green, red, 255
// (the 32-bit layout that a top-down DIB and GDI+'s PixelFormat32bppRGB both take).
inline constexpr std::uint32_t kFrameBytesPerPixel = 4;

// Frame sizes beyond this are refused rather than allocated: they come from the media type
// of an untrusted-looking clip, not from the shipped ones.
inline constexpr std::uint32_t kMaxFrameSide = 8192;

// The picture that a decoded frame is scaled into: `width` x `height` pixels, of which the
// clip's whole frame spans `imageWidth` x `imageHeight` from the top-left corner (a last
// row or column that reaches past it repeats the frame's edge). `white` is empty or holds,
// for each row, how much white lies over it: 0 none, 255 all.
struct FrameTarget {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    float imageWidth = 0.0f;
    float imageHeight = 0.0f;
    std::vector<std::uint8_t> white;
    friend bool operator==(const FrameTarget&, const FrameTarget&) = default;
};

// The frame at its own size with nothing over it.
FrameTarget NaturalSize(std::uint32_t width, std::uint32_t height);

enum class FrameLayout {
    // Rows of width x 4 bytes, `stride` apart; a negative stride means bottom-up rows.
    Rgb32,
    // A luma plane, then a half-height plane of interleaved U and V, both with the same
    // padded row length, which is taken from the buffer itself:
    // length / (height + ceil(height / 2)) must divide exactly and hold the width.
    Nv12,
    // A luma plane, then half-width, half-height U and V planes. Rows are padded as Windows
    // pads them (chroma rows half as long as luma rows, found as for NV12) or else each to
    // a multiple of 4 bytes, as GStreamer pads them under Wine.
    I420,
};

// A rectangle of a decoded frame, in pixels; a width of 0 stands for the whole frame.
struct FrameArea {
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    friend bool operator==(const FrameArea&, const FrameArea&) = default;
};

// One frame as the decoder hands it over.
struct DecodedFrame {
    FrameLayout layout = FrameLayout::Rgb32;
    const std::uint8_t* data = nullptr;
    std::size_t length = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    // Rgb32: the media type's stride. When `length` divides into `height` rows of at least
    // width x 4 bytes, that row length wins (decoders pad rows without saying so), in the
    // direction the type announced.
    std::int32_t stride = 0;
    // The picture inside the decoded size: a decoder may decode to a whole number of
    // macroblocks (1184 columns for a 1170-wide clip) and name the shown part by its display
    // aperture; the columns and rows outside it are padding and must never be shown.
    FrameArea picture{};
};

// The part of a `width` x `height` frame that is the picture: `aperture` when it names a
// non-empty rectangle inside the frame, else the whole frame.
FrameArea PictureArea(std::uint32_t width, std::uint32_t height, const FrameArea& aperture);

// Scales the picture of `frame` (PictureArea) into `out` as target.width x target.height
// top-down rows of the published layout: bilinear, with pixel centres at +0.5 in both pictures, so that the same size
// copies exactly and half the size averages each 2 x 2 block; NV12 and I420 are converted
// with the BT.709 studio-range matrix of HD video, their chroma taken as a half-size
// picture centred on each 2 x 2 block of luma. Then each row's white is blended over it. False when the
// buffer does not hold one whole frame of its shape or either size is unusable.
bool ScaleFrame(const DecodedFrame& frame, const FrameTarget& target, std::vector<std::uint8_t>& out);

}  // namespace tavro
