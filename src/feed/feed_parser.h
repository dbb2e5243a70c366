#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tavro::feed {

// One file item of the feed: "url" always, "sha512" and "size" when given.
using FeedFileEntry = std::map<std::string, std::string>;

// The parsed channel feed, validated for shape only.
struct ReleaseFeed {
    std::string version;
    std::vector<FeedFileEntry> files;
};

// The largest feed accepted, in bytes.
inline constexpr size_t kMaxFeedBytes = 131072;

// Parses the line-oriented feed subset; throws a runtime error with the feed's messages.
ReleaseFeed ParseReleaseFeed(std::string_view bytes);

// Decodes one scalar value: plain, or quoted without escapes.
// Throws "Invalid YAML scalar" or "Unsupported YAML scalar".
std::string DecodeFeedScalar(std::string_view value);

// The named field of an entry; a missing one throws std::out_of_range "invalid map<K, T> key".
const std::string& FeedField(const FeedFileEntry& entry, const std::string& name);

}  // namespace tavro::feed
