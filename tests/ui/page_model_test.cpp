#include "ui/page_model.h"

#include <gtest/gtest.h>

namespace tavro::ui {
namespace {

PageState Page(const wchar_t* status, int progress, bool failureShown = false, const wchar_t* detail = L"") {
    PageState page;
    page.status = status;
    page.detail = detail;
    page.progress = progress;
    page.failureShown = failureShown;
    return page;
}

TEST(PageModel, PartsInReadingOrder) {
    const struct {
        PageState page;
        std::vector<std::wstring> parts;  // kind letter, name, value
    } cases[] = {
        {Page(L"Downloading", 48), {L"S Downloading", L"P 48%"}},
        {Page(L"Checking", -1), {L"S Checking", L"P "}},
        {Page(L"Installed", 100), {L"S Installed", L"P 100%"}},
        {Page(L"Installed", 130), {L"S Installed", L"P 100%"}},
        {Page(L"Failed", -1, true), {L"S Failed", L"R Retry"}},
        {Page(L"Failed", 48, true, L"more"), {L"S Failed", L"D more", L"R Retry"}},
        {Page(L"Saving", -1, false, L"more"), {L"S Saving", L"P ", L"D more"}},
    };
    for (const auto& c : cases) {
        std::vector<std::wstring> parts;
        for (const PageItem& item : PageItems(c.page, L"Retry")) {
            parts.push_back(std::wstring(1, L"SPDR"[static_cast<int>(item.kind)]) + L" " + item.name + item.value);
        }
        EXPECT_EQ(parts, c.parts) << c.page.status.size() << " " << c.page.progress;
    }
    EXPECT_EQ(PageItems(Page(L"x", 48), L"")[kProgressChildId - 1].kind, PageItemKind::Progress);
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
