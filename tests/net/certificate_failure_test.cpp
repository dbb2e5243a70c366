#include "net/certificate_failure.h"

#include <gtest/gtest.h>

namespace tavro::net {
namespace {

TEST(CertificateFailure, NamesTheChecksThatFailed) {
    constexpr std::uint32_t kSecureFailure = 12175;
    const struct {
        std::uint32_t error;
        std::uint32_t flags;
        const char* expected;
    } cases[] = {
        // Asynchronous WinHTTP: the notification's flags, then the summary error.
        {kSecureFailure, kCertDateInvalid | kCertInvalidCa | kCertCommonNameInvalid,
         "unknown_authority+wrong_name+expired"},
        {kSecureFailure, kSecurityChannelError | kCertInvalid | kCertRevocationFailed | kCertRevoked,
         "revoked+revocation_unknown+invalid_certificate+channel_error"},
        {kSecureFailure, 0x40, "unknown"},
        {kSecureFailure, 0, "unknown"},
        // A synchronous send names the one check itself.
        {12045, 0, "unknown_authority"},
        {12037, 0, "expired"},
        // A broken handshake, a time-out, a refused connection: no verdict on the certificate.
        {12157, 0, ""},
        {12002, 0, ""},
        {12029, 0, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FailedCertificateChecks(c.error, c.flags), c.expected) << c.error << " " << c.flags;
    }
}

// What a failed handshake that named no check says once the certificate has been checked
// again: the chain's faults and the SSL policy's verdict, as the names the journal keeps.
TEST(CertificateFailure, ChainAndPolicyNameTheChecksOfAPlainChannelError) {
    constexpr std::uint32_t kSecureChannelError = 12157;
    constexpr std::uint32_t kChainSignatureInvalid = 0x8;
    constexpr std::uint32_t kPolicyWrongUsage = 0x800B0110;
    const struct {
        std::uint32_t chainErrors;
        std::uint32_t policyError;
        const char* expected;
    } cases[] = {
        {kChainUntrustedRoot, kPolicyUntrustedRoot, "unknown_authority"},  // a self-signed certificate
        {kChainPartial, 0, "unknown_authority"},
        {kChainNotTimeValid, kPolicyExpired, "expired"},
        {0, kPolicyNameMismatch, "wrong_name"},
        {kChainUntrustedRoot | kChainNotTimeValid, kPolicyNameMismatch, "unknown_authority+wrong_name+expired"},
        {kChainRevoked, kPolicyRevoked, "revoked"},
        {kChainRevocationUnknown | kChainOfflineRevocation, kPolicyRevocationOffline, "revocation_unknown"},
        {kChainSignatureInvalid, 0, "invalid_certificate"},
        {kChainUntrustedRoot, kPolicyWrongUsage, "unknown_authority+invalid_certificate"},
        // Nothing wrong with the certificate: the channel itself failed.
        {0, 0, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FailedCertificateChecks(kSecureChannelError, SecureFailureFlags(c.chainErrors, c.policyError)),
                  c.expected)
            << std::hex << c.chainErrors << " " << c.policyError;
    }
}

}  // namespace
}  // namespace tavro::net
