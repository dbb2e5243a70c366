#include "shared/installer_config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "feed/url_trust.h"
#include "platform/errors.h"
#include "support/error_of.h"

namespace tavro {
namespace {

// The shipped configuration: one line, no blanks between tokens, members in their fixed order.
TEST(InstallerConfig, EmbeddedTextHasItsShape) {
    const std::string_view text = EmbeddedConfigText();
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.find('\n'), std::string_view::npos);
    EXPECT_EQ(text.find("\": "), std::string_view::npos);
    EXPECT_EQ(text.find(", "), std::string_view::npos);
    LoadInstallerConfig();
    std::vector<std::wstring> names;
    for (const auto& [name, value] : InstallerConfig().Members()) names.push_back(name);
    const std::vector<std::wstring> expected = {L"installerVersion", L"channelURL", L"offlineURL", L"allowedHosts",
                                                L"macTeamID", L"bundleID", L"windowsSignerSHA256"};
    EXPECT_EQ(names, expected);
    EXPECT_EQ(InstallerConfig().GetNamedString(L"installerVersion"), L"1.0.1");
    const json::JsonArray signers = InstallerConfig().GetNamedArray(L"windowsSignerSHA256");
    ASSERT_GE(signers.Size(), 1u);
    for (std::size_t i = 0; i < signers.Size(); ++i) {
        const std::wstring fingerprint = signers.GetStringAt(i);
        EXPECT_EQ(fingerprint.size(), 64u);
        EXPECT_EQ(fingerprint.find_first_not_of(L"0123456789abcdef"), std::wstring::npos);
    }
    // Both configured URLs pass the trust check that every start applies.
    EXPECT_NO_THROW(feed::CheckDownloadUrl(InstallerConfig().GetNamedString(L"channelURL")));
    EXPECT_NO_THROW(feed::CheckDownloadUrl(InstallerConfig().GetNamedString(L"offlineURL")));
}

TEST(InstallerConfig, RefusesTextThatIsNotAnObject) {
    const char* texts[] = {"", "[]", "{\"a\":", "not json"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        EXPECT_EQ(testing::CodeOf([&] { LoadInstallerConfig(text); }), kWebInvalidJsonString);
    }
    LoadInstallerConfig("{\"channelURL\":\"x\"}");
    EXPECT_EQ(InstallerConfig().GetNamedString(L"channelURL"), L"x");
    LoadInstallerConfig();
}

}  // namespace
}  // namespace tavro
