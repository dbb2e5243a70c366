#include "ui/page_style.h"

namespace tavro::ui {

namespace {

constexpr std::uint32_t kNone = 0x00000000;

// 0x00BBGGRR to opaque 0xFFRRGGBB.
std::uint32_t Opaque(std::uint32_t colorref) {
    const std::uint32_t red = colorref & 0xFF;
    const std::uint32_t green = (colorref >> 8) & 0xFF;
    const std::uint32_t blue = (colorref >> 16) & 0xFF;
    return 0xFF000000 | red << 16 | green << 8 | blue;
}

}  // namespace

PagePalette ChoosePalette(const DisplaySettings& settings, const SystemColours& system) {
    if (!settings.highContrast) {
        return {.backgroundTop = 0xFFF1ECFF, .backgroundBottom = 0xFFFFFFFF, .logo = 0xFF6E4DE8,
                .title = 0xFF29292D, .subtitle = 0xFF58585C, .trackFill = 0xFFEDEDEF, .trackOutline = kNone,
                .barLeft = 0xFF0A84FF, .barRight = 0xFF97BEFC, .buttonBackground = 0xFFFFFFFF,
                .button = 0xFF3089F0, .buttonPressed = 0xFF1E68C9, .buttonDisabled = 0xFFE0DEE6,
                .buttonOutline = kNone, .buttonText = 0xFFFFFFFF, .buttonTextPressed = 0xFFFFFFFF,
                .buttonTextDisabled = 0xFF918F96, .link = 0xFF005FB8, .pictures = true};
    }
    const std::uint32_t window = Opaque(system.window);
    const std::uint32_t text = Opaque(system.windowText);
    const std::uint32_t highlight = Opaque(system.highlight);
    const std::uint32_t face = Opaque(system.buttonFace);
    const std::uint32_t buttonText = Opaque(system.buttonText);
    return {.backgroundTop = window, .backgroundBottom = window, .logo = text, .title = text, .subtitle = text,
            .trackFill = window, .trackOutline = text, .barLeft = highlight, .barRight = highlight,
            .buttonBackground = window, .button = face, .buttonPressed = highlight, .buttonDisabled = face,
            .buttonOutline = buttonText, .buttonText = buttonText, .buttonTextPressed = Opaque(system.highlightText),
            .buttonTextDisabled = Opaque(system.grayText), .link = Opaque(system.hotTrack), .pictures = false};
}

bool PlaysClip(const DisplaySettings& settings) {
    return settings.clientAreaAnimation && !settings.highContrast;
}

bool RotatesSlides(const DisplaySettings& settings) {
    return settings.clientAreaAnimation;
}

TextFormat ChooseTextFormat(PageText text, bool rightToLeftUi) {
    switch (text) {
    case PageText::Status:
    case PageText::Detail:
    case PageText::Link:
        return {TextAlign::Near, rightToLeftUi};
    case PageText::Percent:
        return {TextAlign::Far, false};
    case PageText::Button:
        return {TextAlign::Center, false};
    case PageText::Logo:
    case PageText::SlideTitle:
    case PageText::SlideSubtitle:
        break;
    }
    return {TextAlign::Near, false};
}

}  // namespace tavro::ui
