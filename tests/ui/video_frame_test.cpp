#include "ui/video_frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace tavro {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Yuv {
    std::uint8_t y, u, v;
};
struct Bgr {
    int b, g, r;
};

// A 4 x 2 NV12 frame whose left two columns have one colour and right two another, with
// `pitch` bytes a row and 0xEE in the padding (which must never show).
Bytes Nv12(Yuv left, Yuv right, std::size_t pitch) {
    Bytes data(pitch * 3, 0xEE);
    for (std::size_t row = 0; row < 2; ++row) {
        data[pitch * row + 0] = data[pitch * row + 1] = left.y;
        data[pitch * row + 2] = data[pitch * row + 3] = right.y;
    }
    std::uint8_t* chroma = data.data() + pitch * 2;
    chroma[0] = left.u, chroma[1] = left.v, chroma[2] = right.u, chroma[3] = right.v;
    return data;
}

// Reference values of BT.709 studio-range colour bars (100 %).
struct Nv12Case {
    const char* name;
    Yuv left;
    Yuv right;
    Bgr leftExpected;
    Bgr rightExpected;
};

const Nv12Case kNv12Cases[] = {
    {"black and white", {16, 128, 128}, {235, 128, 128}, {0, 0, 0}, {255, 255, 255}},
    {"red and blue", {63, 102, 240}, {32, 240, 118}, {0, 0, 255}, {255, 0, 0}},
    {"green and mid grey", {173, 42, 26}, {126, 128, 128}, {0, 255, 0}, {128, 128, 128}},
    {"below and above studio range clamp", {0, 128, 128}, {255, 128, 128}, {0, 0, 0}, {255, 255, 255}},
};

void ExpectPixel(const Bytes& frame, std::size_t index, Bgr expected, const char* name) {
    const std::uint8_t* p = frame.data() + index * kFrameBytesPerPixel;
    EXPECT_LE(std::abs(p[0] - expected.b), 2) << name << " pixel " << index;
    EXPECT_LE(std::abs(p[1] - expected.g), 2) << name << " pixel " << index;
    EXPECT_LE(std::abs(p[2] - expected.r), 2) << name << " pixel " << index;
}

TEST(VideoFrame, ConvertsNv12WithPaddedRowsToTopDownRgb) {
    for (const Nv12Case& c : kNv12Cases) {
        for (std::size_t pitch : {4u, 6u, 16u}) {
            const Bytes data = Nv12(c.left, c.right, pitch);
            Bytes out;
            ASSERT_TRUE(ConvertNv12Frame(data.data(), data.size(), 4, 2, out)) << c.name;
            ASSERT_EQ(out.size(), 4u * 4 * 2);
            for (std::size_t row = 0; row < 2; ++row) {
                ExpectPixel(out, row * 4 + 0, c.leftExpected, c.name);
                ExpectPixel(out, row * 4 + 1, c.leftExpected, c.name);
                ExpectPixel(out, row * 4 + 2, c.rightExpected, c.name);
                ExpectPixel(out, row * 4 + 3, c.rightExpected, c.name);
            }
        }
    }
}

TEST(VideoFrame, ConvertsOddSizesWithTheirLastHalfChromaSample) {
    // 3 x 3: two luma rows share the first chroma row, the third has a row of its own.
    const std::size_t pitch = 4;
    Bytes data(pitch * (3 + 2), 0);
    for (std::size_t i = 0; i < pitch * 3; ++i) data[i] = 235;
    const std::uint8_t rows[2][4] = {{128, 128, 128, 128}, {102, 240, 102, 240}};
    for (int r = 0; r < 2; ++r)
        for (int i = 0; i < 4; ++i) data[pitch * (3 + r) + i] = rows[r][i];
    Bytes out;
    ASSERT_TRUE(ConvertNv12Frame(data.data(), data.size(), 3, 3, out));
    ExpectPixel(out, 2, {255, 255, 255}, "first row, last column");
    const std::uint8_t* last = out.data() + 8 * kFrameBytesPerPixel;
    EXPECT_LT(last[0], 215) << "third row takes the second chroma row";
    EXPECT_LT(last[1], 215);
    EXPECT_EQ(last[2], 255);
}

TEST(VideoFrame, RefusesBuffersThatAreNotOneWholeFrame) {
    const Bytes good = Nv12({16, 128, 128}, {16, 128, 128}, 6);
    struct Case {
        const char* name;
        std::size_t length;
        std::uint32_t width, height;
    } cases[] = {
        {"length not a whole number of rows", good.size() - 1, 4, 2},
        {"rows narrower than the width", good.size(), 8, 2},
        {"zero width", good.size(), 0, 2},
        {"zero height", good.size(), 4, 0},
        {"empty buffer", 0, 4, 2},
        {"absurd width", good.size(), kMaxFrameSide + 1, 2},
    };
    for (const Case& c : cases) {
        Bytes out;
        EXPECT_FALSE(ConvertNv12Frame(good.data(), c.length, c.width, c.height, out)) << c.name;
    }
}

TEST(VideoFrame, CopiesRgb32RowsTopDownWhateverTheStride) {
    // 2 x 3 frame, every byte of row r is r + 1; rows padded to `pitch` with 0xEE.
    auto buffer = [](std::size_t pitch, bool bottomUp) {
        Bytes data(pitch * 3, 0xEE);
        for (std::size_t r = 0; r < 3; ++r) {
            const std::size_t storedRow = bottomUp ? 2 - r : r;
            for (std::size_t i = 0; i < 8; ++i) data[pitch * storedRow + i] = static_cast<std::uint8_t>(r + 1);
        }
        return data;
    };
    struct Case {
        const char* name;
        std::size_t pitch;
        bool bottomUp;
        std::int32_t typeStride;
    } cases[] = {
        {"top-down, exact", 8, false, 8},
        {"bottom-up, exact", 8, true, -8},
        {"top-down, rows padded beyond the stated stride", 12, false, 8},
        {"bottom-up, rows padded beyond the stated stride", 12, true, -8},
    };
    for (const Case& c : cases) {
        const Bytes data = buffer(c.pitch, c.bottomUp);
        Bytes out;
        ASSERT_TRUE(CopyRgb32Frame(data.data(), data.size(), 2, 3, c.typeStride, out)) << c.name;
        ASSERT_EQ(out.size(), 24u) << c.name;
        for (std::size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i], i / 8 + 1) << c.name << " byte " << i;
    }
    const Bytes short_ = buffer(8, false);
    Bytes out;
    EXPECT_FALSE(CopyRgb32Frame(short_.data(), short_.size() - 4, 2, 3, 8, out)) << "too small";
    EXPECT_FALSE(CopyRgb32Frame(short_.data(), short_.size(), 3, 3, 8, out)) << "rows narrower than the width";
}

}  // namespace
}  // namespace tavro
