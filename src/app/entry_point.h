#pragma once

#include <windows.h>

namespace tavro::app {

// The whole life of the process: start-up, the run mode, the message loop.
// Returns the process exit code, 0 or 1.
int RunInstaller(HINSTANCE instance, int showCommand);

}  // namespace tavro::app
