#include "verify/installed_app.h"

#include <exception>

#include "feed/version.h"

namespace tavro::verify {

bool IsApplicationDisplayName(const std::wstring& displayName) {
    constexpr std::wstring_view kName = L"Tavro";
    if (displayName == kName) return true;
    if (displayName.size() <= kName.size() + 1 || displayName.compare(0, kName.size() + 1, L"Tavro ") != 0) {
        return false;
    }
    const std::wstring version = displayName.substr(kName.size() + 1);
    try {
        feed::CompareVersions(version, version);
        return true;
    } catch (const std::exception&) {
        return false;  // not a version, or a component beyond 32 bits
    }
}

}  // namespace tavro::verify
