#include "feed/url_crack.h"

namespace tavro::feed {

namespace {

constexpr std::uint16_t kDefaultHttpPort = 80;
constexpr std::uint16_t kDefaultHttpsPort = 443;
constexpr std::uint32_t kMaxPort = 65535;

// ASCII-only case folding: the platform parser matches the scheme with wcsnicmp,
// so look-alikes such as U+017F or fullwidth letters do not match.
bool EqualsAsciiIgnoringCase(std::wstring_view text, std::wstring_view lowerAscii) {
    if (text.size() != lowerAscii.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != lowerAscii[i]) return false;
    }
    return true;
}

// Leading ASCII digits only; the first other character ends the number, so
// "44x3" is 44 and "abc" is 0. Mirrors the platform parser, which refuses only
// values above 65535.
std::optional<std::uint16_t> ParsePort(std::wstring_view digits) {
    std::uint32_t port = 0;
    for (const wchar_t c : digits) {
        if (c < L'0' || c > L'9') break;
        port = port * 10 + static_cast<std::uint32_t>(c - L'0');
        if (port > kMaxPort) return std::nullopt;
    }
    return static_cast<std::uint16_t>(port);
}

}  // namespace

std::optional<CrackedUrl> CrackUrl(std::wstring_view url) {
    const std::wstring_view text = url.substr(0, url.find(L'\0'));

    // The scheme ends at the first ':' anywhere in the text, even past a '/'.
    const std::size_t colon = text.find(L':');
    if (colon == std::wstring_view::npos) return std::nullopt;
    CrackedUrl cracked;
    const std::wstring_view scheme = text.substr(0, colon);
    if (EqualsAsciiIgnoringCase(scheme, L"http")) {
        cracked.scheme = kSchemeHttp;
    } else if (EqualsAsciiIgnoringCase(scheme, L"https")) {
        cracked.scheme = kSchemeHttps;
    } else {
        return std::nullopt;
    }

    std::wstring_view rest = text.substr(colon + 1);
    if (rest.size() <= 2 || rest[0] != L'/' || rest[1] != L'/') return std::nullopt;
    rest.remove_prefix(2);

    // User info runs to the first '@' unless a '/' comes before it; '?' and '#'
    // do not end it, so "https://a?@b/" has user name "a?" and host "b".
    const std::size_t at = rest.find(L'@');
    if (at != std::wstring_view::npos && rest.substr(0, at).find(L'/') == std::wstring_view::npos) {
        const std::wstring_view userInfo = rest.substr(0, at);
        const std::size_t separator = userInfo.find(L':');
        if (separator != std::wstring_view::npos) {
            cracked.userNameLength = separator;
            cracked.passwordLength = userInfo.size() - separator - 1;
        } else {
            cracked.userNameLength = userInfo.size();
        }
        rest.remove_prefix(at + 1);
    }

    // Host and port run to the first '/'; with no '/' they take the whole rest,
    // query and fragment included, and path and extra stay empty.
    const std::size_t slash = rest.find(L'/');
    const std::wstring_view authority = rest.substr(0, slash);
    const std::size_t portColon = authority.find(L':');
    cracked.host = std::wstring(authority.substr(0, portColon));
    const std::wstring_view portText =
        portColon == std::wstring_view::npos ? std::wstring_view() : authority.substr(portColon + 1);
    if (portText.empty()) {
        cracked.port = cracked.scheme == kSchemeHttps ? kDefaultHttpsPort : kDefaultHttpPort;
    } else {
        // The first ':' starts the port, so "[::1]" is host "[" with port 0.
        const std::optional<std::uint16_t> port = ParsePort(portText);
        if (!port) return std::nullopt;
        cracked.port = *port;
    }

    if (slash != std::wstring_view::npos) {
        const std::wstring_view pathAndExtra = rest.substr(slash);
        const std::size_t question = pathAndExtra.find(L'?');
        cracked.path = std::wstring(pathAndExtra.substr(0, question));
        if (question != std::wstring_view::npos) cracked.extra = std::wstring(pathAndExtra.substr(question));
    }
    return cracked;
}

}  // namespace tavro::feed
