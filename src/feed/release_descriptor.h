#pragma once

#include <string_view>

#include "json/json.h"

namespace tavro::feed {

// Turns feed bytes into {"artifacts":[ReleaseArtifact]}: the one setup package of the
// release, with its resolved and trusted URL, digest (lower-case hex), sizes and
// platform. Relative URLs resolve against the configuration's "channelURL".
// Throws the feed parser's messages and those of the artifact checks.
json::JsonObject BuildReleaseDescriptor(std::string_view feedBytes, const json::JsonObject& config);

// The same against the process's installer configuration.
json::JsonObject BuildReleaseDescriptor(std::string_view feedBytes);

}  // namespace tavro::feed
