#include "shared/locale_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"
#include "platform/text.h"
#include "support/error_of.h"

namespace tavro {
namespace {

using namespace std::string_view_literals;
using Names = std::vector<std::wstring>;

// The locales the installer ships, in document order.
const Names kShipped = {L"en-US", L"ja-JP", L"zh-CN", L"zh-TW", L"ko-KR", L"fr-FR",
                        L"de-DE", L"es-ES", L"pt-BR", L"pt-PT", L"it-IT", L"nl-NL",
                        L"id-ID", L"cs-CZ", L"pl-PL", L"uk-UA", L"tr-TR", L"vi-VN",
                        L"hi-IN", L"th-TH", L"ar-SA", L"fa-IR"};

struct SelectionCase {
    const char* name;
    Names preferred;
    std::wstring selected;
    bool japaneseFirst;
    bool rightToLeft;
};

void PrintTo(const SelectionCase& c, std::ostream* os) { *os << c.name; }

class ShippedSelection : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(ShippedSelection, ChoosesLocaleAndFlags) {
    const SelectionCase& c = GetParam();
    LocaleTable table;
    table.availableLocales = kShipped;
    ChooseLocale(table, c.preferred);
    EXPECT_EQ(WideToUtf8(table.selectedLocale), WideToUtf8(c.selected));
    EXPECT_EQ(table.japaneseFirst, c.japaneseFirst);
    EXPECT_EQ(IsRightToLeft(table.selectedLocale), c.rightToLeft);
}

INSTANTIATE_TEST_SUITE_P(
    LocaleTable, ShippedSelection,
    ::testing::Values(
        // Chinese: script subtags first, then regions, then simplified.
        SelectionCase{"ZhHk", {L"zh-HK"}, L"zh-TW", false, false},
        SelectionCase{"ZhHantHk", {L"zh-Hant-HK"}, L"zh-TW", false, false},
        SelectionCase{"ZhHansHk", {L"zh-Hans-HK"}, L"zh-CN", false, false},
        SelectionCase{"ZhHansTw", {L"zh-Hans-TW"}, L"zh-CN", false, false},
        SelectionCase{"ZhSg", {L"zh-SG"}, L"zh-CN", false, false},
        SelectionCase{"ZhMo", {L"zh-MO"}, L"zh-TW", false, false},
        SelectionCase{"ZhBare", {L"zh"}, L"zh-CN", false, false},
        SelectionCase{"ZhHantBare", {L"zh-Hant"}, L"zh-TW", false, false},
        SelectionCase{"ZhUnderscoreTw", {L"ZH_tw"}, L"zh-TW", false, false},
        SelectionCase{"ZhEmptySubtagTw", {L"zh--tw"}, L"zh-TW", false, false},
        // Portuguese: only a second subtag "pt" means Portugal.
        SelectionCase{"PtBare", {L"pt"}, L"pt-BR", false, false},
        SelectionCase{"PtAo", {L"pt-AO"}, L"pt-BR", false, false},
        SelectionCase{"PtPtExact", {L"pt-PT"}, L"pt-PT", false, false},
        SelectionCase{"PtLatnPt", {L"pt-Latn-PT"}, L"pt-BR", false, false},
        SelectionCase{"PtUnderscorePt", {L"PT_PT"}, L"pt-PT", false, false},
        // Language prefix of the first listed locale.
        SelectionCase{"FrCa", {L"fr-CA"}, L"fr-FR", false, false},
        SelectionCase{"EnGb", {L"en-GB"}, L"en-US", false, false},
        SelectionCase{"Es419", {L"es-419"}, L"es-ES", false, false},
        SelectionCase{"DeBare", {L"de"}, L"de-DE", false, false},
        SelectionCase{"ArEg", {L"ar-EG"}, L"ar-SA", false, true},
        SelectionCase{"FaAf", {L"fa-AF"}, L"fa-IR", false, true},
        SelectionCase{"FaIrExact", {L"fa-IR"}, L"fa-IR", false, true},
        SelectionCase{"EnUsMixedCase", {L"EN_us"}, L"en-US", false, false},
        // Later preferences are tried in order; nothing matching gives en-US.
        SelectionCase{"SvThenDeCh", {L"sv-SE", L"de-CH"}, L"de-DE", false, false},
        SelectionCase{"SvAlone", {L"sv-SE"}, L"en-US", false, false},
        SelectionCase{"Empty", {}, L"en-US", false, false},
        SelectionCase{"EmptyName", {L""}, L"en-US", false, false},
        SelectionCase{"NoLanguageSubtag", {L"-DE"}, L"en-US", false, false},
        SelectionCase{"HebrewIsNotRightToLeftHere", {L"he-IL"}, L"en-US", false, false},
        // Japanese-first looks only at the first preference's primary subtag.
        SelectionCase{"JaBare", {L"ja"}, L"ja-JP", true, false},
        SelectionCase{"JaUnderscoreUpper", {L"JA_jp"}, L"ja-JP", true, false},
        SelectionCase{"DeThenJa", {L"de-DE", L"ja-JP"}, L"de-DE", false, false},
        SelectionCase{"SvThenJa", {L"sv-SE", L"ja"}, L"ja-JP", false, false},
        SelectionCase{"JaThenDe", {L"ja-JP", L"de-DE"}, L"ja-JP", true, false},
        SelectionCase{"JavaneseIsNotJapanese", {L"jav-ID"}, L"en-US", false, false},
        SelectionCase{"JaScriptRegion", {L"ja-Latn-XX"}, L"ja-JP", true, false}),
    [](const ::testing::TestParamInfo<SelectionCase>& info) { return std::string(info.param.name); });

struct CustomListCase {
    const char* name;
    Names available;
    Names preferred;
    std::wstring selected;
};

void PrintTo(const CustomListCase& c, std::ostream* os) { *os << c.name; }

class CustomSelection : public ::testing::TestWithParam<CustomListCase> {};

TEST_P(CustomSelection, SpellsTheResultAsListed) {
    const CustomListCase& c = GetParam();
    EXPECT_EQ(WideToUtf8(SelectLocale(c.preferred, c.available)), WideToUtf8(c.selected));
}

INSTANTIATE_TEST_SUITE_P(
    LocaleTable, CustomSelection,
    ::testing::Values(
        CustomListCase{"ExactMatchKeepsDocumentSpelling", {L"en-US", L"Fr_fr"}, {L"fr-FR"}, L"Fr_fr"},
        CustomListCase{"PrefixMatchKeepsDocumentSpelling", {L"en-US", L"DE-de"}, {L"de-AT"}, L"DE-de"},
        CustomListCase{"PrefixTakesFirstInListOrder", {L"en-US", L"es-MX", L"es-ES"}, {L"es-AR"}, L"es-MX"},
        // The fixed Chinese and Portuguese names must be listed exactly as spelled.
        CustomListCase{"FixedZhNameComparedCaseSensitively", {L"en-US", L"zh-cn"}, {L"zh-SG"}, L"en-US"},
        CustomListCase{"FixedZhNameIgnoresPrefixRule", {L"en-US", L"zh-SG"}, {L"zh-MY"}, L"en-US"},
        CustomListCase{"FixedPtNameMissing", {L"en-US", L"pt-PT"}, {L"pt-AO"}, L"en-US"},
        CustomListCase{"FixedPtNameMissingThenExact", {L"en-US", L"pt-PT"}, {L"pt-AO", L"pt-PT"}, L"pt-PT"},
        CustomListCase{"FallbackNeedNotBeListed", {L"de-DE"}, {L"sv-SE"}, L"en-US"},
        CustomListCase{"NothingAvailable", {}, {L"de-DE"}, L"en-US"},
        CustomListCase{"PrefixNeedsDash", {L"en-US", L"de"}, {L"de-AT"}, L"en-US"},
        CustomListCase{"ExactBareLanguage", {L"en-US", L"de"}, {L"DE"}, L"de"}),
    [](const ::testing::TestParamInfo<CustomListCase>& info) { return std::string(info.param.name); });

TEST(LocaleTable, JapaneseFirstFollowsTheUserNotTheSelection) {
    LocaleTable table;
    table.availableLocales = {L"en-US", L"de-DE"};
    ChooseLocale(table, {L"ja-JP", L"de-DE"});
    EXPECT_EQ(WideToUtf8(table.selectedLocale), "de-DE");
    EXPECT_TRUE(table.japaneseFirst);

    ChooseLocale(table, {L"ja-JP"});
    EXPECT_EQ(WideToUtf8(table.selectedLocale), "en-US");
    EXPECT_TRUE(table.japaneseFirst);
}

TEST(LocaleTable, NormalizesUnderscoresAndAsciiCase) {
    const struct {
        std::wstring_view in;
        std::wstring_view out;
    } cases[] = {
        {L"EN_us", L"en-us"},
        {L"Zh_Hant_HK", L"zh-hant-hk"},
        {L"es-419", L"es-419"},
        {L"__", L"--"},
        {L"", L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WideToUtf8(NormalizeLanguageName(c.in)), WideToUtf8(c.out)) << WideToUtf8(c.in);
    }
}

TEST(LocaleTable, RightToLeftOnlyForExactArabicAndPersianNames) {
    const struct {
        std::wstring_view locale;
        bool expected;
    } cases[] = {
        {L"ar-SA", true}, {L"fa-IR", true},   {L"ar-sa", false}, {L"FA-IR", false},
        {L"ar-EG", false}, {L"ar", false},     {L"he-IL", false}, {L"", false},
        {L"ar-SA ", false}, {L"en-US", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsRightToLeft(c.locale), c.expected) << WideToUtf8(c.locale);
    }
}

TEST(LocaleTable, SplitsDoubleNulTerminatedLanguageList) {
    const struct {
        std::wstring_view buffer;
        Names expected;
    } cases[] = {
        {L"ja-JP\0\0"sv, {L"ja-JP"}},
        {L"fr-CA\0fr-FR\0en-US\0\0"sv, {L"fr-CA", L"fr-FR", L"en-US"}},
        {L"\0\0"sv, {}},
        {L""sv, {}},
        {L"de-DE"sv, {L"de-DE"}},
        {L"de-DE\0"sv, {L"de-DE"}},
        {L"a\0\0b\0\0"sv, {L"a"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SplitLanguageList(c.buffer), c.expected) << c.buffer.size() << " units";
    }
}

// Three locales: "en-US" has every key, "de-DE" only some, "fr-FR" none.
LocaleTable SampleTable(std::wstring_view selected) {
    LocaleTable table;
    LoadLocaleTexts(table, LR"({
        "en-US": {"common_retry": "Retry", "only_english": "English only", "Case": "upper"},
        "de-DE": {"common_retry": "Wiederholen"},
        "fr-FR": {}
    })");
    table.selectedLocale = selected;
    return table;
}

TEST(LocaleTable, LookupFallsBackToEnglishThenLastResort) {
    const struct {
        std::wstring_view selected;
        std::wstring_view key;
        std::string expected;
    } cases[] = {
        {L"de-DE", L"common_retry", "Wiederholen"},
        {L"de-DE", L"only_english", "English only"},
        {L"de-DE", L"missing", "Unable to continue. Please retry."},
        {L"fr-FR", L"common_retry", "Retry"},
        {L"en-US", L"only_english", "English only"},
        {L"en-US", L"missing", "Unable to continue. Please retry."},
        {L"xx-XX", L"common_retry", "Retry"},
        {L"", L"only_english", "English only"},
        // Keys and locale names compare exactly.
        {L"de-DE", L"Common_retry", "Unable to continue. Please retry."},
        {L"de-DE", L"case", "Unable to continue. Please retry."},
        {L"DE-DE", L"common_retry", "Retry"},
    };
    for (const auto& c : cases) {
        const LocaleTable table = SampleTable(c.selected);
        EXPECT_EQ(WideToUtf8(LookupText(table, c.key)), c.expected)
            << WideToUtf8(c.selected) << " / " << WideToUtf8(c.key);
    }
}

TEST(LocaleTable, LookupWithoutEnglishGivesLastResort) {
    LocaleTable table;
    LoadLocaleTexts(table, LR"({"de-DE": {"common_retry": "Wiederholen"}})");
    table.selectedLocale = L"de-DE";
    EXPECT_EQ(WideToUtf8(LookupText(table, L"common_retry")), "Wiederholen");
    EXPECT_EQ(WideToUtf8(LookupText(table, L"desktop_installer_paused")),
              "Unable to continue. Please retry.");
    EXPECT_EQ(WideToUtf8(LookupText(LocaleTable{}, L"common_retry")),
              "Unable to continue. Please retry.");
}

TEST(LocaleTable, LoadKeepsDocumentOrderAndText) {
    LocaleTable table;
    LoadLocaleTexts(table, Utf8ToWide(R"({"zz-ZZ": {"b": "2", "a": "1"},)"
                                      R"( "aa-AA": {"k": "再試行\u2026"}, "mm-MM": {}})"));
    EXPECT_EQ(table.availableLocales, (Names{L"zz-ZZ", L"aa-AA", L"mm-MM"}));
    ASSERT_EQ(table.texts.count(L"zz-ZZ"), 1u);
    EXPECT_EQ(WideToUtf8(table.texts.at(L"zz-ZZ").at(L"a")), "1");
    EXPECT_EQ(WideToUtf8(table.texts.at(L"zz-ZZ").at(L"b")), "2");
    EXPECT_EQ(WideToUtf8(table.texts.at(L"aa-AA").at(L"k")), "再試行…");
    // Loading chooses nothing by itself.
    EXPECT_TRUE(table.selectedLocale.empty());
    EXPECT_FALSE(table.japaneseFirst);
}

TEST(LocaleTable, LoadFailuresCarryTheJsonLayerCode) {
    const struct {
        const char* name;
        std::string_view document;
        Hresult code;
    } cases[] = {
        {"root is an array", R"([{"en-US": {"a": "b"}}])", kWebInvalidJsonString},
        {"empty text", "", kWebInvalidJsonString},
        {"truncated", R"({"en-US": {"a": "b"})", kWebInvalidJsonString},
        {"locale value is a string", R"({"en-US": "Retry"})", kEIllegalMethodCall},
        {"locale value is an array", R"({"en-US": ["Retry"]})", kEIllegalMethodCall},
        {"text is a number", R"({"en-US": {"common_retry": 5}})", kEIllegalMethodCall},
        {"text is null", R"({"en-US": {"common_retry": null}})", kEIllegalMethodCall},
        {"text is an object", R"({"en-US": {"common_retry": {}}})", kEIllegalMethodCall},
    };
    for (const auto& c : cases) {
        LocaleTable table;
        EXPECT_EQ(static_cast<std::uint32_t>(testing::CodeOf([&] { LoadLocaleTexts(table, Utf8ToWide(c.document)); })),
                  static_cast<std::uint32_t>(c.code))
            << c.name;
    }
}

TEST(LocaleTable, FailedLoadKeepsWhatWasStored) {
    LocaleTable table;
    EXPECT_THROW(LoadLocaleTexts(table, LR"({
        "en-US": {"common_retry": "Retry", "bad": 7, "later": "never stored"},
        "de-DE": {"common_retry": "Wiederholen"}
    })"),
                 PlatformError);
    EXPECT_EQ(table.availableLocales, (Names{L"en-US"}));
    ChooseLocale(table, {L"de-DE"});
    EXPECT_EQ(WideToUtf8(table.selectedLocale), "en-US");
    EXPECT_EQ(WideToUtf8(LookupText(table, L"common_retry")), "Retry");
    EXPECT_EQ(WideToUtf8(LookupText(table, L"later")), "Unable to continue. Please retry.");

    LocaleTable second;
    EXPECT_THROW(LoadLocaleTexts(second, LR"({"en-US": {"a": "A"}, "de-DE": "oops", "fr-FR": {}})"),
                 PlatformError);
    EXPECT_EQ(second.availableLocales, (Names{L"en-US", L"de-DE"}));
    EXPECT_EQ(second.texts.count(L"de-DE"), 0u);
}

}  // namespace
}  // namespace tavro
