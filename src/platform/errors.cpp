#include "platform/errors.h"

#include <cstdio>
#include <stdexcept>

namespace tavro {

namespace {

std::string DescribeCode(Hresult code, const std::string& message) {
    if (!message.empty()) return message;
    char text[32];
    std::snprintf(text, sizeof text, "HRESULT 0x%08X", static_cast<unsigned>(code));
    return text;
}

}  // namespace

PlatformError::PlatformError(Hresult code)
    : code_(code), message_(PlatformMessageText(code)), what_(DescribeCode(code, message_)) {}

void Fail(const char* message) {
    throw std::runtime_error(message);
}

void ThrowHresult(Hresult code) {
    throw PlatformError(code);
}

}  // namespace tavro
