#include <windows.h>

#include "app/entry_point.h"

// The command-line text passed here is ignored: the run mode reads the process's own.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    return tavro::app::RunInstaller(instance, showCommand);
}
