#pragma once

#include <string>

namespace tavro::ui {

// The page is laid out in a fixed design space that the window scales to its DPI.
inline constexpr float kDesignWidth = 780.0f;
inline constexpr float kDesignHeight = 570.0f;
// One design unit in device-independent pixels (680 / 780, single precision).
inline constexpr float kUnitsToDip = 0.8717949f;
// The client area in device-independent pixels.
inline constexpr int kClientWidthDip = 680;
inline constexpr int kClientHeightDip = 497;

// Progress bar geometry in design units.
inline constexpr float kTrackLeft = 36.0f;
inline constexpr float kTrackWidth = 708.0f;
inline constexpr float kTrackRight = kTrackLeft + kTrackWidth;

// Device pixels per design unit at a DPI: dpi / 96 x 680 / 780.
float DesignScale(unsigned dpi);

// A device-independent length at a DPI, rounded as MulDiv(value, dpi, 96) rounds.
int ScaleByDpi(int value, unsigned dpi);

struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// The Retry button's client rectangle at a DPI: the design rectangle 624, 519, 120 x 36,
// each value scaled and rounded to the nearest pixel, halves away from zero.
PixelRect RetryButtonRect(unsigned dpi);

// The filled part of the progress track, in design units; empty when right <= left.
struct Segment {
    float left = 0.0f;
    float right = 0.0f;
    bool Visible() const { return right > left; }
};

// A percentage (0..100, clamped) fills from the track's left end; a negative progress is
// the indeterminate sweep: a 200-unit segment whose position follows the phase.
Segment ProgressSegment(int progress, float phase);

// The status line's width: narrowed while the Retry button takes the row's right end.
float StatusWidth(bool failureShown);

// The "48%" label shows for 0..99 while the bar shows.
bool ShowsPercentLabel(int progress, bool failureShown);
std::wstring PercentLabel(int progress);

// Whether a sweep tick moves the bar: only while the bar shows an indeterminate progress.
bool SweepRuns(int progress, bool failureShown);
// The next sweep phase: one step of 0.012, wrapping to 0 once past 1.
float AdvanceSweep(float phase);

}  // namespace tavro::ui
