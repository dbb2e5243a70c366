#include "ui/video_frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <tuple>
#include <vector>

namespace tavro {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint8_t kPadding = 0xEE;  // row padding, which must never show

// BT.709 studio-range colour bars at 100 %, and the 32-bit RGB they stand for.
struct Bar {
    std::uint8_t y, u, v;
    int b, g, r;
};
const Bar kBlack{16, 128, 128, 0, 0, 0}, kWhite{235, 128, 128, 255, 255, 255};
const Bar kRed{63, 102, 240, 0, 0, 255}, kBlue{32, 240, 118, 255, 0, 0};
const Bar kGreen{173, 42, 26, 0, 255, 0}, kGrey{126, 128, 128, 128, 128, 128};
const Bar kBelowRange{0, 128, 128, 0, 0, 0}, kAboveRange{255, 128, 128, 255, 255, 255};

// How a decoder lays out a YUV frame: its layout and row lengths of luma and chroma.
struct Shape {
    const char* name;
    FrameLayout layout;
    std::uint32_t width, height;
    std::size_t pitch, chromaPitch;
};
const Shape kShapes[] = {
    {"NV12", FrameLayout::Nv12, 6, 3, 8, 8},
    {"I420 as Windows pads it", FrameLayout::I420, 10, 3, 16, 8},
    {"I420 as GStreamer pads it", FrameLayout::I420, 10, 3, 12, 8},
};

// A YUV frame of `shape` whose luma is `luma(x, y)` and whose chroma is U and V everywhere.
template <class Luma>
Bytes Yuv(const Shape& shape, Luma luma, std::uint8_t u, std::uint8_t v) {
    const std::size_t chromaHeight = (shape.height + 1) / 2, chromaWidth = (shape.width + 1) / 2;
    const bool nv12 = shape.layout == FrameLayout::Nv12;
    Bytes data(shape.pitch * shape.height + shape.chromaPitch * chromaHeight * (nv12 ? 1 : 2), kPadding);
    for (std::size_t y = 0; y < shape.height; ++y) {
        for (std::size_t x = 0; x < shape.width; ++x) data[shape.pitch * y + x] = luma(x, y);
    }
    std::uint8_t* chroma = data.data() + shape.pitch * shape.height;
    for (std::size_t y = 0; y < chromaHeight; ++y) {
        for (std::size_t x = 0; x < chromaWidth; ++x) {
            if (nv12) {
                chroma[shape.chromaPitch * y + 2 * x] = u, chroma[shape.chromaPitch * y + 2 * x + 1] = v;
            } else {
                chroma[shape.chromaPitch * y + x] = u;
                chroma[shape.chromaPitch * (chromaHeight + y) + x] = v;
            }
        }
    }
    return data;
}

FrameTarget Target(std::uint32_t width, std::uint32_t height, float imageWidth, float imageHeight) {
    return {width, height, imageWidth, imageHeight, {}};
}

// Each pixel blue, green, red, 255 within `tolerance` of the expected colour.
void ExpectPixels(const Bytes& out, const FrameTarget& target, auto expected, int tolerance) {
    ASSERT_EQ(out.size(), std::size_t{target.width} * target.height * 4);
    for (std::uint32_t i = 0; i < target.width * target.height; ++i) {
        const std::uint8_t* p = &out[i * 4];
        const auto [b, g, r] = expected(i % target.width, i / target.width);
        EXPECT_TRUE(std::abs(p[0] - b) <= tolerance && std::abs(p[1] - g) <= tolerance &&
                    std::abs(p[2] - r) <= tolerance && p[3] == 255)
            << "pixel " << i % target.width << "," << i / target.width << ": " << int(p[0]) << " " << int(p[1]) << " "
            << int(p[2]) << " " << int(p[3]) << ", not " << b << " " << g << " " << r;
    }
}

TEST(FrameScaler, FlatYuvFramesKeepTheirColourAtEverySizeAndNoPaddingShows) {
    for (const Shape& shape : kShapes) {
        for (const Bar& bar : {kBlack, kWhite, kRed, kBlue, kGreen, kGrey, kBelowRange, kAboveRange}) {
            const Bytes data = Yuv(shape, [&](std::size_t, std::size_t) { return bar.y; }, bar.u, bar.v);
            const DecodedFrame frame{shape.layout, data.data(), data.size(), shape.width, shape.height, 0};
            const float w = static_cast<float>(shape.width), h = static_cast<float>(shape.height);
            // Its own size, half, one and a half times, and a last row and column past the picture.
            for (const FrameTarget& target : {NaturalSize(shape.width, shape.height), Target(5, 2, w / 2, h / 2),
                                              Target(15, 5, w * 1.5f, h * 1.5f), Target(7, 3, 6.5f, 2.5f)}) {
                SCOPED_TRACE(testing::Message() << shape.name << " Y " << int(bar.y) << " into " << target.width << "x"
                                                << target.height);
                Bytes out;
                ASSERT_TRUE(ScaleFrame(frame, target, out));
                ExpectPixels(out, target, [&](std::uint32_t, std::uint32_t) { return std::tuple{bar.b, bar.g, bar.r}; },
                             2);
            }
        }
    }
}

TEST(FrameScaler, HalfSizeAveragesEachBlockOfLuma) {
    for (Shape shape : kShapes) {
        SCOPED_TRACE(shape.name);
        shape.height = 2;
        // Black and white columns: every 2 x 2 block holds two of each, (16 + 235) / 2 = 125.5.
        const Bytes data = Yuv(shape, [](std::size_t x, std::size_t) { return x % 2 ? 235 : 16; }, 128, 128);
        const DecodedFrame frame{shape.layout, data.data(), data.size(), shape.width, 2, 0};
        const FrameTarget target = Target(shape.width / 2, 1, shape.width / 2.0f, 1.0f);
        Bytes out;
        ASSERT_TRUE(ScaleFrame(frame, target, out));
        ExpectPixels(out, target, [](std::uint32_t, std::uint32_t) { return std::tuple{128, 128, 128}; }, 1);
    }
}

TEST(FrameScaler, Rgb32ExactResults) {
    // Rows of 4-byte pixels; `pitch` bytes apart in memory, bottom row first when bottomUp.
    struct Case {
        const char* name;
        std::uint32_t width, height;
        std::vector<int> values;  // one per pixel, for all three colours
        std::size_t pitch;
        bool bottomUp;
        std::int32_t typeStride;
        FrameTarget target;
        std::vector<int> expected;
    } cases[] = {
        {"copy", 2, 3, {1, 2, 3, 4, 5, 6}, 8, false, 8, NaturalSize(2, 3), {1, 2, 3, 4, 5, 6}},
        {"copy of bottom-up rows", 2, 3, {1, 2, 3, 4, 5, 6}, 8, true, -8, NaturalSize(2, 3), {1, 2, 3, 4, 5, 6}},
        {"copy of padded rows", 2, 3, {1, 2, 3, 4, 5, 6}, 12, false, 8, NaturalSize(2, 3), {1, 2, 3, 4, 5, 6}},
        {"padded bottom-up rows", 2, 3, {1, 2, 3, 4, 5, 6}, 12, true, -8, NaturalSize(2, 3), {1, 2, 3, 4, 5, 6}},
        {"no stride in the type", 2, 3, {1, 2, 3, 4, 5, 6}, 12, false, 0, NaturalSize(2, 3), {1, 2, 3, 4, 5, 6}},
        // (10 + 20 + 30 + 41) / 4 = 25.25 and (200 + 201 + 202 + 203) / 4 = 201.5, rounded.
        {"half size averages 2 x 2", 4, 2, {10, 20, 200, 201, 30, 41, 202, 203}, 16, false, 16,
         Target(2, 1, 2, 1), {25, 202}},
        // Centres at -0.25, 0.25, 0.75 and 1.25 source pixels: the edges repeat.
        {"twice the size, edges held", 2, 1, {0, 255}, 8, false, 8, Target(4, 1, 4, 1), {0, 64, 191, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes data(c.pitch * c.height, kPadding);
        for (std::size_t i = 0; i < c.values.size(); ++i) {
            const std::size_t row = i / c.width, column = i % c.width;
            std::uint8_t* p = &data[c.pitch * (c.bottomUp ? c.height - 1 - row : row) + 4 * column];
            p[0] = p[1] = p[2] = static_cast<std::uint8_t>(c.values[i]);
            p[3] = 0;
        }
        Bytes out;
        ASSERT_TRUE(ScaleFrame({FrameLayout::Rgb32, data.data(), data.size(), c.width, c.height, c.typeStride},
                               c.target, out));
        ExpectPixels(out, c.target, [&](std::uint32_t x, std::uint32_t y) {
            const int v = c.expected[y * c.target.width + x];
            return std::tuple{v, v, v};
        }, 0);
    }
}

TEST(FrameScaler, PictureAreaIsTheApertureOnlyWhenItLiesInsideTheFrame) {
    const struct {
        FrameArea aperture, expected;
    } cases[] = {
        {{}, {0, 0, 1184, 720}},                        // none given
        {{0, 0, 1170, 720}, {0, 0, 1170, 720}},         // macroblock padding at the right
        {{8, 4, 1168, 716}, {8, 4, 1168, 716}},         // reaching the far corner exactly
        {{16, 0, 1170, 720}, {0, 0, 1184, 720}},        // would read past the right edge
        {{0, 0, 1170, 0}, {0, 0, 1184, 720}},           // empty
        {{1184, 0, 1, 720}, {0, 0, 1184, 720}},         // starts outside
        {{0, 0xFFFFFFF0u, 10, 32}, {0, 0, 1184, 720}},  // an offset that would wrap around
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PictureArea(1184, 720, c.aperture), c.expected) << c.aperture.x << "," << c.aperture.y << " "
                                                                  << c.aperture.width << "x" << c.aperture.height;
    }
}

TEST(FrameScaler, OnlyThePictureInsideTheApertureShows) {
    // Coded 8 x 4 with white padding around a black picture: NV12 padded at the right, I420
    // around a picture at 2, 2 (whole chroma blocks), RGB32 at an odd column.
    const Shape nv12{"NV12", FrameLayout::Nv12, 8, 4, 8, 8}, i420{"I420", FrameLayout::I420, 8, 4, 8, 4};
    const struct {
        const Shape& shape;
        FrameArea picture;
    } cases[] = {{nv12, {0, 0, 6, 4}}, {i420, {2, 2, 4, 2}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shape.name);
        const FrameArea& p = c.picture;
        const auto inside = [&](std::size_t x, std::size_t y) { return x >= p.x && x < p.x + p.width && y >= p.y && y < p.y + p.height; };
        const Bytes data = Yuv(c.shape, [&](std::size_t x, std::size_t y) { return inside(x, y) ? 16 : 235; }, 128, 128);
        DecodedFrame frame{c.shape.layout, data.data(), data.size(), c.shape.width, c.shape.height, 0};
        frame.picture = p;
        Bytes out;
        ASSERT_TRUE(ScaleFrame(frame, NaturalSize(p.width, p.height), out));
        ExpectPixels(out, NaturalSize(p.width, p.height), [](std::uint32_t, std::uint32_t) { return std::tuple{0, 0, 0}; }, 0);
    }
    const Bytes rgb = {9, 9, 9, 0, 1, 1, 1, 0, 2, 2, 2, 0, 9, 9, 9, 0,  // padding at both ends of each row
                       9, 9, 9, 0, 3, 3, 3, 0, 4, 4, 4, 0, 9, 9, 9, 0};
    DecodedFrame frame{FrameLayout::Rgb32, rgb.data(), rgb.size(), 4, 2, 16};
    frame.picture = {1, 0, 2, 2};
    Bytes out;
    ASSERT_TRUE(ScaleFrame(frame, NaturalSize(2, 2), out));
    ExpectPixels(out, NaturalSize(2, 2), [](std::uint32_t x, std::uint32_t y) {
        const int v = static_cast<int>(1 + x + 2 * y);
        return std::tuple{v, v, v};
    }, 0);
}

TEST(FrameScaler, WhiteIsBlendedOverEachRow) {
    const Bytes data = {0, 100, 200, 0};  // one pixel: blue 0, green 100, red 200
    FrameTarget target = Target(1, 3, 1, 3);
    target.white = {0, 128, 255};
    Bytes out;
    ASSERT_TRUE(ScaleFrame({FrameLayout::Rgb32, data.data(), data.size(), 1, 1, 4}, target, out));
    // c + (255 - c) x 128 / 255, rounded.
    ExpectPixels(out, target, [](std::uint32_t, std::uint32_t y) {
        return y == 0 ? std::tuple{0, 100, 200} : y == 1 ? std::tuple{128, 178, 228} : std::tuple{255, 255, 255};
    }, 0);
}

TEST(FrameScaler, RefusesBuffersThatAreNotOneWholeFrameAndUnusableTargets) {
    const Shape& nv12 = kShapes[0];
    const Bytes yuv = Yuv(nv12, [](std::size_t, std::size_t) { return 16; }, 128, 128);
    const Bytes rgb(2 * 8, 0);
    const FrameTarget natural = NaturalSize(6, 3);
    FrameTarget wrongWhite = natural;
    wrongWhite.white = {0, 0};
    const struct {
        const char* name;
        DecodedFrame frame;
        FrameTarget target;
    } cases[] = {
        {"not a whole number of rows", {FrameLayout::Nv12, yuv.data(), yuv.size() - 1, 6, 3, 0}, natural},
        {"rows narrower than the width", {FrameLayout::Nv12, yuv.data(), yuv.size(), 10, 3, 0}, natural},
        {"no width", {FrameLayout::Nv12, yuv.data(), yuv.size(), 0, 3, 0}, natural},
        {"empty", {FrameLayout::Nv12, yuv.data(), 0, 6, 3, 0}, natural},
        {"absurd width", {FrameLayout::Nv12, yuv.data(), yuv.size(), kMaxFrameSide + 1, 3, 0}, natural},
        {"I420 of neither padding", {FrameLayout::I420, yuv.data(), yuv.size() - 2, 6, 3, 0}, natural},
        {"RGB too small", {FrameLayout::Rgb32, rgb.data(), rgb.size() - 4, 2, 2, 8}, NaturalSize(2, 2)},
        {"RGB rows narrower than the width", {FrameLayout::Rgb32, rgb.data(), rgb.size(), 3, 2, 8}, NaturalSize(3, 2)},
        {"no target", {FrameLayout::Nv12, yuv.data(), yuv.size(), 6, 3, 0}, FrameTarget{}},
        {"a picture of no extent", {FrameLayout::Nv12, yuv.data(), yuv.size(), 6, 3, 0}, Target(6, 3, 0, 3)},
        {"white for other rows", {FrameLayout::Nv12, yuv.data(), yuv.size(), 6, 3, 0}, wrongWhite},
    };
    for (const auto& c : cases) {
        Bytes out;
        EXPECT_FALSE(ScaleFrame(c.frame, c.target, out)) << c.name;
    }
}

}  // namespace
}  // namespace tavro
