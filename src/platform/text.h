#pragma once

#include <string>
#include <string_view>

namespace tavro {

// Wide strings hold UTF-16 code units in every build, so a text has the same
// length and the same units on Windows (16-bit wchar_t) and on Linux (32-bit).

// UTF-8 to UTF-16; malformed input is replaced with U+FFFD, never refused.
std::wstring Utf8ToWide(std::string_view text);

// UTF-16 to UTF-8; unpaired surrogates are replaced with U+FFFD, never refused.
std::string WideToUtf8(std::wstring_view text);

// Case-insensitive equality as Windows compares file names (ordinal, upper-case folding).
bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b);

}  // namespace tavro
