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

}  // namespace
}  // namespace tavro::net
