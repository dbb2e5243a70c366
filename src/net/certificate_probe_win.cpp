#include "net/certificate_probe.h"

#include <chrono>
#include <vector>

#include "net/certificate_failure.h"
#include "platform/system_functions.h"
#include "platform/win_handles.h"
#include "shared/process_state.h"

namespace tavro::net {

namespace {

static_assert(kChainNotTimeValid == CERT_TRUST_IS_NOT_TIME_VALID && kChainRevoked == CERT_TRUST_IS_REVOKED &&
              kChainUntrustedRoot == CERT_TRUST_IS_UNTRUSTED_ROOT &&
              kChainRevocationUnknown == CERT_TRUST_REVOCATION_STATUS_UNKNOWN &&
              kChainPartial == CERT_TRUST_IS_PARTIAL_CHAIN &&
              kChainOfflineRevocation == CERT_TRUST_IS_OFFLINE_REVOCATION);
static_assert(kPolicyExpired == static_cast<std::uint32_t>(CERT_E_EXPIRED) &&
              kPolicyUntrustedRoot == static_cast<std::uint32_t>(CERT_E_UNTRUSTEDROOT) &&
              kPolicyChaining == static_cast<std::uint32_t>(CERT_E_CHAINING) &&
              kPolicyNameMismatch == static_cast<std::uint32_t>(CERT_E_CN_NO_MATCH) &&
              kPolicyRevoked == static_cast<std::uint32_t>(CRYPT_E_REVOKED) &&
              kPolicyNoRevocationCheck == static_cast<std::uint32_t>(CRYPT_E_NO_REVOCATION_CHECK) &&
              kPolicyRevocationOffline == static_cast<std::uint32_t>(CRYPT_E_REVOCATION_OFFLINE));

using Clock = std::chrono::steady_clock;

// For the whole probe, name lookup aside (WinHTTP has just resolved the same name).
constexpr auto kProbeTime = std::chrono::seconds(5);
constexpr long kPauseCheckMicroseconds = 25000;
// Far above any real certificate chain; a server that sends more is not shaking hands.
constexpr std::size_t kMaxHandshakeBytes = 262144;

struct SocketTraits {
    using Handle = SOCKET;
    static Handle Invalid() { return INVALID_SOCKET; }
    static bool IsValid(Handle h) { return h != INVALID_SOCKET; }
    static void Close(Handle h) {
        detail::LastErrorKeeper keep;
        Ws2().closesocket(h);
    }
};

struct SecurityHandleTraits {
    using Handle = SecHandle;
    static Handle Invalid() { return {~ULONG_PTR{0}, ~ULONG_PTR{0}}; }
    static bool IsValid(Handle h) { return SecIsValidHandle(&h); }
};

struct CredentialsTraits : SecurityHandleTraits {
    static void Close(Handle h) {
        detail::LastErrorKeeper keep;
        Sspi().FreeCredentialsHandle(&h);
    }
};

struct ContextTraits : SecurityHandleTraits {
    static void Close(Handle h) {
        detail::LastErrorKeeper keep;
        Sspi().DeleteSecurityContext(&h);
    }
};

void FreeAddresses(ADDRINFOW* addresses) { Ws2().FreeAddrInfoW(addresses); }
void FreeSecurityBuffer(void* buffer) { Sspi().FreeContextBuffer(buffer); }
void FreeCertificate(PCCERT_CONTEXT certificate) { Crypt32().CertFreeCertificateContext(certificate); }
void FreeChain(PCCERT_CHAIN_CONTEXT chain) { Crypt32().CertFreeCertificateChain(chain); }

using UniqueSocket = UniqueHandle<SocketTraits>;
using UniqueCredentials = UniqueHandle<CredentialsTraits>;
using UniqueSecurityContext = UniqueHandle<ContextTraits>;
using UniqueAddresses = UniqueHandle<detail::ClosedBy<ADDRINFOW*, &FreeAddresses>>;
using UniqueSecurityBuffer = UniqueHandle<detail::ClosedBy<void*, &FreeSecurityBuffer>>;
using UniqueCertificate = UniqueHandle<detail::ClosedBy<PCCERT_CONTEXT, &FreeCertificate>>;
using UniqueChain = UniqueHandle<detail::ClosedBy<PCCERT_CHAIN_CONTEXT, &FreeChain>>;

// Waits in short steps, looking for a pause between them, until the socket can be written
// (a connect completed) or read; false when it failed or the time is up.
bool WaitFor(SOCKET socket, bool write, Clock::time_point deadline) {
    while (Clock::now() < deadline) {
        ThrowIfCancelled();
        fd_set ready{1, {socket}};
        fd_set failed{1, {socket}};
        timeval step{0, kPauseCheckMicroseconds};
        if (Ws2().select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &step) == SOCKET_ERROR ||
            failed.fd_count != 0) {
            return false;
        }
        if (ready.fd_count != 0) return true;
    }
    return false;
}

UniqueSocket Connect(const std::wstring& host, std::uint16_t port, Clock::time_point deadline) {
    const Ws2Functions& ws = Ws2();
    ADDRINFOW hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    ADDRINFOW* found = nullptr;
    if (ws.GetAddrInfoW(host.c_str(), std::to_wstring(port).c_str(), &hints, &found) != 0) return {};
    const UniqueAddresses addresses(found);
    for (const ADDRINFOW* address = found; address != nullptr; address = address->ai_next) {
        UniqueSocket socket(ws.socket(address->ai_family, address->ai_socktype, address->ai_protocol));
        u_long nonBlocking = 1;
        if (!socket || ws.ioctlsocket(socket.get(), FIONBIO, &nonBlocking) != 0) continue;
        // A connect that fails at once shows in the wait as well.
        ws.connect(socket.get(), address->ai_addr, static_cast<int>(address->ai_addrlen));
        if (WaitFor(socket.get(), true, deadline)) return socket;
    }
    return {};
}

// Handshake messages are a few kilobytes at most: an empty send buffer takes them whole.
bool SendToken(SOCKET socket, const SecBuffer& token) {
    return Ws2().send(socket, static_cast<const char*>(token.pvBuffer), static_cast<int>(token.cbBuffer), 0) ==
           static_cast<int>(token.cbBuffer);
}

// The certificate the server presents in a TLS handshake over `socket`; empty when the
// handshake does not complete. Only handshake messages are sent.
UniqueCertificate HandshakeCertificate(SOCKET socket, const std::wstring& host, Clock::time_point deadline) {
    const SecurityFunctionTableW& sspi = Sspi();
    // The certificate is judged afterwards, here, not by Schannel; no client certificate is offered.
    SCHANNEL_CRED settings{};
    settings.dwVersion = SCHANNEL_CRED_VERSION;
    settings.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    CredHandle acquired = CredentialsTraits::Invalid();
    TimeStamp expiry{};
    if (sspi.AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr,
                                       &settings, nullptr, nullptr, &acquired, &expiry) != SEC_E_OK) {
        return {};
    }
    const UniqueCredentials credentials(acquired);
    constexpr ULONG kRequest = ISC_REQ_MANUAL_CRED_VALIDATION | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_CONFIDENTIALITY |
                               ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_STREAM;
    UniqueSecurityContext context;
    std::vector<char> received;
    std::vector<char> chunk(16384);
    for (;;) {
        SecBuffer input[2] = {{static_cast<ULONG>(received.size()), SECBUFFER_TOKEN, received.data()},
                              {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inputs{SECBUFFER_VERSION, 2, input};
        SecBuffer output{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outputs{SECBUFFER_VERSION, 1, &output};
        CredHandle credentialsHandle = credentials.get();
        CtxtHandle current = context.get();
        CtxtHandle created = ContextTraits::Invalid();
        ULONG attributes = 0;
        const SECURITY_STATUS status = sspi.InitializeSecurityContextW(
            &credentialsHandle, context ? &current : nullptr, const_cast<wchar_t*>(host.c_str()), kRequest, 0, 0,
            context ? &inputs : nullptr, 0, context ? nullptr : &created, &outputs, &attributes, nullptr);
        if (!context) context.reset(created);
        const UniqueSecurityBuffer token(output.pvBuffer);
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED && status != SEC_E_INCOMPLETE_MESSAGE) return {};
        if (output.cbBuffer != 0 && !SendToken(socket, output)) return {};
        if (status == SEC_E_OK) break;
        if (status == SEC_I_CONTINUE_NEEDED) {
            // What Schannel left over starts the next message, which may be complete already.
            const std::size_t extra = input[1].BufferType == SECBUFFER_EXTRA ? input[1].cbBuffer : 0;
            received.erase(received.begin(), received.end() - static_cast<std::ptrdiff_t>(extra));
            if (extra != 0) continue;
        }
        if (received.size() > kMaxHandshakeBytes || !WaitFor(socket, false, deadline)) return {};
        const int count = Ws2().recv(socket, chunk.data(), static_cast<int>(chunk.size()), 0);
        if (count <= 0) return {};
        received.insert(received.end(), chunk.data(), chunk.data() + count);
    }
    PCCERT_CONTEXT certificate = nullptr;
    CtxtHandle established = context.get();
    if (sspi.QueryContextAttributesW(&established, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK) {
        return {};
    }
    return UniqueCertificate(certificate);
}

// The checks WinHTTP makes of a server certificate: its chain for server authentication, then
// the SSL policy for `host`.
std::uint32_t CheckCertificate(PCCERT_CONTEXT certificate, const std::wstring& host) {
    const Crypt32Functions& crypt = Crypt32();
    LPSTR serverAuthentication[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = serverAuthentication;
    // The intermediates the server sent are in the certificate's own store. Nothing is fetched
    // (no missing issuer, no revocation list): WinHTTP checks no revocation unless asked, and
    // the probe neither waits on nor reaches out to addresses that a failed certificate names.
    PCCERT_CHAIN_CONTEXT built = nullptr;
    if (!crypt.CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &para,
                                       CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, nullptr, &built)) {
        return 0;
    }
    const UniqueChain chain(built);
    // The policy stops at its first fault: told to pass over those the chain has named
    // already, it goes on to the host name.
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                    SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
    ssl.pwszServerName = const_cast<wchar_t*>(host.c_str());
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.dwFlags = CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG | CERT_CHAIN_POLICY_IGNORE_ALL_NOT_TIME_VALID_FLAGS |
                     CERT_CHAIN_POLICY_IGNORE_WRONG_USAGE_FLAG | CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!crypt.CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, built, &policy, &status)) status.dwError = 0;
    return SecureFailureFlags(built->TrustStatus.dwErrorStatus, status.dwError);
}

}  // namespace

std::uint32_t ProbeServerCertificate(const std::wstring& host, std::uint16_t port) {
    const auto deadline = Clock::now() + kProbeTime;
    const UniqueSocket socket = Connect(host, port, deadline);
    if (!socket) return 0;
    const UniqueCertificate certificate = HandshakeCertificate(socket.get(), host, deadline);
    return certificate ? CheckCertificate(certificate.get(), host) : 0;
}

}  // namespace tavro::net
