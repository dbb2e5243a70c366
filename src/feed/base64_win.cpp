#include "feed/base64.h"

#include <climits>

#include "platform/errors.h"
#include "platform/system_functions.h"

namespace tavro::feed {

std::vector<std::uint8_t> DecodeBase64(std::wstring_view text) {
    if (text.size() > INT_MAX) Fail("Invalid base64");
    const auto length = static_cast<DWORD>(text.size());
    // A length of 0 means "read to the NUL", so an empty text must point at one.
    const wchar_t* const source = text.empty() ? L"" : text.data();
    const auto decode = Crypt32().CryptStringToBinaryW;
    DWORD size = 0;
    if (!decode(source, length, CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr)) {
        Fail("Invalid base64");
    }
    std::vector<std::uint8_t> bytes(size);
    if (!decode(source, length, CRYPT_STRING_BASE64, bytes.data(), &size, nullptr,
                              nullptr)) {
        Fail("Invalid base64");
    }
    bytes.resize(size);
    return bytes;
}

}  // namespace tavro::feed
