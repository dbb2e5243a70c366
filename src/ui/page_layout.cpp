#include "ui/page_layout.h"

#include <algorithm>
#include <cmath>

namespace tavro::ui {

namespace {

constexpr float kSweepStep = 0.012f;
constexpr float kSweepWidth = 200.0f;
// The sweep enters from the left of the track and leaves past its right end.
constexpr float kSweepTravel = 908.0f;
constexpr float kSweepStart = -164.0f;

int RoundHalfAway(float value) {
    return static_cast<int>(std::lround(value));
}

}  // namespace

float DesignScale(unsigned dpi) {
    return static_cast<float>(dpi) / 96.0f * kUnitsToDip;
}

int ScaleByDpi(int value, unsigned dpi) {
    // MulDiv rounds half away from zero on the exact 64-bit product.
    const long long product = static_cast<long long>(value) * dpi;
    const long long half = product >= 0 ? 48 : -48;
    return static_cast<int>((product + half) / 96);
}

PixelRect RetryButtonRect(unsigned dpi) {
    const float s = DesignScale(dpi);
    return {RoundHalfAway(kRetryBox.x * s), RoundHalfAway(kRetryBox.y * s), RoundHalfAway(kRetryBox.width * s),
            RoundHalfAway(kRetryBox.height * s)};
}

FrameTarget MediaStrip(unsigned dpi) {
    const float s = DesignScale(dpi);
    FrameTarget strip;
    strip.width = static_cast<std::uint32_t>(ScaleByDpi(kClientWidthDip, dpi));
    // A hair under the exact product, so that float noise never adds a row.
    strip.height = static_cast<std::uint32_t>(std::ceil(kMediaHeight * s - 1e-3f));
    strip.imageWidth = kMediaWidth * s;
    strip.imageHeight = kMediaHeight * s;
    strip.white.resize(strip.height);
    for (std::uint32_t row = 0; row < strip.height; ++row) {
        // The fade's alpha at the row's centre, as a gradient brush takes it there.
        const float depth = ((static_cast<float>(row) + 0.5f) / s - kFadeTop) / (kMediaHeight - kFadeTop);
        strip.white[row] = static_cast<std::uint8_t>(std::lround(std::clamp(depth, 0.0f, 1.0f) * 255.0f));
    }
    return strip;
}

UpdateParts DivideUpdate(const PixelRect& update, int frameWidth, int frameHeight) {
    const int left = update.x;
    const int top = update.y;
    const int right = update.x + update.width;
    const int bottom = update.y + update.height;
    const int frameRight = std::clamp(frameWidth, left, right);
    const int frameBottom = std::clamp(frameHeight, top, bottom);
    return {{left, top, frameRight - left, frameBottom - top},
            {frameRight, top, right - frameRight, frameBottom - top},
            {left, frameBottom, right - left, bottom - frameBottom}};
}

PixelRect BarStrip(unsigned dpi) {
    const float s = DesignScale(dpi);
    const int left = static_cast<int>(std::floor(kTrackLeft * s)) - 1;
    const int top = static_cast<int>(std::floor(kBarTop * s)) - 1;
    const int right = static_cast<int>(std::ceil(kTrackRight * s)) + 1;
    const int bottom = static_cast<int>(std::ceil((kBarTop + kBarHeight) * s)) + 1;
    return {left, top, right - left, bottom - top};
}

Segment ProgressSegment(int progress, float phase) {
    float start = kTrackLeft;
    float width = 0.0f;
    if (progress < 0) {
        start = phase * kSweepTravel + kSweepStart;
        width = kSweepWidth;
    } else {
        width = static_cast<float>(std::clamp(progress, 0, 100)) * kTrackWidth / 100.0f;
        if (width <= 0.0f) return {};
    }
    return {std::max(start, kTrackLeft), std::min(start + width, kTrackRight)};
}

float StatusWidth(bool failureShown) {
    return failureShown ? 560.0f : 590.0f;
}

DesignBox StatusBox(bool failureShown, bool linkShown) {
    // Above the link's row the failure text starts where the media ends: room for three
    // lines, as scripts whose fonts set their lines far apart take two long ones.
    if (linkShown) return {36.0f, 480.0f, StatusWidth(failureShown), 66.0f};
    return {36.0f, 521.0f, StatusWidth(failureShown), 48.0f};
}

bool ShowsPercentLabel(int progress, bool failureShown) {
    return !failureShown && progress >= 0 && progress < 100;
}

std::wstring PercentLabel(int progress) {
    return std::to_wstring(progress) + L"%";
}

bool SweepRuns(int progress, bool failureShown) {
    return !failureShown && progress < 0;
}

float AdvanceSweep(float phase) {
    const float next = phase + kSweepStep;
    return next > 1.0f ? 0.0f : next;
}

}  // namespace tavro::ui
