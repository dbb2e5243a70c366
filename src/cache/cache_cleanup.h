#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavro::cache {

// Whether a file name in the cache is one that pruning may remove: 64 or 128 lower-case
// hex digits, ".exe", optionally ".etag", and nothing else.
bool IsPrunableCacheName(std::wstring_view name);

// Whether a name is a package's (the prunable names without ".etag").
bool IsPackageFileName(std::wstring_view name);

// One entry of the cache directory as the clean-up after a confirmed install sees it.
struct CacheEntry {
    std::wstring name;
    bool unsafe = false;                  // a reparse point, or unreadable: never followed or removed
    bool expired = false;                 // last written longer ago than pruning allows
    std::optional<std::wstring> version;  // a package's product version, when it can be read
};

// The names to remove once `installedVersion` is installed and confirmed: each package of
// that version or older, each package whose version cannot be read (a partial or damaged
// download: with a current copy installed, every later start hands over to it and never
// resumes a download), each expired package or validator, and each validator whose package
// goes or is missing. What stays is a newer package with its validator. Names pruning would
// not touch, and unsafe entries, are never named. Throws when `installedVersion` is not a
// major.minor.patch text.
std::vector<std::wstring> PlanInstalledCleanup(const std::vector<CacheEntry>& entries,
                                               std::wstring_view installedVersion);

}  // namespace tavro::cache
