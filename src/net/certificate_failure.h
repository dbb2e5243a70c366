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

// crypt32's CERT_TRUST_* error bits of a certificate chain.
inline constexpr std::uint32_t kChainNotTimeValid = 0x1;
inline constexpr std::uint32_t kChainRevoked = 0x4;
inline constexpr std::uint32_t kChainUntrustedRoot = 0x20;
inline constexpr std::uint32_t kChainRevocationUnknown = 0x40;
inline constexpr std::uint32_t kChainPartial = 0x10000;
inline constexpr std::uint32_t kChainOfflineRevocation = 0x1000000;

// The HRESULTs that CertVerifyCertificateChainPolicy reports for the SSL policy.
inline constexpr std::uint32_t kPolicyExpired = 0x800B0101;         // CERT_E_EXPIRED
inline constexpr std::uint32_t kPolicyUntrustedRoot = 0x800B0109;   // CERT_E_UNTRUSTEDROOT
inline constexpr std::uint32_t kPolicyChaining = 0x800B010A;        // CERT_E_CHAINING
inline constexpr std::uint32_t kPolicyNameMismatch = 0x800B010F;    // CERT_E_CN_NO_MATCH
inline constexpr std::uint32_t kPolicyRevoked = 0x80092010;         // CRYPT_E_REVOKED
inline constexpr std::uint32_t kPolicyNoRevocationCheck = 0x80092012;  // CRYPT_E_NO_REVOCATION_CHECK
inline constexpr std::uint32_t kPolicyRevocationOffline = 0x80092013;  // CRYPT_E_REVOCATION_OFFLINE

// The secure-failure flags that WinHTTP reports for a server certificate whose chain has the
// error bits `chainErrors` and whose SSL policy check, run past those errors, ended with
// `policyError` (0 when it passed): 0 when neither found a fault.
std::uint32_t SecureFailureFlags(std::uint32_t chainErrors, std::uint32_t policyError);

}  // namespace tavro::net
