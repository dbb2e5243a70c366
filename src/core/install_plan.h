#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "json/json.h"

namespace tavro::core {

// Download attempts per run: numbers 0 to kLastAttempt.
inline constexpr int kLastAttempt = 3;

// Setup exit code that means "installed, restart required".
inline constexpr std::uint32_t kRestartRequiredExitCode = 3010;

// The last element of the descriptor's "artifacts" whose "platform" is "windows" and
// "arch" is "x64". Throws "No compatible Windows release" when none matches, and the JSON
// layer's errors for an element or member of the wrong shape.
json::JsonObject SelectWindowsArtifact(const json::JsonObject& descriptor);

// "major.minor.build" in plain decimal, as the version comparison reads it.
std::wstring WindowsVersionText(std::uint32_t major, std::uint32_t minor, std::uint32_t build);

// The free space a run needs: the package, plus twice the installed size and a reserve of
// 256 MiB (the setup may unpack beside what it replaces). Saturates at the largest value,
// so a size no disk can hold never wraps around into one that fits.
std::uint64_t RequiredDiskBytes(std::uint64_t packageSize, std::uint64_t installedSize);

// A feed number as an unsigned 64-bit size, the fraction dropped. Negative and
// not-a-number values give 0; values beyond the range give the largest value.
std::uint64_t SizeFromJsonNumber(double number);

// What to do after a download attempt failed with a runtime error.
enum class RetryDecision {
    RestartFromZero,  // the server refused the resume range: empty the file, retry at once
    GiveUp,           // final: the run ends with this failure
    WaitAndRetry,     // transient: wait RetryWaitSteps(attempt) x 100 ms, then retry
};
RetryDecision DecideRetry(std::string_view message, int attempt);

// The number of 100 ms steps to wait after a failed attempt: 1 s, 2 s, 4 s.
int RetryWaitSteps(int attempt);

// How a setup's end is judged before its install is confirmed: true when it asks for a
// restart. `exitCode` is empty when it could not be read. Only 0 and 3010 are successes;
// any other code fails with "Setup was cancelled or failed. Retry the cached installer.".
// An unread code fails with "Cannot read setup result" for a setup this run started; for
// one it found running, started by an installer that has ended, the confirmed version
// decides alone, and a restart is asked for, since one the setup wanted must not be hidden.
bool JudgeSetupExit(std::optional<std::uint32_t> exitCode, bool startedByThisRun);

}  // namespace tavro::core
