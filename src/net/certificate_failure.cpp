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

// Which chain bits and policy errors stand for each of WinHTTP's flags; anything else that
// either reports is a fault of the certificate with no flag of its own.
struct Cause {
    std::uint32_t flag;
    std::uint32_t chainErrors;
    std::uint32_t policyErrors[2];
};

constexpr Cause kCauses[] = {
    {kCertInvalidCa, kChainUntrustedRoot | kChainPartial, {kPolicyUntrustedRoot, kPolicyChaining}},
    {kCertDateInvalid, kChainNotTimeValid, {kPolicyExpired, kPolicyExpired}},
    {kCertCommonNameInvalid, 0, {kPolicyNameMismatch, kPolicyNameMismatch}},
    {kCertRevoked, kChainRevoked, {kPolicyRevoked, kPolicyRevoked}},
    {kCertRevocationFailed, kChainRevocationUnknown | kChainOfflineRevocation,
     {kPolicyNoRevocationCheck, kPolicyRevocationOffline}},
};

}  // namespace

std::uint32_t SecureFailureFlags(std::uint32_t chainErrors, std::uint32_t policyError) {
    std::uint32_t flags = 0;
    std::uint32_t named = 0;
    bool policyNamed = policyError == 0;
    for (const Cause& cause : kCauses) {
        if ((chainErrors & cause.chainErrors) != 0) flags |= cause.flag;
        named |= cause.chainErrors;
        if (policyError != 0 && (policyError == cause.policyErrors[0] || policyError == cause.policyErrors[1])) {
            flags |= cause.flag;
            policyNamed = true;
        }
    }
    if ((chainErrors & ~named) != 0 || !policyNamed) flags |= kCertInvalid;
    return flags;
}

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
