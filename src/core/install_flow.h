#pragma once

namespace tavro::core {

// The install run's thread body: from the per-user run lock to a confirmed install (or a
// hand-over to an installed copy that is already current). The window sets flowRunning
// and clears cancelRequested before it starts the thread. Never throws: a failure ends
// in the failure report (event, localized status, Retry for the status sink); success
// posts the final status and tells the sink to close.
void RunInstallFlow();

// The launch retry's thread body: starts installedAppPath again after a failed start.
// The window sets flowRunning and closeBlocked before it starts the thread. Never throws.
void RunLaunchRetry();

// The offline link's action, on the window's thread: opens the configured offline page in
// the user's browser once the URL has passed the trust check again, and journals it. A
// page that cannot be opened changes nothing; the debugger output says why.
void OpenOfflinePage() noexcept;

}  // namespace tavro::core
