#include "ui/page_layout.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace tavro::ui {
namespace {

TEST(PageLayout, ProgressSegment) {
    const struct {
        int progress;
        float phase;
        bool visible;
        float left;
        float right;
    } cases[] = {
        {100, 0.0f, true, 36.0f, 744.0f},     // full track, no more
        {150, 0.0f, true, 36.0f, 744.0f},     // clamped
        {0, 0.5f, false, 0, 0},               // nothing filled
        {-7, 0.0f, false, 0, 0},              // any negative sweeps: phase 0 lies left of the track
        {48, 0.9f, true, 36.0f, 375.84f},     // the phase is ignored for a percentage
        {1, 0.0f, true, 36.0f, 43.08f},
        {-1, 0.2f, true, 36.0f, 217.6f},      // enters from the left, clipped at 36
        {-1, 0.5f, true, 290.0f, 490.0f},
        {-1, 0.72f, true, 489.76f, 689.76f},  // the window's first phase
        {-1, 0.9f, true, 653.2f, 744.0f},     // leaves at the right, clipped at 744
        {-1, 1.0f, false, 0, 0},              // entirely right of the track
    };
    for (const auto& c : cases) {
        const Segment segment = ProgressSegment(c.progress, c.phase);
        EXPECT_EQ(segment.Visible(), c.visible) << c.progress << " @ " << c.phase;
        if (!c.visible || !segment.Visible()) continue;
        EXPECT_NEAR(segment.left, c.left, 1e-3) << c.progress << " @ " << c.phase;
        EXPECT_NEAR(segment.right, c.right, 1e-3) << c.progress << " @ " << c.phase;
    }
}

TEST(PageLayout, PercentLabelStatusWidthAndSweep) {
    const struct {
        int progress;
        bool failureShown;
        bool label;
        bool sweep;
    } cases[] = {
        {0, false, true, false},   {48, false, true, false}, {99, false, true, false},
        {100, false, false, false}, {101, false, false, false}, {-1, false, false, true},
        {48, true, false, false},  {-1, true, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ShowsPercentLabel(c.progress, c.failureShown), c.label) << c.progress << "/" << c.failureShown;
        EXPECT_EQ(SweepRuns(c.progress, c.failureShown), c.sweep) << c.progress << "/" << c.failureShown;
    }
    EXPECT_EQ(PercentLabel(48), L"48%");
    EXPECT_EQ(PercentLabel(0), L"0%");
    EXPECT_EQ(StatusWidth(true), 560.0f);
    EXPECT_EQ(StatusWidth(false), 590.0f);
}

TEST(PageLayout, SweepWrapsAfterEightyFourTicks) {
    EXPECT_NEAR(AdvanceSweep(0.72f), 0.732f, 1e-6);
    EXPECT_EQ(AdvanceSweep(0.995f), 0.0f);
    float phase = 0.0f;
    int ticks = 0;
    do {
        phase = AdvanceSweep(phase);
        ++ticks;
    } while (phase != 0.0f && ticks < 1000);
    EXPECT_EQ(ticks, 84);
}

TEST(PageLayout, ClientAndButtonAtEachDpi) {
    const struct {
        unsigned dpi;
        int clientWidth;
        int clientHeight;
        PixelRect button;
    } cases[] = {
        // 624, 519, 120, 36 design units at dpi / 96 x 680 / 780, halves away from zero.
        {96, 680, 497, {544, 452, 105, 31}},
        {120, 850, 621, {680, 566, 131, 39}},
        {144, 1020, 746, {816, 679, 157, 47}},  // 745.5 rounds up, as MulDiv does
        {192, 1360, 994, {1088, 905, 209, 63}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ScaleByDpi(kClientWidthDip, c.dpi), c.clientWidth) << c.dpi;
        EXPECT_EQ(ScaleByDpi(kClientHeightDip, c.dpi), c.clientHeight) << c.dpi;
        const PixelRect button = RetryButtonRect(c.dpi);
        EXPECT_EQ(button, c.button) << c.dpi << ": " << button.x << "," << button.y << " " << button.width << "x"
                                    << button.height;
    }
}

TEST(PageLayout, MediaStripAndBarStripAtEachDpi) {
    const struct {
        unsigned dpi;
        std::uint32_t width, rows;  // 480 units are 418.46, 627.69 and 836.92 pixels
        std::uint32_t clearRows;    // rows whose centre lies above the fade's top at 400 units
    } cases[] = {{96, 680, 419, 349}, {144, 1020, 628, 523}, {192, 1360, 837, 697}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dpi);
        const float s = DesignScale(c.dpi);
        const FrameTarget strip = MediaStrip(c.dpi);
        EXPECT_EQ(strip.width, c.width);
        EXPECT_EQ(strip.height, c.rows);
        EXPECT_NEAR(strip.imageWidth, 780 * s, 1e-3);
        EXPECT_NEAR(strip.imageHeight, 480 * s, 1e-3);
        ASSERT_EQ(strip.white.size(), c.rows);
        // Clear down to the fade, then whiter row by row: half white at 440 units, all but
        // white on the bottom row (its centre may lie a hair above 480 units).
        for (std::uint32_t row = 0; row < c.rows; ++row) {
            if (row < c.clearRows) {
                EXPECT_EQ(strip.white[row], 0) << row;
            }
            if (row > 0) {
                EXPECT_GE(strip.white[row], strip.white[row - 1]) << row;
            }
        }
        EXPECT_NEAR(strip.white[static_cast<std::size_t>(440 * s)], 128, 4);
        EXPECT_GE(strip.white.back(), 254);

        // The segment's extent (36..744 x 500..508 units) with one pixel to spare, no more.
        const PixelRect bar = BarStrip(c.dpi);
        EXPECT_TRUE(bar.x <= 36 * s - 1 && bar.x > 36 * s - 2.01f) << bar.x;
        EXPECT_TRUE(bar.y <= 500 * s - 1 && bar.y > 500 * s - 2.01f) << bar.y;
        EXPECT_TRUE(bar.x + bar.width >= 744 * s + 1 && bar.x + bar.width < 744 * s + 2.01f) << bar.width;
        EXPECT_TRUE(bar.y + bar.height >= 508 * s + 1 && bar.y + bar.height < 508 * s + 2.01f) << bar.height;
    }
}

TEST(PageLayout, EveryPixelOfAnUpdateIsPaintedOnce) {
    // The strip at 96 DPI is 680 x 419; a client of 717 x 534 is what an oversized suggested
    // rectangle of WM_DPICHANGED once gave.
    const struct {
        const char* name;
        PixelRect update, frame, beside, below;
    } cases[] = {
        {"the page's client", {0, 0, 680, 497}, {0, 0, 680, 419}, {680, 0, 0, 419}, {0, 419, 680, 78}},
        {"a wider, taller client", {0, 0, 717, 534}, {0, 0, 680, 419}, {680, 0, 37, 419}, {0, 419, 717, 115}},
        {"a frame's invalidation", {0, 0, 680, 419}, {0, 0, 680, 419}, {680, 0, 0, 419}, {0, 419, 680, 0}},
        {"the status line", {36, 430, 600, 20}, {36, 430, 600, 0}, {636, 430, 0, 0}, {36, 430, 600, 20}},
        {"right of the frame", {700, 10, 17, 50}, {700, 10, 0, 50}, {700, 10, 17, 50}, {700, 60, 17, 0}},
    };
    for (const auto& c : cases) {
        const UpdateParts parts = DivideUpdate(c.update, 680, 419);
        EXPECT_EQ(parts.frame, c.frame) << c.name;
        EXPECT_EQ(parts.beside, c.beside) << c.name;
        EXPECT_EQ(parts.below, c.below) << c.name;
    }
}

}  // namespace
}  // namespace tavro::ui
