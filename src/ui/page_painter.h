#pragma once

#include <windows.h>

#include <string>

namespace tavro::ui {

// What the page shows; owned by the window, user-interface thread only.
struct PageState {
    std::wstring status;
    std::wstring detail;     // a smaller second line, drawn only when not empty
    int progress = -1;       // -1: the indeterminate sweep; 0..100: a percentage
    float sweepPhase = 0.72f;
    int slideIndex = 0;      // 0, 1 or 2 while no video frame is available
    bool failureShown = false;  // the Retry button is up: no bar, narrower status line
};

// The WM_PAINT handler: the whole page drawn off-screen with GDI+ and copied in one blit.
void PaintWindow(HWND window, const PageState& page);

// The WM_DRAWITEM handler of the owner-drawn Retry button.
void DrawRetryButton(const DRAWITEMSTRUCT& item);

}  // namespace tavro::ui
