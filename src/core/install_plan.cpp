#include "core/install_plan.h"

#include <cmath>
#include <limits>

#include "platform/errors.h"

namespace tavro::core {

namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t kDiskReserve = 268435456;

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
    return a > kMax - b ? kMax : a + b;
}

}  // namespace

json::JsonObject SelectWindowsArtifact(const json::JsonObject& descriptor) {
    const json::JsonArray artifacts = descriptor.GetNamedArray(L"artifacts");
    bool found = false;
    json::JsonObject chosen;
    for (std::size_t i = 0; i < artifacts.Size(); ++i) {
        const json::JsonObject artifact = artifacts.GetObjectAt(i);
        // "arch" is read only for a Windows artifact: another platform may lack it.
        if (artifact.GetNamedString(L"platform") == L"windows" && artifact.GetNamedString(L"arch") == L"x64") {
            chosen = artifact;
            found = true;
        }
    }
    if (!found) Fail("No compatible Windows release");
    return chosen;
}

std::wstring WindowsVersionText(std::uint32_t major, std::uint32_t minor, std::uint32_t build) {
    return std::to_wstring(major) + L"." + std::to_wstring(minor) + L"." + std::to_wstring(build);
}

std::uint64_t RequiredDiskBytes(std::uint64_t packageSize, std::uint64_t installedSize) {
    const std::uint64_t installedWithReserve = SaturatingAdd(installedSize, kDiskReserve);
    return SaturatingAdd(packageSize, SaturatingAdd(installedWithReserve, installedWithReserve));
}

std::uint64_t SizeFromJsonNumber(double number) {
    if (!(number > 0)) return 0;  // NaN too
    // 2^64 is exactly representable; anything at or above it does not fit.
    if (number >= 18446744073709551616.0) return kMax;
    return static_cast<std::uint64_t>(std::trunc(number));
}

RetryDecision DecideRetry(std::string_view message, int attempt) {
    if (message == "HTTP 416" && attempt == 0) return RetryDecision::RestartFromZero;
    if (attempt >= kLastAttempt) return RetryDecision::GiveUp;
    // Client errors (429 included), a bad resumed range and an untrusted redirect do not
    // get better by asking again.
    for (const std::string_view final : {"HTTP 4", "range", "Untrusted"}) {
        if (message.find(final) != std::string_view::npos) return RetryDecision::GiveUp;
    }
    return RetryDecision::WaitAndRetry;
}

int RetryWaitSteps(int attempt) {
    return 10 << attempt;
}

bool JudgeSetupExit(std::optional<std::uint32_t> exitCode, bool startedByThisRun) {
    if (!exitCode) {
        if (startedByThisRun) Fail("Cannot read setup result");
        return true;
    }
    if (*exitCode != 0 && *exitCode != kRestartRequiredExitCode) {
        Fail("Setup was cancelled or failed. Retry the cached installer.");
    }
    return *exitCode == kRestartRequiredExitCode;
}

}  // namespace tavro::core
