#pragma once

#include <string>

namespace tavro::demo {

// Throws a runtime error carrying the message as given.
[[noreturn]] void DemoFail(const std::string& message);

// Throws a runtime error naming the failed step and the thread's last-error code,
// which it reads before doing anything else.
[[noreturn]] void ThrowLastError(const char* step);

}  // namespace tavro::demo
