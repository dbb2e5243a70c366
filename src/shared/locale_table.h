#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {

// The locale every lookup falls back to, and the one chosen when nothing else matches.
inline constexpr std::wstring_view kFallbackLocale = L"en-US";

// What a lookup returns when neither the selected locale nor the fallback has the key.
inline constexpr std::wstring_view kLastResortText = L"Unable to continue. Please retry.";

// The localized texts of the process and the choice made from them at start.
struct LocaleTable {
    // locale name -> (text key -> text), both ordered by UTF-16 code units.
    std::map<std::wstring, std::map<std::wstring, std::wstring>> texts;
    // Locale names in the order the parsed document enumerates them.
    std::vector<std::wstring> availableLocales;
    // Spelled as in the document (or as one of the fixed fallback names); empty until chosen.
    std::wstring selectedLocale;
    // True when the user's first display language is Japanese.
    bool japaneseFirst = false;
};

// Parses the locale document (UTF-16 JSON text) into the table's texts and available
// locales; the JSON layer's PlatformError propagates, leaving what was stored before it.
void LoadLocaleTexts(LocaleTable& table, std::wstring_view documentText);

// "_" becomes "-", every other character goes through the C runtime's towlower.
std::wstring NormalizeLanguageName(std::wstring_view name);

// True when the first preferred language has the primary subtag "ja".
bool IsJapaneseFirst(const std::vector<std::wstring>& preferred);

// The available locale for the user's preferred display languages, or "en-US".
std::wstring SelectLocale(const std::vector<std::wstring>& preferred,
                          const std::vector<std::wstring>& available);

// Sets the Japanese-first flag and the selected locale from the preferred languages.
void ChooseLocale(LocaleTable& table, const std::vector<std::wstring>& preferred);

// The key's text in the selected locale, else in "en-US", else the last-resort text.
std::wstring LookupText(const LocaleTable& table, std::wstring_view key);

// True for the locales drawn right to left: exactly "ar-SA" and "fa-IR".
bool IsRightToLeft(std::wstring_view locale);

// Splits a list of NUL-terminated names that ends with an empty name (the shape of
// a MUI language list); a buffer that lacks the final NUL ends at its last unit.
std::vector<std::wstring> SplitLanguageList(std::wstring_view buffer);

}  // namespace tavro
