// The locale document and the choice of a locale. The input is a language list in the shape
// the language query returns (names ended by NUL, the list by an empty name), then the
// document (UTF-8); without a list end the whole input serves as both. A document may fail
// only with the JSON layer's error, and the choice, against the document and against the
// shipped locales, must always name a listed locale or "en-US".
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_checks.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "shared/locale_table.h"

namespace tavro::fuzz {
namespace {

std::vector<std::wstring> shipped;

void RequireListedOrFallback(const std::wstring& selected, const std::vector<std::wstring>& available) {
    Require(selected == kFallbackLocale || std::find(available.begin(), available.end(), selected) != available.end(),
            "the chosen locale is listed, or the fallback");
}

}  // namespace
}  // namespace tavro::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::ifstream file(TAVRO_LOCALES_JSON, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    tavro::LocaleTable table;
    tavro::LoadLocaleTexts(table, tavro::Utf8ToWide(text));
    tavro::fuzz::shipped = table.availableLocales;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tavro;
    using namespace tavro::fuzz;
    const std::wstring input = Utf8ToWide(BytesOf(data, size));
    const std::size_t listEnd = input.find(std::wstring_view(L"\0\0", 2));
    const std::vector<std::wstring> preferred = SplitLanguageList(input.substr(0, listEnd));
    const std::wstring document = listEnd == std::wstring::npos ? input : input.substr(listEnd + 2);

    tavro::LocaleTable table;
    try {
        LoadLocaleTexts(table, document);
    } catch (const PlatformError& e) {
        Require(e.code() == kWebInvalidJsonString || e.code() == kEIllegalMethodCall,
                "a refused document carries the JSON layer's code");
    }
    for (const std::wstring& locale : table.availableLocales) {
        Require(std::count(table.availableLocales.begin(), table.availableLocales.end(), locale) == 1,
                "each locale is listed once");
    }
    ChooseLocale(table, preferred);
    RequireListedOrFallback(table.selectedLocale, table.availableLocales);
    Require(table.japaneseFirst == (!preferred.empty() &&
                                    NormalizeLanguageName(preferred.front()).starts_with(L"ja") &&
                                    (preferred.front().size() == 2 || preferred.front()[2] == L'-' ||
                                     preferred.front()[2] == L'_')),
            "Japanese first exactly when the first language is ja");
    const auto selected = table.texts.find(table.selectedLocale);
    if (const auto english = table.texts.find(std::wstring(kFallbackLocale)); english != table.texts.end()) {
        for (const auto& [key, text] : english->second) {
            const bool own = selected != table.texts.end() && selected->second.contains(key);
            Require(LookupText(table, key) == (own ? selected->second.at(key) : text),
                    "a text comes from the chosen locale, else from en-US");
        }
    }
    RequireListedOrFallback(SelectLocale(preferred, shipped), shipped);
    return 0;
}
