#pragma once

#include <atomic>
#include <string>

namespace tavro {

// Process-wide flags shared by the window thread and the worker; all false at start.
extern std::atomic<bool> flowRunning;      // a worker runs
extern std::atomic<bool> closeBlocked;     // the running worker must not be interrupted
extern std::atomic<bool> cancelRequested;  // the user closed the window during a cancellable run
extern std::atomic<bool> closeLeaves;      // the worker only waits for a setup it did not start
extern std::atomic<bool> uiPreview;        // the window only previews, no work behind it
extern std::atomic<bool> verifyMode;       // a check switch was given: failures end silently with 1

// The installed executable once a run has found or confirmed it; while it is set, Retry
// starts it again instead of running the install. Written by the worker only while
// flowRunning is set and read by the window only while it is clear: the flag orders them.
extern std::wstring installedAppPath;

// The cancellation point: throws "Download paused. Click Retry to resume." once the user
// has asked to stop.
void ThrowIfCancelled();

}  // namespace tavro
