#pragma once

#include <string>
#include <vector>

#include "ui/page_layout.h"

namespace tavro::ui {

// What the page shows; owned by the window, user-interface thread only. The painter draws
// it and the accessible object reads it, so what is heard is what is seen.
struct PageState {
    std::wstring status;
    std::wstring detail;     // a smaller second line, drawn only when not empty
    int progress = -1;       // -1: the indeterminate sweep; 0..100: a percentage
    float sweepPhase = 0.72f;
    int slideIndex = 0;      // 0, 1 or 2 while no video frame is available
    bool failureShown = false;  // the Retry button is up: no bar, narrower status line
    std::wstring offlineLink;   // the offline link's text while the failure page offers it
    DesignBox linkBox{};        // where that text is drawn, as measured for the window's DPI
    bool linkFocused = false;   // the link holds the keyboard focus (the window has it, Retry not)
};

// The page's parts as assistive technology meets them, in reading order.
enum class PageItemKind { Status, Progress, Detail, Retry, Link };

struct PageItem {
    PageItemKind kind;
    std::wstring name;
    std::wstring value;
    // The part's box in design units (x, y, width, height).
    float x, y, width, height;
};

// The status line always; the progress bar, named by the status line, while no failure is shown; the detail line when
// it is not empty; the Retry button while it is shown, and after it the offline link when
// the failure page offers one (Tab's order). A part's child id is its position
// plus one, so the status line is always 1 and the bar, when present, 2.
std::vector<PageItem> PageItems(const PageState& page, const std::wstring& retryText);
inline constexpr long kStatusChildId = 1;
inline constexpr long kProgressChildId = 2;

// The child id of the first part of that kind among the page's parts; 0 when there is none.
long ChildIdOf(const std::vector<PageItem>& items, PageItemKind kind);

// The bar's value as the page gives it: the percentage while there is one ("48%", a full
// bar "100%"), else nothing.
std::wstring ProgressValue(const PageState& page);

// The live setting of a live region, as UI Automation numbers it (LiveSetting).
enum class LiveSetting { Off = 0, Polite = 1, Assertive = 2 };

// What a change of the page must announce: a new status text; a new shown percentage (so
// at most once per percent, however often the same value arrives); a changed set of parts;
// a failure that has just been put up. The status line is a live region: a new text is
// spoken politely, after what is being read; a failure, text or not, interrupts. `live` is
// the setting to give it before its live-region event, Off when no event is due.
struct PageAnnouncement {
    bool statusName = false;
    bool progressValue = false;
    bool partsChanged = false;
    bool failure = false;
    LiveSetting live = LiveSetting::Off;
};
PageAnnouncement DecideAnnouncement(const PageState& before, const PageState& after);

}  // namespace tavro::ui
