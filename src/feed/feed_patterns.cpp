#include "feed/feed_patterns.h"

#include <stdexcept>

namespace tavro::feed {

namespace {

template <class Char>
bool IsDigit(Char c) {
    return c >= Char('0') && c <= Char('9');
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

template <class Char>
bool VersionForm(std::basic_string_view<Char> text) {
    int groups = 0;
    size_t i = 0;
    while (true) {
        const size_t start = i;
        while (i < text.size() && IsDigit(text[i])) ++i;
        if (i == start) return false;
        if (++groups == 3) return i == text.size();
        if (i == text.size() || text[i] != Char('.')) return false;
        ++i;
    }
}

// "[ \t]*(.*?)[ \t]*$" over the rest of a line: the value with blanks trimmed from
// both ends, or nothing when the rest holds a CR or LF, which "." does not match.
std::optional<std::string_view> TrimmedValue(std::string_view rest) {
    if (rest.find_first_of("\r\n") != std::string_view::npos) return std::nullopt;
    size_t begin = 0;
    size_t end = rest.size();
    while (begin < end && IsBlank(rest[begin])) ++begin;
    while (end > begin && IsBlank(rest[end - 1])) --end;
    return rest.substr(begin, end - begin);
}

// "prefix(key):" at the start of the line for one of the keys, then the trimmed value.
template <size_t N>
std::optional<LineFields> MatchKeyed(std::string_view line, std::string_view prefix,
                                     const std::string_view (&keys)[N]) {
    if (line.substr(0, prefix.size()) != prefix) return std::nullopt;
    line.remove_prefix(prefix.size());
    for (const std::string_view key : keys) {
        if (line.size() > key.size() && line.substr(0, key.size()) == key && line[key.size()] == ':') {
            if (auto value = TrimmedValue(line.substr(key.size() + 1))) {
                return LineFields{line.substr(0, key.size()), *value};
            }
            return std::nullopt;
        }
    }
    return std::nullopt;
}

template <class Char>
std::uint64_t ToUnsigned64(std::basic_string_view<Char> digits) {
    std::uint64_t value = 0;
    for (const Char c : digits) {
        const auto digit = static_cast<std::uint64_t>(c - Char('0'));
        if (value > (UINT64_MAX - digit) / 10) throw std::out_of_range("stoull argument out of range");
        value = value * 10 + digit;
    }
    return value;
}

bool IsBase64Char(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || IsDigit(c) || c == L'+' || c == L'/';
}

}  // namespace

bool MatchesVersionForm(std::string_view text) {
    return VersionForm(text);
}

bool MatchesVersionForm(std::wstring_view text) {
    return VersionForm(text);
}

bool MatchesDigits(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text) {
        if (!IsDigit(c)) return false;
    }
    return true;
}

std::uint64_t DigitsToUnsigned64(std::string_view digits) {
    return ToUnsigned64(digits);
}

std::uint64_t DigitsToUnsigned64(std::wstring_view digits) {
    return ToUnsigned64(digits);
}

bool MatchesBase64Sha512(std::wstring_view text) {
    if (text.size() != 88) return false;
    for (size_t i = 0; i < 85; ++i) {
        if (!IsBase64Char(text[i])) return false;
    }
    const wchar_t last = text[85];
    return (last == L'A' || last == L'Q' || last == L'g' || last == L'w') && text[86] == L'=' &&
           text[87] == L'=';
}

std::optional<LineFields> MatchTopLevelField(std::string_view line) {
    static constexpr std::string_view kKeys[] = {"version", "files"};
    return MatchKeyed(line, "", kKeys);
}

std::optional<std::string_view> MatchFileItem(std::string_view line) {
    static constexpr std::string_view kKeys[] = {"url"};
    if (auto fields = MatchKeyed(line, "  - ", kKeys)) return fields->value;
    return std::nullopt;
}

std::optional<LineFields> MatchFileField(std::string_view line) {
    static constexpr std::string_view kKeys[] = {"sha512", "size"};
    return MatchKeyed(line, "    ", kKeys);
}

bool MatchesBlockMapSize(std::string_view line) {
    constexpr std::string_view kPrefix = "    blockMapSize: ";
    if (line.substr(0, kPrefix.size()) != kPrefix) return false;
    size_t i = kPrefix.size();
    const size_t digitsStart = i;
    while (i < line.size() && IsDigit(line[i])) ++i;
    if (i == digitsStart) return false;
    while (i < line.size() && IsBlank(line[i])) ++i;
    return i == line.size();
}

}  // namespace tavro::feed
