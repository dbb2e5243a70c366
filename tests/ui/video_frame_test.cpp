#include "ui/video_frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace tavro {
namespace {

using Bytes = std::vector<std::uint8_t>;

// BT.709 studio-range colour bars at 100 %, and the 32-bit RGB they stand for.
struct Bar {
    std::uint8_t y, u, v;
    int b, g, r;
};
const Bar kBlack{16, 128, 128, 0, 0, 0}, kWhite{235, 128, 128, 255, 255, 255};
const Bar kRed{63, 102, 240, 0, 0, 255}, kBlue{32, 240, 118, 255, 0, 0};
const Bar kGreen{173, 42, 26, 0, 255, 0}, kGrey{126, 128, 128, 128, 128, 128};
const Bar kBelowRange{0, 128, 128, 0, 0, 0}, kAboveRange{255, 128, 128, 255, 255, 255};

// A 4-pixel-wide NV12 frame: the left two columns one bar, the right two another; rows
// padded to `pitch` with bytes that must never show.
Bytes Nv12(const Bar& left, const Bar& right, std::size_t pitch, std::size_t height) {
    const std::size_t chromaRows = (height + 1) / 2;
    Bytes data(pitch * (height + chromaRows), 0xEE);
    for (std::size_t row = 0; row < height; ++row) {
        data[pitch * row] = data[pitch * row + 1] = left.y;
        data[pitch * row + 2] = data[pitch * row + 3] = right.y;
    }
    for (std::size_t row = 0; row < chromaRows; ++row) {
        std::uint8_t* c = &data[pitch * (height + row)];
        c[0] = left.u, c[1] = left.v, c[2] = right.u, c[3] = right.v;
    }
    return data;
}

TEST(VideoFrame, ConvertsNv12BarsWithPaddedRowsToTopDownRgb) {
    const std::pair<Bar, Bar> pairs[] = {
        {kBlack, kWhite}, {kRed, kBlue}, {kGreen, kGrey}, {kBelowRange, kAboveRange}};
    for (const auto& [left, right] : pairs) {
        for (std::size_t pitch : {4u, 6u, 16u}) {
            for (std::size_t height : {2u, 3u}) {
                const Bytes data = Nv12(left, right, pitch, height);
                Bytes out;
                ASSERT_TRUE(ConvertNv12Frame(data.data(), data.size(), 4, height, out));
                ASSERT_EQ(out.size(), 16 * height);
                for (std::size_t i = 0; i < 4 * height; ++i) {
                    const Bar& bar = i % 4 < 2 ? left : right;
                    const std::uint8_t* p = &out[i * 4];
                    EXPECT_TRUE(std::abs(p[0] - bar.b) <= 2 && std::abs(p[1] - bar.g) <= 2 && std::abs(p[2] - bar.r) <= 2)
                        << "Y " << int(bar.y) << " pitch " << pitch << " height " << height << " pixel " << i;
                }
            }
        }
    }
}

TEST(VideoFrame, RefusesBuffersThatAreNotOneWholeFrame) {
    const Bytes nv12 = Nv12(kBlack, kBlack, 6, 2);
    const Bytes rgb(2 * 8, 0);
    Bytes out;
    EXPECT_FALSE(ConvertNv12Frame(nv12.data(), nv12.size() - 1, 4, 2, out)) << "not a whole number of rows";
    EXPECT_FALSE(ConvertNv12Frame(nv12.data(), nv12.size(), 8, 2, out)) << "rows narrower than the width";
    EXPECT_FALSE(ConvertNv12Frame(nv12.data(), nv12.size(), 0, 2, out)) << "no width";
    EXPECT_FALSE(ConvertNv12Frame(nv12.data(), 0, 4, 2, out)) << "empty";
    EXPECT_FALSE(ConvertNv12Frame(nv12.data(), nv12.size(), kMaxFrameSide + 1, 2, out)) << "absurd width";
    EXPECT_FALSE(CopyRgb32Frame(rgb.data(), rgb.size() - 4, 2, 2, 8, out)) << "too small";
    EXPECT_FALSE(CopyRgb32Frame(rgb.data(), rgb.size(), 3, 2, 8, out)) << "rows narrower than the width";
}

TEST(VideoFrame, CopiesRgb32RowsTopDownWhateverTheStride) {
    struct Case {
        std::size_t pitch;
        bool bottomUp;
        std::int32_t typeStride;
    } cases[] = {{8, false, 8}, {8, true, -8}, {12, false, 8}, {12, true, -8}, {12, false, 0}};
    for (const Case& c : cases) {
        // 2 x 3 pixels; every byte of row r is r + 1.
        Bytes data(c.pitch * 3, 0xEE);
        for (std::size_t r = 0; r < 3; ++r) {
            for (std::size_t i = 0; i < 8; ++i) data[c.pitch * (c.bottomUp ? 2 - r : r) + i] = std::uint8_t(r + 1);
        }
        Bytes out;
        ASSERT_TRUE(CopyRgb32Frame(data.data(), data.size(), 2, 3, c.typeStride, out)) << c.pitch;
        for (std::size_t i = 0; i < 24; ++i) EXPECT_EQ(out[i], i / 8 + 1) << c.pitch << c.bottomUp << " byte " << i;
    }
}

}  // namespace
}  // namespace tavro
