#include "shared/locale_table.h"

#include <algorithm>
#include <cwctype>

#include "json/json.h"

namespace tavro {

namespace {

std::vector<std::wstring> SplitSubtags(std::wstring_view name) {
    // Empty pieces stay: "zh--tw" has the subtags "zh", "" and "tw".
    std::vector<std::wstring> subtags;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dash = name.find(L'-', start);
        if (dash == std::wstring_view::npos) {
            subtags.emplace_back(name.substr(start));
            return subtags;
        }
        subtags.emplace_back(name.substr(start, dash - start));
        start = dash + 1;
    }
}

bool HasSubtag(const std::vector<std::wstring>& subtags, std::wstring_view wanted) {
    return std::find(subtags.begin(), subtags.end(), wanted) != subtags.end();
}

std::wstring CandidateFor(const std::vector<std::wstring>& subtags,
                          const std::vector<std::wstring>& available) {
    const std::wstring& language = subtags.front();
    if (language == L"zh") {
        // The order matters: a script subtag outranks the region, so zh-Hans-HK is simplified.
        if (HasSubtag(subtags, L"hant")) return L"zh-TW";
        if (HasSubtag(subtags, L"hans")) return L"zh-CN";
        if (HasSubtag(subtags, L"tw") || HasSubtag(subtags, L"hk") || HasSubtag(subtags, L"mo")) {
            return L"zh-TW";
        }
        return L"zh-CN";
    }
    if (language == L"pt") {
        return subtags.size() > 1 && subtags[1] == L"pt" ? L"pt-PT" : L"pt-BR";
    }
    const std::wstring prefix = language + L"-";
    for (const std::wstring& locale : available) {
        if (NormalizeLanguageName(locale).starts_with(prefix)) return locale;
    }
    return {};
}

}  // namespace

void LoadLocaleTexts(LocaleTable& table, std::wstring_view documentText) {
    const json::JsonObject root = json::JsonObject::Parse(documentText);
    for (const auto& [locale, value] : root.Members()) {
        // Listed before its value is read: when the value or one of its texts has the wrong
        // type, the locale stays listed with the texts stored up to that point.
        table.availableLocales.push_back(locale);
        const json::JsonObject texts = value.GetObject();
        for (const auto& [key, text] : texts.Members()) {
            table.texts[locale][key] = text.GetString();
        }
    }
}

std::wstring NormalizeLanguageName(std::wstring_view name) {
    std::wstring normalized;
    normalized.reserve(name.size());
    for (const wchar_t c : name) {
        // Without setlocale the C runtime maps only ASCII letters, on Windows and on Linux alike.
        normalized.push_back(c == L'_' ? L'-' : static_cast<wchar_t>(std::towlower(c)));
    }
    return normalized;
}

bool IsJapaneseFirst(const std::vector<std::wstring>& preferred) {
    if (preferred.empty()) return false;
    const std::wstring normalized = NormalizeLanguageName(preferred.front());
    return normalized.substr(0, normalized.find(L'-')) == L"ja";
}

std::wstring SelectLocale(const std::vector<std::wstring>& preferred,
                          const std::vector<std::wstring>& available) {
    for (const std::wstring& language : preferred) {
        const std::wstring normalized = NormalizeLanguageName(language);
        for (const std::wstring& locale : available) {
            if (NormalizeLanguageName(locale) == normalized) return locale;
        }
        // The candidate must be spelled exactly as a listed locale; the fixed zh/pt names
        // are not normalised, so a document that spells them otherwise never yields them.
        const std::wstring candidate = CandidateFor(SplitSubtags(normalized), available);
        if (std::find(available.begin(), available.end(), candidate) != available.end()) {
            return candidate;
        }
    }
    return std::wstring(kFallbackLocale);
}

void ChooseLocale(LocaleTable& table, const std::vector<std::wstring>& preferred) {
    table.japaneseFirst = IsJapaneseFirst(preferred);
    table.selectedLocale = SelectLocale(preferred, table.availableLocales);
}

std::wstring LookupText(const LocaleTable& table, std::wstring_view key) {
    for (const std::wstring_view locale : {std::wstring_view(table.selectedLocale), kFallbackLocale}) {
        const auto texts = table.texts.find(std::wstring(locale));
        if (texts == table.texts.end()) continue;
        const auto text = texts->second.find(std::wstring(key));
        if (text != texts->second.end()) return text->second;
    }
    return std::wstring(kLastResortText);
}

bool IsRightToLeft(std::wstring_view locale) {
    return locale == L"ar-SA" || locale == L"fa-IR";
}

std::vector<std::wstring> SplitLanguageList(std::wstring_view buffer) {
    std::vector<std::wstring> names;
    std::size_t start = 0;
    while (start < buffer.size() && buffer[start] != L'\0') {
        std::size_t end = buffer.find(L'\0', start);
        if (end == std::wstring_view::npos) end = buffer.size();
        names.emplace_back(buffer.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

}  // namespace tavro
