#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tavro::demo {

// Which embedded build of Tavro.exe an install writes.
enum class Payload { kCurrent, kLowerVersion, kOtherPublisher };

// The payload named by a TAVRO_DEMO_SETUP_PAYLOAD value ("wrong-version",
// "other-publisher"; empty for the current one); nullopt for a name it does not know.
std::optional<Payload> ParsePayload(std::wstring_view name);

// The name of a payload as the switch spells it ("current" for the default).
const char* PayloadName(Payload payload);

// The uninstall record's key under HKEY_CURRENT_USER.
inline constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tavro";

// Installs for the current user: Tavro.exe and the uninstaller into
// LocalAppData\Programs\Tavro, then the uninstall record, last, so that a failed
// install never leaves a record that points at missing files. Returns the folder.
std::wstring InstallProduct(Payload payload);

// Removes Tavro.exe, the uninstall record, the uninstaller and the folder when it is
// empty. Fails without touching the record when Tavro.exe cannot be removed (it runs).
// Returns false when the running uninstaller had to be left in the folder.
bool UninstallProduct();

}  // namespace tavro::demo
