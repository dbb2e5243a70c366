#include "cache/cache_cleanup.h"

#include <exception>
#include <set>

#include "feed/version.h"

namespace tavro::cache {

namespace {

constexpr std::wstring_view kValidatorSuffix = L".etag";

bool IsLowerHexDigit(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f');
}

// Whether a package of this version is still worth keeping beside the installed one.
bool IsNewerThan(const std::optional<std::wstring>& version, const feed::VersionNumber& installed) {
    if (!version) return false;
    try {
        return feed::ParseVersion(*version) > installed;
    } catch (const std::exception&) {
        return false;  // as unreadable as a missing version
    }
}

}  // namespace

bool IsPrunableCacheName(std::wstring_view name) {
    std::size_t digits = 0;
    while (digits < name.size() && IsLowerHexDigit(name[digits])) ++digits;
    if (digits != 64 && digits != 128) return false;
    const std::wstring_view rest = name.substr(digits);
    return rest == L".exe" || rest == L".exe.etag";
}

bool IsPackageFileName(std::wstring_view name) {
    return IsPrunableCacheName(name) && !name.ends_with(kValidatorSuffix);
}

std::vector<std::wstring> PlanInstalledCleanup(const std::vector<CacheEntry>& entries,
                                               std::wstring_view installedVersion) {
    const feed::VersionNumber installed = feed::ParseVersion(installedVersion);
    std::vector<std::wstring> removals;
    std::set<std::wstring, std::less<>> keptPackages;
    for (const CacheEntry& entry : entries) {
        if (entry.unsafe || !IsPackageFileName(entry.name)) continue;
        if (!entry.expired && IsNewerThan(entry.version, installed)) {
            keptPackages.insert(entry.name);
        } else {
            removals.push_back(entry.name);
        }
    }
    for (const CacheEntry& entry : entries) {
        if (entry.unsafe || !IsPrunableCacheName(entry.name) || IsPackageFileName(entry.name)) continue;
        const std::wstring_view name = entry.name;
        const std::wstring_view package = name.substr(0, name.size() - kValidatorSuffix.size());
        if (entry.expired || !keptPackages.contains(package)) removals.push_back(entry.name);
    }
    return removals;
}

}  // namespace tavro::cache
