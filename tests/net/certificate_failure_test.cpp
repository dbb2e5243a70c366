#include "net/certificate_failure.h"

#include <gtest/gtest.h>

namespace tavro::net {
namespace {

constexpr std::uint32_t kSecureFailure = 12175;

TEST(CertificateFailure, NamesTheChecksThatFailed) {
    const struct {
        std::uint32_t error;
        std::uint32_t flags;
        const char* expected;
    } cases[] = {
        // Asynchronous WinHTTP: the notification's flags, then the summary error.
        {kSecureFailure, kCertInvalidCa, "unknown_authority"},
        {kSecureFailure, kCertCommonNameInvalid, "wrong_name"},
        {kSecureFailure, kCertDateInvalid, "expired"},
        {kSecureFailure, kCertRevoked, "revoked"},
        {kSecureFailure, kCertRevocationFailed, "revocation_unknown"},
        {kSecureFailure, kCertInvalid, "invalid_certificate"},
        {kSecureFailure, kSecurityChannelError, "channel_error"},
        {kSecureFailure, kCertDateInvalid | kCertInvalidCa | kCertCommonNameInvalid,
         "unknown_authority+wrong_name+expired"},
        {kSecureFailure, 0x40, "unknown"},
        {kSecureFailure, 0, "unknown"},
        // A synchronous send names the one check itself.
        {12045, 0, "unknown_authority"},
        {12038, 0, "wrong_name"},
        {12037, 0, "expired"},
        {12170, 0, "revoked"},
        // Failures that say nothing about the certificate stay network failures.
        {12157, 0, ""},  // the TLS handshake broke off
        {12002, 0, ""},  // time-out
        {12029, 0, ""},  // cannot connect
        {12030, 0, ""},  // connection aborted
        {0, 0, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FailedCertificateChecks(c.error, c.flags), c.expected) << c.error << " " << c.flags;
    }
}

}  // namespace
}  // namespace tavro::net
