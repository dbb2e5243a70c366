#include "feed/url_crack.h"

#include "platform/system_functions.h"

namespace tavro::feed {

std::optional<CrackedUrl> CrackUrl(std::wstring_view url) {
    // The parser reads a NUL-terminated string, so it sees the text up to the first NUL.
    const std::wstring text(url.substr(0, url.find(L'\0')));
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    // Non-zero lengths with null buffers ask for pointers into the text and their lengths.
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUserNameLength = static_cast<DWORD>(-1);
    parts.dwPasswordLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttp().CrackUrl(text.c_str(), 0, 0, &parts)) return std::nullopt;

    const auto piece = [](const wchar_t* start, DWORD length) {
        return start != nullptr ? std::wstring(start, length) : std::wstring();
    };
    CrackedUrl cracked;
    cracked.scheme = static_cast<int>(parts.nScheme);
    cracked.port = parts.nPort;
    cracked.host = piece(parts.lpszHostName, parts.dwHostNameLength);
    cracked.userNameLength = parts.dwUserNameLength;
    cracked.passwordLength = parts.dwPasswordLength;
    cracked.path = piece(parts.lpszUrlPath, parts.dwUrlPathLength);
    cracked.extra = piece(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    return cracked;
}

}  // namespace tavro::feed
