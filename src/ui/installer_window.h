#pragma once

#include <windows.h>

namespace tavro::ui {

// Creates and shows the installer window with its hidden Retry button, starts the media
// and the timers, sets the first status and sends the Retry command that starts the first
// run (in the preview mode only the preview state). Throws "Cannot initialize installer UI",
// "Cannot create installer window" or "Cannot create installer action". The window posts
// the quit message when it is destroyed; the caller runs the message loop.
HWND CreateInstallerWindow(HINSTANCE instance, int showCommand);

// The Retry button, for the message loop's dialog-key handling; null before creation.
HWND RetryButton();

// The keys of the offline link, which is drawn on the page rather than a window of its own:
// Tab and Shift+Tab between Retry and the link, Enter and Space on the link. True when the
// message was one of them and is handled; the message loop asks before the dialog manager.
bool HandlePageKey(const MSG& message);

}  // namespace tavro::ui
