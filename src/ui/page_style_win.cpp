#include "ui/page_style.h"

#include <windows.h>

namespace tavro::ui {

DisplaySettings ReadDisplaySettings() {
    DisplaySettings settings;
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof contrast;
    if (SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0)) {
        settings.highContrast = (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
    }
    BOOL animation = TRUE;
    if (SystemParametersInfoW(SPI_GETCLIENTAREAANIMATION, 0, &animation, 0)) {
        settings.clientAreaAnimation = animation != FALSE;
    }
    return settings;
}

SystemColours ReadSystemColours() {
    return {GetSysColor(COLOR_WINDOW),     GetSysColor(COLOR_WINDOWTEXT), GetSysColor(COLOR_HIGHLIGHT),
            GetSysColor(COLOR_HIGHLIGHTTEXT), GetSysColor(COLOR_BTNFACE), GetSysColor(COLOR_BTNTEXT),
            GetSysColor(COLOR_GRAYTEXT),   GetSysColor(COLOR_HOTLIGHT)};
}

}  // namespace tavro::ui
