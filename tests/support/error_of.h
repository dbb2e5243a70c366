#pragma once

#include <functional>
#include <string>

#include "platform/errors.h"

namespace tavro::testing {

// What an action throws, as text: the message of any standard exception (a PlatformError
// gives its own text), or "" when it returns normally.
std::string ErrorOf(const std::function<void()>& action);

// The HRESULT of the PlatformError an action throws; 0 when it returns normally. Any other
// exception passes through.
Hresult CodeOf(const std::function<void()>& action);

}  // namespace tavro::testing
