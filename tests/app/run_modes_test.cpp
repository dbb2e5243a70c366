#include "app/run_modes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavro {
namespace {

TEST(RunModes, ArgumentsSelectTheMode) {
    using app::RunMode;
    struct Case {
        std::vector<std::wstring> arguments;
        RunMode mode;
    };
    const Case cases[] = {
        {{L"i.exe"}, RunMode::Interactive},
        {{L"i.exe", L"--verify-feed", L"latest.yml"}, RunMode::FeedCheck},
        {{L"i.exe", L"--verify-feed"}, RunMode::Interactive},
        {{L"i.exe", L"--verify-feed", L"a", L"b"}, RunMode::Interactive},
        {{L"i.exe", L"--verify-installed"}, RunMode::InstalledCheck},
        {{L"i.exe", L"--VERIFY-INSTALLED"}, RunMode::Interactive},
        {{L"i.exe", L"--verify-installed", L"x"}, RunMode::Interactive},
        {{L"i.exe", L"--ui-preview"}, RunMode::Preview},
        {{L"i.exe", L"--ui-preview", L"x"}, RunMode::Interactive},
        {{L"i.exe", L"x", L"--ui-preview"}, RunMode::Interactive},
        {{L"i.exe", L"--verify-feed=latest.yml"}, RunMode::Interactive},
        {{}, RunMode::Interactive},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(app::ParseRunMode(c.arguments).mode, c.mode) << c.arguments.size();
    }
    EXPECT_EQ(app::ParseRunMode({L"i.exe", L"--verify-feed", L"C:\\a b\\latest.yml"}).feedPath, L"C:\\a b\\latest.yml");
}

}  // namespace
}  // namespace tavro
