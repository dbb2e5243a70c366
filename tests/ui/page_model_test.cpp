#include "ui/page_model.h"

#include <gtest/gtest.h>

namespace tavro::ui {
namespace {

PageState Page(const wchar_t* status, int progress, bool failureShown = false) {
    PageState page;
    page.status = status;
    page.progress = progress;
    page.failureShown = failureShown;
    return page;
}

TEST(PageModel, AnnouncesChangesOnlyOnce) {
    constexpr LiveSetting off = LiveSetting::Off, polite = LiveSetting::Polite, assertive = LiveSetting::Assertive;
    const struct {
        PageState before, after;
        bool name, value, parts, failure;
        LiveSetting live;
    } cases[] = {
        {Page(L"Downloading", 48), Page(L"Downloading", 48), false, false, false, false, off},  // the same post again
        {Page(L"Downloading", 48), Page(L"Downloading", 49), false, true, false, false, off},
        {Page(L"Checking", -1), Page(L"Downloading", 0), true, true, false, false, polite},
        {Page(L"Downloading", 48), Page(L"Verifying", -1), true, true, false, false, polite},  // the value goes
        {Page(L"Downloading", 48), Page(L"Unable", -1), true, true, false, false, polite},
        {Page(L"Unable", -1), Page(L"Unable", -1, true), false, false, true, true, assertive},  // Retry comes up
        {Page(L"Unable", -1, true), Page(L"Other", -1, true), true, false, false, false, assertive},
        {Page(L"Unable", -1, true), Page(L"Checking", -1), true, false, true, false, polite},
    };
    for (const auto& c : cases) {
        const PageAnnouncement a = DecideAnnouncement(c.before, c.after);
        EXPECT_EQ(a.statusName, c.name) << c.after.status;
        EXPECT_EQ(a.progressValue, c.value) << c.after.status;
        EXPECT_EQ(a.partsChanged, c.parts) << c.after.status;
        EXPECT_EQ(a.failure, c.failure) << c.after.status;
        EXPECT_EQ(a.live, c.live) << c.after.status;
    }
}

}  // namespace
}  // namespace tavro::ui
