#pragma once

#include <string>

namespace tavro::verify {

// True when an uninstall record's display name names the application: exactly "Tavro",
// or "Tavro " followed by a valid major.minor.patch version.
bool IsApplicationDisplayName(const std::wstring& displayName);

// The full path of the installed, publisher-signed application executable, found through
// the uninstall records (per user before per machine, 64-bit view before 32-bit), or an
// empty path. Never throws for what it finds; records whose files are gone or unsafe are
// reported once per search as the events "stale_install_record_ignored" and
// "unsafe_install_record_ignored".
std::wstring FindInstalledApplication();

}  // namespace tavro::verify
