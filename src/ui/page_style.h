#pragma once

#include <cstdint>

namespace tavro::ui {

// What Windows reports about the user's display settings.
struct DisplaySettings {
    bool highContrast = false;        // SPI_GETHIGHCONTRAST: HCF_HIGHCONTRASTON
    bool clientAreaAnimation = true;  // SPI_GETCLIENTAREAANIMATION; false asks for reduced motion
};

// The system colours a high-contrast page is drawn from, as GetSysColor gives them (0x00BBGGRR).
struct SystemColours {
    std::uint32_t window = 0;
    std::uint32_t windowText = 0;
    std::uint32_t highlight = 0;
    std::uint32_t highlightText = 0;
    std::uint32_t buttonFace = 0;
    std::uint32_t buttonText = 0;
    std::uint32_t grayText = 0;
    std::uint32_t hotTrack = 0;  // COLOR_HOTLIGHT: links
};

// Every colour of the page and its button as GDI+ takes them (0xAARRGGBB); a colour with
// alpha 0 is not drawn at all.
struct PagePalette {
    std::uint32_t backgroundTop;
    std::uint32_t backgroundBottom;
    std::uint32_t logo;
    std::uint32_t title;     // slide titles and the status line
    std::uint32_t subtitle;  // slide subtitles, the detail line and the percent label
    std::uint32_t trackFill;
    std::uint32_t trackOutline;
    std::uint32_t barLeft;
    std::uint32_t barRight;
    std::uint32_t buttonBackground;  // the button's corners outside its rounded face
    std::uint32_t button;
    std::uint32_t buttonPressed;
    std::uint32_t buttonDisabled;
    std::uint32_t buttonOutline;
    std::uint32_t buttonText;
    std::uint32_t buttonTextPressed;
    std::uint32_t buttonTextDisabled;
    std::uint32_t link;
    bool pictures;  // the clip, the slide images and their shadow
    friend bool operator==(const PagePalette&, const PagePalette&) = default;
};

// The designed colours, or in high contrast the user's system colours: no gradient (both
// ends alike), no pictures, outlines where a fill alone would vanish into the background.
PagePalette ChoosePalette(const DisplaySettings& settings, const SystemColours& system);

// The clip plays only with animation allowed and without high contrast; the slides turn
// only with animation allowed. The progress sweep is not motion to spare: it is the only
// sign that something is happening, so it always runs.
bool PlaysClip(const DisplaySettings& settings);
bool RotatesSlides(const DisplaySettings& settings);

// The page's texts, each with its own rule for right-to-left locales.
enum class PageText { Logo, SlideTitle, SlideSubtitle, Status, Detail, Link, Percent, Button };

// Horizontal alignment in GDI+'s terms: near is the start of the reading order, so with
// right-to-left set near is the right edge.
enum class TextAlign { Near = 0, Center = 1, Far = 2 };

struct TextFormat {
    TextAlign align;
    bool rightToLeft;  // StringFormatFlagsDirectionRightToLeft
    friend bool operator==(const TextFormat&, const TextFormat&) = default;
};

// Localized lines read right to left from the right edge in Arabic and Persian. The logo,
// the built-in English captions, the percentage and the button keep their places and their
// left-to-right order: the page's layout is not mirrored.
TextFormat ChooseTextFormat(PageText text, bool rightToLeftUi);

#ifdef _WIN32
// What Windows says now; a setting that cannot be read keeps its default.
DisplaySettings ReadDisplaySettings();
SystemColours ReadSystemColours();
#endif

}  // namespace tavro::ui
