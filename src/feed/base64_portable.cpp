#include "feed/base64.h"

#include <climits>

#include "platform/errors.h"

namespace tavro::feed {

namespace {

constexpr int kPadding = 64;
constexpr int kSkipped = 65;
constexpr int kInvalid = 66;

int SextetOf(wchar_t c) {
    if (c >= L'A' && c <= L'Z') return c - L'A';
    if (c >= L'a' && c <= L'z') return c - L'a' + 26;
    if (c >= L'0' && c <= L'9') return c - L'0' + 52;
    if (c == L'+') return 62;
    if (c == L'/') return 63;
    if (c == L'=') return kPadding;
    // Only these four are skipped; vertical tab, form feed and Unicode spaces are refused.
    if (c == L' ' || c == L'\t' || c == L'\r' || c == L'\n') return kSkipped;
    return kInvalid;
}

}  // namespace

std::vector<std::uint8_t> DecodeBase64(std::wstring_view text) {
    // The Windows build hands the length to the platform as a DWORD and refuses the same texts.
    if (text.size() > INT_MAX) Fail("Invalid base64");

    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3 + 3);
    std::size_t taken = 0;  // sextets and padding characters counted so far
    bool padded = false;
    int previous = 0;
    for (const wchar_t c : text) {
        const int value = SextetOf(c);
        if (value == kInvalid) Fail("Invalid base64");
        if (value == kSkipped) continue;
        if (padded && value != kPadding) Fail("Invalid base64");
        // Mirrors the platform decoder: "=" where a group would start ends the text
        // there, and whatever follows, valid or not, is ignored ("QUJD=!!" is "ABC").
        if (value == kPadding && taken % 4 == 0) break;
        ++taken;
        if (value == kPadding) {
            padded = true;
            if (taken % 4 == 0) break;
            continue;
        }
        // Mirrors the platform decoder: an unpadded tail is accepted, and even a lone
        // last character yields a byte of its six bits ("Q" is 0x40).
        switch (taken % 4) {
        case 1: bytes.push_back(static_cast<std::uint8_t>(value << 2)); break;
        case 2: bytes.back() = static_cast<std::uint8_t>(bytes.back() | (value >> 4)); break;
        case 3: bytes.push_back(static_cast<std::uint8_t>((previous << 4) | (value >> 2))); break;
        default: bytes.push_back(static_cast<std::uint8_t>((previous << 6) | value)); break;
        }
        previous = value;
    }
    // Padding must complete its group ("QQ=" fails, "QQ==" and "QQ===" pass).
    if (padded && taken % 4 != 0) Fail("Invalid base64");
    return bytes;
}

}  // namespace tavro::feed
