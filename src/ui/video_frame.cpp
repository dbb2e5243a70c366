#include "ui/video_frame.h"

#include <emmintrin.h>  // SSE2, part of every x86-64 processor

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tavro {

namespace {

bool SizeUsable(std::uint32_t width, std::uint32_t height) {
    return width > 0 && height > 0 && width <= kMaxFrameSide && height <= kMaxFrameSide;
}

// BT.709, studio range (Y 16-235, U and V 16-240), in 3.13 fixed point so that a pair of
// terms fits one 16-bit multiply-add.
constexpr short kLuma = 9539;  // 255 / 219
constexpr short kRedFromV = 14686;
constexpr short kGreenFromU = 1747;
constexpr short kGreenFromV = 4366;
constexpr short kBlueFromU = 17305;
constexpr int kColourShift = 13;

// Weights are of 128, so that a row blended down fits a signed 16-bit lane and a pixel's
// two neighbours, side by side, go through one multiply-add.
constexpr std::uint32_t kOne = 128;
constexpr int kShift = 14;  // two blends of 128

std::uint32_t Weights(std::uint32_t weight) {
    return (kOne - weight) | weight << 16;
}

// One axis of the target: for each pixel its first source neighbour (an index into a row,
// or a row number; the second is the next one) and the pair of weights. Padded to a whole
// number of groups of four with copies of the last pixel.
struct Axis {
    std::vector<std::uint32_t> first;
    std::vector<std::uint32_t> weights;
};

// Target pixel i's centre lies at (i + 0.5) x ratio - 0.5 in the source, held inside it;
// the last source pixel is read with weight 0 beside a copy of itself.
Axis MakeAxis(std::uint32_t count, std::uint32_t sourceCount, double ratio, std::uint32_t step) {
    Axis axis;
    const std::size_t padded = (std::size_t{count} + 3) / 4 * 4;
    axis.first.reserve(padded);
    axis.weights.reserve(padded);
    const double last = sourceCount - 1.0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const double position = std::clamp((i + 0.5) * ratio - 0.5, 0.0, last);
        auto first = static_cast<std::uint32_t>(position);
        auto weight = static_cast<std::uint32_t>(std::lround((position - first) * kOne));
        if (weight == kOne) {
            ++first;
            weight = 0;
        }
        axis.first.push_back(first * step);
        axis.weights.push_back(Weights(weight));
    }
    axis.first.resize(padded, axis.first.back());
    axis.weights.resize(padded, axis.weights.back());
    return axis;
}

std::uint32_t Second(std::uint32_t row, std::uint32_t weights, std::uint32_t count) {
    return (weights >> 16) == 0 ? row : std::min(row + 1, count - 1);
}

__m128i Load64(const void* p) {
    return _mm_loadl_epi64(static_cast<const __m128i*>(p));
}

__m128i Load32(const void* p) {
    int value;
    std::memcpy(&value, p, sizeof value);
    return _mm_cvtsi32_si128(value);
}

// Sums of 128^2 times the value, rounded back to the value.
__m128i Unscale(__m128i sums) {
    return _mm_srai_epi32(_mm_add_epi32(sums, _mm_set1_epi32(1 << (kShift - 1))), kShift);
}

// Two source rows blended into 128 times the value; the `step` entries after `count`
// repeat the last pixel, the right neighbour of the last one.
void BlendRows(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t weights, std::size_t count,
               std::size_t step, std::uint16_t* out) {
    const std::uint32_t keep = weights & 0xFFFF;
    const std::uint32_t weight = weights >> 16;
    const __m128i keepLanes = _mm_set1_epi16(static_cast<short>(keep));
    const __m128i weightLanes = _mm_set1_epi16(static_cast<short>(weight));
    const __m128i zero = _mm_setzero_si128();
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        const __m128i low = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(va, zero), keepLanes),
                                          _mm_mullo_epi16(_mm_unpacklo_epi8(vb, zero), weightLanes));
        const __m128i high = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(va, zero), keepLanes),
                                           _mm_mullo_epi16(_mm_unpackhi_epi8(vb, zero), weightLanes));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), low);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), high);
    }
    for (; i < count; ++i) out[i] = static_cast<std::uint16_t>(a[i] * keep + b[i] * weight);
    for (std::size_t k = 0; k < step; ++k) out[count + k] = out[count - step + k];
}

// Four pixels, each of one 32-bit lane 0..255 per colour, as blue, green, red, 255.
__m128i PackPixels(__m128i blue, __m128i green, __m128i red) {
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(blue, green), _mm_packs_epi32(red, _mm_set1_epi32(255)));
    const __m128i blueGreen = _mm_unpacklo_epi8(bytes, _mm_srli_si128(bytes, 4));
    const __m128i redOpaque = _mm_unpacklo_epi8(_mm_srli_si128(bytes, 8), _mm_srli_si128(bytes, 12));
    return _mm_unpacklo_epi16(blueGreen, redOpaque);
}

// Writes groups of four pixels; the last, partial group goes through `spare`.
class RowWriter {
public:
    RowWriter(std::uint8_t* row, std::uint32_t width) : row_(row), width_(width) {}
    void Put(std::uint32_t x, __m128i pixels) {
        if (x + 4 <= width_) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(row_ + std::size_t{x} * kFrameBytesPerPixel), pixels);
            return;
        }
        alignas(16) std::uint8_t spare[16];
        _mm_store_si128(reinterpret_cast<__m128i*>(spare), pixels);
        std::memcpy(row_ + std::size_t{x} * kFrameBytesPerPixel, spare, (width_ - x) * kFrameBytesPerPixel);
    }

private:
    std::uint8_t* row_;
    std::uint32_t width_;
};

// Rows of one plane, top down whatever the order in memory.
struct Plane {
    const std::uint8_t* top;
    std::int64_t stride;
    const std::uint8_t* Row(std::uint32_t index) const { return top + stride * static_cast<std::int64_t>(index); }
};

void ScaleRgb32(const Plane& plane, const DecodedFrame& frame, const FrameTarget& target, std::uint8_t* out) {
    const Axis across = MakeAxis(target.width, frame.width, frame.width / double{target.imageWidth}, 4);
    const Axis down = MakeAxis(target.height, frame.height, frame.height / double{target.imageHeight}, 1);
    std::vector<std::uint16_t> row(std::size_t{frame.width} * 4 + 4);
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    for (std::uint32_t y = 0; y < target.height; ++y) {
        const std::uint32_t top = down.first[y];
        BlendRows(plane.Row(top), plane.Row(Second(top, down.weights[y], frame.height)), down.weights[y],
                  std::size_t{frame.width} * 4, 4, row.data());
        RowWriter writer(out + std::size_t{target.width} * kFrameBytesPerPixel * y, target.width);
        for (std::uint32_t x = 0; x < target.width; x += 4) {
            __m128i sums[4];
            for (int i = 0; i < 4; ++i) {
                const std::uint16_t* left = row.data() + across.first[x + i];
                // The four channels of both neighbours, paired channel by channel.
                const __m128i pairs = _mm_unpacklo_epi16(Load64(left), Load64(left + 4));
                sums[i] = Unscale(_mm_madd_epi16(pairs, _mm_set1_epi32(static_cast<int>(across.weights[x + i]))));
            }
            const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(sums[0], sums[1]), _mm_packs_epi32(sums[2], sums[3]));
            writer.Put(x, _mm_or_si128(bytes, opaque));
        }
    }
}

// A frame of luma and half-size chroma: U and V side by side in one plane (NV12) or each
// in a plane of its own (I420).
struct YuvPlanes {
    const std::uint8_t* luma;
    std::size_t lumaPitch;
    const std::uint8_t* u;
    const std::uint8_t* v;
    std::size_t chromaPitch;
};

template <bool kInterleaved>
void ScaleYuv(const YuvPlanes& planes, const DecodedFrame& frame, const FrameTarget& target, std::uint8_t* out) {
    const std::uint32_t chromaWidth = (frame.width + 1) / 2;
    const std::uint32_t chromaHeight = (frame.height + 1) / 2;
    const double across = frame.width / double{target.imageWidth};
    const double down = frame.height / double{target.imageHeight};
    const Axis lumaAcross = MakeAxis(target.width, frame.width, across, 1);
    const Axis lumaDown = MakeAxis(target.height, frame.height, down, 1);
    // Each chroma sample sits at the centre of its 2 x 2 block of luma.
    const Axis chromaAcross = MakeAxis(target.width, chromaWidth, across / 2, kInterleaved ? 2 : 1);
    const Axis chromaDown = MakeAxis(target.height, chromaHeight, down / 2, 1);
    std::vector<std::uint16_t> luma(std::size_t{frame.width} + 1);
    // Interleaved: U and V in one row; else U, then V one row further on.
    const std::size_t chromaRow = std::size_t{chromaWidth} * (kInterleaved ? 2 : 1) + (kInterleaved ? 2 : 1);
    std::vector<std::uint16_t> chroma(chromaRow * (kInterleaved ? 1 : 2));
    const std::uint16_t* const u = chroma.data();
    const std::uint16_t* const v = kInterleaved ? u + 1 : u + chromaRow;

    const __m128i chromaOffset = _mm_set1_epi16(128);
    const __m128i lumaFactor = _mm_set1_epi32(kLuma);
    const __m128i redFactors = _mm_set1_epi32(kRedFromV << 16);
    const __m128i blueFactors = _mm_set1_epi32(kBlueFromU);
    const __m128i greenFactors = _mm_set1_epi32(static_cast<int>(static_cast<std::uint16_t>(-kGreenFromU) |
                                                                 static_cast<std::uint32_t>(-kGreenFromV) << 16));
    const __m128i round = _mm_set1_epi32(1 << (kColourShift - 1));
    const auto colour = [&](__m128i sum) { return _mm_srai_epi32(_mm_add_epi32(sum, round), kColourShift); };
    // U and V of a pixel's two chroma neighbours as U U V V, for one multiply-add.
    const auto neighbours = [&](std::uint32_t x) {
        const std::uint32_t first = chromaAcross.first[x];
        if constexpr (kInterleaved) return _mm_shufflelo_epi16(Load64(u + first), _MM_SHUFFLE(3, 1, 2, 0));
        else return _mm_unpacklo_epi32(Load32(u + first), Load32(v + first));
    };
    const auto chromaValues = [&](std::uint32_t x) {
        const __m128i weights = Load64(chromaAcross.weights.data() + x);
        return Unscale(_mm_madd_epi16(_mm_unpacklo_epi64(neighbours(x), neighbours(x + 1)),
                                      _mm_unpacklo_epi32(weights, weights)));
    };

    for (std::uint32_t y = 0; y < target.height; ++y) {
        const std::uint32_t lumaTop = lumaDown.first[y];
        const std::size_t lumaBottom = Second(lumaTop, lumaDown.weights[y], frame.height);
        BlendRows(planes.luma + planes.lumaPitch * lumaTop, planes.luma + planes.lumaPitch * lumaBottom,
                  lumaDown.weights[y], frame.width, 1, luma.data());
        const std::size_t chromaTop = planes.chromaPitch * chromaDown.first[y];
        const std::size_t chromaBottom =
            planes.chromaPitch * Second(chromaDown.first[y], chromaDown.weights[y], chromaHeight);
        if constexpr (kInterleaved) {
            BlendRows(planes.u + chromaTop, planes.u + chromaBottom, chromaDown.weights[y], std::size_t{chromaWidth} * 2,
                      2, chroma.data());
        } else {
            BlendRows(planes.u + chromaTop, planes.u + chromaBottom, chromaDown.weights[y], chromaWidth, 1,
                      chroma.data());
            BlendRows(planes.v + chromaTop, planes.v + chromaBottom, chromaDown.weights[y], chromaWidth, 1,
                      chroma.data() + chromaRow);
        }
        RowWriter writer(out + std::size_t{target.width} * kFrameBytesPerPixel * y, target.width);
        for (std::uint32_t x = 0; x < target.width; x += 4) {
            const std::uint32_t* first = lumaAcross.first.data() + x;
            const __m128i lumaPairs =
                _mm_unpacklo_epi64(_mm_unpacklo_epi32(Load32(luma.data() + first[0]), Load32(luma.data() + first[1])),
                                   _mm_unpacklo_epi32(Load32(luma.data() + first[2]), Load32(luma.data() + first[3])));
            const __m128i lumaValues = Unscale(_mm_madd_epi16(
                lumaPairs, _mm_loadu_si128(reinterpret_cast<const __m128i*>(lumaAcross.weights.data() + x))));
            // Lanes: Y - 16 of each pixel beside a zero; U - 128 beside V - 128.
            const __m128i lumaLanes = _mm_sub_epi32(lumaValues, _mm_set1_epi32(16));
            const __m128i chromaLanes =
                _mm_sub_epi16(_mm_packs_epi32(chromaValues(x), chromaValues(x + 2)), chromaOffset);
            const __m128i light = _mm_madd_epi16(lumaLanes, lumaFactor);
            const __m128i blue = colour(_mm_add_epi32(light, _mm_madd_epi16(chromaLanes, blueFactors)));
            const __m128i green = colour(_mm_add_epi32(light, _mm_madd_epi16(chromaLanes, greenFactors)));
            const __m128i red = colour(_mm_add_epi32(light, _mm_madd_epi16(chromaLanes, redFactors)));
            writer.Put(x, PackPixels(blue, green, red));
        }
    }
}

std::size_t RoundUpTo4(std::size_t value) {
    return (value + 3) & ~std::size_t{3};
}

// Where the planes of a YUV frame lie. Decoders state no row length: it follows from the
// buffer's length. NV12 rows, and I420 rows as Windows lays them out, have one length in
// the luma plane and half as much in the chroma planes, so the buffer holds a whole number
// of (height + ceil(height / 2)) luma rows; GStreamer (under Wine) pads each row of I420 to a
// multiple of 4 bytes instead.
bool FindPlanes(const DecodedFrame& frame, YuvPlanes& planes) {
    const std::size_t chromaWidth = (std::size_t{frame.width} + 1) / 2;
    const std::size_t chromaHeight = (std::size_t{frame.height} + 1) / 2;
    const std::size_t rows = frame.height + chromaHeight;
    std::size_t pitch = frame.length % rows == 0 ? frame.length / rows : 0;
    if (frame.layout == FrameLayout::Nv12) {
        if (pitch < 2 * chromaWidth) return false;
        const std::uint8_t* chroma = frame.data + pitch * frame.height;
        planes = {frame.data, pitch, chroma, chroma + 1, pitch};
        return true;
    }
    std::size_t chromaPitch = pitch / 2;
    if (pitch % 2 != 0 || pitch < frame.width || chromaPitch < chromaWidth) {
        pitch = RoundUpTo4(frame.width);
        chromaPitch = RoundUpTo4(chromaWidth);
        if (frame.length != pitch * frame.height + 2 * chromaPitch * chromaHeight) return false;
    }
    const std::uint8_t* u = frame.data + pitch * frame.height;
    planes = {frame.data, pitch, u, u + chromaPitch * chromaHeight, chromaPitch};
    return true;
}

// Blends `white` (of 255) over each colour of a row; 255 stays 255.
void BlendWhite(std::uint8_t* row, std::size_t bytes, std::uint32_t white) {
    const __m128i keep = _mm_set1_epi16(static_cast<short>(255 - white));
    const __m128i added = _mm_set1_epi16(static_cast<short>(255 * white + 128));
    const __m128i zero = _mm_setzero_si128();
    // (x + 128 + ((x + 128) >> 8)) >> 8 is x / 255 rounded, for x up to 65025.
    const auto divide = [](__m128i x) { return _mm_srli_epi16(_mm_add_epi16(x, _mm_srli_epi16(x, 8)), 8); };
    std::size_t i = 0;
    for (; i + 16 <= bytes; i += 16) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        const __m128i low = divide(_mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(pixels, zero), keep), added));
        const __m128i high = divide(_mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(pixels, zero), keep), added));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), _mm_packus_epi16(low, high));
    }
    for (; i < bytes; ++i) {
        const std::uint32_t x = row[i] * (255 - white) + 255 * white + 128;
        row[i] = static_cast<std::uint8_t>((x + (x >> 8)) >> 8);
    }
}

}  // namespace

FrameArea PictureArea(std::uint32_t width, std::uint32_t height, const FrameArea& aperture) {
    const bool inside = aperture.width > 0 && aperture.height > 0 && aperture.x < width && aperture.y < height &&
                        aperture.width <= width - aperture.x && aperture.height <= height - aperture.y;
    return inside ? aperture : FrameArea{0, 0, width, height};
}

FrameTarget NaturalSize(std::uint32_t width, std::uint32_t height) {
    return {width, height, static_cast<float>(width), static_cast<float>(height), {}};
}

bool ScaleFrame(const DecodedFrame& frame, const FrameTarget& target, std::vector<std::uint8_t>& out) {
    if (frame.data == nullptr || !SizeUsable(frame.width, frame.height) || !SizeUsable(target.width, target.height) ||
        !(target.imageWidth > 0.0f) || !(target.imageHeight > 0.0f) ||
        (!target.white.empty() && target.white.size() != target.height)) {
        return false;
    }
    const std::size_t rowBytes = std::size_t{frame.width} * kFrameBytesPerPixel;
    const std::size_t targetRowBytes = std::size_t{target.width} * kFrameBytesPerPixel;
    // The planes are found from the decoded size; only the picture inside it is scaled.
    const FrameArea area = PictureArea(frame.width, frame.height, frame.picture);
    DecodedFrame picture = frame;
    picture.width = area.width;
    picture.height = area.height;
    if (frame.layout != FrameLayout::Rgb32) {
        YuvPlanes planes{};
        if (!FindPlanes(frame, planes)) return false;
        const bool interleaved = frame.layout == FrameLayout::Nv12;
        // Chroma is shared by 2 x 2 blocks: an odd offset starts inside the block it belongs to.
        const std::size_t chroma = planes.chromaPitch * (area.y / 2) + (area.x / 2) * (interleaved ? 2 : 1);
        planes.luma += planes.lumaPitch * area.y + area.x;
        planes.u += chroma;
        planes.v += chroma;
        out.resize(targetRowBytes * target.height);
        if (interleaved) ScaleYuv<true>(planes, picture, target, out.data());
        else ScaleYuv<false>(planes, picture, target, out.data());
    } else {
        std::int64_t stride = frame.stride;
        if (frame.length % frame.height == 0 && frame.length / frame.height >= rowBytes) {
            const auto padded = static_cast<std::int64_t>(frame.length / frame.height);
            stride = stride < 0 ? -padded : padded;
        }
        const std::uint64_t pitch = stride < 0 ? static_cast<std::uint64_t>(-stride) : static_cast<std::uint64_t>(stride);
        if (pitch < rowBytes || frame.length < std::uint64_t{frame.height} * pitch) return false;
        const Plane whole{stride < 0 ? frame.data + pitch * (frame.height - 1) : frame.data, stride};
        const Plane plane{whole.Row(area.y) + std::size_t{area.x} * kFrameBytesPerPixel, stride};
        out.resize(targetRowBytes * target.height);
        ScaleRgb32(plane, picture, target, out.data());
    }
    for (std::uint32_t y = 0; y < target.white.size(); ++y) {
        if (target.white[y] != 0) BlendWhite(out.data() + targetRowBytes * y, targetRowBytes, target.white[y]);
    }
    return true;
}

}  // namespace tavro
