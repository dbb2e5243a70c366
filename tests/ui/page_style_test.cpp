#include "ui/page_style.h"

#include <gtest/gtest.h>

namespace tavro::ui {
namespace {

TEST(PageStyle, TextFormatPerTextAndDirection) {
    const struct {
        PageText text;
        TextFormat leftToRight;
        TextFormat rightToLeft;
    } cases[] = {
        // With the right-to-left flag GDI+ puts "near" at the right edge: localized lines
        // start there and read right to left.
        {PageText::Status, {TextAlign::Near, false}, {TextAlign::Near, true}},
        {PageText::Detail, {TextAlign::Near, false}, {TextAlign::Near, true}},
        // The built-in English captions and the logo keep their place and their order
        // (no full stop moved to the front); the bar is not mirrored, nor is its label.
        {PageText::Logo, {TextAlign::Near, false}, {TextAlign::Near, false}},
        {PageText::SlideTitle, {TextAlign::Near, false}, {TextAlign::Near, false}},
        {PageText::SlideSubtitle, {TextAlign::Near, false}, {TextAlign::Near, false}},
        {PageText::Percent, {TextAlign::Far, false}, {TextAlign::Far, false}},
        {PageText::Button, {TextAlign::Center, false}, {TextAlign::Center, false}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ChooseTextFormat(c.text, false), c.leftToRight) << static_cast<int>(c.text);
        EXPECT_EQ(ChooseTextFormat(c.text, true), c.rightToLeft) << static_cast<int>(c.text);
    }
}

TEST(PageStyle, HighContrastTakesEverySystemColourInItsPlace) {
    // Each system colour distinct, with red, green and blue distinct inside it (0x00BBGGRR).
    const SystemColours system{0x030201, 0x060504, 0x090807, 0x0C0B0A, 0x0F0E0D, 0x121110, 0x151413};
    const PagePalette normal = ChoosePalette({}, system);
    EXPECT_EQ(normal.backgroundTop, 0xFFF1ECFFu);
    EXPECT_EQ(normal.barLeft, 0xFF0A84FFu);
    EXPECT_EQ(normal.button, 0xFF3089F0u);
    EXPECT_EQ(normal.trackOutline >> 24, 0u);
    EXPECT_TRUE(normal.pictures);

    const PagePalette contrast = ChoosePalette({.highContrast = true}, system);
    const std::uint32_t window = 0xFF010203, text = 0xFF040506, highlight = 0xFF070809, highlightText = 0xFF0A0B0C,
                        face = 0xFF0D0E0F, buttonText = 0xFF101112, gray = 0xFF131415;
    const std::uint32_t expected[] = {window, window, text, text, text, window, text, highlight, highlight,
                                      window, face, highlight, face, buttonText, buttonText, highlightText, gray};
    const std::uint32_t actual[] = {contrast.backgroundTop, contrast.backgroundBottom, contrast.logo, contrast.title,
                                    contrast.subtitle, contrast.trackFill, contrast.trackOutline, contrast.barLeft,
                                    contrast.barRight, contrast.buttonBackground, contrast.button,
                                    contrast.buttonPressed, contrast.buttonDisabled, contrast.buttonOutline,
                                    contrast.buttonText, contrast.buttonTextPressed, contrast.buttonTextDisabled};
    for (size_t i = 0; i < std::size(expected); ++i) EXPECT_EQ(actual[i], expected[i]) << "colour " << i;
    EXPECT_FALSE(contrast.pictures);
}

TEST(PageStyle, MotionFollowsAnimationAndContrast) {
    const struct {
        bool highContrast, animation, clip, slidesTurn;
    } cases[] = {
        {false, true, true, true},
        {false, false, false, false},
        {true, true, false, true},
        {true, false, false, false},
    };
    for (const auto& c : cases) {
        const DisplaySettings settings{c.highContrast, c.animation};
        EXPECT_EQ(PlaysClip(settings), c.clip) << c.highContrast << c.animation;
        EXPECT_EQ(RotatesSlides(settings), c.slidesTurn) << c.highContrast << c.animation;
    }
}

}  // namespace
}  // namespace tavro::ui
