#pragma once

#include <cstdint>

namespace tavro::net {

// The schemes a challenge offers, with WinHTTP's WINHTTP_AUTH_SCHEME_* values.
inline constexpr std::uint32_t kSchemeBasic = 0x1;
inline constexpr std::uint32_t kSchemeNtlm = 0x2;
inline constexpr std::uint32_t kSchemePassport = 0x4;
inline constexpr std::uint32_t kSchemeDigest = 0x8;
inline constexpr std::uint32_t kSchemeNegotiate = 0x10;

// The message that ends a download whose proxy wants a sign-in the installer cannot give.
inline constexpr char kProxySignInMessage[] = "HTTP 407: proxy sign-in required";

// Who asked for the sign-in, as WinHTTP reports the challenge's target.
enum class ChallengeTarget { Proxy, Server };

// What to do with one response before its status is handled.
enum class ProxySignIn {
    None,           // not the proxy asking: the status is handled as any other
    WithNegotiate,  // send the same request again with the signed-in user's Negotiate credentials
    WithNtlm,       // the same with NTLM
    Refuse,         // end the download with kProxySignInMessage
};

// The user's own credentials go only to the proxy, only by a scheme that needs no password
// typed in, and only once per download: a proxy that still refuses them will not be
// answered again, and nobody is asked for a password.
ProxySignIn DecideProxySignIn(std::uint32_t status, ChallengeTarget target, std::uint32_t offeredSchemes,
                              int signInsSoFar);

}  // namespace tavro::net
