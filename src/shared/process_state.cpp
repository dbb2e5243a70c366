#include "shared/process_state.h"

#include "platform/errors.h"

namespace tavro {

std::atomic<bool> flowRunning{false};
std::atomic<bool> closeBlocked{false};
std::atomic<bool> cancelRequested{false};
std::atomic<bool> closeLeaves{false};
std::atomic<bool> uiPreview{false};
std::atomic<bool> verifyMode{false};
std::wstring installedAppPath;

void ThrowIfCancelled() {
    if (cancelRequested.load()) Fail("Download paused. Click Retry to resume.");
}

}  // namespace tavro
