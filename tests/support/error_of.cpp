#include "support/error_of.h"

#include <exception>

namespace tavro::testing {

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

Hresult CodeOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const PlatformError& e) {
        return e.code();
    }
    return 0;
}

}  // namespace tavro::testing
