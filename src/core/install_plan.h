#pragma once

#include <cstdint>
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

// Whether the setup's exit code means it installed.
bool IsSetupSuccess(std::uint32_t exitCode);

}  // namespace tavro::core
