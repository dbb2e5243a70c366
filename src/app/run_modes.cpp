#include "app/run_modes.h"

namespace tavro::app {

RunRequest ParseRunMode(const std::vector<std::wstring>& arguments) {
    if (arguments.size() == 3 && arguments[1] == L"--verify-feed") {
        return {RunMode::FeedCheck, arguments[2]};
    }
    if (arguments.size() == 2 && arguments[1] == L"--verify-installed") return {RunMode::InstalledCheck, {}};
    if (arguments.size() == 2 && arguments[1] == L"--ui-preview") return {RunMode::Preview, {}};
    return {};
}

}  // namespace tavro::app
