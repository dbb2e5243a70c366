#include "feed/version.h"

#include <stdexcept>

#include "feed/feed_patterns.h"
#include "platform/errors.h"

namespace tavro::feed {

namespace {

// The component's value; digits only, as the form guarantees.
std::uint32_t ComponentValue(std::wstring_view digits) {
    std::uint64_t value = 0;
    for (const wchar_t c : digits) {
        value = value * 10 + static_cast<std::uint64_t>(c - L'0');
        // The message is the standard library's, whatever width unsigned long has here.
        if (value > 0xFFFFFFFFull) throw std::out_of_range("stoul argument out of range");
    }
    return static_cast<std::uint32_t>(value);
}

}  // namespace

VersionNumber ParseVersion(std::wstring_view text) {
    if (!MatchesVersionForm(text)) Fail("Invalid version");
    std::uint32_t components[3] = {};
    size_t position = 0;
    for (auto& component : components) {
        size_t stop = text.find(L'.', position);
        if (stop == std::wstring_view::npos) stop = text.size();
        component = ComponentValue(text.substr(position, stop - position));
        position = stop + 1;
    }
    return {components[0], components[1], components[2]};
}

int CompareVersions(std::wstring a, std::wstring b) {
    const VersionNumber left = ParseVersion(a);
    const VersionNumber right = ParseVersion(b);
    if (left == right) return 0;
    return left > right ? 1 : -1;
}

}  // namespace tavro::feed
