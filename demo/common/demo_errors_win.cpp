#include "demo_errors_win.h"

#include <windows.h>

#include <stdexcept>

namespace tavro::demo {

void DemoFail(const std::string& message) { throw std::runtime_error(message); }

void ThrowLastError(const char* step) {
    const DWORD error = GetLastError();
    DemoFail(std::string(step) + " failed with error " + std::to_string(error));
}

}  // namespace tavro::demo
