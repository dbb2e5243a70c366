#include "ui/window_rules.h"

#include <gtest/gtest.h>

#include <string>

#include "core/process_state.h"

namespace tavro::ui {
namespace {

// The shared flags as one comparable value.
struct Flags {
    bool flowRunning = false;
    bool closeBlocked = false;
    bool cancelRequested = false;
    bool operator==(const Flags&) const = default;
};

Flags Current() {
    return {flowRunning, closeBlocked, cancelRequested};
}

void Set(const Flags& flags, bool preview, const wchar_t* appPath) {
    flowRunning = flags.flowRunning;
    closeBlocked = flags.closeBlocked;
    cancelRequested = flags.cancelRequested;
    uiPreview = preview;
    installedAppPath = appPath;
}

std::string Name(RetryStart start) {
    const char* const names[] = {"ignored", "preview", "launch retry", "install flow"};
    return names[static_cast<int>(start)];
}

std::string Name(CloseResult result) {
    const char* const names[] = {"close", "refuse", "pause"};
    return names[static_cast<int>(result)];
}

// What the announcement saw: the pause must be shown before the worker can see it.
bool announced = false;
bool flagSetWhenAnnounced = false;

void Announce() {
    announced = true;
    flagSetWhenAnnounced = cancelRequested;
}

TEST(WindowRules, EachStateAnswersRetryCloseAndEnter) {
    constexpr Flags kIdle{};
    constexpr Flags kCancellable{true, false, false};
    constexpr Flags kBlocked{true, true, false};
    struct Case {
        const char* name;
        Flags flags;
        bool preview;
        const wchar_t* appPath;
        bool retryShown;
        // Expected:
        RetryStart retry;
        Flags afterRetry;
        CloseResult close;
        Flags afterClose;
        bool enter;
    };
    const Case cases[] = {
        {"first start", kIdle, false, L"", false,
         RetryStart::InstallFlow, kCancellable, CloseResult::Close, kIdle, false},
        // A paused run leaves its request set; the next install run starts without it.
        {"idle with Retry after a pause", {false, false, true}, false, L"", true,
         RetryStart::InstallFlow, kCancellable, CloseResult::Close, {false, false, true}, true},
        {"idle with Retry, application installed", {false, false, true}, false, L"C:\\Tavro.exe", true,
         RetryStart::LaunchRetry, {true, true, true}, CloseResult::Close, {false, false, true}, true},
        {"running, cancellable", kCancellable, false, L"", false,
         RetryStart::Ignored, kCancellable, CloseResult::Pause, {true, false, true}, false},
        {"running, pause already asked", {true, false, true}, false, L"", false,
         RetryStart::Ignored, {true, false, true}, CloseResult::Pause, {true, false, true}, false},
        {"running, not cancellable", kBlocked, false, L"", false,
         RetryStart::Ignored, kBlocked, CloseResult::Refuse, kBlocked, false},
        {"launch retry running", kBlocked, false, L"C:\\Tavro.exe", false,
         RetryStart::Ignored, kBlocked, CloseResult::Refuse, kBlocked, false},
        // The failed run shows Retry first and clears its flags after.
        {"Retry shown, failed run still ending", kCancellable, false, L"", true,
         RetryStart::Ignored, kCancellable, CloseResult::Pause, {true, false, true}, false},
        {"installed, closing after success", {false, true, false}, false, L"C:\\Tavro.exe", false,
         RetryStart::LaunchRetry, kBlocked, CloseResult::Close, {false, true, false}, false},
        {"preview", kIdle, true, L"", false,
         RetryStart::Preview, kIdle, CloseResult::Close, kIdle, false},
        {"preview with Retry shown", kIdle, true, L"", true,
         RetryStart::Preview, kIdle, CloseResult::Close, kIdle, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Set(c.flags, c.preview, c.appPath);
        EXPECT_EQ(EnterPressesRetry(c.retryShown), c.enter);
        EXPECT_EQ(Name(PressRetry()), Name(c.retry));
        EXPECT_EQ(Current(), c.afterRetry);

        Set(c.flags, c.preview, c.appPath);
        announced = false;
        EXPECT_EQ(Name(RequestClose(Announce)), Name(c.close));
        EXPECT_EQ(Current(), c.afterClose);
        EXPECT_EQ(announced, c.close == CloseResult::Pause);
        if (announced) EXPECT_EQ(flagSetWhenAnnounced, c.flags.cancelRequested);
    }
    Set(kIdle, false, L"");
}

TEST(WindowRules, AWorkerThatCannotStartLeavesRetryUsable) {
    for (const wchar_t* appPath : {L"", L"C:\\Tavro.exe"}) {
        Set({}, false, appPath);
        const RetryStart first = PressRetry();
        RetryNotStarted();
        EXPECT_EQ(Current(), (Flags{false, false, false}));
        EXPECT_EQ(PressRetry(), first);
    }
    Set({}, false, L"");
}

}  // namespace
}  // namespace tavro::ui
