#pragma once

#include <string_view>

#include "json/json.h"

namespace tavro {

// The embedded configuration text: one line of UTF-8 JSON, fixed at build time.
std::string_view EmbeddedConfigText();

// Parses the embedded configuration into InstallerConfig; throws the JSON layer's
// PlatformError when it is not one JSON object.
void LoadInstallerConfig();

// Parses the given UTF-8 text into InstallerConfig instead (tests, tools).
void LoadInstallerConfig(std::string_view utf8Text);

// The process's configuration: written once at start, read-only afterwards.
// An empty object until a load succeeds.
const json::JsonObject& InstallerConfig();

}  // namespace tavro
