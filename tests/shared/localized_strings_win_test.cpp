#include "shared/localized_strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include "json/json.h"
#include "platform/text.h"
#include "ui/page_painter.h"

// The ctest registration says what this run must see: TAVRO_EXPECT_LOCALE names the locale
// that the user language (LC_ALL under Wine) must select from the program's own resource;
// TAVRO_EXPECT_LOAD_ERROR is the message of a program built without a usable resource.

namespace tavro {
namespace {

constexpr char kLastResort[] = "Unable to continue. Please retry.";

std::string Setting(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The texts of one locale as the source file holds them, key order kept.
std::vector<std::pair<std::wstring, std::string>> SourceTexts(const std::string& locale) {
    const std::string path = Setting("TAVRO_SOURCE_DIR") + "/resources/locales.json";
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot open " + path);
    const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::vector<std::pair<std::wstring, std::string>> texts;
    const json::JsonObject locales = json::JsonObject::Parse(Utf8ToWide(bytes));
    for (const auto& [key, text] : locales.GetNamedObject(Utf8ToWide(locale)).Members()) {
        texts.emplace_back(key, WideToUtf8(text.GetString()));
    }
    return texts;
}

TEST(LocalizedStrings, RegistrationStatesAnExpectation) {
    EXPECT_NE(Setting("TAVRO_EXPECT_LOCALE").empty(), Setting("TAVRO_EXPECT_LOAD_ERROR").empty())
        << "set exactly one of TAVRO_EXPECT_LOCALE and TAVRO_EXPECT_LOAD_ERROR";
}

TEST(LocalizedStrings, UserLanguageSelectsTextsFromTheResource) {
    const std::string expected = Setting("TAVRO_EXPECT_LOCALE");
    if (expected.empty()) GTEST_SKIP() << "this program carries no usable locale resource";

    LoadLocalizedStrings();

    const auto texts = SourceTexts(expected);
    ASSERT_FALSE(texts.empty());
    ASSERT_EQ(texts.size(), SourceTexts("en-US").size());
    for (const auto& [key, text] : texts) {
        EXPECT_EQ(WideToUtf8(LookupText(key)), text) << WideToUtf8(key);
    }
    EXPECT_EQ(WideToUtf8(LookupText(L"no_such_key")), kLastResort);
    EXPECT_EQ(PrefersJapaneseUi(), expected == "ja-JP");
    EXPECT_EQ(IsRightToLeftUi(), expected == "ar-SA" || expected == "fa-IR");
}

// Whether the prefix's own font (Tahoma, which the page's text falls back to without Segoe UI)
// has a glyph for every character: text in other scripts is laid out by whatever fallback font
// this Wine finds, which says nothing of the fonts Windows draws them with.
bool FontCarries(const std::wstring& text) {
    const HDC dc = CreateCompatibleDC(nullptr);
    const HFONT font = CreateFontW(-16, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                   CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma");
    const HGDIOBJ previous = SelectObject(dc, font);
    std::vector<WORD> glyphs(text.size());
    const bool all = GetGlyphIndicesW(dc, text.c_str(), static_cast<int>(text.size()), glyphs.data(),
                                      GGI_MARK_NONEXISTING_GLYPHS) == text.size() &&
                     std::find(glyphs.begin(), glyphs.end(), WORD{0xFFFF}) == glyphs.end();
    SelectObject(dc, previous);
    DeleteObject(font);
    DeleteDC(dc);
    return all;
}

// The failure texts that may stand above the offline link, and the link itself, whole in their
// boxes at each DPI: none is cut, whichever locale is the longest. Measured where the prefix's
// font draws them (the longest, Latin and Cyrillic ones among them). The reading order is this
// run's own (Arabic's is right to left).
TEST(LocalizedStrings, FailureTextsAndTheOfflineLinkFitThePage) {
    if (Setting("TAVRO_EXPECT_LOCALE").empty()) GTEST_SKIP() << "this program carries no usable locale resource";
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
    const std::string path = Setting("TAVRO_SOURCE_DIR") + "/resources/locales.json";
    std::ifstream file(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const json::JsonObject locales = json::JsonObject::Parse(Utf8ToWide(bytes));
    const std::pair<const wchar_t*, ui::PageText> texts[] = {
        {L"desktop_installer_proxy_error", ui::PageText::Status},
        {L"desktop_installer_untrusted_connection_error", ui::PageText::Status},
        {L"desktop_installer_network_error", ui::PageText::Status},
        {L"desktop_installer_verification_error", ui::PageText::Status},
        {L"desktop_installer_offline_link", ui::PageText::Link},
    };
    int measured = 0;
    std::string unmeasured;
    for (const auto& [locale, unused] : locales.Members()) {
        for (const auto& [key, which] : texts) {
            const std::wstring text = locales.GetNamedObject(locale).GetNamedString(key);
            if (!FontCarries(text)) {
                if (unmeasured.find(WideToUtf8(locale)) == std::string::npos) unmeasured += " " + WideToUtf8(locale);
                continue;
            }
            for (const unsigned dpi : {96u, 144u, 192u}) {
                const ui::TextFit fit = ui::MeasureFailureText(which, text, dpi, true);
                EXPECT_TRUE(fit.whole) << WideToUtf8(locale) << " " << WideToUtf8(key) << " at " << dpi << ": "
                                       << fit.box.width << " x " << fit.box.height << " at " << fit.box.y;
                EXPECT_GT(fit.box.width, 0.0f) << WideToUtf8(locale) << " " << WideToUtf8(key) << " at " << dpi;
                ++measured;
            }
        }
    }
    // de-DE and fr-FR hold the longest texts; they and every Latin and Cyrillic locale are measured.
    EXPECT_GE(measured, 14 * 5 * 3) << "not measured:" << unmeasured;
    std::printf("fit measured %d texts; no glyphs in the prefix's font for:%s\n", measured, unmeasured.c_str());
    Gdiplus::GdiplusShutdown(token);
}

TEST(LocalizedStrings, UnusableResourceFailsAndLeavesTheLastResortText) {
    const std::string message = Setting("TAVRO_EXPECT_LOAD_ERROR");
    if (message.empty()) GTEST_SKIP() << "this program carries the locale resource";

    try {
        LoadLocalizedStrings();
        ADD_FAILURE() << "the load succeeded";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), message.c_str());
    }
    EXPECT_EQ(WideToUtf8(LookupText(L"desktop_installer_verification_error")), kLastResort);
    EXPECT_EQ(WideToUtf8(LookupText(L"common_retry")), kLastResort);
    EXPECT_FALSE(IsRightToLeftUi());
    EXPECT_FALSE(PrefersJapaneseUi());
}

}  // namespace
}  // namespace tavro
