#include "ui/page_model.h"

#include <algorithm>

#include "ui/page_layout.h"

namespace tavro::ui {

std::vector<PageItem> PageItems(const PageState& page, const std::wstring& retryText) {
    std::vector<PageItem> items;
    items.push_back({PageItemKind::Status, page.status, L"", 36, 521, StatusWidth(page.failureShown), 48});
    if (!page.failureShown) {
        items.push_back({PageItemKind::Progress, L"", ProgressValue(page), kTrackLeft, kBarTop, kTrackWidth, kBarHeight});
    }
    if (!page.detail.empty()) items.push_back({PageItemKind::Detail, page.detail, L"", 36, 546, 590, 18});
    if (page.failureShown) items.push_back({PageItemKind::Retry, retryText, L"", 624, 519, 120, 36});
    return items;
}

std::wstring ProgressValue(const PageState& page) {
    if (page.failureShown || page.progress < 0) return {};
    return PercentLabel(std::min(page.progress, 100));
}

PageAnnouncement DecideAnnouncement(const PageState& before, const PageState& after) {
    return {.statusName = before.status != after.status,
            .progressValue = !after.failureShown && ProgressValue(before) != ProgressValue(after),
            .partsChanged = before.failureShown != after.failureShown || before.detail.empty() != after.detail.empty(),
            .failure = !before.failureShown && after.failureShown};
}

}  // namespace tavro::ui
