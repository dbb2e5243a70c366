#include "ui/page_model.h"

#include <gtest/gtest.h>

#include <vector>

namespace tavro::ui {
namespace {

PageState Page(const wchar_t* status, int progress, bool failureShown = false, const wchar_t* link = L"") {
    PageState page;
    page.status = status;
    page.progress = progress;
    page.failureShown = failureShown;
    page.offlineLink = link;
    page.linkBox = {36, 546, 150, 18};
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
        // The offline link comes with the second failure: a part more, nothing to speak.
        {Page(L"Unable", -1, true), Page(L"Unable", -1, true, L"Download"), false, false, true, false, off},
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

// Tab's order: Retry, then the offline link where it was measured; no link without a failure.
TEST(PageModel, TheOfflineLinkFollowsRetry) {
    const std::vector<PageItem> failed = PageItems(Page(L"Unable", -1, true, L"Download"), L"Retry");
    ASSERT_EQ(failed.size(), 3u);
    EXPECT_EQ(failed[1].kind, PageItemKind::Retry);
    EXPECT_EQ(failed[2].kind, PageItemKind::Link);
    EXPECT_EQ(failed[2].name, L"Download");
    EXPECT_EQ(failed[2].x + failed[2].width, 186.0f);
    EXPECT_EQ(ChildIdOf(failed, PageItemKind::Link), 3);
    const std::vector<PageItem> working = PageItems(Page(L"Checking", -1, false, L"Download"), L"");
    EXPECT_EQ(ChildIdOf(working, PageItemKind::Link), 0);
    EXPECT_EQ(ChildIdOf(working, PageItemKind::Progress), kProgressChildId);
}

}  // namespace
}  // namespace tavro::ui
