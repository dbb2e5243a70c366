#pragma once

#include <string>
#include <vector>

namespace tavro::app {

// What the command line asks for.
enum class RunMode {
    FeedCheck,       // "--verify-feed" FILE: exit 0 when the feed would be accepted
    InstalledCheck,  // "--verify-installed": exit 0 when an installed copy is found
    Preview,         // "--ui-preview": the window with no work behind it
    Interactive,     // anything else: hand-over to an installed copy, or window and install
};

struct RunRequest {
    RunMode mode = RunMode::Interactive;
    std::wstring feedPath;  // the feed check's file
};

// Decides the run mode from the split command line, the program path first.
// Switches are matched exactly and case-sensitively, on whole arguments and counts.
RunRequest ParseRunMode(const std::vector<std::wstring>& arguments);

}  // namespace tavro::app
