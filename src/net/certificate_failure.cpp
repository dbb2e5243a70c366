#include "net/certificate_failure.h"

namespace tavro::net {

namespace {

// ERROR_WINHTTP_* codes: the notification's summary, and the single verdicts that a
// synchronous send reports instead.
constexpr std::uint32_t kSecureFailure = 12175;

struct Check {
    std::uint32_t flag;
    std::uint32_t error;
    const char* name;
};

// The names are what the journal keeps, so they stay as they are once shipped.
constexpr Check kChecks[] = {
    {kCertInvalidCa, 12045, "unknown_authority"},
    {kCertCommonNameInvalid, 12038, "wrong_name"},
    {kCertDateInvalid, 12037, "expired"},  // not yet valid counts too
    {kCertRevoked, 12170, "revoked"},
    {kCertRevocationFailed, 12057, "revocation_unknown"},
    {kCertInvalid, 12169, "invalid_certificate"},
    {kSecurityChannelError, 0, "channel_error"},
};

}  // namespace

std::string FailedCertificateChecks(std::uint32_t error, std::uint32_t secureFailureFlags) {
    std::string names;
    for (const Check& check : kChecks) {
        const bool failed = secureFailureFlags != 0 ? (secureFailureFlags & check.flag) != 0
                                                    : check.error != 0 && error == check.error;
        if (failed) names.append(names.empty() ? "" : "+").append(check.name);
    }
    // A verdict whose reason is unknown is still a verdict against the certificate.
    if (names.empty() && (secureFailureFlags != 0 || error == kSecureFailure)) names = "unknown";
    return names;
}

}  // namespace tavro::net
