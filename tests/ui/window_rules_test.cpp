#include "ui/window_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/failure_report.h"
#include "shared/process_state.h"

namespace tavro::ui {
namespace {

// The shared flags as text, one letter each when set: r flowRunning, b closeBlocked,
// c cancelRequested, l closeLeaves ("----" all clear).
std::string Flags() {
    return std::string{flowRunning ? 'r' : '-', closeBlocked ? 'b' : '-', cancelRequested ? 'c' : '-',
                       closeLeaves ? 'l' : '-'};
}

void Set(const std::string& flags, bool preview, const wchar_t* appPath) {
    flowRunning = flags[0] == 'r';
    closeBlocked = flags[1] == 'b';
    cancelRequested = flags[2] == 'c';
    closeLeaves = flags[3] == 'l';
    uiPreview = preview;
    installedAppPath = appPath;
}

const char* Name(RetryStart start) {
    const char* const names[] = {"ignored", "preview", "launch retry", "install flow"};
    return names[static_cast<int>(start)];
}

const char* Name(CloseResult result) {
    const char* const names[] = {"close", "refuse", "pause", "leave"};
    return names[static_cast<int>(result)];
}

// What the pause announcement saw of the flag: it must run before the worker can see it.
std::string announcedWith;

TEST(WindowRules, EachStateAnswersRetryCloseAndEnter) {
    constexpr wchar_t kApp[] = L"C:\\Tavro.exe";
    const struct {
        const char* name;
        const char* flags;
        bool preview;
        const wchar_t* appPath;
        bool retryShown;
        // Expected: Enter presses Retry; what Retry does and the flags after it; the same for a close.
        bool enter;
        const char* retry;
        const char* afterRetry;
        const char* close;
        const char* afterClose;
    } cases[] = {
        {"first start", "----", false, L"", false, false, "install flow", "r---", "close", "----"},
        // A paused run leaves its request set; the next install run starts without it.
        {"idle with Retry after a pause", "--c-", false, L"", true, true, "install flow", "r---", "close", "--c-"},
        {"idle with Retry, application installed", "--c-", false, kApp, true, true, "launch retry", "rbc-", "close", "--c-"},
        {"running, cancellable", "r---", false, L"", false, false, "ignored", "r---", "pause", "r-c-"},
        {"running, pause already asked", "r-c-", false, L"", false, false, "ignored", "r-c-", "pause", "r-c-"},
        {"running, not cancellable", "rb--", false, L"", false, false, "ignored", "rb--", "refuse", "rb--"},
        {"launch retry running", "rb--", false, kApp, false, false, "ignored", "rb--", "refuse", "rb--"},
        // A failed run shows Retry first and clears its flags after.
        {"Retry shown, failed run still ending", "r---", false, L"", true, false, "ignored", "r---", "pause", "r-c-"},
        {"installed, closing after success", "-b--", false, kApp, false, false, "launch retry", "rb--", "close", "-b--"},
        // Only waiting for a setup that an ended installer started: a close leaves it running.
        {"waiting for a setup it did not start", "rb-l", false, L"", false, false, "ignored", "rb-l", "leave", "rb--"},
        {"preview", "----", true, L"", false, false, "preview", "----", "close", "----"},
        {"preview with Retry shown", "----", true, L"", true, true, "preview", "----", "close", "----"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Set(c.flags, c.preview, c.appPath);
        EXPECT_EQ(EnterPressesRetry(c.retryShown), c.enter);
        EXPECT_STREQ(Name(PressRetry()), c.retry);
        EXPECT_EQ(Flags(), c.afterRetry);

        Set(c.flags, c.preview, c.appPath);
        announcedWith = "not announced";
        EXPECT_STREQ(Name(RequestClose([] { announcedWith = Flags(); })), c.close);
        EXPECT_EQ(Flags(), c.afterClose);
        EXPECT_EQ(announcedWith, std::string(c.close) == "pause" ? c.flags : "not announced");
    }
    Set("----", false, L"");
}

TEST(WindowRules, AWorkerThatCannotStartLeavesRetryUsable) {
    for (const wchar_t* appPath : {L"", L"C:\\Tavro.exe"}) {
        Set("---", false, appPath);
        const RetryStart first = PressRetry();
        RetryNotStarted();
        EXPECT_EQ(Flags(), "----");
        EXPECT_EQ(PressRetry(), first);
    }
    Set("----", false, L"");
}

// The failure messages of runs in a row, from the window's opening, and whether each one's
// page offers the offline installer. "paused" is a close during a download.
TEST(WindowRules, OfflineLinkAfterFailuresThatRetryIsUnlikelyToMend) {
    constexpr char kNetwork[] = "Network error. Check your connection or proxy and retry.";
    constexpr char kRunning[] = "Close Tavro after saving your work, then retry.";
    const struct {
        const char* name;
        std::vector<const char*> runs;
        std::vector<bool> shown;
    } cases[] = {
        {"network twice", {kNetwork, kNetwork}, {false, true}},
        {"different failures count alike", {"Not enough disk space", "HTTP 503", "Incomplete download"}, {false, true, true}},
        {"a failed proof at once", {"Downloaded file hash mismatch. Retry to download again."}, {true}},
        {"a proxy sign-in at once", {"HTTP 407: proxy sign-in required"}, {true}},
        {"an untrusted connection waits for the second", {"Untrusted connection: unknown_authority", kNetwork}, {false, true}},
        // Closing Tavro mends it: never offered, and no run of the row.
        {"running never", {kRunning, kRunning, kNetwork, kRunning, kNetwork}, {false, false, false, false, true}},
        {"a pause is no failure", {kNetwork, "paused", kNetwork}, {false, false, true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int failedRuns = 0;
        std::vector<bool> shown;
        for (const char* run : c.runs) {
            const bool paused = std::string(run) == "paused";
            const core::FailureReport report = core::DecideInstallFailure(
                core::FailureKind::Runtime, paused ? "Download paused. Click Retry to resume." : run, paused);
            shown.push_back(ShowsOfflineLink(report.offline, failedRuns));
        }
        EXPECT_EQ(shown, c.shown);
    }
}

}  // namespace
}  // namespace tavro::ui
