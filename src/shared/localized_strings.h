#pragma once

#include <string>
#include <string_view>

namespace tavro {

// Loads the locale resource (RCDATA 301) and chooses the locale from the user's preferred
// display languages. Call once on the UI thread before any other thread starts. Throws
// "Missing installer locale resource", "Invalid installer locale resource" or the JSON
// layer's PlatformError; texts stored before a failure stay available to lookups.
void LoadLocalizedStrings();

// The key's text in the chosen locale, else in "en-US", else "Unable to continue. Please retry.".
std::wstring LookupText(std::wstring_view key);

// True when the chosen locale is drawn right to left ("ar-SA" or "fa-IR").
bool IsRightToLeftUi();

// True when the user's first display language is Japanese (selects the Japanese clip).
bool PrefersJapaneseUi();

}  // namespace tavro
