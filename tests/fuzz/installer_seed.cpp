// The smallest image with what the release tool reads in an installer build: a load-time
// import, a manifest (installer_seed.rc), an embedded configuration text and, linked with
// src/app/load_config_win.cpp, a load configuration. A seed of pe_image_fuzz.
#include <windows.h>

extern "C" const char embeddedConfig[] =
    R"({"channelURL":"https://localhost/desktop/win/latest.yml","windowsSignerSHA256":[]})";

extern "C" int entry() {
    return static_cast<int>(GetTickCount()) + embeddedConfig[0];
}
