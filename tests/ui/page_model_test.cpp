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
    const struct {
        PageState before, after;
        bool name, value, parts, failure;
    } cases[] = {
        {Page(L"Downloading", 48), Page(L"Downloading", 48), false, false, false, false},  // the same post again
        {Page(L"Downloading", 48), Page(L"Downloading", 49), false, true, false, false},
        {Page(L"Checking", -1), Page(L"Downloading", 0), true, true, false, false},
        {Page(L"Downloading", 48), Page(L"Verifying", -1), true, true, false, false},  // the value goes
        {Page(L"Downloading", 48), Page(L"Unable", -1), true, true, false, false},
        {Page(L"Unable", -1), Page(L"Unable", -1, true), false, false, true, true},  // Retry comes up
        {Page(L"Unable", -1, true), Page(L"Checking", -1), true, false, true, false},
    };
    for (const auto& c : cases) {
        const PageAnnouncement a = DecideAnnouncement(c.before, c.after);
        EXPECT_EQ(a.statusName, c.name) << c.after.status;
        EXPECT_EQ(a.progressValue, c.value) << c.after.status;
        EXPECT_EQ(a.partsChanged, c.parts) << c.after.status;
        EXPECT_EQ(a.failure, c.failure) << c.after.status;
    }
}

}  // namespace
}  // namespace tavro::ui
