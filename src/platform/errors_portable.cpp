#include "platform/errors.h"

namespace tavro {

// The texts Windows gives for the codes this program raises itself.
std::string PlatformMessageText(Hresult code) {
    switch (code) {
    case kEFail: return "Unspecified error";
    case kEOutOfMemory: return "Not enough memory resources are available to complete this operation.";
    case kEBounds: return "The operation attempted to access data outside the valid range";
    case kEIllegalMethodCall: return "A method was called at an unexpected time.";
    case kWebInvalidJsonString: return "Invalid JSON string.";
    case kWebJsonValueNotFound: return "The JSON value was not found.";
    default: return {};
    }
}

}  // namespace tavro
