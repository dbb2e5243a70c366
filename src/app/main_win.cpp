#include <windows.h>

#include "app/entry_point.h"
#include "platform/system_functions.h"

// The command-line text passed here is ignored: the run mode reads the process's own.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    // Before anything can load a DLL: from now on every search, ours and that of the
    // system DLLs for their helpers, looks in System32 only, never in the program's
    // folder (a Downloads folder) or the current directory.
    if (!SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return 1;
    tavro::PreloadDelayLoadedSystemDlls();
    return tavro::app::RunInstaller(instance, showCommand);
}
