#include "net/proxy_sign_in.h"

#include <gtest/gtest.h>

namespace tavro::net {
namespace {

TEST(ProxySignIn, AnswersTheProxyOnceWithTheUsersOwnLogon) {
    constexpr ChallengeTarget kProxy = ChallengeTarget::Proxy;
    const struct {
        const char* name;
        std::uint32_t status;
        ChallengeTarget target;
        std::uint32_t schemes;
        int signInsSoFar;
        ProxySignIn expected;
    } cases[] = {
        {"407 Negotiate", 407, kProxy, kSchemeNegotiate, 0, ProxySignIn::WithNegotiate},
        {"407 NTLM", 407, kProxy, kSchemeNtlm, 0, ProxySignIn::WithNtlm},
        {"407 both: Negotiate first", 407, kProxy, kSchemeNtlm | kSchemeNegotiate, 0, ProxySignIn::WithNegotiate},
        {"407 with Basic beside NTLM", 407, kProxy, kSchemeBasic | kSchemeNtlm, 0, ProxySignIn::WithNtlm},
        {"407 Basic only", 407, kProxy, kSchemeBasic, 0, ProxySignIn::Refuse},
        {"407 Basic and Digest", 407, kProxy, kSchemeBasic | kSchemeDigest | kSchemePassport, 0,
         ProxySignIn::Refuse},
        {"second 407", 407, kProxy, kSchemeNegotiate | kSchemeNtlm, 1, ProxySignIn::Refuse},
        // A resumed download is a new download: its first 407 is answered like any other.
        {"407 after a resume", 407, kProxy, kSchemeNtlm, 0, ProxySignIn::WithNtlm},
        {"407 naming the server", 407, ChallengeTarget::Server, kSchemeNegotiate, 0, ProxySignIn::Refuse},
        {"401 from the server", 401, ChallengeTarget::Server, kSchemeNegotiate | kSchemeNtlm, 0, ProxySignIn::None},
        {"206 after the sign-in", 206, ChallengeTarget::Server, 0, 1, ProxySignIn::None},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecideProxySignIn(c.status, c.target, c.schemes, c.signInsSoFar), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace tavro::net
