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
        {PageText::Link, {TextAlign::Near, false}, {TextAlign::Near, true}},  // mirrored with the status line
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

TEST(PageStyle, ContrastAndMotion) {
    // Each system colour distinct, and red, green and blue distinct inside it (0x00BBGGRR).
    const SystemColours system{0x030201, 0x060504, 0x090807, 0x0C0B0A, 0x0F0E0D, 0x121110, 0x151413, 0x181716};
    const struct {
        bool highContrast, animation, clip, slidesTurn;
        std::uint32_t background, text, bar, buttonText;
    } cases[] = {
        {false, true, true, true, 0xFFF1ECFF, 0xFF29292D, 0xFF0A84FF, 0xFFFFFFFF},
        {false, false, false, false, 0xFFF1ECFF, 0xFF29292D, 0xFF0A84FF, 0xFFFFFFFF},
        {true, true, false, true, 0xFF010203, 0xFF040506, 0xFF070809, 0xFF101112},
        {true, false, false, false, 0xFF010203, 0xFF040506, 0xFF070809, 0xFF101112},
    };
    for (const auto& c : cases) {
        const DisplaySettings settings{c.highContrast, c.animation};
        const PagePalette palette = ChoosePalette(settings, system);
        SCOPED_TRACE(testing::Message() << c.highContrast << c.animation);
        EXPECT_EQ(PlaysClip(settings), c.clip);
        EXPECT_EQ(RotatesSlides(settings), c.slidesTurn);
        EXPECT_EQ(palette.pictures, !c.highContrast);
        // No gradient in high contrast: both ends of the background and of the bar alike.
        EXPECT_EQ(palette.backgroundTop, c.background);
        EXPECT_EQ(palette.backgroundBottom, c.highContrast ? c.background : 0xFFFFFFFFu);
        EXPECT_EQ(palette.title, c.text);
        EXPECT_EQ(palette.barLeft, c.bar);
        EXPECT_EQ(palette.barRight, c.highContrast ? c.bar : 0xFF97BEFCu);
        EXPECT_EQ(palette.buttonText, c.buttonText);
    }
    const PagePalette contrast = ChoosePalette({.highContrast = true}, system);
    EXPECT_EQ(contrast.button, 0xFF0D0E0Fu);
    EXPECT_EQ(contrast.buttonTextPressed, 0xFF0A0B0Cu);
    EXPECT_EQ(contrast.buttonTextDisabled, 0xFF131415u);
    EXPECT_EQ(contrast.link, 0xFF161718u);  // the hot-track colour, as links are in high contrast
}

}  // namespace
}  // namespace tavro::ui
