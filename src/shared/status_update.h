#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace tavro {

// Worker-to-window messages.
inline constexpr UINT WM_APP_STATUS = WM_APP + 1;      // lParam: StatusUpdate*, owned by the window
inline constexpr UINT WM_APP_SHOW_RETRY = WM_APP + 2;  // wParam: the run's core::OfflineOffer

// One status line for the window; -1 progress means no percentage.
struct StatusUpdate {
    std::wstring status;
    std::wstring detail;
    std::int32_t progress = -1;
};

// The process's main window: written once at start-up, before any worker exists.
void SetMainWindow(HWND window);
HWND MainWindow();

// Posts WM_APP_STATUS with a new StatusUpdate to the main window; callable from any
// thread. The window frees the record; when there is no window or the post fails it is
// freed here and lost.
void PostStatusUpdate(std::wstring status, std::wstring detail, std::int32_t progress);

// Posts a message (WM_APP_SHOW_RETRY, WM_CLOSE) to the main window; false when there is no
// window or the post fails.
bool PostToMainWindow(UINT message, WPARAM wParam = 0);

}  // namespace tavro
