#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavro::demo {

// The installer's hand-over switch; the launch identifier follows it directly.
inline constexpr std::wstring_view kSessionSwitch = L"--tavro-installer-session=";

// How the application answers a launch, as TAVRO_DEMO_APP_MODE picks it.
enum class AppMode { kNormal, kExitAtOnce, kNoReceipt, kWrongStage, kWrongVersion, kWrongId };

// The mode named by a TAVRO_DEMO_APP_MODE value; nullopt for a name it does not know.
std::optional<AppMode> ParseAppMode(std::wstring_view name);

// The name of a mode as the switch spells it ("normal" for the default).
const char* AppModeName(AppMode mode);

// True for an identifier that is safe as the start of a file name: 1 to 64
// characters, ASCII letters, digits and hyphens only. Anything else could step
// out of the receipt folder.
bool IsUsableSessionId(std::wstring_view id);

// The current system time in milliseconds since 1970-01-01 00:00 UTC.
std::int64_t NowUnixMilliseconds();

// Checks the installer's request file <id>.request.json in the folder: a JSON object
// whose "sessionId" is the identifier and whose "expiresAt" (a number) lies after now.
// Returns an empty text when the request holds, else a short reason for the log.
std::string CheckLaunchRequest(const std::wstring& folder, const std::wstring& id, std::int64_t nowMs);

// The receipt document (UTF-8 JSON) that the mode asks for; the normal one confirms
// the launch, the wrong-* ones each spoil exactly one member.
std::string BuildLaunchReceipt(const std::wstring& id, const std::wstring& executable,
                               const std::wstring& version, AppMode mode);

// Writes <id>.receipt.json into the folder atomically, and withdraws it again when the
// installer has already ended the session (its request file is gone).
void WriteLaunchReceipt(const std::wstring& folder, const std::wstring& id, std::string_view receipt);

}  // namespace tavro::demo
