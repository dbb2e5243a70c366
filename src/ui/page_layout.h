#pragma once

#include <string>

#include "ui/video_frame.h"

namespace tavro::ui {

// The page is laid out in a fixed design space that the window scales to its DPI.
inline constexpr float kDesignWidth = 780.0f;
inline constexpr float kDesignHeight = 570.0f;
// One design unit in device-independent pixels (680 / 780, single precision).
inline constexpr float kUnitsToDip = 0.8717949f;
// The client area in device-independent pixels.
inline constexpr int kClientWidthDip = 680;
inline constexpr int kClientHeightDip = 497;

// The media rectangle (0, 0, 780, 480) and the fade over its bottom, in design units.
inline constexpr float kMediaWidth = 780.0f;
inline constexpr float kMediaHeight = 480.0f;
inline constexpr float kFadeTop = 400.0f;

// Progress bar geometry in design units.
inline constexpr float kTrackLeft = 36.0f;
inline constexpr float kTrackWidth = 708.0f;
inline constexpr float kTrackRight = kTrackLeft + kTrackWidth;
inline constexpr float kBarTop = 500.0f;
inline constexpr float kBarHeight = 8.0f;

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

// A box in design units.
struct DesignBox {
    float x = 0.0f;
    float y = 0.0f;
    float width = 0.0f;
    float height = 0.0f;
};

// Where the status line, the detail line and the Retry button sit: what is painted there is
// what a screen reader is told is there. The status line narrows while Retry shows, and
// moves up, over the bar's place, while the offline link takes the row below it.
DesignBox StatusBox(bool failureShown, bool linkShown = false);
inline constexpr DesignBox kDetailBox{36.0f, 546.0f, 590.0f, 18.0f};
inline constexpr DesignBox kRetryBox{624.0f, 519.0f, 120.0f, 36.0f};
// The offline link's row, below the failure text and as wide as it: the link itself is only
// as wide as its text, at the row's start in the reading order.
inline constexpr DesignBox kLinkRow{36.0f, 547.0f, 560.0f, 20.0f};
inline constexpr float kLinkTextSize = 13.0f;

// The Retry button's client rectangle at a DPI: kRetryBox, each value scaled and rounded to
// the nearest pixel, halves away from zero.
PixelRect RetryButtonRect(unsigned dpi);

// What each video frame is scaled to at a DPI: the whole device rows from the top that the
// media rectangle reaches, across the client's width, with the frame spanning the media
// rectangle and the page's fade (transparent white at 400 units to white at 480, then the
// white below) blended into its rows, so that painting a frame is a copy.
FrameTarget MediaStrip(unsigned dpi);

// How a paint's update rectangle divides while a video frame shows: the frame's own part
// (its rows, as wide as the frame), the columns right of the frame beside those rows and the
// rows below it, both taken from the page's layer. The client can be wider or taller than
// the strip at its DPI (a size Windows gave the window that is not the page's), and every
// pixel of it must be painted. Empty parts have no width or no height.
struct UpdateParts {
    PixelRect frame;
    PixelRect beside;
    PixelRect below;
};
UpdateParts DivideUpdate(const PixelRect& update, int frameWidth, int frameHeight);

// The device pixels that the progress segment can touch at a DPI, with a pixel to spare for
// anti-aliasing: what a step of the sweep repaints.
PixelRect BarStrip(unsigned dpi);

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
