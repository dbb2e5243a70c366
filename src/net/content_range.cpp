#include "net/content_range.h"

#include "feed/feed_patterns.h"

namespace tavro::net {

namespace {

bool IsDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

// Consumes "[0-9]+" at the position; nothing when there is no digit there.
std::optional<std::wstring_view> TakeDigits(std::wstring_view text, size_t& position) {
    const size_t start = position;
    while (position < text.size() && IsDigit(text[position])) ++position;
    if (position == start) return std::nullopt;
    return text.substr(start, position - start);
}

}  // namespace

std::optional<ContentRange> ParseContentRange(std::wstring_view value) {
    constexpr std::wstring_view kPrefix = L"bytes ";
    if (value.substr(0, kPrefix.size()) != kPrefix) return std::nullopt;
    size_t position = kPrefix.size();
    const auto first = TakeDigits(value, position);
    if (!first || position >= value.size() || value[position++] != L'-') return std::nullopt;
    const auto last = TakeDigits(value, position);
    if (!last || position >= value.size() || value[position++] != L'/') return std::nullopt;
    const auto total = TakeDigits(value, position);
    if (!total || position != value.size()) return std::nullopt;
    // The numbers are converted only once the whole value has matched.
    return ContentRange{feed::DigitsToUnsigned64(*first), feed::DigitsToUnsigned64(*last), feed::DigitsToUnsigned64(*total)};
}

}  // namespace tavro::net
