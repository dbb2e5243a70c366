#pragma once

#include <string_view>

#include "json/json.h"

namespace tavro::feed {

// Returns when the URL may be fetched: HTTPS, port 443, no user name or password,
// no "#", and a host equal to one of the configuration's "allowedHosts". Throws
// "Invalid download URL", "Untrusted download URL" or "Untrusted download host".
void CheckDownloadUrl(std::wstring_view url, const json::JsonObject& config);

// The same check against the process's installer configuration.
void CheckDownloadUrl(std::wstring_view url);

}  // namespace tavro::feed
