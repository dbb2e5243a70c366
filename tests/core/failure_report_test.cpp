#include "core/failure_report.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "platform/errors.h"

namespace tavro::core {
namespace {

constexpr char kRunning[] = "Close Tavro after saving your work, then retry.";
constexpr wchar_t kNetwork[] = L"desktop_installer_network_error";
constexpr wchar_t kDisk[] = L"desktop_installer_disk_error";
constexpr wchar_t kVerification[] = L"desktop_installer_verification_error";

TEST(FailureReport, InstallRunTable) {
    struct Case {
        FailureKind kind;
        const char* message;
        bool cancel;
        const char* event;
        const wchar_t* key;
    };
    const Case cases[] = {
        {FailureKind::Platform, "Catastrophic failure", false, "installer_failed", L"desktop_installer_generic_error"},
        // A platform error stays a failure even when a pause was asked for.
        {FailureKind::Platform, "", true, "installer_failed", L"desktop_installer_generic_error"},
        {FailureKind::Unknown, "", true, "installer_failed", L"desktop_installer_generic_error"},
        {FailureKind::Runtime, "Download paused. Click Retry to resume.", true, "cancelled", L"desktop_installer_paused"},
        // The pause wins over whatever else was failing at that moment.
        {FailureKind::Runtime, "Network read failed", true, "cancelled", L"desktop_installer_paused"},
        {FailureKind::Runtime, kRunning, true, "cancelled", L"desktop_installer_paused"},
        {FailureKind::Runtime, kRunning, false, "installer_failed", L"desktop_installer_running_error"},
        {FailureKind::Runtime, "Close Tavro after saving your work, then retry", false, "installer_failed",
         L"desktop_installer_generic_error"},
        {FailureKind::Runtime, "Network initialization failed", false, "installer_failed", kNetwork},
        {FailureKind::Runtime, "Network error. Check your connection or proxy and retry.", false, "installer_failed",
         kNetwork},
        {FailureKind::Runtime, "Network read failed", false, "installer_failed", kNetwork},
        {FailureKind::Runtime, "Incomplete download", false, "installer_failed", kNetwork},
        {FailureKind::Runtime, "HTTP 503", false, "installer_failed", kNetwork},
        {FailureKind::Runtime, "HTTP 429: server busy. Retry later.", false, "installer_failed", kNetwork},
        // Only the start decides: a message that merely mentions HTTP is no status failure.
        {FailureKind::Runtime, "Cannot read HTTP headers", false, "installer_failed", L"desktop_installer_generic_error"},
        {FailureKind::Runtime, "HTTP", false, "installer_failed", L"desktop_installer_generic_error"},
        {FailureKind::Runtime, "Not enough disk space", false, "installer_failed", kDisk},
        {FailureKind::Runtime, "Cannot write download", false, "installer_failed", kDisk},
        {FailureKind::Runtime, "Cannot persist download", false, "installer_failed", kDisk},
        {FailureKind::Runtime, "Cannot read available disk space", false, "installer_failed",
         L"desktop_installer_generic_error"},
        {FailureKind::Runtime, "Downloaded file hash mismatch. Retry to download again.", false, "installer_failed",
         kVerification},
        {FailureKind::Runtime, "Application signature or publisher mismatch", false, "installer_failed", kVerification},
        {FailureKind::Runtime, "Application version mismatch", false, "installer_failed", kVerification},
        {FailureKind::Runtime, "Invalid version information", false, "installer_failed", kVerification},
        // A pause still wins over a message that has a text of its own.
        {FailureKind::Runtime, "Not enough disk space", true, "cancelled", L"desktop_installer_paused"},
        {FailureKind::Runtime, "Untrusted download host", false, "installer_failed", L"desktop_installer_generic_error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const FailureReport report = DecideInstallFailure(c.kind, c.message, c.cancel);
        EXPECT_STREQ(report.event, c.event);
        EXPECT_EQ(report.statusKey, c.key);
        EXPECT_TRUE(report.hasDebuggerText);
        EXPECT_EQ(report.debuggerText, c.message);
    }
}

// A host's "no such file" or "not yours" is a broken release, not the user's connection; every
// status that ended a run is journaled. A proxy that wants a sign-in and a server that cannot
// prove who it is are not the connection failing either, and the journal keeps the failed checks.
TEST(FailureReport, HttpStatusPicksTheTextAndIsJournaled) {
    const struct {
        const char* message;
        bool cancel;
        const wchar_t* key;
        std::uint32_t status;
        const char* tls = "";
    } cases[] = {
        {"HTTP 403", false, L"desktop_installer_generic_error", 403},
        {"HTTP 404", false, L"desktop_installer_generic_error", 404},
        {"HTTP 410", false, L"desktop_installer_generic_error", 410},
        {"HTTP 401", false, kNetwork, 401},
        {"HTTP 503", false, kNetwork, 503},
        {"HTTP 429: server busy. Retry later.", false, kNetwork, 429},
        {"HTTP 4040", false, kNetwork, 0},
        {"HTTP 40", false, kNetwork, 0},
        {"Cannot read HTTP headers", false, L"desktop_installer_generic_error", 0},
        {"HTTP 404", true, L"desktop_installer_paused", 0},
        {"HTTP 407: proxy sign-in required", false, L"desktop_installer_proxy_error", 407},
        {"HTTP 407", false, kNetwork, 407},
        {"Untrusted connection: wrong_name+expired", false, L"desktop_installer_untrusted_connection_error", 0,
         "wrong_name+expired"},
        {"Untrusted connection: unknown_authority", true, L"desktop_installer_paused", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const FailureReport report = DecideInstallFailure(FailureKind::Runtime, c.message, c.cancel);
        EXPECT_EQ(report.statusKey, c.key);
        EXPECT_EQ(report.httpStatus, c.status);
        EXPECT_EQ(report.tlsFailure, c.tls);
    }
}

TEST(FailureReport, LaunchRetryTable) {
    const FailureReport runtime = DecideLaunchRetryFailure(FailureKind::Runtime, "Installed, but could not start Tavro");
    EXPECT_EQ(runtime.event, nullptr);
    EXPECT_TRUE(runtime.hasDebuggerText);
    EXPECT_EQ(runtime.debuggerText, "Installed, but could not start Tavro");
    EXPECT_EQ(runtime.statusKey, L"desktop_installer_launch_error");
    for (const FailureKind kind : {FailureKind::Platform, FailureKind::Unknown}) {
        const FailureReport other = DecideLaunchRetryFailure(kind, "text");
        EXPECT_EQ(other.event, nullptr);
        EXPECT_FALSE(other.hasDebuggerText);
        EXPECT_EQ(other.statusKey, L"desktop_installer_launch_error");
    }
}

TEST(FailureReport, ClassifiesWhatWasThrown) {
    struct Case {
        std::exception_ptr failure;
        FailureKind kind;
        std::string message;
    };
    const Case cases[] = {
        {std::make_exception_ptr(std::runtime_error("Not enough disk space")), FailureKind::Runtime,
         "Not enough disk space"},
        {std::make_exception_ptr(std::out_of_range("stoul argument out of range")), FailureKind::Runtime,
         "stoul argument out of range"},
        {std::make_exception_ptr(PlatformError(kWebJsonValueNotFound)), FailureKind::Platform,
         PlatformError(kWebJsonValueNotFound).message()},
        {std::make_exception_ptr(42), FailureKind::Unknown, ""},
    };
    for (const Case& c : cases) {
        std::string message = "stale";
        EXPECT_EQ(ClassifyFailure(c.failure, message), c.kind);
        EXPECT_EQ(message, c.message);
    }
}

}  // namespace
}  // namespace tavro::core
