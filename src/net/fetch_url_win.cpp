#include "net/fetch_url.h"

#include <chrono>
#include <memory>
#include <stdexcept>
#include <vector>

#include "feed/url_trust.h"
#include "net/certificate_failure.h"
#include "net/certificate_probe.h"
#include "net/content_range.h"
#include "net/proxy_sign_in.h"
#include "platform/errors.h"
#include "platform/system_functions.h"
#include "platform/win_handles.h"
#include "shared/localized_strings.h"
#include "shared/process_state.h"
#include "shared/status_sink.h"

namespace tavro::net {

namespace {

void CloseInternetHandle(HINTERNET handle) { WinHttp().CloseHandle(handle); }

using UniqueInternet = UniqueHandle<detail::ClosedBy<HINTERNET, &CloseInternetHandle>>;

// The pure decisions speak WinHTTP's numbers without its header.
static_assert(kSchemeBasic == WINHTTP_AUTH_SCHEME_BASIC && kSchemeNtlm == WINHTTP_AUTH_SCHEME_NTLM &&
              kSchemePassport == WINHTTP_AUTH_SCHEME_PASSPORT && kSchemeDigest == WINHTTP_AUTH_SCHEME_DIGEST &&
              kSchemeNegotiate == WINHTTP_AUTH_SCHEME_NEGOTIATE);
static_assert(kCertRevocationFailed == WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED &&
              kCertInvalid == WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT &&
              kCertRevoked == WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED &&
              kCertInvalidCa == WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA &&
              kCertCommonNameInvalid == WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID &&
              kCertDateInvalid == WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID &&
              kSecurityChannelError == WINHTTP_CALLBACK_STATUS_FLAG_SECURITY_CHANNEL_ERROR);
static_assert(ERROR_WINHTTP_SECURE_FAILURE == 12175 && ERROR_WINHTTP_SECURE_INVALID_CA == 12045 &&
              ERROR_WINHTTP_SECURE_CERT_CN_INVALID == 12038 && ERROR_WINHTTP_SECURE_CERT_DATE_INVALID == 12037 &&
              ERROR_WINHTTP_SECURE_CERT_REVOKED == 12170 && ERROR_WINHTTP_SECURE_CERT_REV_FAILED == 12057 &&
              ERROR_WINHTTP_SECURE_INVALID_CERT == 12169);

constexpr wchar_t kUserAgent[] = L"TavroInstaller/1.0";
constexpr DWORD kChunkSize = 65536;
constexpr int kMaxRedirects = 5;
constexpr auto kProgressInterval = std::chrono::milliseconds(200);
constexpr DWORD kPauseCheckMs = 25;

// One request's side of the asynchronous calls. A call that is still pending when the
// user pauses keeps running inside WinHTTP after FetchUrl has given up on it (under Wine
// until the receive time-out), and may still write into `buffer` and signal `completed`:
// so the request handle owns this state, and it is freed only when WinHTTP reports that
// handle closing, after its last callback.
struct PendingCall {
    UniqueKernelHandle completed{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    DWORD error = 0;
    DWORD bytesRead = 0;
    DWORD secureFailure = 0;  // the certificate checks of the last send that failed them
    std::vector<char> buffer = std::vector<char>(kChunkSize, 0);
};

void CALLBACK OnRequestStatus(HINTERNET, DWORD_PTR context, DWORD status, void* info, DWORD length) {
    auto* const call = reinterpret_cast<PendingCall*>(context);
    if (call == nullptr) return;  // the session and connection handles carry none
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        call->error = ERROR_SUCCESS;
        SetEvent(call->completed.get());
        break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        call->error = ERROR_SUCCESS;
        call->bytesRead = length;
        SetEvent(call->completed.get());
        break;
    case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE:
        // Comes before the send's error, which only says that the handshake failed.
        if (info != nullptr && length >= sizeof(DWORD)) call->secureFailure |= *static_cast<const DWORD*>(info);
        break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
        call->error = static_cast<const WINHTTP_ASYNC_RESULT*>(info)->dwError;
        if (call->error == ERROR_SUCCESS) call->error = ERROR_WINHTTP_INTERNAL_ERROR;
        SetEvent(call->completed.get());
        break;
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
        delete call;
        break;
    default:
        break;
    }
}

// Gives the request its call state; the handle frees it from now on.
PendingCall& AttachCallState(HINTERNET request) {
    auto call = std::make_unique<PendingCall>();
    if (!call->completed) Fail("Network initialization failed");
    PendingCall* raw = call.get();
    if (!WinHttp().SetOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &raw, sizeof raw)) {
        Fail("Network initialization failed");
    }
    return *call.release();
}

// The error of the call that `started` reports, ERROR_SUCCESS once it has completed. Waits
// in short steps that watch for a pause, so a server that goes silent cannot hold the
// worker for the whole receive time-out; a pause leaves the call pending and throws.
DWORD Outcome(BOOL started, const PendingCall& call) {
    if (!started) return GetLastError();
    while (WaitForSingleObject(call.completed.get(), kPauseCheckMs) == WAIT_TIMEOUT) ThrowIfCancelled();
    return call.error;
}

bool Completed(BOOL started, const PendingCall& call) {
    return Outcome(started, call) == ERROR_SUCCESS;
}

// Whether WinHTTP went to the server itself, with no proxy in between: the request handle
// reports the proxy that WinHTTP chose for it under WINHTTP_OPTION_PROXY, with the access
// type WINHTTP_ACCESS_TYPE_NO_PROXY when it went direct. Wine's winhttp answers that query
// on no handle (ERROR_INVALID_PARAMETER, seen on 8.0), and there a session of the automatic
// access type never uses a proxy (dlls/winhttp/session.c keeps one only for the default and
// named types): so that refusal means direct. Any other answer counts as a proxy.
bool WentDirect(HINTERNET request) {
    WINHTTP_PROXY_INFO proxy{};
    DWORD size = sizeof proxy;
    if (!WinHttp().QueryOption(request, WINHTTP_OPTION_PROXY, &proxy, &size)) {
        return GetLastError() == ERROR_INVALID_PARAMETER;
    }
    const UniqueGlobalMemory list(proxy.lpszProxy);
    const UniqueGlobalMemory bypass(proxy.lpszProxyBypass);
    return proxy.dwAccessType == WINHTTP_ACCESS_TYPE_NO_PROXY;
}

// Sends the request (its headers are on the handle) and waits for the response head. A
// server certificate that failed its checks ends the download at once: WinHTTP sends
// nothing over that connection, and asking again would meet the same certificate.
void SendAndReceive(HINTERNET request, PendingCall& call, const std::wstring& host, INTERNET_PORT port) {
    const WinHttpFunctions& http = WinHttp();
    call.secureFailure = 0;
    DWORD error = Outcome(http.SendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0),
                          call);
    if (error == ERROR_SUCCESS) error = Outcome(http.ReceiveResponse(request, nullptr), call);
    if (error == ERROR_SUCCESS) return;
    // A handshake that failed without naming a check (Wine's winhttp never names one) is
    // looked at again on a connection of our own, but never around the user's proxy.
    if (call.secureFailure == 0 &&
        (error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR || error == ERROR_WINHTTP_SECURE_FAILURE) && WentDirect(request)) {
        call.secureFailure = ProbeServerCertificate(host, port);
    }
    const std::string checks = FailedCertificateChecks(error, call.secureFailure);
    if (!checks.empty()) Fail((kUntrustedConnectionPrefix + checks).c_str());
    Fail("Network error. Check your connection or proxy and retry.");
}

// What to do with this response. Only a 407 is asked who challenges and by which schemes;
// when WinHTTP cannot tell, the challenge counts as the server's, which is refused.
ProxySignIn DecideOnResponse(HINTERNET request, DWORD status, int signInsSoFar) {
    DWORD schemes = 0;
    DWORD first = 0;
    DWORD target = 0;
    if (status != 407 || !WinHttp().QueryAuthSchemes(request, &schemes, &first, &target)) {
        schemes = 0;
        target = WINHTTP_AUTH_TARGET_SERVER;
    }
    return DecideProxySignIn(status,
                             target == WINHTTP_AUTH_TARGET_PROXY ? ChallengeTarget::Proxy : ChallengeTarget::Server,
                             schemes, signInsSoFar);
}

// Lets WinHTTP answer the proxy with the signed-in user's own logon: no name or password
// passes through here, and the credentials are bound to the proxy, never to the server.
void SignInToProxy(HINTERNET request, ProxySignIn signIn) {
    const WinHttpFunctions& http = WinHttp();
    DWORD policy = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
    const DWORD scheme = signIn == ProxySignIn::WithNegotiate ? WINHTTP_AUTH_SCHEME_NEGOTIATE : WINHTTP_AUTH_SCHEME_NTLM;
    if (!http.SetOption(request, WINHTTP_OPTION_AUTOLOGON_POLICY, &policy, sizeof policy) ||
        !http.SetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, scheme, nullptr, nullptr, nullptr)) {
        Fail(kProxySignInMessage);
    }
}

std::uint64_t FileSize(HANDLE file) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) Fail("Cannot read cache length");
    return static_cast<std::uint64_t>(size.QuadPart);
}

bool SeekTo(HANDLE file, std::uint64_t offset) {
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) != FALSE;
}

// The URL path plus its query, as the request target.
std::wstring RequestTarget(const std::wstring& url, std::wstring& host, INTERNET_PORT& port) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttp().CrackUrl(url.c_str(), 0, 0, &parts)) Fail("Invalid URL");
    host.assign(parts.lpszHostName, parts.dwHostNameLength);
    port = parts.nPort;
    std::wstring target(parts.lpszUrlPath != nullptr ? parts.lpszUrlPath : L"", parts.dwUrlPathLength);
    if (parts.dwExtraInfoLength > 0) target.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    return target;
}

DWORD StatusCode(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttp().QueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
        Fail("Missing HTTP status");
    }
    return status;
}

}  // namespace

std::wstring ReadResponseHeader(void* request, DWORD header) {
    const WinHttpFunctions& http = WinHttp();
    DWORD size = 0;
    if (!http.QueryHeaders(request, header, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                             WINHTTP_NO_HEADER_INDEX) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return {};  // the header is absent
    }
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    DWORD capacity = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (!http.QueryHeaders(request, header, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &capacity,
                             WINHTTP_NO_HEADER_INDEX)) {
        Fail("Cannot read HTTP headers");
    }
    value.resize(capacity / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0') value.pop_back();
    return value;
}

std::string FetchUrl(std::wstring url, HANDLE file, std::uint64_t expectedSize, std::wstring validator,
                     std::wstring* validatorOut, const std::function<void(const std::wstring&)>& onValidator) {
    feed::CheckDownloadUrl(url);
    const bool fileMode = file != nullptr;
    const WinHttpFunctions& http = WinHttp();

    const UniqueInternet session(
        http.Open(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS,
                  WINHTTP_FLAG_ASYNC));
    if (!session) Fail("Network initialization failed");
    // Set before any connection exists: connections and requests take it from the session.
    if (http.SetStatusCallback(session.get(), &OnRequestStatus,
                               WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES |
                                   WINHTTP_CALLBACK_FLAG_SECURE_FAILURE,
                               0) == WINHTTP_INVALID_STATUS_CALLBACK) {
        Fail("Network initialization failed");
    }
    http.SetTimeouts(session.get(), 15000, 15000, 30000, 30000);

    UniqueInternet connection;
    UniqueInternet request;
    PendingCall* call = nullptr;  // valid while `request` is open
    std::uint64_t currentSize = 0;
    DWORD status = 0;
    int proxySignIns = 0;
    for (int redirects = 0;;) {
        ThrowIfCancelled();
        // Every hop is checked before anything is sent to it, redirect targets included.
        feed::CheckDownloadUrl(url);
        std::wstring host;
        INTERNET_PORT port = 0;
        const std::wstring target = RequestTarget(url, host, port);

        connection.reset(http.Connect(session.get(), host.c_str(), port, 0));
        if (!connection) Fail("Network initialization failed");
        request.reset(http.OpenRequest(connection.get(), L"GET", target.c_str(), nullptr, WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
        if (!request) Fail("Network initialization failed");
        call = &AttachCallState(request.get());
        // Redirects are followed here, never by WinHTTP, so that each target is checked first.
        DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
        if (!http.SetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy)) {
            Fail("Cannot set redirect policy");
        }

        currentSize = fileMode ? FileSize(file) : 0;
        std::wstring headers = L"Accept-Encoding: identity\r\n";
        if (currentSize >= 1) {
            headers += L"Range: bytes=" + std::to_wstring(currentSize) + L"-\r\n";
            if (!validator.empty()) headers += L"If-Range: " + validator + L"\r\n";
        }
        // On the handle, not in the send, so that a request sent again after a proxy's
        // challenge carries the same range.
        if (!http.AddRequestHeaders(request.get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                                    WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE)) {
            Fail("Network initialization failed");
        }
        for (;;) {
            SendAndReceive(request.get(), *call, host, port);
            status = StatusCode(request.get());
            const ProxySignIn signIn = DecideOnResponse(request.get(), status, proxySignIns);
            if (signIn == ProxySignIn::None) break;
            if (signIn == ProxySignIn::Refuse) Fail(kProxySignInMessage);
            SignInToProxy(request.get(), signIn);
            ++proxySignIns;
        }
        if (status < 300 || status > 399) break;
        url = ReadResponseHeader(request.get(), WINHTTP_QUERY_LOCATION);
        request.reset();
        connection.reset();
        if (++redirects > kMaxRedirects) Fail("Too many redirects");
    }

    if (status == 429) Fail("HTTP 429: server busy. Retry later.");
    if (status != 200 && status != 206) throw std::runtime_error("HTTP " + std::to_string(status));

    std::uint64_t offset = 0;
    if (!fileMode) {
        if (status == 206) Fail("Unexpected partial manifest");
    } else if (status == 200) {
        // The server sent the whole file (its copy changed, or it ignores ranges): start over.
        if (!SeekTo(file, 0) || !SetEndOfFile(file)) Fail("Cannot reset partial download");
    } else {
        const auto range = ParseContentRange(ReadResponseHeader(request.get(), WINHTTP_QUERY_CONTENT_RANGE));
        if (!range || range->first != currentSize || expectedSize == 0 || range->last != expectedSize - 1 ||
            range->total != expectedSize) {
            Fail("Invalid resumed range");
        }
        offset = currentSize;
    }
    if (fileMode) {
        if (!SeekTo(file, offset)) Fail("Cannot seek download");
        const std::wstring entityTag = ReadResponseHeader(request.get(), WINHTTP_QUERY_ETAG);
        if (validatorOut != nullptr) *validatorOut = entityTag;
        if (onValidator) onValidator(entityTag);
    }

    std::string body;
    const char* const buffer = call->buffer.data();
    auto lastPost = std::chrono::steady_clock::now();
    while (true) {
        ThrowIfCancelled();
        // The count arrives with the completion: asynchronous reads must not be given one.
        if (!Completed(http.ReadData(request.get(), call->buffer.data(), kChunkSize, nullptr), *call)) {
            Fail("Network read failed");
        }
        const DWORD read = call->bytesRead;
        if (read == 0) break;
        // Checked before anything of the chunk is kept.
        if (offset + read > expectedSize) Fail("Response exceeds expected size");
        if (!fileMode) {
            body.append(buffer, read);
            offset += read;
            continue;
        }
        DWORD written = 0;
        if (!WriteFile(file, buffer, read, &written, nullptr) || written != read) {
            Fail("Cannot write download");
        }
        offset += read;
        const auto now = std::chrono::steady_clock::now();
        if (now - lastPost > kProgressInterval) {
            PostStatusUpdate(LookupText(L"desktop_installer_downloading"), L"",
                                 static_cast<std::int32_t>(offset * 100 / expectedSize));
            lastPost = now;
        }
    }
    if (fileMode) {
        if (!FlushFileBuffers(file)) Fail("Cannot persist download");
        if (offset != expectedSize) Fail("Incomplete download");
    }
    return body;
}

}  // namespace tavro::net
