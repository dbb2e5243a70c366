#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace tavro::core {

// Whether a failed run's page offers the full installer from the offline page: never where
// Retry mends the cause (a running Tavro; a pause is no failure), at once where no Retry
// can (the package failed its proof, the proxy wants a sign-in the installer cannot give),
// and for every other failure once a second run in a row has failed.
enum class OfflineOffer { Never = 0, AfterRepeat = 1, AtOnce = 2 };

// How a worker's failure is told: the journal event (none for the launch retry), the
// English text for the debugger output (none when `hasDebuggerText` is false) and the
// localized status key. The English text never reaches the window or the journal.
struct FailureReport {
    const char* event = nullptr;
    bool hasDebuggerText = false;
    std::string debuggerText;
    std::wstring_view statusKey;
    std::uint32_t httpStatus = 0;  // the server's status that ended the run, for the journal
    std::string tlsFailure{};      // the certificate checks that the server failed, for the journal
    OfflineOffer offline = OfflineOffer::Never;
};

// The kinds of failure a worker catches.
enum class FailureKind {
    Platform,  // a PlatformError: its message is the platform's text for the HRESULT
    Runtime,   // any other exception with a message
    Unknown,   // something thrown that is not an exception
};

// The report of a failed install run. A pause request wins over every message, but a
// platform error is a failure even then. A runtime error's message picks the text that
// says what failed (the network, the disk, the package's proof, a running Tavro); any
// other failure shows the generic text. A server's error status, and the certificate
// checks of a server that could not prove who it is, go to the journal.
FailureReport DecideInstallFailure(FailureKind kind, std::string_view message, bool cancelRequested);

// The report of a failed launch retry: no event, the launch-error text.
FailureReport DecideLaunchRetryFailure(FailureKind kind, std::string_view message);

// Sorts the exception in flight (or `failure`) into its kind and message.
FailureKind ClassifyFailure(const std::exception_ptr& failure, std::string& message);

}  // namespace tavro::core
