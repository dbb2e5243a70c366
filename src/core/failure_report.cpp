#include "core/failure_report.h"

#include "net/certificate_failure.h"
#include "net/proxy_sign_in.h"
#include "platform/errors.h"

namespace tavro::core {

namespace {

constexpr char kRunningMessage[] = "Close Tavro after saving your work, then retry.";

constexpr std::wstring_view kGeneric = L"desktop_installer_generic_error";
constexpr std::wstring_view kNetwork = L"desktop_installer_network_error";
constexpr std::wstring_view kDisk = L"desktop_installer_disk_error";
constexpr std::wstring_view kVerification = L"desktop_installer_verification_error";
constexpr std::wstring_view kProxy = L"desktop_installer_proxy_error";
constexpr std::wstring_view kUntrustedConnection = L"desktop_installer_untrusted_connection_error";

// A message, whole or (with `prefix`) its start, and the text that tells the user what failed.
struct MessageText {
    std::string_view message;
    bool prefix;
    std::wstring_view statusKey;
};

// Only failures whose cause the text names for certain: a server that answers with an
// error status is still a download that did not work, so "HTTP " counts as network. But
// a host that says the file does not exist or may not be read (forbidden, not found,
// gone) is a broken release, which no connection of the user's can mend.
constexpr MessageText kMessageTexts[] = {
    {"HTTP 403", false, kGeneric},
    {"HTTP 404", false, kGeneric},
    {"HTTP 410", false, kGeneric},
    // The network works; only its proxy wants a sign-in that the installer cannot give.
    {net::kProxySignInMessage, false, kProxy},
    // The network works; what answered could not prove it is the download server.
    {net::kUntrustedConnectionPrefix, true, kUntrustedConnection},
    {"Network initialization failed", false, kNetwork},
    {"Network error. Check your connection or proxy and retry.", false, kNetwork},
    {"Network read failed", false, kNetwork},
    {"Incomplete download", false, kNetwork},
    {"HTTP ", true, kNetwork},
    {"Not enough disk space", false, kDisk},
    // The package is the only large file written: a write or flush of it that fails is
    // the disk filling up.
    {"Cannot write download", false, kDisk},
    {"Cannot persist download", false, kDisk},
    {"Downloaded file hash mismatch. Retry to download again.", false, kVerification},
    {"Application signature or publisher mismatch", false, kVerification},
    {"Application version mismatch", false, kVerification},
    {"Missing application version", false, kVerification},
    {"Cannot read application version", false, kVerification},
    {"Invalid version information", false, kVerification},
};

std::wstring_view StatusKeyForMessage(std::string_view message) {
    for (const MessageText& entry : kMessageTexts) {
        if (entry.prefix ? message.starts_with(entry.message) : message == entry.message) return entry.statusKey;
    }
    return kGeneric;
}

// The status of a message "HTTP NNN" (with any text after the three digits); 0 for others.
std::uint32_t HttpStatusOf(std::string_view message) {
    constexpr std::string_view kPrefix = "HTTP ";
    if (!message.starts_with(kPrefix) || message.size() < kPrefix.size() + 3) return 0;
    std::uint32_t status = 0;
    for (const char c : message.substr(kPrefix.size(), 3)) {
        if (c < '0' || c > '9') return 0;
        status = status * 10 + static_cast<std::uint32_t>(c - '0');
    }
    const bool ends = message.size() == kPrefix.size() + 3 || message[kPrefix.size() + 3] == ':';
    return ends ? status : 0;
}

}  // namespace

FailureReport DecideInstallFailure(FailureKind kind, std::string_view message, bool cancelRequested) {
    if (kind == FailureKind::Platform || kind == FailureKind::Unknown) {
        return {"installer_failed", true, std::string(message), kGeneric, 0, {}, OfflineOffer::AfterRepeat};
    }
    if (cancelRequested) return {"cancelled", true, std::string(message), L"desktop_installer_paused"};
    if (message == kRunningMessage) {
        return {"installer_failed", true, std::string(message), L"desktop_installer_running_error"};
    }
    std::string tlsFailure;
    if (message.starts_with(net::kUntrustedConnectionPrefix)) {
        tlsFailure = message.substr(std::string_view(net::kUntrustedConnectionPrefix).size());
    }
    const std::wstring_view key = StatusKeyForMessage(message);
    const bool noRetryMends = key == kVerification || key == kProxy;
    return {"installer_failed", true, std::string(message), key, HttpStatusOf(message), std::move(tlsFailure),
            noRetryMends ? OfflineOffer::AtOnce : OfflineOffer::AfterRepeat};
}

FailureReport DecideLaunchRetryFailure(FailureKind kind, std::string_view message) {
    const bool runtime = kind == FailureKind::Runtime;
    return {nullptr, runtime, runtime ? std::string(message) : std::string(), L"desktop_installer_launch_error"};
}

FailureKind ClassifyFailure(const std::exception_ptr& failure, std::string& message) {
    try {
        std::rethrow_exception(failure);
    } catch (const PlatformError& error) {
        message = error.message();
        return FailureKind::Platform;
    } catch (const std::exception& error) {
        message = error.what();
        return FailureKind::Runtime;
    } catch (...) {
        message.clear();
        return FailureKind::Unknown;
    }
}

}  // namespace tavro::core
