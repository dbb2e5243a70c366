#include "core/failure_report.h"

#include "platform/errors.h"

namespace tavro::core {

namespace {

constexpr char kRunningMessage[] = "Close Tavro after saving your work, then retry.";

}  // namespace

FailureReport DecideInstallFailure(FailureKind kind, std::string_view message, bool cancelRequested) {
    if (kind == FailureKind::Platform || kind == FailureKind::Unknown) {
        return {"installer_failed", true, std::string(message), L"desktop_installer_generic_error"};
    }
    if (cancelRequested) return {"cancelled", true, std::string(message), L"desktop_installer_paused"};
    if (message == kRunningMessage) {
        return {"installer_failed", true, std::string(message), L"desktop_installer_running_error"};
    }
    return {"installer_failed", true, std::string(message), L"desktop_installer_generic_error"};
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
