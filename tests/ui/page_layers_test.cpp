#include "ui/page_layers.h"

#include <gtest/gtest.h>

namespace tavro::ui {
namespace {

// What must draw the page's layer again, and what must not: the sweep and the clip move over
// the layer at up to 24 paints a second, and redrawing the page for them is what costs.
TEST(PageLayers, RedrawnOnlyWhenWhatItShowsChanges) {
    PageState base;
    base.status = L"Checking";
    const PagePalette palette = ChoosePalette({}, {});
    const PagePalette contrast = ChoosePalette({.highContrast = true}, {});
    const struct {
        const char* change;
        void (*apply)(PageState&);
        bool video;
        bool redrawn;
    } cases[] = {
        {"a step of the sweep", [](PageState& p) { p.sweepPhase = 0.5f; }, true, false},
        {"the next slide behind the video", [](PageState& p) { p.slideIndex = 1; }, true, false},
        {"the next slide shown", [](PageState& p) { p.slideIndex = 1; }, false, true},
        {"a new status", [](PageState& p) { p.status = L"Downloading"; }, true, true},
        {"a detail line", [](PageState& p) { p.detail = L"1 MB"; }, true, true},
        {"a percentage and its label", [](PageState& p) { p.progress = 48; }, true, true},
        {"a failure", [](PageState& p) { p.failureShown = true; }, true, true},
    };
    for (const auto& c : cases) {
        PageState changed = base;
        c.apply(changed);
        EXPECT_EQ(LayerOf(changed, palette, c.video, 96) != LayerOf(base, palette, c.video, 96), c.redrawn) << c.change;
    }
    PageState full = base, over = base, halfway = base, next = base;
    full.progress = 100, over.progress = 130, halfway.progress = 48, next.progress = 49;
    EXPECT_EQ(LayerOf(full, palette, true, 96), LayerOf(over, palette, true, 96)) << "no label at 100 % or above";
    EXPECT_NE(LayerOf(halfway, palette, true, 96), LayerOf(next, palette, true, 96)) << "the label's number";
    EXPECT_NE(LayerOf(base, palette, true, 96), LayerOf(base, palette, false, 96)) << "the first frame";
    EXPECT_NE(LayerOf(base, palette, true, 96), LayerOf(base, palette, true, 144)) << "a new DPI";
    EXPECT_NE(LayerOf(base, palette, false, 96), LayerOf(base, contrast, false, 96)) << "high contrast";
}

}  // namespace
}  // namespace tavro::ui
