#pragma once

#include <string>

#include "ui/page_model.h"
#include "ui/page_style.h"

namespace tavro::ui {

// What the page's cached layer shows: everything but the video's frames and the progress
// segment, which each paint lays over it. The layer is drawn again only when this changes,
// so a frame or a step of the sweep costs a copy, not a page.
struct PageLayer {
    std::wstring status;
    std::wstring detail;
    int percent = -1;  // the label's number; -1 while none shows
    bool failureShown = false;
    std::wstring link;  // the offline link's text, empty while none shows
    bool linkFocused = false;
    bool video = false;
    int slide = -1;  // the slide drawn; -1 while the video shows
    unsigned dpi = 0;
    PagePalette palette{};
    friend bool operator==(const PageLayer&, const PageLayer&) = default;
};

// The layer of `page` at `dpi`; `video` tells whether a frame takes the media rectangle.
PageLayer LayerOf(const PageState& page, const PagePalette& palette, bool video, unsigned dpi);

}  // namespace tavro::ui
