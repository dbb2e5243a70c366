#include "net/proxy_sign_in.h"

namespace tavro::net {

ProxySignIn DecideProxySignIn(std::uint32_t status, ChallengeTarget target, std::uint32_t offeredSchemes,
                              int signInsSoFar) {
    if (status != 407) return ProxySignIn::None;
    // A 407 whose challenge names the server is no proxy's: nothing of the user's goes to it.
    if (target != ChallengeTarget::Proxy || signInsSoFar > 0) return ProxySignIn::Refuse;
    // Negotiate first: it settles on Kerberos where the domain has it and falls back to NTLM itself.
    if ((offeredSchemes & kSchemeNegotiate) != 0) return ProxySignIn::WithNegotiate;
    if ((offeredSchemes & kSchemeNtlm) != 0) return ProxySignIn::WithNtlm;
    return ProxySignIn::Refuse;
}

}  // namespace tavro::net
