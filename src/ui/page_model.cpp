#include "ui/page_model.h"

#include <algorithm>

#include "ui/page_layout.h"

namespace tavro::ui {

std::vector<PageItem> PageItems(const PageState& page, const std::wstring& retryText) {
    std::vector<PageItem> items;
    const auto add = [&](PageItemKind kind, const std::wstring& name, const std::wstring& value, DesignBox box) {
        items.push_back({kind, name, value, box.x, box.y, box.width, box.height});
    };
    add(PageItemKind::Status, page.status, L"", StatusBox(page.failureShown, page.failureShown && !page.offlineLink.empty()));
    if (!page.failureShown) {
        // The bar has no label of its own: what it measures is what the status line says.
        add(PageItemKind::Progress, page.status, ProgressValue(page), {kTrackLeft, kBarTop, kTrackWidth, kBarHeight});
    }
    if (!page.detail.empty()) add(PageItemKind::Detail, page.detail, L"", kDetailBox);
    if (page.failureShown) add(PageItemKind::Retry, retryText, L"", kRetryBox);
    if (page.failureShown && !page.offlineLink.empty()) add(PageItemKind::Link, page.offlineLink, L"", page.linkBox);
    return items;
}

long ChildIdOf(const std::vector<PageItem>& items, PageItemKind kind) {
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].kind == kind) return static_cast<long>(i + 1);
    }
    return 0;
}

std::wstring ProgressValue(const PageState& page) {
    if (page.failureShown || page.progress < 0) return {};
    return PercentLabel(std::min(page.progress, 100));
}

PageAnnouncement DecideAnnouncement(const PageState& before, const PageState& after) {
    PageAnnouncement change{
        .statusName = before.status != after.status,
        .progressValue = !after.failureShown && ProgressValue(before) != ProgressValue(after),
        .partsChanged = before.failureShown != after.failureShown || before.detail.empty() != after.detail.empty() ||
                        before.offlineLink.empty() != after.offlineLink.empty(),
        .failure = !before.failureShown && after.failureShown};
    if (change.statusName || change.failure) {
        change.live = after.failureShown ? LiveSetting::Assertive : LiveSetting::Polite;
    }
    return change;
}

}  // namespace tavro::ui
