#include "cache/cache_cleanup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

namespace tavro::cache {
namespace {

std::wstring Package(wchar_t digit, std::size_t length = 128) {
    return std::wstring(length, digit) + L".exe";
}

TEST(CacheCleanup, AfterAConfirmedInstallOnlyNewerPackagesAndTheirValidatorsStay) {
    struct Row {
        CacheEntry entry;
        bool removed;
    };
    const Row rows[] = {
        {{Package(L'0'), false, false, L"1.2.3"}, true},  // the installed version
        {{Package(L'1', 64), false, false, L"1.2.2"}, true},
        {{Package(L'3'), false, false, std::nullopt}, true},  // partial: no version
        {{Package(L'4'), false, false, L"1.2"}, true},
        {{Package(L'5'), false, false, L"1.2.4"}, false},
        {{Package(L'6'), false, false, L"1.10.0"}, false},  // numbers, not text, compare
        {{Package(L'7'), false, true, L"2.0.0"}, true},     // newer, but stale
        {{Package(L'8'), true, true, std::nullopt}, false},  // a reparse point is never touched
        {{Package(L'5') + L".etag", false, false, {}}, false},
        {{Package(L'6') + L".etag", false, true, {}}, true},
        {{Package(L'0') + L".etag", false, false, {}}, true},
        {{Package(L'9') + L".etag", false, false, {}}, true},  // no package beside it
        {{Package(L'a') + L".etag", true, true, {}}, false},
        {{L"session.lock", false, true, {}}, false},
        {{Package(L'A'), false, true, L"1.0.0"}, false},
    };
    std::vector<CacheEntry> entries;
    for (const Row& row : rows) entries.push_back(row.entry);
    const std::vector<std::wstring> removals = PlanInstalledCleanup(entries, L"1.2.3");
    for (const Row& row : rows) {
        const bool named = std::count(removals.begin(), removals.end(), row.entry.name) == 1;
        EXPECT_EQ(named, row.removed) << std::string(row.entry.name.begin(), row.entry.name.end());
    }
    EXPECT_THROW(PlanInstalledCleanup(entries, L"1.2"), std::runtime_error);
}

}  // namespace
}  // namespace tavro::cache
