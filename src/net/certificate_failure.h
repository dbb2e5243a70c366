#pragma once

#include <cstdint>
#include <string>

namespace tavro::net {

// WinHTTP's WINHTTP_CALLBACK_STATUS_FLAG_* bits of a secure failure.
inline constexpr std::uint32_t kCertRevocationFailed = 0x1;
inline constexpr std::uint32_t kCertInvalid = 0x2;
inline constexpr std::uint32_t kCertRevoked = 0x4;
inline constexpr std::uint32_t kCertInvalidCa = 0x8;
inline constexpr std::uint32_t kCertCommonNameInvalid = 0x10;
inline constexpr std::uint32_t kCertDateInvalid = 0x20;
inline constexpr std::uint32_t kSecurityChannelError = 0x80000000;

// The start of the message that ends a download whose server could not prove who it is;
// the names of the failed checks follow it.
inline constexpr char kUntrustedConnectionPrefix[] = "Untrusted connection: ";

// The checks that the server's certificate failed, as fixed names joined by "+"
// ("unknown_authority+wrong_name"), from the WinHTTP error that ended the send and the
// flags of the secure-failure notification before it (0 when none came). Empty when the
// failure is not the certificate's: a refused, dropped or timed-out connection, and a
// TLS handshake that broke off without a verdict on the certificate.
std::string FailedCertificateChecks(std::uint32_t error, std::uint32_t secureFailureFlags);

}  // namespace tavro::net
