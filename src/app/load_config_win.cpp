#include "app/load_config.h"

namespace tavro::app {

std::uint64_t loaderSecurityCookie = 0x00002B992DDFA232;

}  // namespace tavro::app

// DependentLoadFlags = LOAD_LIBRARY_SEARCH_SYSTEM32: Windows 10 (1607 and later) then resolves
// the program's load-time imports from System32 only, never from the folder the program was
// started from, a browser's Downloads folder where anything may lie. That is the loading
// done before the first line of code, where SetDefaultDllDirectories cannot reach. Wine 8
// reads the structure (it initialises the cookie) but ignores the flags. In a section of its
// own, because the post-link step finds it there in the stripped image.
__attribute__((section(".loadcfg"))) constinit const tavro::app::ImageLoadConfig64 _load_config_used = [] {
    tavro::app::ImageLoadConfig64 config{};
    config.Size = sizeof config;
    config.DependentLoadFlags = 0x0800;
    config.SecurityCookie = &tavro::app::loaderSecurityCookie;
    return config;
}();
