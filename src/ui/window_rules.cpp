#include "ui/window_rules.h"

#include "shared/process_state.h"

namespace tavro::ui {

RetryStart PressRetry() {
    // Only this thread sets flowRunning, so it cannot become true between the test and the set.
    if (flowRunning) return RetryStart::Ignored;
    if (uiPreview) return RetryStart::Preview;
    if (!installedAppPath.empty()) {
        // A pause request belongs to an install run; the launch retry never reads it.
        flowRunning.exchange(true);
        closeBlocked.exchange(true);
        return RetryStart::LaunchRetry;
    }
    flowRunning.exchange(true);
    cancelRequested.exchange(false);
    return RetryStart::InstallFlow;
}

void RetryNotStarted() {
    closeBlocked.exchange(false);
    flowRunning.exchange(false);
}

CloseResult RequestClose(void (*announcePause)()) {
    if (!flowRunning) return CloseResult::Close;
    if (closeLeaves.exchange(false)) return CloseResult::Leave;
    if (closeBlocked) return CloseResult::Refuse;
    announcePause();
    cancelRequested.exchange(true);
    return CloseResult::Pause;
}

bool EnterPressesRetry(bool retryShown) {
    return retryShown && !flowRunning;
}

bool ShowsOfflineLink(core::OfflineOffer offer, int& failedRuns) {
    if (offer != core::OfflineOffer::Never) ++failedRuns;
    switch (offer) {
    case core::OfflineOffer::AtOnce:
        return true;
    case core::OfflineOffer::AfterRepeat:
        return failedRuns >= 2;
    case core::OfflineOffer::Never:
        break;
    }
    return false;
}

}  // namespace tavro::ui
