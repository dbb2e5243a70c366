#pragma once

#include "core/failure_report.h"

namespace tavro::ui {

// The installer window's Retry and close rules over the shared flags (core/process_state.h),
// kept apart from the window calls that act on them so that the window and every stand-in
// for it obey the same copy. User-interface thread only.

// The status the page shows in preview mode after Retry: the downloading text at 48 %.
inline constexpr wchar_t kPreviewStatusKey[] = L"desktop_installer_downloading";
inline constexpr int kPreviewProgress = 48;
// The status a close during a cancellable run posts until the worker reports the pause.
inline constexpr wchar_t kPausingStatusKey[] = L"desktop_installer_saving";

// What the Retry command leads to.
enum class RetryStart {
    Ignored,      // a worker still runs: nothing changes
    Preview,      // preview mode: no worker; show the preview status
    LaunchRetry,  // start RunLaunchRetry; flowRunning and closeBlocked are set
    InstallFlow,  // start RunInstallFlow; flowRunning is set, cancelRequested cleared
};

// The Retry command (a click, Enter while Retry shows, or the window's first run). Anything
// but Ignored hides the failure and its Retry button before the caller acts.
RetryStart PressRetry();

// A worker thread that could not be started: the flags go back, so Retry can be tried again.
void RetryNotStarted();

// What a close request (title bar, Alt+F4, a worker's WM_CLOSE) leads to.
enum class CloseResult {
    Close,   // nothing runs: the window goes away
    Refuse,  // the setup or the launch retry runs: a beep and nothing else
    Pause,   // a cancellable run: cancelRequested is set, the run stops at its next check
    Leave,   // the run only waits for a setup it did not start: the window goes away and the
             // setup goes on, for the next start to confirm; closeLeaves is taken back
};

// Decides a close request. Leave wins over Refuse: the worker sets closeBlocked before it
// takes closeLeaves back, so a close either leaves before the wait ends or is refused after.
// For Pause, `announcePause` (which shows kPausingStatusKey) runs
// before cancelRequested is set: the worker reports the pause only after it sees the flag,
// so its paused text can never arrive before the saving text and be hidden by it.
CloseResult RequestClose(void (*announcePause)());

// Enter presses Retry only while the button shows and the failed run has ended.
bool EnterPressesRetry(bool retryShown);

// Whether the page of a run that just failed shows the offline link. `failedRuns` counts the
// install runs since the window opened that failed with an offer, and takes this one in; a
// pause or a running Tavro is no such run, so it neither counts nor breaks the row.
bool ShowsOfflineLink(core::OfflineOffer offer, int& failedRuns);

}  // namespace tavro::ui
