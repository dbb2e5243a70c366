#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "json/json.h"
#include "platform/text.h"
#include "shared/locale_table.h"

namespace tavro {
namespace {

const std::vector<std::string> kLocaleOrder = {
    "en-US", "ja-JP", "zh-CN", "zh-TW", "ko-KR", "fr-FR", "de-DE", "es-ES",
    "pt-BR", "pt-PT", "it-IT", "nl-NL", "id-ID", "cs-CZ", "pl-PL", "uk-UA",
    "tr-TR", "vi-VN", "hi-IN", "th-TH", "ar-SA", "fa-IR"};

// The English texts, in the order every locale lists its keys.
const std::vector<std::pair<std::string, std::string>> kEnglish = {
    {"desktop_installer_checking", "Checking release…"},
    {"desktop_installer_downloading", "Downloading Tavro…"},
    {"desktop_installer_verifying", "Verifying application…"},
    {"desktop_installer_installing", "Installing Tavro…"},
    {"desktop_installer_installed", "Tavro is installed."},
    {"desktop_installer_opening", "Opening Tavro…"},
    {"desktop_installer_saving", "Saving download progress…"},
    {"desktop_installer_paused", "Download paused."},
    {"desktop_installer_network_error", "Unable to download Tavro. Check your connection and retry."},
    {"desktop_installer_disk_error", "Not enough disk space. Free up space and retry."},
    {"desktop_installer_permission_error",
     "Unable to write to Applications. Check folder permissions and retry."},
    {"desktop_installer_verification_error",
     "Unable to verify the installer or application. Download the installer again."},
    {"desktop_installer_unsupported_error", "This Mac or macOS version is not supported."},
    {"desktop_installer_running_error",
     "Tavro is running. Save your work and quit Tavro, then click Retry to continue installing."},
    {"desktop_installer_launch_error", "Unable to open Tavro. Please retry."},
    {"desktop_installer_generic_error", "Unable to continue. Please retry."},
    {"common_retry", "Retry"},
    {"desktop_installer_install_now", "Install now"},
    {"desktop_installer_custom_install", "Custom install"},
    {"desktop_installer_browse", "Browse"},
    {"desktop_installer_install_location", "Installation location"},
    {"desktop_installer_restart_required", "Installed. Windows restart may be required."},
    {"desktop_installer_waiting_for_setup", "Waiting for the Tavro setup that is already running…"},
    {"desktop_installer_proxy_error", "Your network's proxy requires a sign-in that the installer cannot give."},
    {"desktop_installer_untrusted_connection_error",
     "Could not confirm Tavro's server, often due to a network sign-in page or company filter."},
    {"desktop_installer_offline_link", "Download the full installer"},
};

constexpr std::string_view kEllipsis = "…";

using Texts = std::vector<std::pair<std::string, std::string>>;
using Document = std::vector<std::pair<std::string, Texts>>;

std::string ReadLocaleFile() {
    const char* sourceDir = std::getenv("TAVRO_SOURCE_DIR");
    if (sourceDir == nullptr) {
        ADD_FAILURE() << "TAVRO_SOURCE_DIR is not set (ctest sets it)";
        return {};
    }
    const std::string path = std::string(sourceDir) + "/resources/locales.json";
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        ADD_FAILURE() << "cannot open " << path;
        return {};
    }
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The document through the program's own JSON layer, members in document order; a value
// of the wrong type throws there and fails the test.
Document ParseDocument(const std::string& bytes) {
    Document document;
    const json::JsonObject root = json::JsonObject::Parse(Utf8ToWide(bytes));
    for (const auto& [locale, value] : root.Members()) {
        Texts texts;
        for (const auto& [key, text] : value.GetObject().Members()) {
            texts.emplace_back(WideToUtf8(key), WideToUtf8(text.GetString()));
        }
        document.emplace_back(WideToUtf8(locale), std::move(texts));
    }
    return document;
}

class LocalesResource : public testing::Test {
protected:
    void SetUp() override {
        bytes_ = ReadLocaleFile();
        ASSERT_FALSE(bytes_.empty());
    }
    std::string bytes_;
};

TEST_F(LocalesResource, IsUtf8WithoutBomAndCrLfLines) {
    EXPECT_NE(bytes_.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_EQ(bytes_.front(), '{');
    ASSERT_GE(bytes_.size(), 2u);
    EXPECT_EQ(bytes_.substr(bytes_.size() - 2), "\r\n");
    std::size_t lines = 0;
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        if (bytes_[i] == '\n') {
            ++lines;
            EXPECT_TRUE(i > 0 && bytes_[i - 1] == '\r') << "bare LF ending line " << lines;
        } else if (bytes_[i] == '\r') {
            EXPECT_TRUE(i + 1 < bytes_.size() && bytes_[i + 1] == '\n') << "bare CR after line " << lines;
        }
    }
    // One line per text, one opening and one closing line per locale, the braces of the root.
    EXPECT_EQ(lines, kLocaleOrder.size() * (kEnglish.size() + 2) + 2);
    // Malformed UTF-8 would come back changed from the round trip through UTF-16.
    EXPECT_EQ(WideToUtf8(Utf8ToWide(bytes_)), bytes_);
}

TEST_F(LocalesResource, IsIndentedWithTwoSpaces) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < bytes_.size();) {
        std::size_t end = bytes_.find("\r\n", start);
        if (end == std::string::npos) end = bytes_.size();
        lines.push_back(bytes_.substr(start, end - start));
        start = end + 2;
    }
    ASSERT_GE(lines.size(), 2u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const std::size_t indent = line.find_first_not_of(' ');
        ASSERT_NE(indent, std::string::npos) << "blank line " << i + 1;
        const std::string body = line.substr(indent);
        // The root braces sit at 0, each locale's opening and closing line at 2, texts at 4.
        std::size_t expected = 4;
        if (i == 0 || i + 1 == lines.size()) {
            expected = 0;
        } else if (body.ends_with("{") || body == "}" || body == "},") {
            expected = 2;
        }
        EXPECT_EQ(indent, expected) << "line " << i + 1 << ": " << line;
        EXPECT_EQ(line.find('\t'), std::string::npos) << "line " << i + 1;
    }
}

TEST_F(LocalesResource, HasEveryLocaleAndKeyInOrder) {
    const Document document = ParseDocument(bytes_);
    std::vector<std::string> locales;
    for (const auto& [locale, texts] : document) locales.push_back(locale);
    EXPECT_EQ(locales, kLocaleOrder);

    std::vector<std::string> keys;
    for (const auto& [key, text] : kEnglish) keys.push_back(key);
    for (const auto& [locale, texts] : document) {
        std::vector<std::string> actual;
        for (const auto& [key, text] : texts) actual.push_back(key);
        EXPECT_EQ(actual, keys) << locale;
    }
}

TEST_F(LocalesResource, EnglishTextsAreExact) {
    const Document document = ParseDocument(bytes_);
    ASSERT_FALSE(document.empty());
    ASSERT_EQ(document.front().first, "en-US");
    EXPECT_EQ(document.front().second, kEnglish);
}

TEST_F(LocalesResource, TranslationsKeepEllipsisAndProductName) {
    const Document document = ParseDocument(bytes_);
    ASSERT_EQ(document.size(), kLocaleOrder.size());
    for (const auto& [locale, texts] : document) {
        ASSERT_EQ(texts.size(), kEnglish.size()) << locale;
        for (std::size_t i = 0; i < texts.size(); ++i) {
            const std::string& key = texts[i].first;
            const std::string& text = texts[i].second;
            const std::string& english = kEnglish[i].second;
            const std::string where = locale + " " + key;
            EXPECT_FALSE(text.empty()) << where;
            EXPECT_EQ(text.find_first_of("\t\r\n"), std::string::npos) << where;
            EXPECT_NE(text.front(), ' ') << where;
            EXPECT_NE(text.back(), ' ') << where;
            EXPECT_EQ(text.find("..."), std::string::npos) << where << ": three dots instead of …";
            EXPECT_EQ(text.find(kEllipsis) != std::string::npos, english.find(kEllipsis) != std::string::npos)
                << where << ": " << text;
            if (english.find("Tavro") != std::string::npos) {
                EXPECT_NE(text.find("Tavro"), std::string::npos) << where << ": " << text;
            }
            if (locale != "en-US") {
                EXPECT_NE(text, english) << where << " is not translated";
            }
        }
    }
}

TEST_F(LocalesResource, EveryLocaleAnswersFromItsOwnTexts) {
    const Document document = ParseDocument(bytes_);
    LocaleTable table;
    LoadLocaleTexts(table, Utf8ToWide(bytes_));
    ASSERT_EQ(table.availableLocales.size(), kLocaleOrder.size());
    for (const auto& [locale, texts] : document) {
        table.selectedLocale = Utf8ToWide(locale);
        for (const auto& [key, text] : texts) {
            EXPECT_EQ(WideToUtf8(LookupText(table, Utf8ToWide(key))), text) << locale << " " << key;
        }
    }
}

}  // namespace
}  // namespace tavro
