// Version texts (UTF-16, as the feed, version resources and the registry give them): two
// texts split at the first NUL. The form test must agree with its expression, parsing must
// give the components' values or one of the two documented failures, and the comparison
// must be an order.
#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <tuple>

#include "feed/feed_patterns.h"
#include "feed/version.h"
#include "fuzz_checks.h"

namespace tavro::fuzz {
namespace {

// The version rule by a second road: every component read as an unbounded number.
bool ReferenceParse(const std::wstring& text, std::uint64_t (&components)[3]) {
    std::size_t position = 0;
    for (std::uint64_t& component : components) {
        std::size_t stop = text.find(L'.', position);
        if (stop == std::wstring::npos) stop = text.size();
        component = 0;
        for (std::size_t i = position; i < stop; ++i) {
            component = component * 10 + static_cast<std::uint64_t>(text[i] - L'0');
            if (component > 0xFFFFFFFFull) return false;
        }
        position = stop + 1;
    }
    return true;
}

std::optional<feed::VersionNumber> Parse(const std::wstring& text) {
    static const std::wregex form(L"[0-9]+\\.[0-9]+\\.[0-9]+");
    const bool matches = feed::MatchesVersionForm(std::wstring_view(text));
    if (text.size() <= 256) Require(matches == std::regex_match(text, form), "version form agrees with its expression");
    std::uint64_t expected[3] = {};
    const bool fits = matches && ReferenceParse(text, expected);
    try {
        const feed::VersionNumber version = feed::ParseVersion(text);
        Require(fits && version.major == expected[0] && version.minor == expected[1] && version.patch == expected[2],
                "a parsed version has the components' values");
        return version;
    } catch (const std::exception& e) {
        RequireMessage(e, {matches ? "stoul argument out of range" : "Invalid version"});
        Require(!fits, "a version of the form that fits is not refused");
        return std::nullopt;
    }
}

int Order(const feed::VersionNumber& a, const feed::VersionNumber& b) {
    const auto left = std::tie(a.major, a.minor, a.patch);
    const auto right = std::tie(b.major, b.minor, b.patch);
    return left < right ? -1 : (right < left ? 1 : 0);
}

}  // namespace
}  // namespace tavro::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tavro;
    using namespace tavro::fuzz;
    const std::wstring input = Utf16Of(data, size);
    const std::size_t split = input.find(L'\0');
    const std::wstring a = input.substr(0, split);
    const std::wstring b = split == std::wstring::npos ? a : input.substr(split + 1);
    const auto left = Parse(a);
    const auto right = Parse(b);
    try {
        const int forward = feed::CompareVersions(a, b);
        Require(left && right && forward == Order(*left, *right), "comparison orders the components");
        Require(feed::CompareVersions(b, a) == -forward, "comparison is antisymmetric");
    } catch (const std::exception&) {
        Require(!left || !right, "two valid versions always compare");
    }
    return 0;
}
