#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Whole-string matchers for the fixed expressions of the feed and its artifacts.
// Each gives exactly the result of std::regex_match with the ECMAScript grammar for
// the expression named beside it, but in one pass and constant stack: the library's
// engine recurses once per character and crashes on long lines that anyone serving
// a feed can send. In these expressions "." matches any unit except CR and LF.

namespace tavro::feed {

// "[0-9]+\.[0-9]+\.[0-9]+"
bool MatchesVersionForm(std::string_view text);
bool MatchesVersionForm(std::wstring_view text);

// "[0-9]+"
bool MatchesDigits(std::string_view text);

// The value of a text that matched "[0-9]+", as an unsigned 64-bit number; throws
// std::out_of_range "stoull argument out of range" when it does not fit, as the standard
// conversion would, whatever width the library's unsigned long long has.
std::uint64_t DigitsToUnsigned64(std::string_view digits);
std::uint64_t DigitsToUnsigned64(std::wstring_view digits);

// "[A-Za-z0-9+/]{85}[AQgw]=="
bool MatchesBase64Sha512(std::wstring_view text);

// A key and a value captured from one line; both point into the line.
struct LineFields {
    std::string_view key;
    std::string_view value;
};

// "^(version|files):[ \t]*(.*?)[ \t]*$"
std::optional<LineFields> MatchTopLevelField(std::string_view line);

// "^  - url:[ \t]*(.*?)[ \t]*$"; the URL value.
std::optional<std::string_view> MatchFileItem(std::string_view line);

// "^    (sha512|size):[ \t]*(.*?)[ \t]*$"
std::optional<LineFields> MatchFileField(std::string_view line);

// "^    blockMapSize: [0-9]+[ \t]*$"
bool MatchesBlockMapSize(std::string_view line);

}  // namespace tavro::feed
