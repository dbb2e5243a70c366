#include "ui/page_layers.h"

#include "ui/page_layout.h"

namespace tavro::ui {

PageLayer LayerOf(const PageState& page, const PagePalette& palette, bool video, unsigned dpi) {
    return {.status = page.status,
            .detail = page.detail,
            .percent = ShowsPercentLabel(page.progress, page.failureShown) ? page.progress : -1,
            .failureShown = page.failureShown,
            .link = page.failureShown ? page.offlineLink : std::wstring(),
            .linkFocused = page.failureShown && !page.offlineLink.empty() && page.linkFocused,
            .video = video,
            .slide = video ? -1 : page.slideIndex,
            .dpi = dpi,
            .palette = palette};
}

}  // namespace tavro::ui
